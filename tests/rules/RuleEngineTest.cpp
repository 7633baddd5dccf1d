// The rule engine: amounts, currencies and dates, HTML made text, rule files
// and their faults, own rules over shipped ones, limits on hostile input.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "rules/Amount.h"
#include "rules/MailText.h"
#include "rules/RuleEngine.h"
#include "rules/RuleFile.h"
#include "support/TempDir.h"

namespace qnb::rules {
namespace {

TEST(AmountTest, ReadsTheUsualForms) {
  struct Case {
    const char* text;
    int64_t value;
    const char* currency;
  } cases[] = {
      {"$1,234.56", 12345600, "USD"},
      {"1.234,56 €", 12345600, "EUR"},
      {"1 234,56 EUR", 12345600, "EUR"},
      {"1\xC2\xA0" "234,56\xC2\xA0\xE2\x82\xAC", 12345600, "EUR"},
      {"\xC2\xA5" "1,200", 12000000, "JPY"},
      {"$14.95 USD", 149500, "USD"},
      {"$14.95 CAD", 149500, "CAD"},
      {"US$ 10", 100000, "USD"},
      {"CHF 1'234.50", 12345000, "CHF"},
      {"\xC2\xA3" "9.5", 95000, "GBP"},
      {"-$5.00", -50000, "USD"},
      {"1.234.567", 12345670000, ""},
      {"0,99", 9900, ""},
      {"12 zł", 120000, "PLN"},
      {"250 kr", 2500000, "SEK"},
  };
  for (const auto& c : cases) {
    int64_t v = 0;
    ASSERT_TRUE(ParseAmount(c.text, v)) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(CurrencyCode(c.text), c.currency) << c.text;
  }
  int64_t v = 0;
  EXPECT_FALSE(ParseAmount("free", v));
  EXPECT_FALSE(ParseAmount("99999999999999999999.00", v));
  // A lone sign follows the rule's currency where that currency uses it.
  EXPECT_EQ(CurrencyCode("$5", "CAD"), "CAD");
  EXPECT_EQ(CurrencyCode("$5", "EUR"), "USD");
  EXPECT_EQ(CurrencyCode("100 kr", "NOK"), "NOK");
  EXPECT_EQ(CurrencyCode("20 euros"), "EUR");
}

TEST(AmountTest, ReadsDatesInTheNamedFormats) {
  struct Case {
    const char* text;
    const char* format;
    double days;  // 0: must not parse
  } cases[] = {
      {"Dec 8, 2026 10:15:30 PST", "%b %d, %Y %H:%M:%S", 46364 + (10 * 3600 + 15 * 60 + 30) / 86400.0},
      {"December 8th, 2026", "%B %d, %Y", 46364},
      {"8. Dezember 2026", "%d. %B %Y", 46364},
      {"8 d\xC3\xA9" "cembre 2026", "%d %B %Y", 46364},
      {"8 de diciembre de 2026", "%d de %B de %Y", 46364},
      {"12/08/26", "%m/%d/%y", 46364},
      {"2026-12-08T22:05:00Z", "%Y-%m-%dT%H:%M:%S", 46364 + 22 * 3600 / 86400.0 + 5 * 60 / 86400.0},
      {"Dec 8, 2026, 10:15 PM", "%b %d, %Y, %I:%M %p", 46364 + (22 * 3600 + 15 * 60) / 86400.0},
      {"Tuesday, 8 Dec 2026", "%A, %d %b %Y", 46364},
      {"2026-02-29", "%Y-%m-%d", 0},
      {"13/13/2026", "%m/%d/%Y", 0},
      {"soon", "%Y", 0},
  };
  for (const auto& c : cases) {
    double d = 0;
    bool ok = ParseDate(c.text, c.format, d);
    EXPECT_EQ(ok, c.days != 0) << c.text;
    if (ok) {
      EXPECT_NEAR(d, c.days, 1e-6) << c.text;
    }
  }
}

TEST(MailTextTest, HtmlKeepsCellsAndRowsApart) {
  std::string text = HtmlToText(
      "<html><head><title>T</title><style>p{}</style></head><body><h1>Order&nbsp;#5</h1>"
      "<table><tr><td>Total:</td><td><b>$5</b>.00</td></tr><tr><td>Email</td><td>a@example.com</td></tr></table>"
      "<p>Line one<br>Line   two</p><script>var x = 1;</script></body></html>");
  EXPECT_EQ(text, "Order #5\nTotal:\t$5.00\nEmail\ta@example.com\nLine one\nLine two\n");
  EXPECT_EQ(HtmlToText("<p>unclosed <b>bold <td>cell"), "unclosed bold\ncell\n");
}

TEST(MailTextTest, DecodesCharsetsEncodedWordsAndTransferEncodings) {
  std::string mail =
      "From: =?iso-8859-1?q?J=F6rg?= <j@example.de>\r\n"
      "Subject: =?UTF-8?B?WmFobHVuZyDDvGJlciAxMCDigqw=?=\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
      "--b\r\nContent-Type: text/plain; charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
      "Gr=FC=DFe\r\n"
      "--b\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
      "PHA+VG90YWw6IDEwLDAwIOKCrDwvcD4=\r\n"
      "--b--\r\n";
  TMailText m = DecodeMail(mail);
  EXPECT_EQ(m.subject, "Zahlung \xC3\xBC" "ber 10 \xE2\x82\xAC");
  EXPECT_EQ(m.fromAddress, "j@example.de");
  EXPECT_EQ(m.text, "Gr\xC3\xBC\xC3\x9F" "e");
  EXPECT_EQ(m.html, "Total: 10,00 \xE2\x82\xAC\n");
  EXPECT_EQ(m.Header("FROM").substr(0, 5), "J\xC3\xB6rg");
}

const char* const kGoodRule = R"(
[[rule]]
id = "demo"
service = "Demo Pay"
from = "pay.example.com"
subject = '^New sale'
[rule.fields]
OrderID = 'Order: (\w+)'
Amount = 'Total: (\S+ ?[A-Z]{0,3})'
)";

TEST(RuleFileTest, FaultsAreReportedWithTheirLineAndOnlyTheirRuleIsDropped) {
  struct Case {
    const char* text;
    int line;
    const char* message;  // part of the message
  } cases[] = {
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\nfrom = \"a.example\"\n[rule.fields]\nOrderID = 'Order (\\d+'\n", 6,
       "field OrderID: missing closing parenthesis at offset 10"},
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\nsubjet = 'a'\nfrom = \"a.example\"\n[rule.fields]\nOrderID = 'a'\n", 4,
       "unknown key \"subjet\""},
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\n[rule.fields]\nOrderID = 'a'\n", 1, "would claim every mail"},
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\nfrom = \"a.example\"\n[rule.fields]\nOrderNo = 'a'\n", 6,
       "no record field is called \"OrderNo\""},
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\nfrom = \"a.example\"\ncurrency = \"XXY\"\n[rule.fields]\nOrderID = 'a'\n", 5,
       "no ISO 4217 code"},
      {"[[rule]]\nid = \"x\"\nservice = \"S\"\nfrom = \"a.example\"\n[rule.fields]\nAmount = { in = \"footer\", pattern = 'a' }\n",
       6, "in must be body"},
      {"[[rule]]\nid = \"x\"\nservice = 'unterminated\n", 3, ""},
      {"title = \"no rules\"\n", 1, ""},
  };
  for (const auto& c : cases) {
    TRuleFileResult r = ParseRuleText(c.text, "bad.toml", true);
    ASSERT_FALSE(r.errors.empty()) << c.text;
    EXPECT_TRUE(r.rules.empty()) << c.text;
    EXPECT_EQ(r.errors[0].line, c.line) << c.text;
    EXPECT_NE(r.errors[0].message.find(c.message), std::string::npos) << r.errors[0].Text();
    EXPECT_EQ(r.errors[0].Text().rfind("bad.toml:" + std::to_string(c.line) + ": ", 0), 0u) << r.errors[0].Text();
  }

  // A bad rule beside a good one in the same file, and a broken file beside a
  // good one in the folder: the good rules load.
  test::TTempDir dir;
  dir.Write("a.toml", std::string(kGoodRule) + "\n[[rule]]\nid = \"bad\"\nservice = \"B\"\nfrom = \"b.example\"\n"
                                               "[rule.fields]\nOrderID = '(?<'\n");
  dir.Write("b.toml", "[[rule]\nid = 1\n");
  dir.Write("c.toml", std::string(kGoodRule).replace(std::string(kGoodRule).find("\"demo\""), 6, "\"demo2\""));
  TRuleSet set;
  set.Load(dir.Str(), "");
  ASSERT_EQ(set.Rules().size(), 2u);
  EXPECT_EQ(set.Rules()[0]->id, "demo");
  EXPECT_EQ(set.Rules()[1]->id, "demo2");
  ASSERT_EQ(set.Errors().size(), 2u);
  EXPECT_EQ(set.Errors()[0].file, (dir.Path() / "a.toml").string());
  EXPECT_EQ(set.Errors()[0].line, 16);
  EXPECT_EQ(set.Errors()[1].file, (dir.Path() / "b.toml").string());
  EXPECT_EQ(set.Errors()[1].line, 1);
}

