// The account's "Security" value: stored after "Enabled" as "0", "1" or "2",
// missing for accounts stored before it existed (they stay plain), and shown
// by quenbell-cli config.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "TestConfig.h"
#include "settings/QnbBase.h"
#include "settings/Registry.h"
#include "support/RecordingPresenter.h"
#include "support/RunProcess.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

using ::testing::HasSubstr;

class TlsStore : public ::testing::Test {
 protected:
  static std::unique_ptr<TMailAccount> Account(const std::string& name, TSecurity security) {
    auto a = std::make_unique<TMailAccount>(TMailAccount{name, "pop.example.com", "995", "me", "pw", true});
    a->Security = security;
    return a;
  }
  std::string Raw(const std::string& key, const std::string& name) {
    TRegistry reg;
    EXPECT_TRUE(reg.OpenRoot(false));
    std::string v;
    EXPECT_EQ(reg.ReadText(key, name, v), TReadResult::Ok) << key << " " << name;
    return v;
  }
  void Put(const std::string& key, const std::string& name, const std::string& value) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenRoot(true));
    reg.WriteText(key, name, value);
    ASSERT_TRUE(reg.Commit());
  }

  TTempConfigHome home;
  TRecordingPresenter boxes;
};

TEST_F(TlsStore, RoundTripOfEveryMode) {
  TOptions o;
  o.AccountList.push_back(Account("plain", secNone));
  o.AccountList.push_back(Account("upgraded", secStartTls));
  o.AccountList.push_back(Account("implicit", secTls));
  o.StoreOptions();
  EXPECT_EQ(Raw("Account\\0", "Security"), "0");
  EXPECT_EQ(Raw("Account\\1", "Security"), "1");
  EXPECT_EQ(Raw("Account\\2", "Security"), "2");

  TOptions back;
  back.LoadOptions();
  ASSERT_EQ(back.AccountList.size(), 3u);
  EXPECT_EQ(back.AccountList[0]->Security, secNone);
  EXPECT_EQ(back.AccountList[1]->Security, secStartTls);
  EXPECT_EQ(back.AccountList[2]->Security, secTls);
  EXPECT_EQ(back.AccountList[2]->Password, "pw");
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(TlsStore, AccountStoredWithoutTheValueStaysPlain) {
  // As an earlier version left it: no "Security" at all.
  Put("Account\\0", "Account", "old");
  Put("Account\\0", "Host", "pop.example.com");
  Put("Account\\0", "Password", EncodePass("pw"));
  TOptions o;
  o.LoadOptions();
  ASSERT_EQ(o.AccountList.size(), 1u);
  EXPECT_EQ(o.AccountList[0]->Security, secNone);
  EXPECT_EQ(o.AccountList[0]->Port, "110");
}

// A value this version does not know never means the clear: such an account
// gets TLS from the first byte, and a "Security" of another type than text
// drops the account like any other value of the wrong type.
TEST_F(TlsStore, UnknownValuesGetTheStrictestMode) {
  for (const char* text : {"3", "-1", "abc", "", "1.5", " 1"}) {
    SCOPED_TRACE(text);
    Put("Account\\0", "Security", text);
    TOptions o;
    o.LoadOptions();
    ASSERT_EQ(o.AccountList.size(), 1u);
    EXPECT_EQ(o.AccountList[0]->Security, secTls);
  }
  std::ofstream(home.SettingsFile(), std::ios::trunc)
      << "[Account]\n0\\Account=typed\n0\\Security=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x1)\n1\\Account=fine\n";
  TOptions o;
  o.LoadOptions();
  ASSERT_EQ(o.AccountList.size(), 1u);
  EXPECT_EQ(o.AccountList[0]->Name, "fine");
}

TEST_F(TlsStore, CliConfigShowsTheModeByName) {
  TOptions o;
  o.AccountList.push_back(Account("plain", secNone));
  o.AccountList.push_back(Account("upgraded", secStartTls));
  o.AccountList.push_back(Account("implicit", secTls));
  o.StoreOptions();
  auto r = RunProcess({QUENBELL_CLI_PATH, "config"}, {}, {"XDG_CONFIG_HOME=" + home.ConfigHome().string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr(R"("Name":"plain","Host":"pop.example.com","Port":"995","UserName":"me",)"
                               R"("Enabled":true,"Security":"None",)"));
  EXPECT_THAT(r.out, HasSubstr(R"("Name":"upgraded",)"));
  EXPECT_THAT(r.out, HasSubstr(R"("Enabled":true,"Security":"STARTTLS",)"));
  EXPECT_THAT(r.out, HasSubstr(R"("Enabled":true,"Security":"SSL/TLS",)"));
}

}  // namespace
}  // namespace qnb::test
