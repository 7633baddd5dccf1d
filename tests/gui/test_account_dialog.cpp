// Setting an account up in the account dialog: provider presets, the
// connection test in the background against a real Dovecot, and where the
// password is kept.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/AccountSetup.h"
#include "app/fmMailAccount.h"
#include "gui/GuiTestSupport.h"
#include "settings/PasswordStore.h"
#include "support/DovecotServer.h"

namespace qnb::test {
namespace {

TEST(AccountDialog, AddressOfAKnownProviderFillsTheServerButNeverOverAUsersOwn) {
  TMailAccount acc;
  acc.Port = "110";
  TFormMailAccount d(acc, nullptr);
  QTest::keyClicks(d.EditName, "shop@GMail.com");
  EXPECT_EQ(d.EditServer->text(), "pop.gmail.com");
  EXPECT_EQ(d.EditPort->text(), "995");
  EXPECT_EQ(d.CBSecurity->currentText(), "SSL/TLS");
  // The address changes to another provider: the filled-in server follows.
  d.EditName->clear();
  QTest::keyClicks(d.EditName, "shop@gmx.net");
  EXPECT_EQ(d.EditServer->text(), "pop.gmx.net");
  // A server of the user's own stays, whatever the address.
  d.EditServer->setText("mail.example.com");
  d.EditName->clear();
  QTest::keyClicks(d.EditName, "shop@yahoo.com");
  EXPECT_EQ(d.EditServer->text(), "mail.example.com");
  // An unknown domain changes nothing.
  TMailAccount other;
  other.Port = "110";
  TFormMailAccount e(other, nullptr);
  QTest::keyClicks(e.EditName, "me@example.org");
  EXPECT_EQ(e.EditServer->text(), "");
  EXPECT_EQ(e.EditPort->text(), "110");
}

class TUnansweringStore final : public TPasswordStore {
 public:
  bool Write(const std::string&, const std::string&, std::string&) override { return false; }
  TRead Read(const std::string&, std::string&, std::string&) override { return TRead::Failed; }
  bool Remove(const std::string&, std::string&) override { return false; }
  bool Available() override { return false; }
};

TEST(AccountDialog, SaysWhereThePasswordIsKept) {
  TMailAccount inKeyring;
  inKeyring.PasswordStore = ppKeyring;
  EXPECT_EQ(TFormMailAccount(inKeyring, nullptr).lblPasswordPlace->text(),
            "The password is kept in the desktop's keyring.");
  inKeyring.PasswordUnread = true;
  EXPECT_TRUE(TFormMailAccount(inKeyring, nullptr).lblPasswordPlace->text().contains("did not give it"));
  TUnansweringStore none;
  TPasswordStore* old = SetPasswordStore(&none);
  TMailAccount inFile;
  EXPECT_EQ(TFormMailAccount(inFile, nullptr).lblPasswordPlace->text(),
            "No keyring answers: the password is kept coded in the settings file.");
  SetPasswordStore(old);
}

TEST(AccountDialog, TestConnectionRunsInTheBackgroundAndShowsTheResult) {
  TDovecotServer dove(std::vector<TDovecotUser>{{"alice", "secret"}});
  dove.AddMessage("alice", "Subject: a\r\n\r\nx\r\n");
  dove.Start();
  TMailAccount acc;
  TFormMailAccount d(acc, nullptr);
  d.EditServer->setText(dove.Host());
  d.EditPort->setText(QString::number(dove.Port()));
  d.CBSecurity->setCurrentIndex(secNone);
  d.EditName->setText("alice");
  d.EditPassword->setText("wrong");
  d.TestPanel->btnTest->click();
  // The window goes on while the test runs.
  EXPECT_TRUE(d.TestPanel->Running());
  EXPECT_FALSE(d.TestPanel->btnTest->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return !d.TestPanel->Running(); }, 10000));
  EXPECT_TRUE(d.TestPanel->lblResult->text().startsWith("The server refused the log-in")) <<
      d.TestPanel->lblResult->text().toStdString();
  EXPECT_EQ(d.TestPanel->lblResult->textFormat(), Qt::PlainText);

  d.EditPassword->setText("secret");
  d.TestPanel->btnTest->click();
  ASSERT_TRUE(WaitFor([&] { return !d.TestPanel->Running(); }, 10000));
  EXPECT_EQ(d.TestPanel->lblResult->text(), "Connected without encryption, 1 message");
  // Only OK takes the fields over.
  EXPECT_EQ(acc.Host, "");
}

TEST(AccountDialog, ClosingTheDialogDuringATestIsSafe) {
  TMailAccount acc;
  auto d = std::make_unique<TFormMailAccount>(acc, nullptr);
  d->EditServer->setText("127.0.0.1");
  d->EditPort->setText("1");  // refused at once, or soon
  d->TestPanel->btnTest->click();
  d.reset();
  QTest::qWait(300);  // the result arrives for no one
}

}  // namespace
}  // namespace qnb::test
