// Message boxes through the replaceable presenter.
#include "VclTestSupport.h"

namespace {

TEST_F(VclTest, RecordingPresenterRecordsBoxesAndDialogs) {
  Boxes->DialogResult = mrCancel;
  ShowMessage("Entry not found");
  EXPECT_EQ(MessageDlg("Cannot delete entry", mtError, MsgDlgButtons({mbOK}), 0), mrCancel);
  EXPECT_EQ(MessageDlg("Sure?", mtConfirmation, MsgDlgButtons({mbYes, mbNo}), 17), mrCancel);
  ASSERT_EQ(Boxes->Count(), 3u);
  const auto& c = Boxes->Calls();
  EXPECT_EQ(c[0].Kind, TPresenterCall::kShowMessage);
  EXPECT_EQ(c[0].Text, "Entry not found");
  EXPECT_EQ(c[1].Kind, TPresenterCall::kMessageDlg);
  EXPECT_EQ(c[1].Text, "Cannot delete entry");
  EXPECT_EQ(c[1].DlgType, mtError);
  EXPECT_EQ(c[1].Buttons, 1u << mbOK);
  EXPECT_EQ(c[1].HelpCtx, 0);
  EXPECT_EQ(c[2].DlgType, mtConfirmation);
  EXPECT_EQ(c[2].Buttons, (1u << mbYes) | (1u << mbNo));
  EXPECT_EQ(c[2].HelpCtx, 17);
  Boxes->Clear();
  EXPECT_EQ(Boxes->Count(), 0u);
}

TEST_F(VclTest, PresenterRunsCodeWhileTheBoxIsOpen) {
  std::vector<std::string> seen;
  Boxes->OnCall = [&](const TPresenterCall& C) { seen.push_back(C.Text + " open"); };
  ShowMessage("one");
  seen.push_back("closed");
  EXPECT_EQ(seen, (std::vector<std::string>{"one open", "closed"}));
}

TEST_F(VclTest, GuardsInstallAndRestorePresentersInNestedOrder) {
  {
    TRecordingPresenterGuard inner;
    ShowMessage("to inner");
    {
      TRecordingPresenter innermost;
      TPresenterGuard g(&innermost);
      ShowMessage("to innermost");
      EXPECT_EQ(innermost.Texts(), std::vector<String>{"to innermost"});
    }
    ShowMessage("to inner again");
    EXPECT_EQ(inner->Texts(), (std::vector<String>{"to inner", "to inner again"}));
  }
  ShowMessage("to the fixture's");
  EXPECT_EQ(Boxes->Texts(), std::vector<String>{"to the fixture's"});
}

TEST_F(VclTest, SetMessagePresenterReturnsThePreviousAndNullRestoresTheDefault) {
  TRecordingPresenter mine;
  TMessagePresenter* previous = SetMessagePresenter(&mine);
  EXPECT_EQ(previous, &Boxes.Recorder());
  TMessagePresenter* deflt = nullptr;
  {
    EXPECT_EQ(SetMessagePresenter(nullptr), &mine);
    deflt = SetMessagePresenter(&mine);  // hands back the default one
    ASSERT_NE(deflt, nullptr);
    EXPECT_NE(deflt, &mine);
    EXPECT_NE(deflt, &Boxes.Recorder());
  }
  SetMessagePresenter(previous);
  ShowMessage("back");
  EXPECT_TRUE(mine.Texts().empty());
  EXPECT_EQ(Boxes->Texts(), std::vector<String>{"back"});
}

TEST_F(VclTest, ConsolePresenterWritesEachBoxAsOneLine) {
#if defined(_WIN32)
  GTEST_SKIP() << "the default presenter on Windows is a real, modal message box";
#endif
  TPresenterGuard console(nullptr);
  testing::internal::CaptureStderr();
  ShowMessage("Cannot find phonebook entry");
  int r = MessageDlg("Entry could not be deleted", mtError, MsgDlgButtons({mbOK}), 0);
  int yes = MessageDlg("Continue?", mtConfirmation, MsgDlgButtons({mbNo, mbYes}), 0);
  int retry = MessageDlg("Again?", mtWarning, MsgDlgButtons({mbRetry, mbCancel}), 0);
  int none = MessageDlg("Just text", mtCustom, 0, 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Cannot find phonebook entry\nEntry could not be deleted\nContinue?\nAgain?\nJust text\n");
  EXPECT_EQ(r, mrOk);
  EXPECT_EQ(yes, mrYes);
  EXPECT_EQ(retry, mrRetry);
  EXPECT_EQ(none, mrNone);
  EXPECT_TRUE(Boxes->Texts().empty());
}

}  // namespace