std::string Mail(const std::string& from, const std::string& subject, const std::string& body) {
  return "From: " + from + "\r\nSubject: " + subject + "\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\n\r\n" + body;
}

TEST(RuleSetTest, OwnRulesReplaceShippedOnesOfTheSameId) {
  test::TTempDir shipped, user;
  shipped.Write("demo.toml", kGoodRule);
  TRuleSet set;
  set.Load(shipped.Str(), user.Str());
  std::string mail = Mail("Demo <sales@pay.example.com>", "New sale", "Order: A1\nTotal: 10.00 EUR\n");
  TOriginData od{};
  ASSERT_TRUE(set.Analyze(mail, od));
  EXPECT_STREQ(od.OrderFrom, "Demo Pay");
  EXPECT_EQ(od.Amount, 100000);
  EXPECT_STREQ(od.Currency, "EUR");

  // The own rule of that id reads the order number elsewhere and names the service differently.
  std::string own = kGoodRule;
  own.replace(own.find("Demo Pay"), 8, "My Demo");
  own.replace(own.find("'Order: (\\w+)'"), 14, "{ in = \"subject\", pattern = 'sale (\\w+)' }");
  user.Write("mine.toml", own);
  set.Load(shipped.Str(), user.Str());
  ASSERT_EQ(set.Rules().size(), 1u);
  EXPECT_TRUE(set.Rules()[0]->user);
  od = {};
  ASSERT_TRUE(set.Analyze(Mail("sales@pay.example.com", "New sale B2", "Total: 3 EUR"), od));
  EXPECT_STREQ(od.OrderFrom, "My Demo");
  EXPECT_STREQ(od.OrderID, "B2");

  // Switched off, it switches the shipped rule off too.
  std::string off = own;
  off.insert(off.find("service"), "enabled = false\n");
  user.Write("mine.toml", off);
  set.Load(shipped.Str(), user.Str());
  EXPECT_EQ(set.Claim(mail), nullptr);
}

