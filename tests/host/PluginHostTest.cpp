// The analyzer host with real plug-in libraries: loading, claiming, the
// plug-in loop with failing, crashing and throwing plug-ins, reading the
// record, and the name and date rules.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "HostTestUtil.h"
#include "analysis/CountryCode.h"
#include "analysis/OMAnalyze.h"

namespace qnb::test {
namespace {

// Header lines of a mail that the plug-ins with these tags claim.
TStrings ClaimHeaders(std::initializer_list<const char*> tags, TStrings extra = {}) {
  TStrings h = {"From: Shop <shop@example.com>", "Subject: order"};
  for (const char* t : tags) h.push_back(std::string("X-Claim: ") + t);
  h.insert(h.end(), extra.begin(), extra.end());
  return h;
}

TStrings Source(const TStrings& headers, const TStrings& body) {
  TStrings s = headers;
  s.emplace_back();
  s.insert(s.end(), body.begin(), body.end());
  return s;
}

// IsOrderMail, then GetOrderData on the same mail.
bool Analyze(TParseGear& gear, const TStrings& headers, const TStrings& body, TOrderData& order) {
  if (!gear.IsOrderMail(headers)) return false;
  return gear.GetOrderData(body, headers, Source(headers, body), &order);
}

// A host over exactly these test plug-ins, in this order.
std::unique_ptr<TParseGear> GearOf(std::initializer_list<const char*> plugins) {
  auto gear = std::make_unique<TParseGear>(std::string{});
  gear->LoadParserFiles(TestPlugins(plugins));
  return gear;
}

TEST(PluginLoadingTest, TakesEveryLibraryOfTheFolderInListingOrder) {
  TTempDir dir;
  CopyPlugin(dir, "tp_echo", "echo.so");
  CopyPlugin(dir, "tp_echo_twin", "TWIN.SO");          // the suffix in any case
  CopyPlugin(dir, "tp_helper", ".hidden.so");          // hidden files too
  CopyPlugin(dir, "tp_bare", "bare.So");               // accepted without IsOrder and ParseOrder
  CopyPlugin(dir, "tp_fill", "fill.so");               // an unterminated 51-byte name
  CopyPlugin(dir, "tp_no_reseller", "noname.so");      // no GetResellerName: rejected
  CopyPlugin(dir, "tp_reseller_refuses", "refuses.so");  // GetResellerName answers 1: rejected
  CopyPlugin(dir, "tp_fail", "fail.so.1");             // other names are not looked at
  CopyPlugin(dir, "tp_fail", "fail.dll");
  dir.Write("broken.so", "not a library\n");           // fails to load: skipped
  std::filesystem::create_directory(dir.Path() / "folder.so");

  // What the folder lists, in its own order, that ends in ".so".
  std::vector<std::string> listed;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
    std::string n = e.path().filename().string();
    if (n.size() >= 3 && SameText(n.substr(n.size() - 3), ".so") && !e.is_directory()) listed.push_back(n);
  }
  bool ok = false;
  EXPECT_EQ(ListPluginFiles(dir.Str(), &ok), listed);
  EXPECT_TRUE(ok);
  EXPECT_EQ(listed.size(), 8u);

  const std::set<std::string> accepted = {"echo.so", "TWIN.SO", ".hidden.so", "bare.So", "fill.so"};
  std::vector<std::string> expected;
  for (const auto& n : listed)
    if (accepted.count(n)) expected.push_back(n);

  TParseGear gear(dir.Str());
  std::vector<std::string> loaded;
  for (const auto& p : gear.ParserList()) loaded.push_back(p->DLLFileName);
  EXPECT_EQ(loaded, expected);
  EXPECT_EQ(gear.ParserID(), -1);

