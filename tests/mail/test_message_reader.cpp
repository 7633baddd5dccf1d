#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <string>

#include "TestConfig.h"
#include "analysis/MailBase.h"
#include "analysis/MailMessage.h"
#include "analysis/MsgType.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

// A mail as the whole-mail reader gets it: lines joined with CR LF, then ".".
std::string MailText(const TStrings& lines) { return JoinCRLF(lines) + ".\r\n"; }

TMailMessage Read(const TStrings& lines) {
  TMailMessage m;
  m.Parse(MailText(lines));
  return m;
}

TStrings Fixture(const std::string& name) { return SplitLines(ReadFile(QUENBELL_TEST_DATA_DIR "/mail/" + name)); }

TEST(HeaderLookup, FoldingCaseAndFirstMatch) {
  const TStrings h = {
      "Subject: PayNimbus payment",
      "  received -  ",
      "\tOrder PN-1",
      "Date:Tue, 14 May 2024",
      " 09:12:00 +0200",
      "X-Empty:",
      "subject: second one",
      "Note: a",
      "   ",
      " b",
  };
  EXPECT_EQ(LookupHeader(h, "Subject"), "PayNimbus payment received - Order PN-1");
  EXPECT_EQ(LookupHeader(h, "DATE"), "Tue, 14 May 2024 09:12:00 +0200");
  EXPECT_EQ(LookupHeader(h, "Note"), "a b");
  EXPECT_EQ(LookupHeader(h, "X-Empty"), "");
  EXPECT_EQ(LookupHeader(h, "From"), "");
  EXPECT_EQ(LookupHeader(h, "Subj"), "");
}

