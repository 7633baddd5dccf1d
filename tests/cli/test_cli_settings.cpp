#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "TestConfig.h"
#include "cli/Cli.h"
#include "settings/QnbBase.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

test::TProcessResult Cli(const std::vector<std::string>& args, const test::TTempConfigHome& home) {
  std::vector<std::string> argv{QUENBELL_CLI_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return test::RunProcess(argv, {}, {"XDG_CONFIG_HOME=" + home.ConfigHome().string()});
}

TEST(CliConfig, EmptyStorePrintsDefaultsAndCreatesTheKeys) {
  test::TTempConfigHome home;
  auto r = Cli({"config"}, home);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find(",\"sMailProgram\"")),
            R"({"bAutoRun":true,"bMinToTray":false,"bCheckPaymentWhenOpening":false,)"
            R"("bCheckPaymentOnSchedule":true,"iCheckPaymentTime":10)");
  EXPECT_NE(r.out.find(R"("bRememberPayments":true,"bDesktopNotify":false,"accounts":[]})"), std::string::npos)
      << r.out;
  EXPECT_TRUE(fs::exists(home.SettingsFile()));
  EXPECT_NE(test::ReadFile(home.SettingsFile()).find("[Account]"), std::string::npos);
}

TEST(CliConfig, ListsAccountsWithoutPasswords) {
  test::TTempConfigHome home;
  TOptions o;
  o.AccountList.push_back(std::make_unique<TMailAccount>(TMailAccount{"Shop \"A\"", "pop.example.com", "110",
                                                                      "me", "very-secret", false}));
  o.bRememberPayments = false;
  o.bDesktopNotify = true;
  o.StoreOptions();
  auto r = Cli({"config"}, home);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(R"("bRememberPayments":false,"bDesktopNotify":true,)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(R"("accounts":[{"Name":"Shop \"A\"","Host":"pop.example.com","Port":"110",)"
                       R"("UserName":"me","Enabled":false,"Security":"None","Protocol":"POP3","Folder":"INBOX","PasswordStore":"file"}]})"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("very-secret"), std::string::npos);
  EXPECT_EQ(r.out.find(EncodePass("very-secret")), std::string::npos);
}

TEST(CliConfig, BrokenStoreIsAFailure) {
  test::TTempConfigHome home;
  fs::create_directories(home.SettingsFile());  // a folder where the file should be
  auto r = Cli({"config"}, home);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "quenbell-cli: Can not open registry!\n");
}

TEST(CliPassword, EncodeDecodeAndFailures) {
  test::TTempConfigHome home;
  auto enc = Cli({"password", "encode", "p\xC3\xA4ss"}, home);
  ASSERT_EQ(enc.status, 0);
  EXPECT_EQ(enc.out, EncodePass("p\xC3\xA4ss") + "\n");
  auto dec = Cli({"password", "decode", enc.out.substr(0, enc.out.size() - 1)}, home);
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.out, "p\xC3\xA4ss\n");
  EXPECT_EQ(Cli({"password", "encode", ""}, home).out, "00000000\n");

  auto bad = Cli({"password", "decode", "0500000012"}, home);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.rfind("quenbell-cli: ", 0), 0u);
  EXPECT_TRUE(bad.out.empty());
}

TEST(CliUsage, WrongCallsExitTwo) {
  test::TTempConfigHome home;
  for (const auto& args : std::vector<std::vector<std::string>>{
           {}, {"nonsense"}, {"password"}, {"password", "rot13", "x"}, {"config", "extra"}}) {
    auto r = Cli(args, home);
    EXPECT_EQ(r.status, 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(r.err.empty());
  }
  auto help = Cli({"--help"}, home);
  EXPECT_EQ(help.status, 0);
  for (const char* cmd : {"password", "config"}) EXPECT_NE(help.out.find(cmd), std::string::npos);
}

TEST(CliInProcess, RunsCommandsWithInjectedStreams) {
  std::istringstream in;
  std::ostringstream out, err;
  cli::TCliIo io{in, out, err};
  EXPECT_EQ(cli::RunCli({"password", "encode", "abc"}, io), 0);
  EXPECT_EQ(out.str(), EncodePass("abc") + "\n");
  EXPECT_EQ(cli::RunCli({"password", "decode", "zz"}, io), 1);
  EXPECT_NE(err.str().find("quenbell-cli: "), std::string::npos);
}

}  // namespace
}  // namespace qnb
