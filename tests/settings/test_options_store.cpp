#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "settings/QnbBase.h"
#include "settings/Registry.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

class OptionsStore : public ::testing::Test {
 protected:
  // Writes raw values into the store the way a previous run (or a person) left them.
  void Put(const std::string& key, const std::string& name, const std::string& value) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenRoot(true));
    reg.WriteText(key, name, value);
    ASSERT_TRUE(reg.Commit());
  }
  std::unique_ptr<TOptions> Loaded(bool mailClient = true) {
    auto o = std::make_unique<TOptions>();
    o->LoadOptions(mailClient);
    return o;
  }
  static std::unique_ptr<TMailAccount> Account(std::string name, std::string host, std::string port,
                                               std::string user, std::string pass, bool enabled) {
    return std::make_unique<TMailAccount>(TMailAccount{name, host, port, user, pass, enabled});
  }

  test::TTempConfigHome home;
  test::TRecordingPresenter boxes;
};

TEST_F(OptionsStore, CreateGivesZeroedFields) {
  TOptions o;
  EXPECT_FALSE(o.bAutoRun);
  EXPECT_FALSE(o.bCheckPaymentOnSchedule);
  EXPECT_EQ(o.iCheckPaymentTime, 0);
  EXPECT_TRUE(o.AccountList.empty());
  EXPECT_FALSE(fs::exists(home.SettingsFile()));  // Create loads nothing
}

TEST_F(OptionsStore, FirstStartLoadsDefaultsAndCreatesTheKeys) {
  TOptions o;
  o.LoadOptions();
  EXPECT_TRUE(o.bAutoRun);
  EXPECT_FALSE(o.bMinToTray);
  EXPECT_FALSE(o.bCheckPaymentWhenOpening);
  EXPECT_TRUE(o.bCheckPaymentOnSchedule);
  EXPECT_EQ(o.iCheckPaymentTime, 10);
  EXPECT_TRUE(o.AccountList.empty());
  EXPECT_TRUE(boxes.boxes.empty());

  TRegistry reg;
  ASSERT_TRUE(fs::exists(home.SettingsFile()));
  ASSERT_TRUE(reg.OpenRoot(false));
  EXPECT_TRUE(reg.KeyExists("Account"));
  EXPECT_FALSE(reg.KeyExists("GENERAL"));
  EXPECT_FALSE(fs::exists(home.ConfigHome() / "autostart" / "quenbell.desktop"));
}

TEST_F(OptionsStore, GeneralValuesParseAsTheStoreWroteThemOrFallBack) {
  struct Case { const char* name; const char* stored; bool autoRun, minToTray; int32_t minutes; };
  const Case cases[] = {
      {"AutoRun", "2", true, false, 10},      {"AutoRun", "yes", true, false, 10},
      {"AutoRun", "0", false, false, 10},     {"AutoRun", "-1", true, false, 10},
      {"MinToTray", "yes", true, false, 10},  {"MinToTray", "1", true, true, 10},
      {"MinToTray", " 1", true, false, 10},   {"CheckPaymentTime", "abc", true, false, 10},
      {"CheckPaymentTime", "25", true, false, 25}, {"CheckPaymentTime", "99999999999", true, false, 10},
  };
  for (const Case& c : cases) {
    fs::remove(home.SettingsFile());
    Put("GENERAL", c.name, c.stored);
    auto op = Loaded();
    TOptions& o = *op;
    EXPECT_EQ(o.bAutoRun, c.autoRun) << c.name << "=" << c.stored;
    EXPECT_EQ(o.bMinToTray, c.minToTray) << c.name << "=" << c.stored;
    EXPECT_EQ(o.iCheckPaymentTime, c.minutes) << c.name << "=" << c.stored;
  }
}

