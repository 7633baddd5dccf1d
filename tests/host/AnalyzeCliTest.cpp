// quenbell-cli analyze and plugins, in process and through the real binary.
#include <gtest/gtest.h>

#include <sstream>

#include "HostTestUtil.h"
#include "TestConfig.h"
#include "cli/Cli.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

const std::string kData = std::string(QUENBELL_TEST_DATA_DIR) + "/host/";

// The whole interface line for the sample notification.
const char* const kSampleOrder =
    R"({"order":{"UID":"","FromAccount":"","OrderID":"PN-100234","Name":"Zoë Müller",)"
    R"("Email":"zoe.mueller@example.de","RegName":"Zoë Müller","RegCode":"QB-100234-9E46",)"
    R"("Product_Name":"Quenbell Pro","Version":"","Quantity":1,"Amount":"34.9000",)"
    R"("PurchaseDate":46364.87857638889,"PurchaseDate_text":"2026-12-08 21:05:09","OrderFrom":"PayNimbus",)"
    R"("Company":"","Country":"Germany","LastName":"Müller","FirstName":"Zoë","Address":"","Address2":"",)"
    R"("City":"","State":"","PostCode":"","Phone":"","Fax":"","Currency":"EUR",)"
    R"("Comments":"Please send the licence to the buyer's office address; invoice number = order number, as agreed.",)"
    R"("VAT":"5.5700","UnitPrice":"34.9000","DeliveryMethod":"","IPAddress":"192.0.2.235",)"
    R"("URLforReceipt":"https://paynimbus.example/receipt/PN-100234","AffiliateID":"","Commission":"0.0000"}})"
    "\n";

struct TRun {
  int status;
  std::string out, err;
};

TRun RunInProcess(const cli::TArgs& args, const std::string& input = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  cli::TCliIo io{in, out, err};
  int status = cli::RunCli(args, io);
  return {status, out.str(), err.str()};
}

TEST(AnalyzeCommandTest, PrintsTheOrderOfASampleNotification) {
  TRun r = RunInProcess({"analyze", "--plugins", QUENBELL_PLUGIN_DIR, kData + "paynimbus-PN-100234.eml"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kSampleOrder);
  EXPECT_EQ(r.err, "");

  // The same mail from standard input.
  r = RunInProcess({"analyze", "--plugins", QUENBELL_PLUGIN_DIR, "-"},
                   ReadFile(kData + "paynimbus-PN-100234.eml"));
  EXPECT_EQ(r.out, kSampleOrder);
}

TEST(AnalyzeCommandTest, ReportsMailsItCannotTurnIntoOrders) {
  struct Case {
    const char* file;
    int status;
    const char* err;
  } cases[] = {
      {"not-paynimbus-lookalike-sender-not-claimed.eml", 3, "quenbell-cli: not a payment mail\n"},
      {"paynimbus-without-order-id-not-parsed.eml", 3, "quenbell-cli: no analyzer could parse the mail\n"},
      {"paynimbus-broken-base64-part-fails.eml", 1, "quenbell-cli: Uneven size in DecodeToStream.\n"},
      {"no-such-file.eml", 1, nullptr},
  };
  for (const auto& c : cases) {
    TRun r = RunInProcess({"analyze", "--plugins", QUENBELL_PLUGIN_DIR, kData + c.file});
    EXPECT_EQ(r.status, c.status) << c.file;
    EXPECT_EQ(r.out, "") << c.file;
    if (c.err) {
      EXPECT_EQ(r.err, c.err) << c.file;
    } else {
      EXPECT_EQ(r.err.rfind("quenbell-cli: ", 0), 0u) << r.err;
    }
  }
}

TEST(AnalyzeCommandTest, WrongCallsAreUsageErrors) {
  const std::string mail = kData + "paynimbus-PN-100234.eml";
  for (const cli::TArgs& args : std::vector<cli::TArgs>{{"analyze"},
                                                       {"analyze", mail, mail},
                                                       {"analyze", "--plugins"},
                                                       {"analyze", "--verbose", mail},
                                                       {"plugins", "extra"}}) {
    TRun r = RunInProcess(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage: quenbell-cli " + args[0]), std::string::npos) << r.err;
  }
}

TEST(PluginsCommandTest, ListsTheAcceptedPlugins) {
  TTempDir dir;
  CopyPlugin(dir, "tp_echo", "echo.so");
  CopyPlugin(dir, "tp_no_reseller", "rejected.so");
  TRun r = RunInProcess({"plugins", "--plugins", dir.Str()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"file\":\"echo.so\",\"reseller\":\"Echo\"}\n");

  TTempDir empty;
  r = RunInProcess({"plugins", "--plugins", empty.Str()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

// The real binary finds OMAnalyze beside itself, wherever it is started from.
TEST(CliBinaryTest, AnalyzeAndPluginsUseTheFolderBesideTheExecutable) {
  TProcessResult r = RunProcess({QUENBELL_CLI_PATH, "analyze", kData + "paynimbus-PN-100234.eml"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kSampleOrder);

  r = RunProcess({QUENBELL_CLI_PATH, "plugins"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "{\"file\":\"paynimbus.so\",\"reseller\":\"PayNimbus\"}\n{\"file\":\"rules.so\",\"reseller\":\"Rules\"}\n");

  r = RunProcess({QUENBELL_CLI_PATH, "analyze", kData + "not-paynimbus-lookalike-sender-not-claimed.eml"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "quenbell-cli: not a payment mail\n");
}

TEST(CliBinaryTest, ACrashingPluginDoesNotEndTheProcess) {
  const std::string mail =
      "From: Shop <shop@example.com>\nSubject: order\nX-Claim: crash\nX-Claim: echo\n\nOrderID: C-1\n";
  TTempDir crashOnly;
  CopyPlugin(crashOnly, "tp_crash_segv", "crash.so");
  TProcessResult r = RunProcess({QUENBELL_CLI_PATH, "analyze", "--plugins", crashOnly.Str(), "-"}, mail);
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "quenbell-cli: no analyzer could parse the mail\n");

  // IsOrder crashing in the one, the other claims and parses, in either order.
  TTempDir both;
  CopyPlugin(both, "tp_crash_isorder", "a-crash.so");
  CopyPlugin(both, "tp_echo", "b-echo.so");
  r = RunProcess({QUENBELL_CLI_PATH, "analyze", "--plugins", both.Str(), "-"}, mail);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"OrderID\":\"C-1\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"OrderFrom\":\"Echo\""), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qnb::test
