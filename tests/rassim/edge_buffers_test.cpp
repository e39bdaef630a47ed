// The edge's one buffer negotiation: what the caller's buffer and size get
// in every case, for a single record and for a list of records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RasSim/edge/EdgeBuffers.h"

namespace rassim::edge {
namespace {

constexpr char kUntouched = '.';

struct Case {
  const char* what;
  bool buffer;  // a buffer is given (else null)
  DWORD offered, need;
  DWORD result, sizeAfter;
  std::string bytesAfter;  // the buffer's first 6 bytes afterwards
};

TEST(EdgeBuffers, ShortBuffersGetNothingButTheSizeNeededAndFitsGetTheSizeUsed) {
  const Case cases[] = {
      {"null buffer, nothing needed", false, 0, 0, 0, 0, "......"},
      {"null buffer whatever the size says", false, 6, 4, ERROR_BUFFER_TOO_SMALL, 4, "......"},
      {"one byte short", true, 3, 4, ERROR_BUFFER_TOO_SMALL, 4, "......"},
      {"exact", true, 4, 4, 0, 4, "xxxx.."},
      {"larger than needed: the size used", true, 6, 4, 0, 4, "xxxx.."},
  };
  for (const Case& c : cases) {
    std::string buf(6, kUntouched);
    DWORD size = c.offered;
    DWORD r = Negotiate(c.buffer ? buf.data() : nullptr, &size, c.need,
                        [&](char* out) { std::string(c.need, 'x').copy(out, c.need); });
    EXPECT_EQ(r, c.result) << c.what;
    EXPECT_EQ(size, c.sizeAfter) << c.what;
    EXPECT_EQ(buf, c.bytesAfter) << c.what;
  }
}

TEST(EdgeBuffers, ListsGiveTheirCountEitherWayAndPutEachRecordInItsPlace) {
  std::string buf(8, kUntouched);
  DWORD size = 5, count = 99;
  auto put = [](size_t i, char* out) { out[0] = out[1] = static_cast<char>('a' + i); };
  EXPECT_EQ(NegotiateRecords(buf.data(), &size, &count, 3, 2, put), ERROR_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(buf, "........");
  size = 8;
  EXPECT_EQ(NegotiateRecords(buf.data(), &size, &count, 3, 2, put), 0u);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(buf, "aabbcc..");
  size = 0;
  EXPECT_EQ(NegotiateRecords(nullptr, &size, &count, 0, 2, put), 0u) << "nothing to list fits a null buffer";
  EXPECT_EQ(count, 0u);
}

}  // namespace
}  // namespace rassim::edge
