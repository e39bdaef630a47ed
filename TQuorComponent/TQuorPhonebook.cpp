// TQuor: the phonebook operations (list, create, edit, delete, rename) and
// an entry's stored dial parameters.
#include <cstring>
#include <vector>

#include "TQuorComponent/TQuorComponent.h"
#include "TQuorComponent/TQuorFields.h"

using namespace tquor_detail;

namespace {

constexpr int kEntryRecords = 100;
constexpr DWORD kEntryBufSize = kEntryRecords * sizeof(TRasEntryName);
static_assert(kEntryBufSize == 26400, "the entry buffer holds 100 records");

// The phonebook argument of edit, delete and rename: an empty string.
const char kEmptyPhonebook[] = "";

}  // namespace

void TQuor::GetPhoneBookEntries() {
  if (!RasInitialized) return;

  TRasEntryName entries[kEntryRecords];
  std::memset(entries, 0, sizeof(entries));
  entries[0].dwSize = sizeof(TRasEntryName);
  DWORD bufsize = kEntryBufSize;
  DWORD numEntries = 0;

  if (PhoneBookEntries == nullptr) PhoneBookEntries = new TStringList;
  PhoneBookEntries->Clear();

  // A library without the export is reported like a failed enumeration.
  DWORD RetVal = RasEnumEntries != nullptr ? RasEnumEntries(nullptr, nullptr, entries, &bufsize, &numEntries)
                                           : static_cast<DWORD>(ERROR_PROC_NOT_FOUND);
  TRasEntryName* names = entries;
  DWORD capacity = kEntryRecords;
  // A phonebook larger than the buffer is still a valid phonebook: ask
  // again with the size RAS said it needs (a few times, should entries be
  // added meanwhile).
  std::vector<TRasEntryName> larger;
  for (int again = 0; again < 3 && RetVal == ERROR_BUFFER_TOO_SMALL && bufsize > capacity * sizeof(TRasEntryName);
       ++again) {
    capacity = static_cast<DWORD>(bufsize / sizeof(TRasEntryName) + 1);
    larger.assign(capacity, TRasEntryName{});
    larger[0].dwSize = sizeof(TRasEntryName);
    bufsize = capacity * static_cast<DWORD>(sizeof(TRasEntryName));
    numEntries = 0;
    names = larger.data();
    RetVal = RasEnumEntries(nullptr, nullptr, names, &bufsize, &numEntries);
  }
  if (RetVal == 0) {
    // Never read past the buffer, whatever count RAS claims.
    if (numEntries > capacity) numEntries = capacity;
    for (DWORD i = 0; i < numEntries; ++i) PhoneBookEntries->Add(GetField(names[i].szEntryName));
    return;
  }
  switch (RetVal) {
    case ERROR_CANNOT_OPEN_PHONEBOOK:
    case ERROR_CANNOT_LOAD_PHONEBOOK:
      break;  // no phonebook yet: an empty list says it all
    case ERROR_CORRUPT_PHONEBOOK:
      ShowMessage("RAS phonebook is corrupted.");
      break;
    default:
      ShowMessage("RasEnumEntries failed (" + IntToStr(RetVal) + ").");
      break;
  }
}

void TQuor::RasCreateEntry(HWND hHandle, DWORD& dwRetVal) {
  if (!RasInitialized) {
    dwRetVal = 0;
    return;
  }
  if (RasCreatePhonebookEntry == nullptr) {
    dwRetVal = ERROR_PROC_NOT_FOUND;
    return;
  }
  dwRetVal = RasCreatePhonebookEntry(hHandle, fPhoneBookPath.c_str());
}

Boolean TQuor::CreateEntry(HWND hHandle) {
  if (!RasInitialized || RasCreatePhonebookEntry == nullptr) return false;
  return RasCreatePhonebookEntry(hHandle, fPhoneBookPath.c_str()) == 0;
}

Boolean TQuor::DeleteEntry(const String& EntryName) {
  // A name with a zero byte would reach RAS cut short: another entry.
  if (!RasInitialized || RasDeleteEntryA == nullptr || !IsCText(EntryName)) return false;
  return RasDeleteEntryA(kEmptyPhonebook, EntryName.c_str()) == 0;
}

Boolean TQuor::EditEntry(HWND hHandle, const String& EntryName) {
  if (!RasInitialized || RasEditPhonebookEntry == nullptr || !IsCText(EntryName)) return false;
  return RasEditPhonebookEntry(hHandle, kEmptyPhonebook, EntryName.c_str()) == 0;
}

Boolean TQuor::RenameEntry(const String& OldEntryName, const String& NewEntryName) {
  if (!RasInitialized || RasRenameEntryA == nullptr || !IsCText(OldEntryName) || !IsCText(NewEntryName)) return false;
  return RasRenameEntryA(kEmptyPhonebook, OldEntryName.c_str(), NewEntryName.c_str()) == 0;
}

Boolean TQuor::GetDialParams(const String& EntryName) {
  if (!RasInitialized) return false;
  if (!EntryName.empty()) fEntryName = EntryName;
  if (fEntryName.empty()) {
    MessageDlg("Entry name not specified!", mtError, MsgDlgButtons({mbOK}), 0);
    return false;
  }
  // A name that does not fit the record cannot be asked for without cutting
  // it, which could read another entry's parameters.
  if (!FitsField(fEntryName, sizeof(dialparams.szEntryName))) return false;
  if (RasGetEntryDialParams == nullptr) return false;

  std::memset(&dialparams, 0, sizeof(dialparams));
  dialparams.dwSize = sizeof(TRasDialParams);
  PutField(dialparams.szEntryName, fEntryName);
  BOOL lbPasswordReturn = FALSE;
  if (RasGetEntryDialParams(nullptr, &dialparams, &lbPasswordReturn) != 0) return false;

  fUserName = GetField(dialparams.szUserName);
  if (lbPasswordReturn != FALSE) GetSecretField(fPassword, dialparams.szPassword);
  fPhoneNumber = GetField(dialparams.szPhoneNumber);
  fDomain = GetField(dialparams.szDomain);
  fCallbackNumber = GetField(dialparams.szCallbackNumber);
  return true;
}

Boolean TQuor::SetDialParams() {
  if (!RasInitialized) return false;
  if (fEntryName.empty()) return false;
  // Every text must fit its field whole: the record is left as it was and
  // RAS is not asked to store a cut name, number or password.
  if (!FitsField(fEntryName, sizeof(dialparams.szEntryName)) || !FitsField(fUserName, sizeof(dialparams.szUserName)) ||
      !FitsField(fPassword, sizeof(dialparams.szPassword)) ||
      (!fPhoneNumber.empty() && !FitsField(fPhoneNumber, sizeof(dialparams.szPhoneNumber))) ||
      !FitsField(fCallbackNumber, sizeof(dialparams.szCallbackNumber)) ||
      !FitsField(fDomain, sizeof(dialparams.szDomain))) {
    return false;
  }
  if (RasSetEntryDialParams == nullptr) return false;

  // Not cleared first: with PhoneNumber empty, the number last read or sent
  // stays in the record and is stored again.
  dialparams.dwSize = sizeof(TRasDialParams);
  PutField(dialparams.szEntryName, fEntryName);
  PutField(dialparams.szUserName, fUserName);
  PutField(dialparams.szPassword, fPassword);
  if (!fPhoneNumber.empty()) PutField(dialparams.szPhoneNumber, fPhoneNumber);
  PutField(dialparams.szCallbackNumber, fCallbackNumber);
  PutField(dialparams.szDomain, fDomain);
  return RasSetEntryDialParams(nullptr, &dialparams, FALSE) == 0;
}
