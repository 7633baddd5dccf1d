// quenbell-cli rules list|test|check through the real binary, which finds the
// shipped rules beside itself; wrong calls in process.
#include <gtest/gtest.h>

#include <sstream>

#include "TestConfig.h"
#include "cli/Cli.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

const std::string kMails = std::string(QUENBELL_TEST_DATA_DIR) + "/rules/";

struct TRun {
  int status;
  std::string out, err;
};

TRun RunCmd(const cli::TArgs& args) {
  std::istringstream in;
  std::ostringstream out, err;
  cli::TCliIo io{in, out, err};
  int status = cli::RunCli(args, io);
  return {status, out.str(), err.str()};
}

const char* const kOwnRule =
    "[[rule]]\nid = \"stripe-payment\"\nservice = \"Stripe (mine)\"\nfrom = \"stripe.com\"\nsubject = '^Payment of'\n"
    "[rule.fields]\nOrderID = '(pi_\\w+)'\nAmount = 'Amount: (.+)'\n";

TEST(RulesCliTest, ListsShippedAndOwnRules) {
  TTempDir own;
  own.Write("stripe.toml", kOwnRule);
  TProcessResult r = RunProcess({QUENBELL_CLI_PATH, "rules", "list", "--rules", own.Str()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string ownLine = "{\"id\":\"stripe-payment\",\"service\":\"Stripe (mine)\",\"file\":\"" + own.Str() +
                        "/stripe.toml\",\"origin\":\"user\",\"enabled\":true}\n";
  EXPECT_EQ(r.out.rfind(ownLine, 0), 0u) << r.out;  // own rules come first
  EXPECT_NE(r.out.find("{\"id\":\"paypal-payment-received-de\",\"service\":\"PayPal\",\"file\":\"" +
                       std::string(QUENBELL_PLUGIN_DIR) + "/rules/paypal.toml\",\"origin\":\"shipped\",\"enabled\":true}\n"),
            std::string::npos);
  // The shipped Stripe rule is replaced, not listed beside the own one.
  EXPECT_EQ(r.out.find("\"service\":\"Stripe\""), std::string::npos);
}

TEST(RulesCliTest, TestsMailsAndSaysWhyOneIsNotClaimed) {
  TTempDir none;
  TProcessResult r = RunProcess({QUENBELL_CLI_PATH, "rules", "test", "--rules", none.Str(), kMails + "etsy-sale.eml",
                                 kMails + "etsy-purchase-buyer-not-claimed.eml", kMails + "missing.eml"});
  EXPECT_EQ(r.status, 1);
  std::istringstream lines(r.out);
  std::string sale, receipt, missing;
  std::getline(lines, sale);
  std::getline(lines, receipt);
  std::getline(lines, missing);
  EXPECT_EQ(sale.rfind("{\"file\":\"" + kMails + "etsy-sale.eml\",\"rule\":\"etsy-sale\",\"order\":{", 0), 0u) << sale;
  EXPECT_NE(sale.find("\"OrderID\":\"1234567890\""), std::string::npos) << sale;
  EXPECT_NE(sale.find("\"Amount\":\"25.0000\""), std::string::npos) << sale;
  EXPECT_EQ(receipt, "{\"file\":\"" + kMails +
                         "etsy-purchase-buyer-not-claimed.eml\",\"rule\":null,\"order\":null,"
                         "\"reason\":\"no rule claims the mail from transaction@etsy.com\"}");
  EXPECT_EQ(missing, "{\"file\":\"" + kMails + "missing.eml\",\"rule\":null,\"order\":null,\"reason\":\"cannot read \\\"" +
                         kMails + "missing.eml\\\"\"}");
}

TEST(RulesCliTest, ChecksRuleFiles) {
  TTempDir dir;
  auto good = dir.Write("good.toml", kOwnRule);
  auto bad = dir.Write("bad.toml", std::string(kOwnRule) + "Email = 'Customer: ([^@]+@'\n");
  TProcessResult ok = RunProcess({QUENBELL_CLI_PATH, "rules", "check", good.string()});
  EXPECT_EQ(ok.status, 0) << ok.err;
  EXPECT_EQ(ok.err, "");
  TProcessResult fail = RunProcess({QUENBELL_CLI_PATH, "rules", "check", good.string(), bad.string()});
  EXPECT_EQ(fail.status, 1);
  EXPECT_EQ(fail.err, "quenbell-cli: " + bad.string() +
                          ":9: field Email: missing closing parenthesis at offset 17\n");

  for (const cli::TArgs& args : std::vector<cli::TArgs>{{"rules"}, {"rules", "check"}, {"rules", "frobnicate"},
                                                       {"rules", "list", "--rules"}, {"rules", "test", "--bogus", "x"}})
    EXPECT_EQ(RunCmd(args).status, 2) << args.back();
}

}  // namespace
}  // namespace qnb::test