TEST(RuleSetTest, ClaimNeedsEveryConditionAndNoExclusion) {
  test::TTempDir dir;
  dir.Write("r.toml", R"(
[[rule]]
id = "c"
service = "C"
from = ["c.example", "alerts@d.example"]
subject = ['(?i)^payment received', '^Zahlung']
not_subject = '(?i)refund'
headers = { "X-Kind" = '^sale$' }
not_headers = { "X-Test" = 'yes' }
[rule.fields]
OrderID = 'ID (\d+)'
)");
  TRuleSet set;
  set.Load(dir.Str(), "");
  struct Case {
    const char* header;
    bool claimed;
  } cases[] = {
      {"From: a@c.example\r\nSubject: Payment received\r\nX-Kind: sale\r\n", true},
      {"From: a@mail.c.example\r\nSubject: =?utf-8?q?Zahlung?=\r\nx-kind: sale\r\n", true},
      {"From: \"Alerts\" <ALERTS@d.example>\r\nSubject:\r\n payment received\r\nX-Kind: sale\r\n", true},
      {"From: other@d.example\r\nSubject: Payment received\r\nX-Kind: sale\r\n", false},
      {"From: a@notc.example\r\nSubject: Payment received\r\nX-Kind: sale\r\n", false},
      {"From: a@c.example\r\nSubject: Payment received (refund)\r\nX-Kind: sale\r\n", false},
      {"From: a@c.example\r\nSubject: Payment received\r\n", false},
      {"From: a@c.example\r\nSubject: Payment received\r\nX-Kind: sale\r\nX-Test: yes\r\n", false},
      {"From: a@c.example\r\nX-Kind: sale\r\n\r\nSubject: Payment received\r\n", false},
  };
  for (const auto& c : cases) EXPECT_EQ(set.Claim(c.header) != nullptr, c.claimed) << c.header;
}