TEST_F(OptionsStore, NonTextValueCountsAsMissing) {
  fs::create_directories(home.SettingsFile().parent_path());
  std::ofstream(home.SettingsFile()) << "[GENERAL]\nCheckPaymentTime=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\x5)\n"
                                        "MinToTray=1, 2\n";
  auto op = Loaded();
    TOptions& o = *op;
  EXPECT_EQ(o.iCheckPaymentTime, 10);
  EXPECT_FALSE(o.bMinToTray);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(OptionsStore, OddSubkeyNameLoadsWithDefaults) {
  Put("Account\\Caf\xC3\xA9 shop", "Host", "");  // a subkey with one empty value
  auto op = Loaded();
    TOptions& o = *op;
  ASSERT_EQ(o.AccountList.size(), 1u);
  const TMailAccount& a = *o.AccountList[0];
  EXPECT_EQ(a.Name, "Caf\xC3\xA9 shop");
  EXPECT_EQ(a.Port, "110");
  EXPECT_EQ(a.Host, "");
  EXPECT_EQ(a.UserName, "");
  EXPECT_EQ(a.Password, "");
  EXPECT_TRUE(a.Enabled);
}

TEST_F(OptionsStore, ProtocolAndFolderAreStoredAfterSecurityAndDefaultToPop3Inbox) {
  // Stored by a version without them, by hand in another case, and unknown.
  Put("Account\\0", "Account", "old");
  Put("Account\\1", "Account", "imap");
  Put("Account\\1", "Protocol", "imap");
  Put("Account\\1", "Folder", "Shop/Payments");
  Put("Account\\2", "Account", "later");
  Put("Account\\2", "Protocol", "JMAP");
  Put("Account\\2", "Folder", "");
  auto op = Loaded();
  ASSERT_EQ(op->AccountList.size(), 3u);
  const auto& a = op->AccountList;
  EXPECT_EQ(a[0]->Protocol, protoPop3);
  EXPECT_EQ(a[0]->Folder, "INBOX");
  EXPECT_EQ(a[1]->Protocol, protoImap);
  EXPECT_EQ(a[1]->Folder, "Shop/Payments");
  EXPECT_EQ(a[2]->Protocol, protoPop3);
  EXPECT_EQ(a[2]->Folder, "INBOX");
  op->StoreOptions();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenRoot(false));
  std::string v;
  ASSERT_EQ(reg.ReadText("Account\\1", "Protocol", v), TReadResult::Ok);
  EXPECT_EQ(v, "IMAP");
  ASSERT_EQ(reg.ReadText("Account\\1", "Folder", v), TReadResult::Ok);
  EXPECT_EQ(v, "Shop/Payments");
  ASSERT_EQ(reg.ReadText("Account\\0", "Protocol", v), TReadResult::Ok);
  EXPECT_EQ(v, "POP3");
  EXPECT_EQ(Loaded()->AccountList[1]->Folder, "Shop/Payments");
  EXPECT_STREQ(DefaultPort(protoImap, secTls), "993");
  EXPECT_STREQ(DefaultPort(protoImap, secStartTls), "143");
  EXPECT_STREQ(DefaultPort(protoPop3, secTls), "995");
  EXPECT_STREQ(DefaultPort(protoPop3, secNone), "110");
}

TEST_F(OptionsStore, SubkeysLoadInTextOrderAndStoreRenumbers) {
  for (int i = 0; i <= 10; ++i) Put("Account\\" + std::to_string(i), "Account", "acc" + std::to_string(i));
  auto op = Loaded();
    TOptions& o = *op;
  std::vector<std::string> names;
  for (const auto& a : o.AccountList) names.push_back(a->Name);
  EXPECT_EQ(names, (std::vector<std::string>{"acc0", "acc1", "acc10", "acc2", "acc3", "acc4", "acc5", "acc6",
                                             "acc7", "acc8", "acc9"}));
  o.StoreOptions();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenRoot(false));
  std::string v;
  ASSERT_EQ(reg.ReadText("Account\\2", "Account", v), TReadResult::Ok);
  EXPECT_EQ(v, "acc10");
}