  for (const auto& p : gear.ParserList()) {
    EXPECT_NE(p->DLLHandle, nullptr);
    if (p->DLLFileName == "fill.so") {
      EXPECT_EQ(p->Reseller, std::string(30, 'R'));  // cut to 30
    }
    if (p->DLLFileName == "echo.so") {
      EXPECT_EQ(p->Reseller, "Echo");
      EXPECT_NE(p->IsOrder, nullptr);
      EXPECT_NE(p->ParseOrder, nullptr);
      EXPECT_EQ(p->ParseOrderEx, nullptr);
    }
    if (p->DLLFileName == "bare.So") {
      EXPECT_EQ(p->IsOrder, nullptr);
    }
  }
}

TEST(PluginLoadingTest, MissingFolderGivesNoPluginsAndNoClaims) {
  TParseGear gear("/nonexistent/quenbell/OMAnalyze");
  EXPECT_TRUE(gear.ParserList().empty());
  EXPECT_TRUE(gear.LoadParsers());
  EXPECT_FALSE(gear.IsOrderMail(ClaimHeaders({"echo"})));
  TOrderData o;
  EXPECT_FALSE(gear.GetOrderData({"OrderID: 1"}, ClaimHeaders({"echo"}), {}, &o));
}

TEST(ClaimTest, TheEarliestClaimingPluginWins) {
  struct Case {
    std::initializer_list<const char*> plugins;
    const char* parsedBy;
  } cases[] = {
      {{"tp_echo", "tp_echo_twin"}, "Echo"},
      {{"tp_echo_twin", "tp_echo"}, "Echo Twin"},
      {{"tp_helper", "tp_echo_twin", "tp_echo"}, "Echo Twin"},
  };
  for (const auto& c : cases) {
    auto owner = GearOf(c.plugins);
    TParseGear& gear = *owner;
    TOrderData o;
    ASSERT_TRUE(Analyze(gear, ClaimHeaders({"echo"}), {"OrderID: 7"}, o)) << c.parsedBy;
    EXPECT_EQ(o.OrderFrom, c.parsedBy);
  }
}

TEST(ClaimTest, PluginsThatCannotAnswerDoNotClaimAndStayInUse) {
  // No IsOrder, IsOrder crashing, IsOrder throwing: the next plug-in is asked.
  auto owner = GearOf({"tp_bare", "tp_crash_isorder", "tp_throw", "tp_echo"});
  TParseGear& gear = *owner;
  ASSERT_EQ(gear.ParserList().size(), 4u);
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(gear.IsOrderMail(ClaimHeaders({"throw-isorder", "echo"})));
    EXPECT_EQ(gear.ParserID(), 3);
  }
  EXPECT_FALSE(gear.IsOrderMail(ClaimHeaders({"throw-isorder"})));
  EXPECT_EQ(gear.ParserID(), -1);
}

TEST(ClaimTest, AMailNobodyClaimsClearsTheLastClaim) {
  auto owner = GearOf({"tp_echo"});
  TParseGear& gear = *owner;
  ASSERT_TRUE(gear.IsOrderMail(ClaimHeaders({"echo"})));
  EXPECT_EQ(gear.ParserID(), 0);
  EXPECT_FALSE(gear.IsOrderMail(ClaimHeaders({"nobody"})));
  EXPECT_EQ(gear.ParserID(), -1);

  TOrderData o;
  o.OrderID = "stale";
  o.Quantity = 5;
  EXPECT_FALSE(gear.GetOrderData({"OrderID: 1"}, ClaimHeaders({"echo"}), {}, &o));
  EXPECT_TRUE(o.OrderID.empty());  // reset even when nothing was parsed
  EXPECT_EQ(o.Quantity, 0);
}

TEST(ClaimTest, PluginsGetTheirTextsAsLinesEachFollowedByCRLF) {
  const TStrings headers = ClaimHeaders({"echo"}, {"Subject2: a folded", "\tcontinuation"});
  struct Case {
    const char* echo;
    std::string expected;
  } cases[] = {
      {"Echo: header", JoinCRLF(headers)},
      {"Echo: body", "OrderID: 1\r\nEcho: body\r\n\r\n"},
  };
  for (const auto& c : cases) {
    auto owner = GearOf({"tp_echo"});
    TParseGear& gear = *owner;
    TOrderData o;
    ASSERT_TRUE(Analyze(gear, headers, {"OrderID: 1", c.echo, ""}, o));
    EXPECT_EQ(o.Comments, c.expected) << c.echo;
  }
  // The whole-mail variant gets the full source.
  auto owner = GearOf({"tp_full_ex"});
  TParseGear& gear = *owner;
  TOrderData o;
  ASSERT_TRUE(Analyze(gear, ClaimHeaders({"full"}), {"OrderID: 9", "Echo: source"}, o));
  EXPECT_EQ(o.Comments, JoinCRLF(Source(ClaimHeaders({"full"}), {"OrderID: 9", "Echo: source"})));
  EXPECT_EQ(o.OrderID, "9");
  EXPECT_EQ(o.OrderFrom, "Full Ex");
}

