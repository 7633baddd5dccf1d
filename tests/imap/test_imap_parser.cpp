// The IMAP response parser: literals read exactly, limits kept, broken
// responses refused with a clear error instead of a guess.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "mailcheck/ImapParser.h"
#include "mailcheck/ImapSession.h"

namespace qnb::test {
namespace {

// Input from a string, as the line reader cuts it.
class TStringInput final : public TImapInput {
 public:
  explicit TStringInput(std::string s) : s_(std::move(s)) {}
  std::string ReadLine() override {
    const size_t lf = s_.find('\n', pos_);
    if (lf == std::string::npos) throw ENetFailure(kClosedByPeer);
    std::string line = s_.substr(pos_, lf - pos_);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pos_ = lf + 1;
    return line;
  }
  std::string ReadBytes(size_t n) override {
    if (s_.size() - pos_ < n) throw ENetFailure(kClosedByPeer);
    std::string b = s_.substr(pos_, n);
    pos_ += n;
    return b;
  }
  size_t Left() const { return s_.size() - pos_; }

 private:
  std::string s_;
  size_t pos_ = 0;
};

TImapResponse Parse(const std::string& text, const TImapLimits& limits = {}) {
  TStringInput in(text);
  return ReadImapResponse(in, limits);
}

TEST(ImapParser, StatusResponsesKeepTagCodeAndText) {
  auto r = Parse("* OK [UIDVALIDITY 3857529045] UIDs valid\r\n");
  EXPECT_TRUE(r.Untagged());
  EXPECT_EQ(r.Status, "OK");
  EXPECT_EQ(r.Code, "UIDVALIDITY 3857529045");
  EXPECT_EQ(r.Text, "UIDs valid");
  // Free text is never taken for a literal.
  r = Parse("Q7 no [ALERT] quota {5}\r\n");
  EXPECT_EQ(r.Tag, "Q7");
  EXPECT_EQ(r.Status, "NO");
  EXPECT_EQ(r.Text, "quota {5}");
  r = Parse("+ idling\r\n");
  EXPECT_EQ(r.Tag, "+");
  EXPECT_EQ(r.Text, "idling");
}

TEST(ImapParser, LiteralsAreReadExactlyAndTheLineGoesOnAfterThem) {
  // The literal holds a CR LF, a ")" and something that looks like a tag line.
  const std::string body = "Subject: x\r\n)\r\nQ1 OK fake\r\n";
  for (const std::string& marker : {std::string("{") + std::to_string(body.size()) + "}",
                                    std::string("{") + std::to_string(body.size()) + "+}"}) {
    TStringInput in("* 12 FETCH (UID 34 BODY[HEADER] " + marker + "\r\n" + body +
                    " FLAGS (\\Seen $Label))\r\nQ2 OK next\r\n");
    auto r = ReadImapResponse(in);
    ASSERT_EQ(r.Data.size(), 3u);
    EXPECT_EQ(r.Data[0].Text, "12");
    EXPECT_TRUE(r.Data[1].IsAtom("FETCH"));
    const auto& items = r.Data[2].Items;
    ASSERT_EQ(items.size(), 6u);
    EXPECT_EQ(items[1].Text, "34");
    EXPECT_EQ(items[2].Text, "BODY[HEADER]");
    EXPECT_EQ(items[3].Kind, TImapValue::vString);
    EXPECT_EQ(items[3].Text, body);
    ASSERT_EQ(items[5].Kind, TImapValue::vList);
    EXPECT_EQ(items[5].Items[0].Text, "\\Seen");
    // The next response is untouched.
    EXPECT_EQ(ReadImapResponse(in).Tag, "Q2");
  }
}

TEST(ImapParser, StringsNilSectionsAndEmptyLiterals) {
  auto r = Parse("* LIST (\\HasNoChildren) \"/\" \"Sent \\\"old\\\" \\\\ box\"\r\n");
  ASSERT_EQ(r.Data.size(), 4u);
  EXPECT_EQ(r.Data[3].Text, "Sent \"old\" \\ box");
  r = Parse("* 1 FETCH (BODY[HEADER.FIELDS (FROM TO)] {0}\r\n UID 9 X NIL)\r\n");
  const auto& items = r.Data[2].Items;
  ASSERT_EQ(items.size(), 6u);
  EXPECT_EQ(items[0].Text, "BODY[HEADER.FIELDS (FROM TO)]");
  EXPECT_EQ(items[1].Text, "");
  EXPECT_EQ(items[5].Kind, TImapValue::vNil);
}

TEST(ImapParser, BrokenAndOversizedResponsesFailClearly) {
  struct TCase {
    std::string text;
    const char* error;
  };
  TImapLimits small;
  small.MaxLiteral = 10;
  small.MaxResponse = 64;
  small.MaxDepth = 4;
  const TCase cases[] = {
      {"* 1 FETCH (BODY[] {11}\r\n01234567890)\r\n", kImapLiteralTooLarge},
      {"* 1 FETCH (BODY[] {99999999999999999999999}\r\n", kImapLiteralTooLarge},
      {"* 1 FETCH (A {9}\r\n012345678 B {9}\r\n012345678 C {9}\r\n012345678 D {9}\r\n012345678)\r\n",
       kImapResponseTooLarge},
      {"* 1 FETCH (((((x)))))\r\n", kImapMalformed},
      {"* 1 FETCH (BODY[] {5}\r\nab", kClosedByPeer},  // literal cut short
      {"* 1 FETCH (UID 1\r\n", kImapMalformed},        // list not closed
      {"* 1 FETCH (BODY[] {5} x\r\n", kImapMalformed},  // literal not at the end of the line
      {"* 1 FETCH (BODY[] {x}\r\n", kImapMalformed},
      {"* LIST () \"/\" \"open\r\n", kImapMalformed},
      {"* OK [CODE text\r\n", kImapMalformed},
      {"\r\n", kImapMalformed},
  };
  for (const auto& c : cases) {
    try {
      Parse(c.text, small);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const ENetFailure& e) {
      EXPECT_STREQ(e.what(), c.error) << c.text;
    }
  }
}

TEST(ImapParser, QuotingAndMailLines) {
  std::string q;
  EXPECT_TRUE(ImapQuote("pa\"ss\\word", q));
  EXPECT_EQ(q, "\"pa\\\"ss\\\\word\"");
  EXPECT_FALSE(ImapQuote("line\r\nbreak", q));
  EXPECT_FALSE(ImapQuote("gr\xc3\xbc\xc3\x9f", q));
  EXPECT_THAT(SplitMailLines("A: 1\r\nB: 2\r\n\r\n", true), ::testing::ElementsAre("A: 1", "B: 2"));
  EXPECT_THAT(SplitMailLines("A: 1\r\n\r\n.body\nlast", false), ::testing::ElementsAre("A: 1", "", ".body", "last"));
}

}  // namespace
}  // namespace qnb::test