TEST_F(OptionsStore, StoreThenLoadReturnsTheSameOptionsAndAccounts) {
  TOptions o;
  o.bAutoRun = false;
  o.bMinToTray = true;
  o.bCheckPaymentWhenOpening = true;
  o.bCheckPaymentOnSchedule = false;
  o.iCheckPaymentTime = 45;
  o.sMailProgram = "\"/opt/mail client/bin/mail\" -compose";
  std::string allBytes;
  for (int i = 1; i < 256; ++i) allBytes += static_cast<char>(i);
  o.AccountList.push_back(Account("Shop", "pop.example.com", "110", "me@example.com", "pa55", true));
  o.AccountList.push_back(Account("", "", "", "", "", false));
  o.AccountList.push_back(Account("a, b = \"c\" ; #d [e] \\f /g", "h\\o/st", "995x", "@user", allBytes, true));
  o.AccountList.push_back(Account("\xE6\x97\xA5\xE6\x9C\xAC", "@Variant(x)", "0", "u", std::string(40, 'p'), false));
  o.StoreOptions();
  ASSERT_TRUE(boxes.boxes.empty());

  auto backp = Loaded();
    TOptions& back = *backp;
  EXPECT_EQ(back.bAutoRun, false);
  EXPECT_EQ(back.bMinToTray, true);
  EXPECT_EQ(back.bCheckPaymentWhenOpening, true);
  EXPECT_EQ(back.bCheckPaymentOnSchedule, false);
  EXPECT_EQ(back.iCheckPaymentTime, 45);
  EXPECT_EQ(back.sMailProgram, o.sMailProgram);
  ASSERT_EQ(back.AccountList.size(), o.AccountList.size());
  for (size_t i = 0; i < o.AccountList.size(); ++i) {
    const TMailAccount& a = *o.AccountList[i];
    const TMailAccount& b = *back.AccountList[i];
    EXPECT_EQ(b.Name, a.Name) << i;
    EXPECT_EQ(b.Host, a.Host) << i;
    EXPECT_EQ(b.Port, a.Port) << i;
    EXPECT_EQ(b.UserName, a.UserName) << i;
    EXPECT_EQ(b.Password, a.Password) << i;
    EXPECT_EQ(b.Enabled, a.Enabled) << i;
  }
}

TEST_F(OptionsStore, ShorterListLeavesNoStaleAccounts) {
  TOptions o;
  for (int i = 0; i < 5; ++i) o.AccountList.push_back(Account("a" + std::to_string(i), "h", "110", "u", "p", true));
  o.StoreOptions();
  o.AccountList.erase(o.AccountList.begin() + 1, o.AccountList.end());
  o.StoreOptions();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenRoot(false));
  EXPECT_EQ(reg.SubKeys("Account"), std::vector<std::string>{"0"});
  EXPECT_EQ(Loaded()->AccountList.size(), 1u);
}

