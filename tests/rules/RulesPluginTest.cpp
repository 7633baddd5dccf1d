// The rules analyzer as the program runs it: loaded by the host from the
// plug-in folder, asked for the header, then given the whole mail.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TestConfig.h"
#include "analysis/MsgType.h"
#include "analysis/OMAnalyze.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

const std::string kMails = std::string(QUENBELL_TEST_DATA_DIR) + "/rules/";

struct TResult {
  bool claimed = false, parsed = false;
  TOrderData order;
};

TResult Check(TParseGear& gear, const std::string& source) {
  TStrings lines = SplitLines(source);
  TStrings headers;
  for (const auto& l : lines) {
    if (l.empty()) break;
    headers.push_back(l);
  }
  TResult r;
  r.claimed = gear.IsOrderMail(headers);
  if (!r.claimed) return r;
  TMsgType msg;
  msg.Assign(lines);
  r.parsed = gear.GetOrderData(msg, &r.order);
  return r;
}

// One test: the plug-in keeps its rules for the life of the process, as in the program.
TEST(RulesPluginTest, ClaimsShippedServicesAndTakesSavedRulesAtTheNextCheck) {
  test::TTempConfigHome home;
  TParseGear gear(QUENBELL_PLUGIN_DIR);
  bool loaded = false;
  for (const auto& p : gear.ParserList()) loaded = loaded || p->Reseller == "Rules";
  ASSERT_TRUE(loaded);

  TResult r = Check(gear, test::ReadFile(kMails + "paypal-zahlung-erhalten-de.eml"));
  ASSERT_TRUE(r.claimed);
  ASSERT_TRUE(r.parsed);
  EXPECT_EQ(r.order.OrderFrom, "PayPal");
  EXPECT_EQ(r.order.OrderID, "7AB12345CD6789012");
  EXPECT_EQ(r.order.Amount, 12345600);
  EXPECT_EQ(r.order.Currency, "EUR");
  EXPECT_EQ(r.order.Email, "max.mueller@example.de");
  EXPECT_EQ(r.order.FirstName, "Max");
  EXPECT_EQ(r.order.LastName, "Müller");
  EXPECT_NEAR(r.order.PurchaseDate, 46364 + (10 * 3600 + 15 * 60 + 30) / 86400.0, 1e-6);  // the mail's transaction date

  EXPECT_FALSE(Check(gear, test::ReadFile(kMails + "paypal-receipt-buyer-not-claimed.eml")).claimed);

  // A layout of the merchant's own shop, unknown until a rule is saved.
  const std::string own =
      "From: Tiny Shop <orders@tinyshop.example.org>\r\nSubject: Sale 77\r\nDate: Tue, 08 Dec 2026 10:00:00 +0000\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\nBuyer: zoe@example.com\r\nPaid: 12,50 \xE2\x82\xAC\r\n";
  EXPECT_FALSE(Check(gear, own).claimed);
  std::filesystem::create_directories(home.ConfigHome() / "Varnett" / "rules");
  {
    std::ofstream f(home.ConfigHome() / "Varnett" / "rules" / "tiny.toml");
    f << "[[rule]]\nid = \"tiny\"\nservice = \"Tiny Shop\"\nfrom = \"tinyshop.example.org\"\nsubject = '^Sale'\n"
         "[rule.fields]\nOrderID = { in = \"subject\", pattern = 'Sale (\\d+)' }\nAmount = 'Paid: (.+)'\n"
         "Email = 'Buyer: (\\S+)'\n";
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  r = Check(gear, own);
  ASSERT_TRUE(r.claimed);
  ASSERT_TRUE(r.parsed);
  EXPECT_EQ(r.order.OrderFrom, "Tiny Shop");
  EXPECT_EQ(r.order.OrderID, "77");
  EXPECT_EQ(r.order.Amount, 125000);
  EXPECT_EQ(r.order.Currency, "EUR");
  EXPECT_EQ(r.order.Email, "zoe@example.com");
}

}  // namespace
}  // namespace qnb
