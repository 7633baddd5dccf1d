#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>

#include <filesystem>

#include "app/SpinEdit.h"
#include "settings/AccountState.h"
#include "app/fmMailAccount.h"
#include "app/fmOptions.h"
#include "settings/Platform.h"
#include "settings/QnbBase.h"
#include "settings/Registry.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"
#include "GuiTestSupport.h"

namespace qnb {
namespace {

namespace fs = std::filesystem;

using TFill = std::function<void(TFormMailAccount&)>;

std::unique_ptr<TMailAccount> Acc(std::string name, std::string host, bool enabled) {
  return std::make_unique<TMailAccount>(TMailAccount{name, host, "110", "user-" + name, "pw-" + name, enabled});
}

TFill Named(std::string name, std::string host = "") {
  return [name, host](TFormMailAccount& d) {
    d.EditAccount->setText(QString::fromStdString(name));
    if (!host.empty()) d.EditServer->setText(QString::fromStdString(host));
  };
}

// LoadOptions asks xdg-mime for the default mail program, which takes most of a
// second; a stub that knows none keeps these tests quick.
class TNoMailHandler {
 public:
  TNoMailHandler() : FOldPath(qgetenv("PATH")) {
    const auto stub = FDir.Write("xdg-mime", "#!/bin/sh\nexit 1\n");
    fs::permissions(stub, fs::perms::owner_all);
    qputenv("PATH", QByteArray::fromStdString(FDir.Str()) + ":" + FOldPath);
  }
  ~TNoMailHandler() { qputenv("PATH", FOldPath); }

 private:
  test::TTempDir FDir;
  QByteArray FOldPath;
};

class OptionsDialog : public ::testing::Test {
 protected:
  OptionsDialog() {
    // What an earlier run left in the store.
    TOptions s;
    s.bMinToTray = true;
    s.bCheckPaymentOnSchedule = true;
    s.iCheckPaymentTime = 0;
    s.sMailProgram = "mutt -f inbox";
    s.AccountList.push_back(Acc("My Order", "pop.example.com", true));
    s.AccountList.push_back(Acc("Shop", "mail.example.org", false));
    s.StoreOptions();
    AppOption = &options;
  }
  ~OptionsDialog() override { AppOption = nullptr; }

  static std::vector<std::string> Rows(const TFormOptions& d) {
    std::vector<std::string> names;
    for (int i = 0; i < d.LVAccounts->topLevelItemCount(); ++i) {
      QTreeWidgetItem* row = d.LVAccounts->topLevelItem(i);
      names.push_back(row->text(0).toStdString() + "@" + row->text(1).toStdString());
      EXPECT_EQ(row->text(0).toStdString(), TFormOptions::RowAccount(row)->Name) << "caption is the record's name";
    }
    return names;
  }
  // As a click does: the row becomes current and the only one selected.
  static void Select(TFormOptions& d, int row) { d.LVAccounts->setCurrentItem(d.LVAccounts->topLevelItem(row)); }

  // Presses a button that opens the account dialog, fills it and ends it.
  static bool RunAccount(QPushButton* button, const TFill& fill, bool ok = true) {
    test::TModalAnswer<TFormMailAccount> answer([&](TFormMailAccount& d) {
      fill(d);
      (ok ? d.btnOK : d.btnCancel)->click();
    });
    button->click();
    return answer.found;
  }
  static std::unique_ptr<TOptions> Stored() {
    auto o = std::make_unique<TOptions>();
    o->LoadOptions();
    return o;
  }
  std::string RawValue(const std::string& key, const std::string& name) {
    TRegistry reg;
    std::string v;
    EXPECT_TRUE(reg.OpenRoot(false));
    EXPECT_EQ(reg.ReadText(key, name, v), TReadResult::Ok) << key << "\\" << name;
    return v;
  }

