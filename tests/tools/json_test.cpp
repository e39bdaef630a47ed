// The JSON string escaper and object writer behind --json.
#include "tools/quor/Json.h"

#include <gtest/gtest.h>

using quortool::JsonObject;
using quortool::JsonString;

TEST(Json, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(JsonString("say \"hi\"\\"), "\"say \\\"hi\\\"\\\\\"");
  EXPECT_EQ(JsonString("a\nb\tc\rd"), "\"a\\nb\\tc\\rd\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString(std::string("nul\0here", 8)), "\"nul\\u0000here\"");
}

TEST(Json, KeepsUtf8AndEscapesOtherHighBytesAsLatin1) {
  EXPECT_EQ(JsonString("Z\xc3\xbcrich"), "\"Z\xc3\xbcrich\"");         // valid UTF-8 "ü"
  EXPECT_EQ(JsonString("Z\xfcrich"), "\"Z\\u00fcrich\"");              // code page byte 0xFC
  EXPECT_EQ(JsonString("\xe2\x82"), "\"\\u00e2\\u0082\"");             // cut-off sequence
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");             // overlong '/'
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // surrogate
}

TEST(Json, ObjectKeepsMemberOrderAndTypes) {
  JsonObject o;
  o.Add("event", "notify").AddSeconds("time", 12345).Add("error", int32_t{676}).Add("up", false);
  o.Add("list", std::vector<std::string>{"a", "b\"c"});
  EXPECT_EQ(o.Text(), "{\"event\":\"notify\",\"time\":12.345,\"error\":676,\"up\":false,\"list\":[\"a\",\"b\\\"c\"]}");
  EXPECT_EQ(JsonObject().AddSeconds("t", 7).Text(), "{\"t\":0.007}");
  EXPECT_EQ(JsonObject().Add("empty", std::vector<std::string>{}).Text(), "{\"empty\":[]}");
}
