// The line reader over a stream that hands out fixed pieces, so that line
// ends, carriage returns and the length limit meet piece boundaries.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>

#include "mailcheck/LineReader.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;

class TPieceStream final : public TByteStream {
 public:
  explicit TPieceStream(std::deque<std::string> pieces) : pieces_(std::move(pieces)) {}
  size_t Read(char* buf, size_t size) override {
    ++reads;
    // Asking for more than the test provided means the reader waited for data
    // it should not have needed.
    if (pieces_.empty()) return 0;
    std::string& p = pieces_.front();
    size_t n = std::min(size, p.size());
    p.copy(buf, n);
    p.erase(0, n);
    if (p.empty()) pieces_.pop_front();
    return n;
  }
  void Write(std::string_view) override {}
  bool IsOpen() override { return true; }
  void Close() noexcept override {}
  int reads = 0;

 private:
  std::deque<std::string> pieces_;
};

std::vector<std::string> ReadAll(TLineReader& r, size_t n) {
  std::vector<std::string> lines;
  for (size_t i = 0; i < n; ++i) lines.push_back(r.ReadLine());
  return lines;
}

TEST(LineReader, SplitsAtLineFeedsAcrossPieces) {
  TPieceStream s({"+OK ready\r", "\nline two\n\r\n", "mid\rdle\r\nend", "ing\r\n"});
  TLineReader r(s);
  // A bare CR inside a line stays, a CR before LF goes, an empty line is a line.
  EXPECT_THAT(ReadAll(r, 5), ElementsAre("+OK ready", "line two", "", "mid\rdle", "ending"));
}

TEST(LineReader, LineAtTheLimitPassesOneByteMoreFails) {
  const size_t limit = 64;
  {
    TPieceStream s({std::string(limit, 'a') + "\r\n"});
    TLineReader r(s, limit);
    EXPECT_EQ(r.ReadLine().size(), limit);
  }
  {
    TPieceStream s({std::string(limit + 1, 'a') + "\r\n"});
    TLineReader r(s, limit);
    EXPECT_THROW(r.ReadLine(), ENetFailure);
  }
}

TEST(LineReader, OverlongLineFailsBeforeItsEndArrives) {
  const size_t limit = 64;
  // limit + 1 bytes could still end in CR LF only if the last is a CR.
  TPieceStream ok({std::string(limit, 'a') + "\r", "\n"});
  TLineReader r1(ok, limit);
  EXPECT_EQ(r1.ReadLine(), std::string(limit, 'a'));

  TPieceStream s({std::string(limit + 1, 'a')});
  TLineReader r2(s, limit);
  try {
    r2.ReadLine();
    FAIL() << "no failure";
  } catch (const ENetFailure& e) {
    EXPECT_STREQ(e.what(), kLineTooLong);
  }
  // It gave up on the bytes it had, without asking the stream for more.
  EXPECT_EQ(s.reads, 1);
}

TEST(LineReader, StreamEndingInsideALineIsAFailure) {
  TPieceStream s({"+OK\r\npartial"});
  TLineReader r(s);
  EXPECT_EQ(r.ReadLine(), "+OK");
  try {
    r.ReadLine();
    FAIL() << "no failure";
  } catch (const ENetFailure& e) {
    EXPECT_STREQ(e.what(), kClosedByPeer);
  }
}

}  // namespace
}  // namespace qnb::test