  TNoMailHandler noMailHandler;
  test::TTempConfigHome home;
  test::TRecordingPresenter boxes;
  TOptions options;
};

TEST_F(OptionsDialog, OpensWithWhatTheStoreHolds) {
  options.bAutoRun = true;  // in memory only: the dialog reloads
  options.bMinToTray = false;
  TFormOptions d(nullptr);
  EXPECT_EQ(FormOptions, &d);
  EXPECT_EQ(d.windowTitle(), QStringLiteral("Options"));
  EXPECT_EQ(d.size(), QSize(384, 330));
  EXPECT_TRUE(d.CBRememberPayments->isChecked()) << "on unless stored off";
  EXPECT_FALSE(d.CBDesktopNotify->isChecked());
  EXPECT_EQ(d.PageControl->currentIndex(), 0);
  EXPECT_EQ(d.PageControl->tabText(0), QStringLiteral("General"));
  EXPECT_EQ(d.PageControl->tabText(1), QStringLiteral("Mail Accounts"));
  EXPECT_FALSE(d.CBRunWhenStart->isChecked());
  EXPECT_TRUE(d.CBMinWhenStart->isChecked());
  EXPECT_TRUE(d.CBCheckOnSchedule->isChecked());
  EXPECT_FALSE(d.CBCheckWhenOpen->isChecked());
  EXPECT_EQ(d.SPECheckTime->cleanText(), QStringLiteral("1")) << "a stored 0 shows as 1";
  EXPECT_TRUE(d.SPECheckTime->isEnabled());
  EXPECT_EQ(d.EditMailProgram->text(), QStringLiteral("mutt -f inbox"));
  EXPECT_EQ(Rows(d), (std::vector<std::string>{"My Order@pop.example.com", "Shop@mail.example.org"}));
  EXPECT_FALSE(d.btnRemove->isEnabled());
  EXPECT_FALSE(d.btnProperties->isEnabled());
  EXPECT_TRUE(d.btnOK->isDefault());
  EXPECT_TRUE(boxes.boxes.empty());

  // The rows hold copies: editing them leaves the options object alone.
  EXPECT_NE(TFormOptions::RowAccount(d.LVAccounts->topLevelItem(0)), options.AccountList[0].get());

  Select(d, 1);
  EXPECT_TRUE(d.btnRemove->isEnabled());
  EXPECT_TRUE(d.btnProperties->isEnabled());
  d.LVAccounts->clearSelection();
  EXPECT_FALSE(d.btnProperties->isEnabled());
}

TEST_F(OptionsDialog, AccountListShowsEachAccountsLastCheck) {
  TAccountStateBook book;
  TAccountState failed;
  failed.Time = 1765400000;
  failed.Failed = true;
  failed.Caption = "TLS Error";
  failed.Text = "Secure connection to \"pop.example.com\" failed: <b>certificate</b> verify failed";
  book.Set("My Order", failed);
  ASSERT_TRUE(book.Save());
  TFormOptions d(nullptr);
  EXPECT_EQ(d.LVAccounts->headerItem()->text(2), "State");
  QTreeWidgetItem* mine = d.LVAccounts->topLevelItem(0);
  EXPECT_EQ(mine->text(2), "Failed");
  EXPECT_EQ(mine->foreground(2).color(), QColor(200, 0, 0));
  const QString tip = mine->toolTip(2);
  EXPECT_TRUE(tip.contains(QString::fromStdString(failed.Text))) << tip.toStdString();
  EXPECT_TRUE(tip.contains(": TLS Error\n")) << tip.toStdString();
  EXPECT_FALSE(Qt::mightBeRichText(tip));
  EXPECT_EQ(d.LVAccounts->topLevelItem(1)->text(2), "Not checked");

  // A renamed account is another account: it has not been checked.
  Select(d, 0);
  ASSERT_TRUE(RunAccount(d.btnProperties, Named("Renamed")));
  EXPECT_EQ(mine->text(2), "Not checked");
}

TEST_F(OptionsDialog, TextsAndTabOrderOfBothDialogs) {
  TFormOptions d(nullptr);
  EXPECT_EQ(d.CBRunWhenStart->text(), QStringLiteral("Run when Windows starts up."));
  EXPECT_EQ(d.CBMinWhenStart->text(), QStringLiteral("Minimize to system tray when starts up."));
  EXPECT_EQ(d.CBCheckOnSchedule->text(), QStringLiteral("Check for new payment every "));
  EXPECT_EQ(d.CBCheckWhenOpen->text(), QStringLiteral("Check for new payment when opening quenbell."));
  EXPECT_EQ(d.CBRememberPayments->text(), QStringLiteral("Remember payments between starts"));
  EXPECT_EQ(d.CBDesktopNotify->text(), QStringLiteral("Also show a desktop notification"));
  EXPECT_EQ(d.btnBrowse->text(), QStringLiteral("Browse"));
  EXPECT_EQ(d.btnAdd->text(), QStringLiteral("&Add"));
  EXPECT_EQ(d.btnRemove->text(), QStringLiteral("&Remove"));
  EXPECT_EQ(d.btnProperties->text(), QStringLiteral("&Properties"));
  EXPECT_EQ(d.btnOK->text(), QStringLiteral("&OK"));
  EXPECT_EQ(d.btnCancel->text(), QStringLiteral("&Cancel"));
  EXPECT_EQ(d.SPECheckTime->minimum(), 1);
  EXPECT_EQ(d.SPECheckTime->maximum(), 99999);
  EXPECT_EQ(d.LVAccounts->headerItem()->text(0), QStringLiteral("Account"));
  EXPECT_EQ(d.LVAccounts->headerItem()->text(1), QStringLiteral("Server"));
  ASSERT_EQ(d.PageControl->count(), 3);
  EXPECT_EQ(d.PageControl->tabText(2), QStringLiteral("Analyzers"));
  EXPECT_EQ(d.LVAccounts->columnWidth(0), 100);
  EXPECT_EQ(d.LVAccounts->selectionMode(), QAbstractItemView::SingleSelection);

  TMailAccount acc;
  TFormMailAccount a(acc, &d);
  EXPECT_EQ(FormMailAccount, &a);
  EXPECT_EQ(a.windowTitle(), QStringLiteral("Mail Account Properties"));
  EXPECT_EQ(a.size(), QSize(373, 470));  // room for the protocol, the IMAP folder and the connection test
  EXPECT_EQ(a.EditPassword->echoMode(), QLineEdit::Password);
  a.EditPassword->setText(QStringLiteral("secret"));
  a.EditPassword->ensurePolished();
  EXPECT_EQ(a.EditPassword->displayText(), QStringLiteral("******"));
  EXPECT_TRUE(a.btnOK->isDefault());

  // Where Tab goes next, among the controls that take the focus.
  auto chain = [](QWidget* first, const std::vector<QWidget*>& controls) {
    std::vector<QWidget*> order{first};
    for (QWidget* w = first->nextInFocusChain(); w != first && order.size() < controls.size(); w = w->nextInFocusChain())
      if (std::find(controls.begin(), controls.end(), w) != controls.end()) order.push_back(w);
    return order;
  };
  const std::vector<QWidget*> general{d.CBRunWhenStart, d.CBMinWhenStart, d.CBCheckOnSchedule, d.EditMailProgram,
                                      d.btnBrowse, d.CBCheckWhenOpen, d.SPECheckTime, d.CBRememberPayments,
                                      d.CBDesktopNotify};
  EXPECT_EQ(chain(d.CBRunWhenStart, general), general);
  const std::vector<QWidget*> account{a.btnOK, a.btnCancel, a.EditAccount, a.EditServer, a.EditName,
                                      a.EditPassword, a.EditPort, a.CBProtocol, a.CBSecurity,
                                      a.CBFolder, a.btnFolders};
  EXPECT_EQ(chain(a.btnOK, account), account);
}

TEST_F(OptionsDialog, AddRefusesOnlyAnExactlyEqualName) {
  TFormOptions d(nullptr);
  // A new account starts empty with port 110.
  TFill checkDefaults = [](TFormMailAccount& a) {
    EXPECT_EQ(a.EditAccount->text(), QString());
    EXPECT_EQ(a.EditServer->text(), QString());
    EXPECT_EQ(a.EditPort->text(), QStringLiteral("110"));
    EXPECT_EQ(a.CBSecurity->currentText(), QStringLiteral("STARTTLS"));
    EXPECT_EQ(a.EditName->text(), QString());
    EXPECT_EQ(a.EditPassword->text(), QString());
  };
  ASSERT_TRUE(RunAccount(d.btnAdd, checkDefaults, /*ok=*/false));
  EXPECT_EQ(Rows(d).size(), 2u) << "Cancel adds nothing";

  struct Case { const char* name; bool added; };
  for (Case c : {Case{"my order", true}, Case{"My Order", false}, Case{"My Order ", true}, Case{"", true},
                 Case{"", false}, Case{"Shop", false}}) {
    boxes.boxes.clear();
    const size_t before = Rows(d).size();
    ASSERT_TRUE(RunAccount(d.btnAdd, Named(c.name, "h")));
    EXPECT_EQ(Rows(d).size(), before + (c.added ? 1 : 0)) << "'" << c.name << "'";
    if (c.added) {
      EXPECT_TRUE(boxes.boxes.empty()) << c.name;
      EXPECT_EQ(Rows(d).back(), std::string(c.name) + "@h");
    } else {
      ASSERT_EQ(boxes.boxes.size(), 1u) << c.name;
      EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
      EXPECT_EQ(boxes.boxes[0].caption, "Quenbell");
      EXPECT_EQ(boxes.boxes[0].text, "Duplicate mail account name.");
    }
  }
}

TEST_F(OptionsDialog, PropertiesIsNotComparedWithItselfAndKeepsEnabled) {
  TFormOptions d(nullptr);
  Select(d, 1);  // "Shop", disabled
  TFill unchanged = [](TFormMailAccount& a) {
    EXPECT_EQ(a.EditAccount->text(), QStringLiteral("Shop"));
    EXPECT_EQ(a.EditServer->text(), QStringLiteral("mail.example.org"));
    EXPECT_EQ(a.EditName->text(), QStringLiteral("user-Shop"));
    EXPECT_EQ(a.EditPassword->text(), QStringLiteral("pw-Shop"));
  };
  ASSERT_TRUE(RunAccount(d.btnProperties, unchanged));
  EXPECT_TRUE(boxes.boxes.empty());

  ASSERT_TRUE(RunAccount(d.btnProperties, Named("My Order", "other.example.com")));
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Duplicate mail account name."});
  EXPECT_EQ(Rows(d)[1], "Shop@mail.example.org") << "the row keeps its old values";
  EXPECT_EQ(TFormOptions::RowAccount(d.LVAccounts->topLevelItem(1))->Host, "mail.example.org");

  ASSERT_TRUE(RunAccount(d.btnProperties, Named("Shop 2", "pop.shop.example")));
  EXPECT_EQ(Rows(d)[1], "Shop 2@pop.shop.example");
  d.btnOK->click();
  auto stored = Stored();
  ASSERT_EQ(stored->AccountList.size(), 2u);
  EXPECT_EQ(stored->AccountList[1]->Name, "Shop 2");
  EXPECT_FALSE(stored->AccountList[1]->Enabled) << "Properties keeps Enabled";
  EXPECT_EQ(stored->AccountList[1]->Password, "pw-Shop");
}

TEST_F(OptionsDialog, RowButtonsNeverActWithoutASelectedRow) {
  TFormOptions d(nullptr);
  {
    test::TModalAnswer<QDialog> none([](QDialog& w) { w.reject(); });
    d.btnPropertiesClick();
    d.btnRemoveClick();
    d.LVAccountsDblClick();
    QTest::qWait(100);
    EXPECT_FALSE(none.found) << "no account dialog without a row";
  }
  EXPECT_EQ(Rows(d).size(), 2u);

  // A double click on a row is Properties.
  Select(d, 0);
  test::TModalAnswer<TFormMailAccount> props([](TFormMailAccount& a) { a.btnCancel->click(); });
  emit d.LVAccounts->itemDoubleClicked(d.LVAccounts->topLevelItem(0), 0);
  EXPECT_TRUE(props.found);

  d.btnRemove->click();
  EXPECT_EQ(Rows(d), std::vector<std::string>{"Shop@mail.example.org"});
  EXPECT_FALSE(d.btnRemove->isEnabled()) << "the next row is not picked for the user";
  EXPECT_FALSE(d.btnProperties->isEnabled());
}

TEST_F(OptionsDialog, SecurityChoiceMovesTheUsualPortAndIsStored) {
  TFormOptions d(nullptr);
  Select(d, 0);  // stored before there was a choice: plain TCP
  ASSERT_TRUE(RunAccount(d.btnProperties, [](TFormMailAccount& a) {
    EXPECT_EQ(a.CBSecurity->currentText(), QStringLiteral("None"));
    EXPECT_EQ(a.EditPort->text(), QStringLiteral("110")) << "showing the choice moves no port";
    struct Step { const char* choice; const char* port; };
    for (Step s : {Step{"SSL/TLS", "995"}, Step{"STARTTLS", "110"}, Step{"SSL/TLS", "995"}, Step{"None", "110"}}) {
      a.CBSecurity->setCurrentText(QString::fromLatin1(s.choice));
      EXPECT_EQ(a.EditPort->text(), QString::fromLatin1(s.port)) << s.choice;
    }
    a.EditPort->setText(QStringLiteral("1110"));
    a.CBSecurity->setCurrentText(QStringLiteral("SSL/TLS"));
    EXPECT_EQ(a.EditPort->text(), QStringLiteral("1110")) << "a port of the user's own stays";
  }));
  ASSERT_TRUE(RunAccount(d.btnAdd, Named("New")));
  d.btnOK->click();
  auto stored = Stored();
  ASSERT_EQ(stored->AccountList.size(), 3u);
  EXPECT_EQ(stored->AccountList[0]->Security, secTls);
  EXPECT_EQ(stored->AccountList[0]->Port, "1110");
  EXPECT_EQ(stored->AccountList[1]->Security, secNone) << "an account not opened keeps its mode";
  EXPECT_EQ(stored->AccountList[2]->Security, secStartTls) << "new accounts start with STARTTLS";
  EXPECT_EQ(RawValue("Account\\2", "Security"), "1");
}

TEST_F(OptionsDialog, ProtocolChoiceMovesTheUsualPortAndStoresTheFolder) {
  TFormOptions d(nullptr);
  Select(d, 0);
  ASSERT_TRUE(RunAccount(d.btnProperties, [](TFormMailAccount& a) {
    EXPECT_EQ(a.CBProtocol->currentText(), QStringLiteral("POP3"));  // stored before there was a choice
    EXPECT_FALSE(a.CBFolder->isEnabled());
    EXPECT_EQ(a.CBFolder->currentText(), QStringLiteral("INBOX"));
    struct Step { const char* protocol; const char* security; const char* port; };
    for (Step s : {Step{"IMAP", "None", "143"}, Step{"IMAP", "SSL/TLS", "993"}, Step{"POP3", "SSL/TLS", "995"},
                   Step{"IMAP", "STARTTLS", "143"}}) {
      a.CBProtocol->setCurrentText(QString::fromLatin1(s.protocol));
      a.CBSecurity->setCurrentText(QString::fromLatin1(s.security));
      EXPECT_EQ(a.EditPort->text(), QString::fromLatin1(s.port)) << s.protocol << " " << s.security;
    }
    EXPECT_TRUE(a.CBFolder->isEnabled());
    a.CBFolder->setEditText(QStringLiteral("Shop/Payments"));
    a.EditPort->setText(QStringLiteral("1143"));
    a.CBProtocol->setCurrentText(QStringLiteral("POP3"));
    EXPECT_EQ(a.EditPort->text(), QStringLiteral("1143")) << "a port of the user's own stays";
    a.CBProtocol->setCurrentText(QStringLiteral("IMAP"));
  }));
  d.btnOK->click();
  auto stored = Stored();
  EXPECT_EQ(stored->AccountList[0]->Protocol, protoImap);
  EXPECT_EQ(stored->AccountList[0]->Folder, "Shop/Payments");
  EXPECT_EQ(RawValue("Account\\0", "Protocol"), "IMAP");
  EXPECT_EQ(stored->AccountList[1]->Protocol, protoPop3) << "an account not opened keeps its protocol";
}

TEST_F(OptionsDialog, OkStoresEverythingAndTheAutostartSetting) {
  TFormOptions d(nullptr);
  d.CBRunWhenStart->setChecked(true);
  d.CBMinWhenStart->setChecked(false);
  d.CBCheckWhenOpen->setChecked(true);
  d.CBRememberPayments->setChecked(false);
  d.CBDesktopNotify->setChecked(true);
  d.SPECheckTime->setValue(25);
  d.EditMailProgram->setText(QStringLiteral("  not checked at all "));
  ASSERT_TRUE(RunAccount(d.btnAdd, [](TFormMailAccount& a) {
    a.EditAccount->setText(QStringLiteral("New"));
    a.EditServer->setText(QStringLiteral("pop.new.example"));
    a.EditPort->setText(QStringLiteral("not a port"));
    a.EditName->setText(QStringLiteral("me"));
    a.EditPassword->setText(QStringLiteral("p@ss"));
  }));
  Select(d, 0);
  d.btnRemove->click();
  d.btnOK->click();
  EXPECT_EQ(d.result(), QDialog::Accepted);

  EXPECT_TRUE(options.bAutoRun);
  EXPECT_EQ(options.iCheckPaymentTime, 25);
  ASSERT_EQ(options.AccountList.size(), 2u);
  auto stored = Stored();
  EXPECT_TRUE(stored->bAutoRun);
  EXPECT_FALSE(stored->bMinToTray);
  EXPECT_TRUE(stored->bCheckPaymentOnSchedule);
  EXPECT_TRUE(stored->bCheckPaymentWhenOpening);
  EXPECT_FALSE(stored->bRememberPayments);
  EXPECT_TRUE(stored->bDesktopNotify);
  EXPECT_EQ(RawValue("GENERAL", "RememberPayments"), "0");
  EXPECT_EQ(stored->iCheckPaymentTime, 25);
  EXPECT_EQ(stored->sMailProgram, "  not checked at all ");
  ASSERT_EQ(stored->AccountList.size(), 2u);
  EXPECT_EQ(stored->AccountList[0]->Name, "Shop");
  const TMailAccount& added = *stored->AccountList[1];
  EXPECT_EQ(added.Name, "New");
  EXPECT_EQ(added.Host, "pop.new.example");
  EXPECT_EQ(added.Port, "not a port");
  EXPECT_EQ(added.UserName, "me");
  EXPECT_EQ(added.Password, "p@ss");
  EXPECT_EQ(RawValue("Account\\1", "Enabled"), "0") << "Add stores a new account disabled";
  EXPECT_EQ(RawValue("Account\\0", "Enabled"), "0");
  EXPECT_EQ(AutoStartCommand(), "\"" + ExecutablePath() + "\"");

  // Unticked, OK removes the autostart entry again.
  TFormOptions again(nullptr);
  again.CBRunWhenStart->setChecked(false);
  again.btnOK->click();
  EXPECT_FALSE(fs::exists(AutoStartFilePath()));
}

TEST_F(OptionsDialog, RemovingEveryAccountLeavesAnEmptyAccountKey) {
  TFormOptions d(nullptr);
  while (d.LVAccounts->topLevelItemCount() > 0) {
    Select(d, 0);
    d.btnRemove->click();
  }
  d.btnOK->click();
  TRegistry reg;
  ASSERT_TRUE(reg.OpenRoot(false));
  EXPECT_TRUE(reg.KeyExists("Account"));
  EXPECT_TRUE(reg.SubKeys("Account").empty());
  EXPECT_TRUE(options.AccountList.empty());
}

TEST_F(OptionsDialog, CancelLeavesStoreAndOptionsAsTheyWere) {
  const std::string before = test::ReadFile(home.SettingsFile());
  for (int way = 0; way < 3; ++way) {
    SCOPED_TRACE(way);
    TFormOptions d(nullptr);
    ASSERT_TRUE(RunAccount(d.btnAdd, Named("Third", "pop.third.example")));
    Select(d, 0);
    ASSERT_TRUE(RunAccount(d.btnProperties, Named("Renamed")));
    Select(d, 1);
    d.btnRemove->click();
    d.CBRunWhenStart->setChecked(true);
    d.show();
    if (way == 0) d.btnCancel->click();
    else if (way == 1) QTest::keyClick(&d, Qt::Key_Escape);
    else d.close();
    EXPECT_EQ(d.result(), QDialog::Rejected);
  }
  EXPECT_EQ(test::ReadFile(home.SettingsFile()), before);
  ASSERT_EQ(options.AccountList.size(), 2u);
  EXPECT_EQ(options.AccountList[0]->Name, "My Order");
  EXPECT_EQ(options.AccountList[1]->Name, "Shop");
  EXPECT_FALSE(fs::exists(AutoStartFilePath()));
}

TEST_F(OptionsDialog, MinutesAreBroughtIntoRangeOnOk) {
  struct Case { const char* typed; const char* shown; int stored; };
  for (Case c : {Case{"0", "0", 1}, Case{"-5", "-5", 1}, Case{"", "", 1}, Case{"-", "-", 1},
                 Case{"42", "42", 42}, Case{"99999", "99999", 99999}, Case{"123456", "123456", 99999},
                 Case{"4x2", "42", 42}, Case{"1.5", "15", 15}}) {
    SCOPED_TRACE(c.typed);
    TFormOptions d(nullptr);
    d.SPECheckTime->clear();
    QTest::keyClicks(d.SPECheckTime, QString::fromLatin1(c.typed));
    EXPECT_EQ(d.SPECheckTime->cleanText(), QString::fromLatin1(c.shown)) << "only digits and '-' go in";
    d.btnOK->click();
    EXPECT_EQ(options.iCheckPaymentTime, c.stored);
    EXPECT_EQ(Stored()->iCheckPaymentTime, c.stored);
  }
}

TEST_F(OptionsDialog, LeavingTheMinutesBoxBringsItIntoRange) {
  TFormOptions d(nullptr);
  d.show();
  d.activateWindow();
  ASSERT_TRUE(test::WaitFor([&] { return QApplication::activeWindow() == &d; }));
  d.SPECheckTime->setFocus();
  d.SPECheckTime->clear();
  QTest::keyClicks(d.SPECheckTime, QStringLiteral("200000"));
  QTest::keyClick(d.SPECheckTime, Qt::Key_Tab);
  EXPECT_EQ(d.SPECheckTime->cleanText(), QStringLiteral("99999"));
}

TEST_F(OptionsDialog, UntickingTheScheduleGreysTheMinutesButStoresThem) {
  TFormOptions d(nullptr);
  d.SPECheckTime->setValue(30);
  d.CBCheckOnSchedule->click();
  EXPECT_FALSE(d.SPECheckTime->isEnabled());
  d.CBCheckOnSchedule->click();
  EXPECT_TRUE(d.SPECheckTime->isEnabled());
  d.CBCheckOnSchedule->click();
  d.btnOK->click();
  auto stored = Stored();
  EXPECT_FALSE(stored->bCheckPaymentOnSchedule);
  EXPECT_EQ(stored->iCheckPaymentTime, 30);

  TFormOptions reopened(nullptr);
  EXPECT_FALSE(reopened.SPECheckTime->isEnabled()) << "greyed from the start when unticked";
}

TEST_F(OptionsDialog, BrowseReplacesTheMailProgramWithThePickedFile) {
  TFormOptions d(nullptr);
  std::optional<QString> pick = QStringLiteral("/opt/mail/bin/client");
  d.OpenDialog1 = [&](QWidget* parent) {
    EXPECT_EQ(parent, &d);
    return pick;
  };
  d.btnBrowse->click();
  EXPECT_EQ(d.EditMailProgram->text(), QStringLiteral("/opt/mail/bin/client"));
  pick.reset();
  d.btnBrowse->click();
  EXPECT_EQ(d.EditMailProgram->text(), QStringLiteral("/opt/mail/bin/client")) << "cancelled: unchanged";
}

// A password is stored coded, so any bytes survive the store, also ones that are
// not UTF-8 (the box shows those as Latin-1). An OK without edits must give the
// very same bytes back, not their UTF-8 form.
TEST_F(OptionsDialog, UneditedPasswordKeepsItsBytes) {
  {
    TOptions s;
    s.AccountList.push_back(std::make_unique<TMailAccount>(
        TMailAccount{"Caf\xC3\xA9", "pop.example.com", "110", "user", "pa\xDF!", true}));
    s.StoreOptions();
  }
  TFormOptions d(nullptr);
  Select(d, 0);
  ASSERT_TRUE(RunAccount(d.btnProperties, [](TFormMailAccount& a) {
    EXPECT_EQ(a.EditAccount->text(), QString::fromUtf8("Caf\u00e9"));
    EXPECT_EQ(a.EditPassword->text(), QString::fromUtf8("pa\u00df!"));
  }));
  ASSERT_TRUE(RunAccount(d.btnAdd, [](TFormMailAccount& a) {
    a.EditAccount->setText(QStringLiteral("typed"));
    a.EditPassword->setText(QString::fromUtf8("gr\u00fc\u00df"));
  }));
  d.btnOK->click();
  auto stored = Stored();
  ASSERT_EQ(stored->AccountList.size(), 2u);
  EXPECT_EQ(stored->AccountList[0]->Name, "Caf\xC3\xA9");
  EXPECT_EQ(stored->AccountList[0]->Password, "pa\xDF!");
  EXPECT_EQ(stored->AccountList[1]->Password, "gr\xC3\xBC\xC3\x9F") << "typed text is UTF-8";
}

TEST_F(OptionsDialog, UnusableStoreShowsTheErrorButTheDialogStillWorks) {
  // The settings file's place is taken by a folder: it can be neither read nor written.
  fs::remove(home.SettingsFile());
  fs::create_directories(home.SettingsFile());
  TFormOptions d(nullptr);
  EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Can not open registry!"});
  d.btnOK->click();
  EXPECT_EQ(d.result(), QDialog::Accepted) << "still closes with OK";
  EXPECT_EQ(boxes.Texts(), (std::vector<std::string>{"Can not open registry!", "Can not open registry!"}));
}

}  // namespace
}  // namespace qnb