TEST(HeaderLookup, BoundaryParameter) {
  EXPECT_EQ(BoundaryOf(R"(multipart/mixed; boundary="b1 x")"), "b1 x");
  EXPECT_EQ(BoundaryOf(R"(multipart/mixed; BOUNDARY="open)"), "open");
  EXPECT_EQ(BoundaryOf("multipart/mixed; boundary=b1"), "b1");
  // An unquoted boundary runs to the end of the value.
  EXPECT_EQ(BoundaryOf("multipart/mixed; boundary=b1; charset=x"), "b1; charset=x");
  EXPECT_EQ(BoundaryOf("text/plain; charset=x"), "");
}

TEST(MessageReader, HeaderLinesStayAsReceived) {
  auto m = Read({"Subject: folded", "\tsubject", "X-A:1", "", "body"});
  EXPECT_THAT(m.Headers(), ElementsAre("Subject: folded", "\tsubject", "X-A:1"));
  EXPECT_EQ(m.Subject(), "folded subject");
  EXPECT_THAT(m.Body(), ElementsAre("body"));
}

TEST(MessageReader, HeaderBlockEndingWithTheDotLineHasNoBody) {
  TMailMessage m;
  m.Parse("Subject: s\r\n.\r\nnot read\r\n");
  EXPECT_THAT(m.Headers(), ElementsAre("Subject: s"));
  EXPECT_THAT(m.Body(), IsEmpty());
}

TEST(MessageReader, ClosingDotIsSuppliedWhenTheTextRunsOut) {
  TMailMessage m;
  m.Parse("Subject: s\r\n\r\nline 1\r\nlast line without break");
  EXPECT_THAT(m.Body(), ElementsAre("line 1", "last line without break"));
  m.Parse("Subject: s\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nx");
  ASSERT_EQ(m.Parts().size(), 1u);
  EXPECT_THAT(m.Parts()[0].Body, ElementsAre("x"));
}

TEST(MessageReader, DotStuffedLines) {
  auto m = Read({"Subject: s", "", "..", "...x", ".y", "a..b"});
  EXPECT_THAT(m.Body(), ElementsAre(".", "..x", ".y", "a..b"));
  // In an unencoded part one leading dot goes.
  m = Read({"Content-Type: multipart/mixed; boundary=b", "", "--b", "", "..", ".x", "--b--"});
  ASSERT_EQ(m.Parts().size(), 1u);
  EXPECT_THAT(m.Parts()[0].Body, ElementsAre(".", "x"));
}

TEST(MessageReader, SinglePartQuotedPrintableKeepsItsEncodedBody) {
  auto m = Read({"Content-Transfer-Encoding: quoted-printable", "", "caf=E9 soft=", "break"});
  EXPECT_THAT(m.Body(), ElementsAre("caf=E9 soft=", "break"));
  EXPECT_THAT(m.Parts(), IsEmpty());
}

TEST(MessageReader, AlternativePaymentMailWithQuotedPrintableAndBase64) {
  TMsgType msg;
  TStrings src = Fixture("alternative-qp-plain-b64-html.eml");
  msg.Assign(src);
  const auto& m = msg.Parsed();
  EXPECT_EQ(msg.Subject(), "PayNimbus payment received - Order PN-100234");
  EXPECT_THAT(m.Body(), IsEmpty());
  ASSERT_EQ(m.Parts().size(), 2u);
  const auto& plain = m.Parts()[0];
  EXPECT_FALSE(plain.IsAttachment());
  EXPECT_THAT(plain.Headers,
              ElementsAre("Content-Type=text/plain; charset=utf-8", "Content-Transfer-Encoding=quoted-printable"));
  EXPECT_THAT(plain.Body, ElementsAre("PayNimbus payment received", "", "Order ID: PN-100234",
                                      "Buyer name: Ren\xC3\xA9" "e Dupont", "Email: renee@example.org",
                                      "Product: Quenbell Pro \xE2\x80\x93 single licence, delivered by e-mail with "
                                      "a registration code",
                                      "Quantity: 1", "Amount: 49.95", "Currency: EUR", "Country: FR"));
  const auto& html = m.Parts()[1];
  EXPECT_FALSE(html.IsAttachment());
  EXPECT_THAT(html.Body, ElementsAre("<html><body><h1>Payment received</h1><p>Order ID: PN-100234</p>"
                                     "<p>Buyer: Ren\xC3\xA9" "e Dupont</p><p>Amount: 49.95 EUR</p></body></html>"));
  // The blank top-level body gives way to the first text part.
  EXPECT_THAT(msg.Body(), ElementsAreArray(plain.Body));
}

TEST(MessageReader, NestedMultipartWithAttachment) {
  TMsgType msg;
  TStrings src = Fixture("nested-mixed-alternative-attachment.eml");
  msg.Assign(src);
  const auto& m = msg.Parsed();
  EXPECT_EQ(m.From(), "Boutique d'\xC9t\xE9 <sales@shop.example>");
  EXPECT_EQ(m.Cc(), "J\xFCrgen <j@example.org>");
  // The reader decodes the ISO word, TMsgType then the utf-8 one.
  EXPECT_EQ(m.Subject(), "Re\xE7u =?utf-8?B?w6k=?=");
  EXPECT_EQ(msg.Subject(), "Re\xE7u \xC3\xA9");

  ASSERT_EQ(m.Parts().size(), 4u);
  // The alternative container is a text part of its own, with no body.
  EXPECT_FALSE(m.Parts()[0].IsAttachment());
  EXPECT_THAT(m.Parts()[0].Headers, ElementsAre("Content-Type=multipart/alternative; boundary=\"alt-02\""));
  EXPECT_THAT(m.Parts()[0].Body, IsEmpty());
  EXPECT_THAT(m.Parts()[1].Body, ElementsAre("Re\xE7u: order 7731", "Total: 12.00 USD"));
  EXPECT_THAT(m.Parts()[2].Body, ElementsAre("<p>Re\xE7u: order 7731</p>"));
  const auto& att = m.Parts()[3];
  ASSERT_TRUE(att.IsAttachment());
  EXPECT_EQ(att.FileName, "re\xE7u 7731.pdf");
  std::string pdf;
  for (int i = 0; i < 3; ++i)
    for (int c = 0; c < 256; ++c) pdf += static_cast<char>(c);
  pdf += "%%EOF\n";
  EXPECT_EQ(att.Size(), pdf.size());
  EXPECT_EQ(att.Content, pdf);
  EXPECT_THAT(att.Headers, ElementsAre("Content-Type=application/pdf", "Content-Transfer-Encoding=base64",
                                       "Content-Disposition=attachment; filename=\"=?ISO-8859-1?Q?re=E7u_7731.pdf?=\""));
  // What lies between the closing lines is blank: the container becomes the body.
  EXPECT_THAT(m.Body(), ElementsAre("", ""));
  EXPECT_THAT(msg.Body(), IsEmpty());
}

TEST(MessageReader, PreambleAndEpilogueAreTheBody) {
  TMsgType msg;
  TStrings src = Fixture("preamble-and-epilogue-are-body.eml");
  msg.Assign(src);
  EXPECT_THAT(msg.Body(), ElementsAre("This is a multi-part message in MIME format.", "epilogue line"));
  ASSERT_EQ(msg.Parsed().Parts().size(), 1u);
  EXPECT_THAT(msg.Parsed().Parts()[0].Body, ElementsAre("part text"));
}

TEST(MessageReader, UuencodedBlockBecomesAnAttachment) {
  auto m = Read(Fixture("uuencoded-block.eml"));
  EXPECT_THAT(m.Body(), ElementsAre("Hello,", "the licence file follows.", "Regards,", "the vendor"));
  ASSERT_EQ(m.Parts().size(), 1u);
  const auto& att = m.Parts()[0];
  EXPECT_TRUE(att.IsAttachment());
  EXPECT_EQ(att.FileName, "licence.txt");
  std::string key;
  for (int i = 0; i < 4; ++i) key += "LICENSE-KEY: QB-7731-XK2P-99RT\nissued to: Renee Dupont\n";
  EXPECT_EQ(att.Content, key);
}

TEST(MessageReader, UuencodeBeginLineNeedsItsExactShape) {
  // "M" + "86)C" encodes "abc"; a length character of "#" says three bytes.
  for (const char* begin : {"begin 64 x", "begin 000 x", "begin 6a4 x", "begin 644x", "BEGIN  644 x"}) {
    auto m = Read({"", begin, "#86)C", "end"});
    EXPECT_THAT(m.Parts(), IsEmpty()) << begin;
  }
  auto m = Read({"", "BEGIN 600 a b.txt", "#86)C", "`", "end", "after"});
  ASSERT_EQ(m.Parts().size(), 1u);
  EXPECT_EQ(m.Parts()[0].FileName, "a b.txt");
  EXPECT_EQ(m.Parts()[0].Content, "abc");
  EXPECT_THAT(m.Body(), ElementsAre("after"));
}

struct TPartCase {
  const char* what;
  TStrings partHeader;
  TStrings partBody;
  bool attachment;
  std::string content;  // attachment content, or the text part's lines joined with CR LF
  std::string fileName;
};

void PrintTo(const TPartCase& c, std::ostream* os) { *os << c.what; }

class PartRules : public ::testing::TestWithParam<TPartCase> {};

TEST_P(PartRules, TypeNameAndDecoding) {
  const auto& c = GetParam();
  TStrings lines = {"Content-Type: multipart/mixed; boundary=\"B\"", "", "--B"};
  lines.insert(lines.end(), c.partHeader.begin(), c.partHeader.end());
  lines.push_back("");
  lines.insert(lines.end(), c.partBody.begin(), c.partBody.end());
  lines.push_back("--B--");
  auto m = Read(lines);
  ASSERT_EQ(m.Parts().size(), 1u) << c.what;
  const auto& p = m.Parts()[0];
  EXPECT_EQ(p.IsAttachment(), c.attachment) << c.what;
  if (c.attachment) {
    EXPECT_EQ(p.Content, c.content) << c.what;
    EXPECT_EQ(p.FileName, c.fileName) << c.what;
  } else {
    EXPECT_EQ(JoinCRLF(p.Body), c.content) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Parts, PartRules,
    ::testing::Values(
        TPartCase{"text part with a name parameter is an attachment",
                  {"Content-Type: text/plain; name=notes.txt"}, {"hello"}, true, "hello\r\n", "notes.txt"},
        TPartCase{"disposition attachment, upper case, name from FILENAME",
                  {"Content-Type: application/octet-stream", "Content-Disposition: ATTACHMENT ; filename=\"a b.bin\"",
                   "Content-Transfer-Encoding: BASE64"},
                  {"AAEC", "", "/w=="}, true, std::string("\x00\x01\x02\xFF", 4), "a b.bin"},
        TPartCase{"inline disposition with a filename stays text",
                  {"Content-Disposition: inline; filename=x.txt"}, {"t"}, false, "t\r\n", ""},
        TPartCase{"unquoted name runs to the end of the value",
                  {"Content-Type: application/pdf; name=r.pdf; x=1"}, {"d"}, true, "d\r\n", "r.pdf; x=1"},
        TPartCase{"Windows-charset encoded file name",
                  {"Content-Type: application/pdf; name=\"=?windows-1252?Q?=80_list.pdf?=\""}, {"d"}, true, "d\r\n",
                  "\x80 list.pdf"},
        TPartCase{"folded part header is joined with one blank",
                  {"Content-Type: application/pdf;", "\tname=\"f.pdf\""}, {"d"}, true, "d\r\n", "f.pdf"},
        TPartCase{"header lines without a blank after the colon are not found",
                  {"Content-Type:application/pdf; name=x.pdf", "Content-Transfer-Encoding:base64",
                   "Content-Disposition:attachment"},
                  {"AAEC"}, false, "AAEC\r\n", ""},
        TPartCase{"base64 padding shortens the last group", {"Content-Transfer-Encoding: base64"},
                  {"YWJjZA==", "ZWY="}, false, "abcdef\r\n", ""},
        TPartCase{"quoted-printable: hex either case, trailing blanks, soft breaks",
                  {"Content-Transfer-Encoding: Quoted-Printable"},
                  {"caf=e9 =C3=A9  \t", "soft=", "break =", "", "one digit =A.", "bad =zz"}, false,
                  "caf\xE9 \xC3\xA9\r\nsoftbreak \r\none digit \r\n.\r\nbad zz\r\n", ""},
        TPartCase{"a name parameter anywhere in the type counts",
                  {"Content-Type: text/plain; x-filename-hint=1"}, {"t"}, true, "t\r\n", "hint=1"}));

TEST(MessageReader, UnquotedBoundaryWithAParameterMatchesNoLine) {
  auto m = Read({"Content-Type: multipart/mixed; boundary=b1; charset=x", "", "--b1", "Content-Type: text/plain", "",
                 "t", "--b1--"});
  EXPECT_THAT(m.Parts(), IsEmpty());
  EXPECT_THAT(m.Body(), ElementsAre("--b1", "Content-Type: text/plain", "", "t", "--b1--"));
}

TEST(MessageReader, BoundariesCompareWithoutCaseAndNestedOnesStack) {
  auto m = Read({"Content-Type: multipart/mixed; boundary=Outer", "", "--OUTER",
                 "Content-Type: multipart/related; boundary=inner", "", "--Inner", "", "one", "--INNER--",
                 "--outer", "", "two", "--OUTER--", "after"});
  ASSERT_EQ(m.Parts().size(), 3u);
  EXPECT_THAT(m.Parts()[1].Body, ElementsAre("one"));
  EXPECT_THAT(m.Parts()[2].Body, ElementsAre("two"));
  EXPECT_THAT(m.Body(), ElementsAre("after"));
  // A nested multipart as the last part: the outer closing line is met outside
  // any part and is no body line.
  m = Read({"Content-Type: multipart/mixed; boundary=m", "", "--m", "Content-Type: multipart/alternative; boundary=a",
            "", "--a", "", "plain", "--a--", "--m--", "epilogue"});
  ASSERT_EQ(m.Parts().size(), 2u);
  EXPECT_THAT(m.Parts()[1].Body, ElementsAre("plain"));
  EXPECT_THAT(m.Body(), ElementsAre("epilogue"));
  // A nested part naming the current boundary again does not stack it twice:
  // its closing line ends the whole multipart.
  m = Read({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: multipart/mixed; boundary=B", "",
            "--b", "", "x", "--b--", "after"});
  ASSERT_EQ(m.Parts().size(), 2u);
  EXPECT_THAT(m.Body(), ElementsAre("after"));
}

TEST(MessageReader, EncodedTopLevelBodyOfAMultipartIsOnePart) {
  auto m = Read({"Content-Type: multipart/mixed; boundary=b", "Content-Transfer-Encoding: base64", "",
                 "cHJlYW1ibGU=", "--b", "Content-Type: text/plain", "", "plain", "--b--"});
  ASSERT_EQ(m.Parts().size(), 2u);
  EXPECT_THAT(m.Parts()[0].Body, ElementsAre("preamble"));
  EXPECT_THAT(m.Parts()[0].Headers,
              ElementsAre("Content-Type=multipart/mixed; boundary=b", "Content-Transfer-Encoding=base64"));
  EXPECT_THAT(m.Parts()[1].Body, ElementsAre("plain"));
  EXPECT_THAT(m.Body(), IsEmpty());
}

TEST(MessageReader, FailuresCarryTheirTexts) {
  auto error = [](const TStrings& lines) -> std::string {
    try {
      Read(lines);
    } catch (const EMailError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(error({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Type: text/plain"}),
            "Unknown Message Part Type.");
  EXPECT_EQ(error({"Content-Type: multipart/mixed; boundary=b", "", "--b"}), "Unknown Message Part Type.");
  EXPECT_EQ(error({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Transfer-Encoding: base64", "",
                   "QUJD", "QUJ", "--b--"}),
            "Uneven size in DecodeToStream.");
  EXPECT_EQ(error({"Content-Type: multipart/mixed; boundary=b", "", "--b", "Content-Transfer-Encoding: base64", "",
                   "QUJD ", "--b--"}),
            "Uneven size in DecodeToStream.");
}

TEST(MessageReader, BadQWordInHeadersFailsTheWholeMailButNotTheHeaderOnlyUse) {
  for (const char* header : {"Subject", "From", "To", "Cc", "Bcc"}) {
    std::string line = std::string(header) + ": =?iso-8859-1?Q?caf=ZZ?= =?iso-8859-1?Q?ok?=";
    EXPECT_THROW(Read({line, "", "b"}), EConvertError) << header;

    TMailMessage h;
    h.AddRawHeaderLine(line);
    ASSERT_NO_THROW(h.ParseHeaders()) << header;
    EXPECT_THAT(h.Headers(), ElementsAre(line));
  }
  TMailMessage h;
  h.AddRawHeaderLine("Subject: =?iso-8859-1?Q?caf=ZZ?=");
  h.AddRawHeaderLine("From: =?iso-8859-1?Q?J=FCrgen?=");
  h.ParseHeaders();
  EXPECT_EQ(h.Subject(), "=?iso-8859-1?Q?caf=ZZ?=");
  EXPECT_EQ(h.From(), "J\xFCrgen");
  // Attachment names are decoded like the subject, failure included.
  EXPECT_THROW(Read({"Content-Type: multipart/mixed; boundary=b", "", "--b",
                     "Content-Type: application/pdf; name=\"=?iso-8859-1?Q?=ZZ?=\"", "", "x", "--b--"}),
               EConvertError);
}

TEST(MessageReader, HeaderOnlyUseKeepsRawLinesAndReadsTheFields) {
  TMailMessage h;
  for (const char* line : {"Received: from x", "\tby y", "Subject: =?ISO-2022-JP?B?GyRCJEgbKEI=?= order",
                           "Content-Type: multipart/alternative;", " boundary=\"q\"", "Date: Tue, 14 May 2024",
                           "  09:12:00 +0200"})
    h.AddRawHeaderLine(line);
  h.AddRawHeaderLine("");
  h.ParseHeaders();
  EXPECT_EQ(h.Headers().size(), 7u);
  EXPECT_EQ(h.Headers()[1], "\tby y");
  EXPECT_EQ(h.Subject(), "\x82\xC6 order");
  EXPECT_EQ(h.Boundary(), "q");
  EXPECT_EQ(h.Date(), "Tue, 14 May 2024 09:12:00 +0200");
}

TEST(MessageReader, AttachmentsLeaveNothingInTheTempFolder) {
  TTempDir tmp;
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", tmp.Str().c_str(), 1);
  {
    TMsgType msg;
    TStrings src = Fixture("nested-mixed-alternative-attachment.eml");
    msg.Assign(src);
    EXPECT_EQ(msg.Parsed().Parts().back().Size(), 774u);
  }
  if (old) setenv("TMPDIR", saved.c_str(), 1);
  else unsetenv("TMPDIR");
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

TEST(MsgType, ClosingDotLineIsAddedToTheCallersListOnlyWhenMissing) {
  struct {
    TStrings in;
    bool appended;
  } cases[] = {
      {{"Subject: s", "", "b"}, true},
      {{"Subject: s", "", "b", "."}, false},
      {{"Subject: s", "", "b", " . "}, false},
      {{"Subject: s", "", "b", "\t.\r"}, false},
      {{"Subject: s", "", ".."}, true},
  };
  for (auto& c : cases) {
    TStrings original = c.in;
    TMsgType msg;
    msg.Assign(c.in);
    TStrings expected = original;
    if (c.appended) expected.push_back(".");
    EXPECT_EQ(c.in, expected) << JoinCRLF(original);
    EXPECT_THAT(msg.FullSource(), ElementsAreArray(original));
    EXPECT_THAT(msg.Headers(), ElementsAre("Subject: s"));
  }
}

TEST(MsgType, EmptySourceFailsBeforeAnyFieldIsSet) {
  TStrings none;
  TMsgType msg;
  EXPECT_THROW(msg.Assign(none), EMailError);
  EXPECT_THAT(msg.FullSource(), IsEmpty());
  EXPECT_THAT(msg.Headers(), IsEmpty());
  EXPECT_THAT(none, IsEmpty());
}

TEST(MsgType, BodyRule) {
  const TStrings mp = {"Content-Type: multipart/mixed; boundary=b", ""};
  auto body = [&](TStrings extra) {
    TStrings src = mp;
    src.insert(src.end(), extra.begin(), extra.end());
    TMsgType msg;
    msg.Assign(src);
    return TStrings(msg.Body().begin(), msg.Body().end());
  };
  // Blank preamble: the first text part, attachments skipped.
  EXPECT_THAT(body({" ", "\t", "--b", "Content-Disposition: attachment", "", "a", "--b", "", "text", "--b--"}),
              ElementsAre("text"));
  // A non-blank preamble wins even over a text part.
  EXPECT_THAT(body({"pre", "--b", "", "text", "--b--"}), ElementsAre("pre"));
  // Only attachments: nothing.
  EXPECT_THAT(body({"--b", "Content-Type: image/png; name=a.png", "", "x", "--b--"}), IsEmpty());
  // A mail without boundary keeps its whole body.
  TStrings plain = {"Subject: x", "", "line 1", "", "line 3"};
  TMsgType msg;
  msg.Assign(plain);
  EXPECT_THAT(msg.Body(), ElementsAre("line 1", "", "line 3"));
}

// Every fixture mail, a dot-stuffed one and one without its "." line read
// from its lines in place give what the text reader gives.
TEST(MessageReader, LinesInPlaceReadAsTheText) {
  std::vector<TStrings> mails = {{"Subject: dots", "", "..", "..x", ".y", "a..b", "."},
                                 {"Subject: no end", "", "line", ""}};
  for (const char* name : {"alternative-qp-plain-b64-html.eml", "nested-mixed-alternative-attachment.eml",
                           "preamble-and-epilogue-are-body.eml", "uuencoded-block.eml"})
    mails.push_back(Fixture(name));
  for (const TStrings& lines : mails) {
    const TMailMessage text = Read(lines);
    const TMailLines held(lines);
    TMailMessage inPlace;
    inPlace.Parse(held);
    const std::string what = lines.front();
    EXPECT_EQ(inPlace.Headers(), text.Headers()) << what;
    EXPECT_EQ(inPlace.Subject(), text.Subject()) << what;
    EXPECT_EQ(inPlace.Body(), text.Body()) << what;
    ASSERT_EQ(inPlace.Parts().size(), text.Parts().size()) << what;
    for (size_t i = 0; i < text.Parts().size(); ++i) {
      EXPECT_EQ(inPlace.Parts()[i].Headers, text.Parts()[i].Headers) << what << i;
      EXPECT_EQ(inPlace.Parts()[i].Body, text.Parts()[i].Body) << what << i;
      EXPECT_EQ(inPlace.Parts()[i].Content, text.Parts()[i].Content) << what << i;
    }
  }
}

TEST(MailLines, LinesSurviveGrowthAndMoves) {
  TStrings lines;
  for (int i = 0; i < 3000; ++i)
    lines.push_back(std::string(static_cast<size_t>(i % 7 == 0 ? 0 : i % 500), static_cast<char>('a' + i % 26)));
  lines.push_back(std::string(20000, 'z'));  // larger than any buffer so far
  lines.push_back("after the long line");
  TMailLines held;
  for (const auto& l : lines) held.push_back(l);
  EXPECT_THAT(held.Lines(), ElementsAreArray(lines));
  EXPECT_EQ(held.Bytes(), JoinCRLF(lines).size());
  const char* first = held[1].data();
  TMailLines moved = std::move(held);
  EXPECT_EQ(moved[1].data(), first);
  EXPECT_THAT(moved.Lines(), ElementsAreArray(lines));
}

TEST(MailLines, AdoptedTextIsCutAsAMailsBytes) {
  const struct {
    std::string text;
    TStrings lines;
  } cases[] = {
      {"a\r\nb\n\nc", {"a", "b", "", "c"}},
      {"last\r", {"last"}},
      {"one\r\n", {"one"}},
      {"\r\n\r\n", {"", ""}},
      {"short", {"short"}},  // within a string's own storage
      {"", {}},
  };
  for (const auto& c : cases) {
    TMailLines held;
    held.AdoptText(c.text);
    held.push_back("pushed after");
    TStrings expected = c.lines;
    expected.push_back("pushed after");
    TMailLines moved = std::move(held);
    EXPECT_THAT(moved.Lines(), ElementsAreArray(expected)) << c.text;
    EXPECT_EQ(moved.Bytes(), JoinCRLF(expected).size()) << c.text;
  }
}

TEST(MsgType, TakenLinesAreHeldOnceAndOutliveAMove) {
  TStrings plain = {"Subject: x", "", "line 1", "..dot", "line 3"};
  TMailLines held(plain);
  const char* bodyStart = held[2].data();
  TMsgType msg;
  msg.Assign(std::move(held));
  TMsgType moved = std::move(msg);
  EXPECT_THAT(moved.Body(), ElementsAre("line 1", ".dot", "line 3"));
  EXPECT_THAT(moved.FullSource(), ElementsAreArray(plain));
  // The body views the source: no copy of the mail.
  EXPECT_EQ(moved.Body()[0].data(), bodyStart);
  EXPECT_EQ(moved.Body()[1].data(), moved.FullSource()[3].data() + 1);
  EXPECT_THROW(moved.Assign(TMailLines()), EMailError);
}

}  // namespace
}  // namespace qnb::test