TEST(PluginLoopTest, FailingCrashingAndThrowingPluginsHandOnToTheNext) {
  struct Case {
    const char* what;
    std::initializer_list<const char*> plugins;
    const char* tag;
    bool parsed;
    const char* parsedBy;
    const char* comments;  // what an earlier plug-in left in the shared record
    int parserIdAfter;
  } cases[] = {
      {"fail then a later plug-in", {"tp_fail", "tp_helper"}, "fail", true, "Helper", "", 2},
      {"claimant fails, none after", {"tp_helper", "tp_fail"}, "fail", false, "", "", 2},
      {"no ParseOrder counts as failure", {"tp_fail", "tp_bare", "tp_helper"}, "fail", true, "Helper", "", 3},
      {"2 without ParseOrderEx", {"tp_full_noex", "tp_helper"}, "full", true, "Helper", "", 2},
      {"2 without ParseOrderEx, alone", {"tp_full_noex"}, "full", false, "", "", 1},
      {"SIGSEGV", {"tp_crash_segv", "tp_helper"}, "crash", true, "Helper", "written before the crash", 2},
      {"SIGILL", {"tp_crash_ill", "tp_helper"}, "crash", true, "Helper", "written before the crash", 2},
      {"SIGFPE", {"tp_crash_fpe", "tp_helper"}, "crash", true, "Helper", "written before the crash", 2},
      {"stack overflow", {"tp_crash_stack", "tp_helper"}, "crash", true, "Helper", "written before the crash", 2},
      {"crash, none after", {"tp_crash_segv"}, "crash", false, "", "", 1},
      {"std::exception", {"tp_throw", "tp_helper"}, "throw", true, "Helper", "written before the throw", 2},
      {"ParseOrderEx throws", {"tp_throw", "tp_helper"}, "throw-ex", true, "Helper", "written before the throw", 2},
      {"throw, none after", {"tp_throw"}, "throw", false, "", "", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto owner = GearOf(c.plugins);
    TParseGear& gear = *owner;
    ASSERT_EQ(gear.ParserList().size(), c.plugins.size());
    // Twice: a plug-in that crashed stays loaded and in use.
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(gear.IsOrderMail(ClaimHeaders({c.tag})));
      TOrderData o;
      EXPECT_EQ(gear.GetOrderData({"OrderID: A-1"}, ClaimHeaders({c.tag}), {}, &o), c.parsed);
      EXPECT_EQ(gear.ParserID(), c.parserIdAfter);
      EXPECT_EQ(o.OrderFrom, c.parsedBy);
      EXPECT_EQ(o.Comments, c.comments);
      if (c.parsed) {
        EXPECT_EQ(o.OrderID, "A-1");
        if (std::string(c.tag) == "fail") {
          EXPECT_EQ(o.AffiliateID, "left by Fail");
        }
      } else {
        EXPECT_TRUE(o.OrderID.empty());
        EXPECT_TRUE(o.AffiliateID.empty());
      }
    }
  }
}

TEST(PluginLoopTest, ASecondGetOrderDataGoesOnWhereTheFirstStopped) {
  auto owner = GearOf({"tp_fail", "tp_helper", "tp_echo"});
  TParseGear& gear = *owner;
  ASSERT_TRUE(gear.IsOrderMail(ClaimHeaders({"fail"})));
  TOrderData o;
  ASSERT_TRUE(gear.GetOrderData({"OrderID: 1"}, {}, {}, &o));
  EXPECT_EQ(o.OrderFrom, "Helper");
  ASSERT_TRUE(gear.GetOrderData({"OrderID: 1"}, {}, {}, &o));
  EXPECT_EQ(o.OrderFrom, "Echo");
  EXPECT_FALSE(gear.GetOrderData({"OrderID: 1"}, {}, {}, &o));
}

