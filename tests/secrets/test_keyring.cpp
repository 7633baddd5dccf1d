// Account passwords in the desktop's keyring: a real gnome-keyring-daemon on a
// private session bus, the real options store and the real quenbell-cli.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TestConfig.h"
#include "secrets/KeyringStore.h"
#include "settings/QnbBase.h"
#include "settings/Registry.h"
#include "support/RecordingPresenter.h"
#include "support/DovecotServer.h"
#include "support/RunProcess.h"
#include "support/SecretService.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

class Keyring : public ::testing::Test {
 protected:
  // One service for all the tests of the process: its session bus connection
  // is made once. Each test has its own settings file, and with it its own
  // keyring entries.
  static void SetUpTestSuite() { service = new TSecretService(); }
  static void TearDownTestSuite() {
    delete service;
    service = nullptr;
  }
  void SetUp() override {
    if (!service->Skip().empty()) GTEST_SKIP() << service->Skip();
    ASSERT_TRUE(service->Ready()) << service->Error();
  }
  static std::unique_ptr<TMailAccount> Account(const std::string& name, const std::string& password) {
    return std::make_unique<TMailAccount>(TMailAccount{name, "pop.example.com", "995", "me", password, true});
  }
  std::unique_ptr<TOptions> Loaded() {
    auto o = std::make_unique<TOptions>();
    o->LoadOptions();
    return o;
  }
  std::string Raw(const std::string& key, const std::string& name) {
    TRegistry reg;
    std::string v;
    EXPECT_TRUE(reg.OpenRoot(false));
    return reg.ReadText(key, name, v) == TReadResult::Ok ? v : "<missing>";
  }
  std::string InKeyring(const std::string& name) {
    std::string pw, error;
    TKeyringStore fresh;
    const auto r = fresh.Read(name, pw, error);
    return r == TPasswordStore::TRead::Found ? pw : r == TPasswordStore::TRead::NotFound ? "<none>" : "<failed>";
  }

  static TSecretService* service;
  TTempConfigHome home;
  TRecordingPresenter boxes;
  TKeyringStoreScope keyring;
};

TSecretService* Keyring::service = nullptr;

TEST_F(Keyring, PasswordsLiveInTheKeyringAndTheFileKeepsNone) {
  TOptions o;
  o.AccountList.push_back(Account("Shop", "pa\xDF-word 1"));  // Latin-1 bytes stay bytes
  o.AccountList.push_back(Account("Outlet", "second secret"));
  o.StoreOptions();
  EXPECT_TRUE(boxes.boxes.empty());
  const std::string file = ReadFile(home.SettingsFile());
  EXPECT_THAT(file, Not(HasSubstr("Password=")));
  EXPECT_THAT(file, Not(HasSubstr(EncodePass("second secret"))));
  EXPECT_EQ(Raw("Account\\0", "PasswordStore"), "keyring");
  EXPECT_EQ(InKeyring("Shop"), "pa\xDF-word 1");
  EXPECT_EQ(InKeyring("Outlet"), "second secret");

  auto back = Loaded();
  ASSERT_EQ(back->AccountList.size(), 2u);
  EXPECT_EQ(back->AccountList[0]->Password, "pa\xDF-word 1");
  EXPECT_EQ(back->AccountList[0]->PasswordStore, ppKeyring);
  EXPECT_EQ(back->AccountList[1]->Password, "second secret");

  // A removed and a renamed account leave no entry behind.
  back->AccountList.erase(back->AccountList.begin());
  back->AccountList[0]->Name = "Outlet 2";
  back->StoreOptions();
  EXPECT_EQ(InKeyring("Shop"), "<none>");
  EXPECT_EQ(InKeyring("Outlet"), "<none>");
  EXPECT_EQ(InKeyring("Outlet 2"), "second secret");

  // quenbell-cli reads the same keyring and says where the password is.
  auto env = service->Env();
  env.push_back("XDG_CONFIG_HOME=" + home.ConfigHome().string());
  auto r = RunProcess({QUENBELL_CLI_PATH, "config"}, {}, env);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr(R"("Name":"Outlet 2",)"));
  EXPECT_THAT(r.out, HasSubstr(R"("PasswordStore":"keyring"})"));
}

TEST_F(Keyring, CodedPasswordMovesToTheKeyringWhenTheAccountIsNextSaved) {
  {
    // Written by a version (or a session) without a keyring.
    TKeyringStoreScope none;
    SetPasswordStore(nullptr);
    TOptions o;
    o.AccountList.push_back(Account("Shop", "old secret"));
    o.StoreOptions();
  }
  EXPECT_EQ(Raw("Account\\0", "Password"), EncodePass("old secret"));
  auto o = Loaded();
  ASSERT_EQ(o->AccountList.size(), 1u);
  EXPECT_EQ(o->AccountList[0]->Password, "old secret");
  EXPECT_EQ(o->AccountList[0]->PasswordStore, ppFile);
  EXPECT_EQ(InKeyring("Shop"), "<none>");

  o->StoreOptions();
  EXPECT_EQ(Raw("Account\\0", "Password"), "<missing>");
  EXPECT_EQ(Raw("Account\\0", "PasswordStore"), "keyring");
  EXPECT_EQ(InKeyring("Shop"), "old secret");
  EXPECT_EQ(Loaded()->AccountList[0]->Password, "old secret");
}

// The CLI logs in with the password the keyring holds: the file has none.
TEST_F(Keyring, CliLogsInWithThePasswordFromTheKeyring) {
  TDovecotServer dove(std::vector<TDovecotUser>{{"alice", "from keyring"}});
  dove.AddMessage("alice", "Subject: a\r\n\r\nx\r\n");
  dove.Start();
  TOptions o;
  o.AccountList.push_back(std::make_unique<TMailAccount>(
      TMailAccount{"Shop", dove.Host(), std::to_string(dove.Port()), "alice", "from keyring", true}));
  o.StoreOptions();
  ASSERT_EQ(Raw("Account\\0", "PasswordStore"), "keyring");
  auto env = service->Env();
  env.push_back("XDG_CONFIG_HOME=" + home.ConfigHome().string());
  auto r = RunProcess({QUENBELL_CLI_PATH, "test-account", "Shop"}, {}, env);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr(R"("ok":true,"messages":1,)"));
}

// The keyring goes away (the desktop session ended): the accounts still load,
// and saving them neither loses the keyring's copy nor writes an empty one.
TEST_F(Keyring, AKeyringThatStopsAnsweringLosesNoPassword) {
  TOptions o;
  o.AccountList.push_back(Account("Shop", "kept secret"));
  o.StoreOptions();
  ASSERT_EQ(InKeyring("Shop"), "kept secret");

  service->StopKeyring();
  auto gone = Loaded();
  ASSERT_EQ(gone->AccountList.size(), 1u);
  EXPECT_EQ(gone->AccountList[0]->Password, "");
  EXPECT_TRUE(gone->AccountList[0]->PasswordUnread);
  gone->StoreOptions();
  EXPECT_EQ(Raw("Account\\0", "PasswordStore"), "keyring");
  EXPECT_EQ(Raw("Account\\0", "Password"), "<missing>");

  // The entry is still there for the keyring's return: nothing removed it.
  EXPECT_TRUE(boxes.boxes.empty());
  ASSERT_TRUE(service->StartKeyring()) << service->Error();
}

}  // namespace
}  // namespace qnb::test