TEST(RuleSetTest, HostileInputEndsInTimeAndBounded) {
  test::TTempDir dir;
  dir.Write("r.toml", R"(
[[rule]]
id = "slow"
service = "Slow"
from = "slow.example"
[rule.fields]
OrderID = '^(a|aa)+$'
[[rule]]
id = "big"
service = "Big"
from = "big.example"
required = ["OrderID"]
[rule.fields]
OrderID = 'ORDER-(\d+)'
)");
  TRuleSet set;
  set.Load(dir.Str(), "");
  // Backtracking without end: the match limit ends it and the rule fails for the mail.
  TOriginData od{};
  TParseReport report;
  EXPECT_FALSE(set.Analyze(Mail("x@slow.example", "s", std::string(5000, 'a') + "b\n"), od, nullptr, &report));
  EXPECT_NE(report.reason.find("match limit"), std::string::npos) << report.reason;

  // 50 MB: what lies beyond the bounded prefix is not searched, what lies in it is.
  std::string filler;
  for (int i = 0; filler.size() < 50u * 1024 * 1024; ++i) filler += "line of filler text without the number " + std::to_string(i) + "\n";
  std::string late = Mail("x@big.example", "b", filler + "ORDER-42\n");
  EXPECT_FALSE(set.Analyze(late, od, nullptr, &report));
  EXPECT_NE(report.reason.find("OrderID not found"), std::string::npos) << report.reason;
  std::string early = Mail("x@big.example", "b", "ORDER-42\n" + filler);
  od = {};
  EXPECT_TRUE(set.Analyze(early, od, nullptr, &report)) << report.reason;
  EXPECT_STREQ(od.OrderID, "42");

  // Broken structure and bytes that are no UTF-8 are read, not crashed on.
  std::string broken = "From: x@big.example\r\nContent-Type: multipart/mixed; boundary=\"q\r\n\r\n--q\r\n"
                       "Content-Type: text/plain; charset=x-unknown\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                       "T1JERVItNz\xff\xfe==\r\nORDER-7 \xC3\x28\r\n";
  od = {};
  set.Analyze(broken, od);
  EXPECT_EQ(od.Amount, 0);
}

TEST(RuleSetTest, TextFieldsAreCutAtACharacterBoundary) {
  test::TTempDir dir;
  dir.Write("r.toml", R"(
[[rule]]
id = "n"
service = "N"
from = "n.example"
required = []
[rule.fields]
Name = 'Name: (.+)'
)");
  TRuleSet set;
  set.Load(dir.Str(), "");
  std::string name;
  for (int i = 0; i < 80; ++i) name += "\xC3\xBC";  // 160 bytes of "ü"
  TOriginData od{};
  ASSERT_TRUE(set.Analyze(Mail("n@n.example", "x", "Name: " + name + "\n"), od));
  EXPECT_EQ(std::string(od.Name), name.substr(0, 100));  // 50 whole characters in the 101-byte field
}

TEST(RuleStoreTest, FollowsAddedChangedAndRemovedFiles) {
  test::TTempDir shipped, user;
  TRuleStore store(shipped.Str(), user.Str());
  EXPECT_TRUE(store.Refresh());
  EXPECT_TRUE(store.Set().Rules().empty());
  EXPECT_FALSE(store.Refresh());

  auto path = user.Write("mine.toml", kGoodRule);
  EXPECT_TRUE(store.Refresh());
  ASSERT_EQ(store.Set().Rules().size(), 1u);
  EXPECT_EQ(store.Set().Rules()[0]->service, "Demo Pay");

  std::string changed = kGoodRule;
  changed.replace(changed.find("Demo Pay"), 8, "Demo Pay 2");
  user.Write("mine.toml", changed);
  EXPECT_TRUE(store.Refresh());
  EXPECT_EQ(store.Set().Rules()[0]->service, "Demo Pay 2");

  std::filesystem::remove(path);
  EXPECT_TRUE(store.Refresh());
  EXPECT_TRUE(store.Set().Rules().empty());
}

}  // namespace
}  // namespace qnb::rules