TEST(RecordTest, FieldsFilledWithoutTerminatorAreReadWholeThenCutToCapacity) {
  auto owner = GearOf({"tp_fill"});
  TParseGear& gear = *owner;
  TOrderData o;
  ASSERT_TRUE(Analyze(gear, ClaimHeaders({"fill"}), {}, o));
  // The plug-in fills the i-th field of the record with letter 'a' + i % 26.
  auto fill = [](int index, size_t n) { return std::string(n, static_cast<char>('a' + index % 26)); };
  struct Case {
    const char* field;
    std::string value;
    std::string expected;
  } cases[] = {
      {"OrderFrom", o.OrderFrom, fill(0, 51)},
      {"OrderID", o.OrderID, fill(1, 51)},
      {"Company", o.Company, fill(3, 100)},
      // FirstName + " " + LastName replaces Name, cut to 100.
      {"Name", o.Name, fill(6, 51) + " " + fill(5, 48)},
      {"LastName", o.LastName, fill(5, 51)},
      {"FirstName", o.FirstName, fill(6, 51)},
      {"RegName", o.RegName, fill(7, 100)},
      {"Email", o.Email, fill(8, 101)},
      {"Address", o.Address, fill(9, 101)},
      {"Address2", o.Address2, fill(10, 101)},
      {"City", o.City, fill(11, 101)},
      {"State", o.State, fill(12, 51)},
      {"PostCode", o.PostCode, fill(13, 51)},
      {"Country", o.Country, fill(14, 51)},
      {"Phone", o.Phone, fill(15, 51)},
      {"Fax", o.Fax, fill(16, 51)},
      {"Currency", o.Currency, fill(19, 31)},
      {"Product_Name", o.Product_Name, fill(20, 100)},
      {"Version", o.Version, fill(21, 11)},
      {"RegCode", o.RegCode, fill(22, 1001)},
      {"Comments", o.Comments, fill(23, 1001)},
      {"DeliveryMethod", o.DeliveryMethod, fill(26, 200)},
      {"IPAddress", o.IPAddress, fill(27, 31)},
      {"URLforReceipt", o.URLforReceipt, fill(28, 151)},
      {"AffiliateID", o.AffiliateID, fill(29, 100)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value, c.expected) << c.field;
  EXPECT_EQ(o.Quantity, 0);  // eleven letters are no number
  EXPECT_EQ(o.Amount, 1);
  EXPECT_EQ(o.VAT, 2);
  EXPECT_EQ(o.UnitPrice, 3);
  EXPECT_EQ(o.Commission, -4);
  EXPECT_DOUBLE_EQ(o.PurchaseDate, 46364.5);
}

TEST(RecordTest, ValuesAreCopiedAndConverted) {
  auto owner = GearOf({"tp_echo"});
  TParseGear& gear = *owner;
  TOrderData o;
  ASSERT_TRUE(Analyze(gear, ClaimHeaders({"echo"}),
                      {"OrderID: " + std::string(50, '1'), "RegName: " + std::string(100, 'r'),
                       "Name: " + std::string(101, 'n'), "Delivery_Method: " + std::string(200, 'd'),
                       "Quantity: 12", "Country: Deutschland", "Amount: -123456", "Currency: EUR",
                       "Email: ann@example.com", "ProductName: Tool", "Version: 1.0", "RegCode: R-1",
                       "PurchaseDate: 46364.25"},
                      o));
  EXPECT_EQ(o.OrderID, std::string(50, '1'));
  EXPECT_EQ(o.RegName, std::string(100, 'r'));
  EXPECT_EQ(o.Name, std::string(100, 'n'));
  EXPECT_EQ(o.FirstName, std::string(100, 'n'));  // one word: all of it is the first name
  EXPECT_EQ(o.LastName, "");
  EXPECT_EQ(o.DeliveryMethod, std::string(200, 'd'));
  EXPECT_EQ(o.Quantity, 12);
  EXPECT_EQ(o.Country, "Deutschland");  // the program's table is empty
  EXPECT_EQ(o.Amount, -123456);
  EXPECT_EQ(o.Currency, "EUR");
  EXPECT_EQ(o.Email, "ann@example.com");
  EXPECT_EQ(o.Product_Name, "Tool");
  EXPECT_EQ(o.Version, "1.0");
  EXPECT_EQ(o.RegCode, "R-1");
  EXPECT_DOUBLE_EQ(o.PurchaseDate, 46364.25);

  for (const char* quantity : {"2 pcs", "", "99999999999"}) {
    ASSERT_TRUE(Analyze(gear, ClaimHeaders({"echo"}), {"OrderID: 1", std::string("Quantity: ") + quantity}, o));
    EXPECT_EQ(o.Quantity, 0) << quantity;
  }
}

TEST(RecordTest, CountryGoesThroughTheProgramWideTable) {
  TCountryCode table;
  table.CountryList() = {"Deutschland=DE"};
  TCountryCode* saved = CountryCode;
  CountryCode = &table;
  auto owner = GearOf({"tp_echo"});
  TParseGear& gear = *owner;
  TOrderData o;
  bool parsed = Analyze(gear, ClaimHeaders({"echo"}), {"OrderID: 1", "Country: deutschland"}, o);
  CountryCode = saved;
  ASSERT_TRUE(parsed);
  EXPECT_EQ(o.Country, "DE");
}

TEST(NameRulesTest, FullFirstAndRegisteredNamesCompleteEachOther) {
  struct Case {
    TStrings body;
    const char* name;
    const char* regName;
    const char* firstName;
    const char* lastName;
  } cases[] = {
      {{"FirstName: Ann"}, "Ann ", "Ann ", "Ann", ""},
      {{"Name: Ann Lee"}, "Ann Lee", "Ann Lee", "Ann", "Lee"},
      {{"Name: Cher"}, "Cher", "Cher", "Cher", ""},
      {{"Name: Ann Lee", "FirstName: Bob", "LastName: Ray"}, "Bob Ray", "Bob Ray", "Bob", "Ray"},
      {{"RegName: Ann Lee"}, "Ann Lee", "Ann Lee", "Ann", "Lee"},
      {{"Name: Ann Lee", "RegName: Lee Ltd"}, "Ann Lee", "Lee Ltd", "Ann", "Lee"},
      // Blank names count as empty, but what is copied keeps its blanks.
      {{"Name: Ann Lee", "FirstName:  ", "RegName:  "}, "Ann Lee", "Ann Lee", "Ann", "Lee"},
      {{"Name:  Ann"}, " Ann", " Ann", "", "Ann"},
      {{"LastName: Lee"}, " Lee", " Lee", "", "Lee"},
      {{}, "", "", "", ""},
  };
  auto owner = GearOf({"tp_echo"});
  TParseGear& gear = *owner;
  for (const auto& c : cases) {
    TStrings body = c.body;
    body.insert(body.begin(), "OrderID: 1");
    TOrderData o;
    ASSERT_TRUE(Analyze(gear, ClaimHeaders({"echo"}), body, o));
    std::string label = JoinCRLF(c.body);
    EXPECT_EQ(o.Name, c.name) << label;
    EXPECT_EQ(o.RegName, c.regName) << label;
    EXPECT_EQ(o.FirstName, c.firstName) << label;
    EXPECT_EQ(o.LastName, c.lastName) << label;
  }
}

TEST(DateRulesTest, PluginDateThenHeaderDateThenToday) {
  const double kHeader = 46364 + (21 * 3600 + 5 * 60 + 9) / 86400.0;  // 2026-12-08 21:05:09
  const double kToday = -1;                                           // marker
  struct Case {
    const char* pluginDate;  // nullptr: none given
    TStrings extraHeaders;
    double expected;
  } cases[] = {
      {nullptr, {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kHeader},
      {"0", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kHeader},
      {"0.5", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kHeader},  // a time without a date
      {"nan", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kHeader},  // no number: not given
      {"0", {"DATE:Tue, 8 Dec 2026", "  21:05:09 +0900"}, kHeader},  // folded, any case
      {"46000.75", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, 46000.75},
      {"18264", {}, 18264},                                      // 1950-01-01 is believed
      {"18263", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kToday},  // 1949-12-31 is not
      {"50", {"Date: Tue, 8 Dec 2026 21:05:09 +0900"}, kToday},
      {"-3", {}, kToday},
      {"0", {}, kToday},
      {"0", {"Date: sometime soon"}, kToday},
      {"0", {"Date: 31 Dec 1949 23:59:59"}, kToday},
      {"0", {"Date: 8 Dec 99 10:00:00"}, 36502 + 10 / 24.0},
  };
  auto owner = GearOf({"tp_echo"});
  TParseGear& gear = *owner;
  for (const auto& c : cases) {
    TStrings body = {"OrderID: 1"};
    if (c.pluginDate) body.push_back(std::string("PurchaseDate: ") + c.pluginDate);
    TStrings headers = ClaimHeaders({"echo"}, c.extraHeaders);
    TOrderData o;
    double before = Today();
    ASSERT_TRUE(Analyze(gear, headers, body, o));
    double after = Today();
    std::string label = std::string(c.pluginDate ? c.pluginDate : "none") + " / " + JoinCRLF(c.extraHeaders);
    if (c.expected == kToday) {
      EXPECT_TRUE(o.PurchaseDate == before || o.PurchaseDate == after) << label << ": " << o.PurchaseDate;
      EXPECT_EQ(o.PurchaseDate, std::floor(o.PurchaseDate)) << label;  // midnight
      EXPECT_GT(o.PurchaseDate, 45000) << label;
    } else {
      EXPECT_DOUBLE_EQ(o.PurchaseDate, c.expected) << label;
    }
  }
}

}  // namespace
}  // namespace qnb::test