TEST_F(OptionsStore, AccountsThatCannotBeReadAreDroppedSilently) {
  Put("Account\\0", "Account", "good");
  Put("Account\\0", "Password", EncodePass("secret"));
  Put("Account\\1", "Password", "12345678ZZ");                             // not hexadecimal
  Put("Account\\2", "Password", "05000000" + std::string(30, '0'));        // not whole blocks
  Put("Account\\3", "Password", "0500");                                   // too short: empty password
  Put("Account\\4", "Account", "also good");
  auto op = Loaded();
    TOptions& o = *op;
  ASSERT_EQ(o.AccountList.size(), 3u);
  EXPECT_EQ(o.AccountList[0]->Name, "good");
  EXPECT_EQ(o.AccountList[0]->Password, "secret");
  EXPECT_EQ(o.AccountList[1]->Name, "3");
  EXPECT_EQ(o.AccountList[1]->Password, "");
  EXPECT_EQ(o.AccountList[2]->Name, "also good");
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(OptionsStore, NonTextAccountValueDropsTheAccount) {
  fs::create_directories(home.SettingsFile().parent_path());
  std::ofstream(home.SettingsFile()) << "[Account]\n0\\Account=first\n0\\Host=a, b\n1\\Account=second\n";
  auto op = Loaded();
    TOptions& o = *op;
  ASSERT_EQ(o.AccountList.size(), 1u);
  EXPECT_EQ(o.AccountList[0]->Name, "second");
}

TEST_F(OptionsStore, EmptyMailProgramComesBackAsTheDefaultCommand) {
  // No mailto handler is configured in the temporary home: the default is empty,
  // so set one up to tell "empty" and "default" apart.
  home.Dir().Write("config/mimeapps.list", "[Default Applications]\nx-scheme-handler/mailto=qnbmail.desktop\n");
  home.Dir().Write("data/applications/qnbmail.desktop",
                   "[Desktop Entry]\nType=Application\nName=Mail\nExec=true --compose %u\n");
  Put("GENERAL", "MailProgram", "");
  EXPECT_EQ(Loaded()->sMailProgram, "true --compose");
  // A process without a mail client does not ask the desktop.
  EXPECT_EQ(Loaded(false)->sMailProgram, "");
  Put("GENERAL", "MailProgram", "mutt");
  EXPECT_EQ(Loaded()->sMailProgram, "mutt");
  EXPECT_EQ(Loaded(false)->sMailProgram, "mutt");
}

// The settings file is a folder: it can be neither read nor replaced.
TEST_F(OptionsStore, UnreadableStoreShowsTheErrorAndChangesNothing) {
  fs::create_directories(home.SettingsFile());
  TOptions o;
  o.LoadOptions();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Can not open registry!"});
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
  EXPECT_EQ(boxes.boxes[0].caption, "Quenbell");
  EXPECT_EQ(o.iCheckPaymentTime, 0);  // nothing was loaded
  o.StoreOptions();
  EXPECT_EQ(boxes.boxes.size(), 2u);
  EXPECT_TRUE(fs::is_directory(home.SettingsFile()));
}

// A settings folder that cannot be created (its parent is a file).
TEST_F(OptionsStore, UncreatableStoreShowsTheError) {
  home.Dir().Write("config/Varnett", "not a folder");
  TOptions o;
  o.LoadOptions();
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Can not open registry!"});
}

// A disk that fills up while the store writes: the error shows and the file
// holds what was stored before (tests may run as root, so permissions cannot
// provoke this; a file-size limit can).
TEST_F(OptionsStore, FailedWriteKeepsWhatWasStoredBefore) {
  TOptions o;
  o.AccountList.push_back(Account("kept", "pop.example.com", "110", "u", "p", true));
  o.StoreOptions();
  const std::string before = test::ReadFile(home.SettingsFile());

  for (int i = 0; i < 200; ++i) o.AccountList.push_back(Account("new" + std::to_string(i), "h", "1", "u", "p", true));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = before.size() + 16;
  setrlimit(RLIMIT_FSIZE, &small);
  o.StoreOptions();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Can not open registry!"});
  EXPECT_EQ(test::ReadFile(home.SettingsFile()), before);
  auto backp = Loaded();
    TOptions& back = *backp;
  ASSERT_EQ(back.AccountList.size(), 1u);
  EXPECT_EQ(back.AccountList[0]->Name, "kept");
}

// The file holds the passwords: only its owner may read it, whatever mode the
// file and its folder had before (an older version, a restored backup).
TEST_F(OptionsStore, EveryWriteLeavesTheFileForItsOwnerOnly) {
  const fs::path folder = home.SettingsFile().parent_path();
  auto modeOf = [](const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; };
  TOptions o;
  o.AccountList.push_back(Account("a", "pop.example.com", "110", "u", "p", true));
  o.StoreOptions();
  EXPECT_EQ(modeOf(home.SettingsFile()), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(modeOf(folder), fs::perms::owner_all);

  fs::permissions(home.SettingsFile(), fs::perms::all);
  fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  o.iCheckPaymentTime = 7;
  o.StoreOptions();
  EXPECT_EQ(modeOf(home.SettingsFile()), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(modeOf(folder), fs::perms::owner_all);
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace qnb
