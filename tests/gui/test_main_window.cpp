// The main window end to end: real worker, real Dovecot, the example plug-in,
// on the offscreen platform. Message boxes go to a recording presenter.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "TestConfig.h"
#include "app/CoolTrayIcon.h"
#include "app/AccountStateView.h"
#include "app/MSNPopForm.h"
#include "app/OrderModel.h"
#include "app/NoAccountHint.h"
#include "app/fmMailAccount.h"
#include "app/fmMain.h"
#include "app/fmOptions.h"
#include "gui/GuiTestSupport.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"
#include "mailcheck/ImapWatch.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

using ::testing::ElementsAre;

class MainWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dove = new TDovecotServer(std::vector<TDovecotUser>{{"alice", "secret"}, {"bob", "pw"}});
    dove->UseImap();
    dove->Start();
  }
  static void TearDownTestSuite() {
    delete dove;
    dove = nullptr;
  }
  void SetUp() override {
    dove->ClearMailbox("alice");
    dove->ClearMailbox("bob");
    AppOption->sMailProgram = "true";  // keeps the store from asking the desktop
    AppOption->bCheckPaymentWhenOpening = false;
    AppOption->bCheckPaymentOnSchedule = false;
    AppOption->bMinToTray = true;
  }
  void AddAccount(const std::string& name, const std::string& user, const std::string& pass) {
    AppOption->AccountList.push_back(std::make_unique<TMailAccount>(
        TMailAccount{name, dove->Host(), std::to_string(dove->Port()), user, pass, true}));
  }
  // A window set up as InitMain does, with the sound observed.
  std::unique_ptr<TFormMain> Window() {
    auto w = std::make_unique<TFormMain>();
    w->PluginDir = QUENBELL_PLUGIN_DIR;
    w->PlaySound = [this](const QString& f) { sounds.push_back(f.toStdString()); };
    w->InitMain();
    return w;
  }
  bool CheckEnds(TFormMain& w, int ms = 15000) {
    return WaitFor([&] { return !w.Running(); }, ms);
  }

  TTempConfigHome home;
  TRecordingPresenter boxes;
  TQnbProcessObjects objects;
  std::vector<std::string> sounds;
  static TDovecotServer* dove;
};
TDovecotServer* MainWindow::dove = nullptr;

TEST_F(MainWindow, CheckWithPaymentsFillsTheListAndAnnouncesThem) {
  dove->AddMessage("alice", "Subject: hello\r\n\r\nnot a payment\r\n");
  for (int i = 1; i <= 3; ++i) dove->AddMessage("alice", MakePayNimbusMail(i));
  AddAccount("Shop", "alice", "secret");
  auto w = Window();
  // Not in front: the activation that followed the first show is delivered first.
  QTest::qWait(100);
  w->hide();
  QTest::qWait(100);
  ASSERT_FALSE(w->isActiveWindow());
  w->btnCheckClick();
  EXPECT_EQ(w->Ui().btnCheck->text(), "Stop Checking");
  EXPECT_EQ(w->Ui().MICheckOrderNew->text(), "Stop Checking");
  EXPECT_TRUE(w->Ui().CTrayIcon->CycleIcons());
  ASSERT_TRUE(CheckEnds(*w));
  // The rebuild at the end makes the view equal to the order list.
  EXPECT_TRUE(WaitFor([&] {
    return w->Model().rowCount() == 3 && w->Model().Row(0).id.toStdString() == PayNimbusOrderID(1);
  }));
  EXPECT_EQ(w->Ui().btnCheck->text(), "Check Mail");
  EXPECT_EQ(w->Ui().sbPanel1->text(), "3 new payment(s) received");
  EXPECT_EQ(w->Ui().sbPanel2->text(), "3 payment(s)");
  EXPECT_EQ(w->Model().Row(0).id.toStdString(), PayNimbusOrderID(1));
  EXPECT_EQ(w->Model().Row(1).amount, AmountText(PayNimbusOrderFor(2).amount, "EUR"));
  EXPECT_TRUE(w->Model().Row(1).amount.startsWith(QStringLiteral("\u20ac"))) << w->Model().Row(1).amount.toStdString();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].substr(sounds[0].size() - 20), "/Sound/ewpayment.wav");
  EXPECT_EQ(w->Ui().MSNPopForm->MessageText, "3 new payment(s) received");
  EXPECT_EQ(w->Ui().MSNPopForm->Title, "Quenbell");
  EXPECT_EQ(w->Ui().MSNPopForm->StayTime, 3500);
  // Not in front: the tray icon blinks with the new-payment images.
  EXPECT_EQ(w->Ui().CTrayIcon->IconList(), &w->NewOrderImages());
  EXPECT_TRUE(w->Ui().CTrayIcon->CycleIcons());
  EXPECT_EQ(w->Worker(), nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, ImapAccountInIdleIsCheckedAsSoonAsAPaymentArrives) {
  auto acc = std::make_unique<TMailAccount>(
      TMailAccount{"Shop", dove->Host(), std::to_string(dove->ImapPort()), "alice", "secret", true});
  acc->Protocol = protoImap;
  AppOption->AccountList.push_back(std::move(acc));
  auto w = Window();
  ASSERT_EQ(w->Watches().size(), 1u);
  ASSERT_TRUE(WaitFor([&] { return w->Watches()[0]->State() == TImapWatch::wsIdling; }, 5000));
  EXPECT_FALSE(w->Running());  // no schedule, no check asked for: the watch only waits
  const auto delivered = std::chrono::steady_clock::now();
  dove->AddMessage("alice", MakePayNimbusMail(31));
  ASSERT_TRUE(WaitFor([&] { return w->Model().rowCount() == 1; }, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - delivered, std::chrono::milliseconds(3000));
  EXPECT_EQ(w->Model().Row(0).id.toStdString(), PayNimbusOrderID(31));
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_TRUE(WaitFor([&] { return w->Ui().MSNPopForm->MessageText == "1 new payment(s) received"; }, 3000));
}

TEST_F(MainWindow, CheckThatFindsNothingIsQuiet) {
  dove->AddMessage("alice", "Subject: hello\r\n\r\nnot a payment\r\n");
  AddAccount("Shop", "alice", "secret");
  auto w = Window();
  w->btnCheckClick();
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_EQ(w->Ui().sbPanel1->text(), "0 new payment(s) received");
  EXPECT_TRUE(sounds.empty());
  EXPECT_FALSE(w->Ui().MSNPopForm->Form()->isVisible());
  EXPECT_EQ(w->Ui().CTrayIcon->IconList(), &w->CheckImages());
  EXPECT_FALSE(w->Ui().CTrayIcon->CycleIcons());
  EXPECT_EQ(w->Ui().CTrayIcon->IconIndex(), 0);
  EXPECT_TRUE(WaitFor([&] { return w->Ui().sbPanel2->text() == "0 payment(s)"; }));
  EXPECT_FALSE(w->Ui().sbProgress->isVisible());
}

TEST_F(MainWindow, LoginFailureOnOneOfTwoAccountsShowsOneBoxAndTheRunEnds) {
  dove->AddMessage("bob", MakePayNimbusMail(9));
  AddAccount("Broken", "alice", "wrong-password");
  AddAccount("Second", "bob", "pw");
  auto w = Window();
  w->btnCheckClick();
  ASSERT_TRUE(CheckEnds(*w));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
  EXPECT_EQ(boxes.boxes[0].text.rfind("Login failed of account \"Broken\"!", 0), 0u);
  EXPECT_TRUE(WaitFor([&] { return w->Model().rowCount() == 1; }));
  EXPECT_EQ(w->Ui().sbPanel2->text(), "1 payment(s)");
}

TEST_F(MainWindow, StopDuringACheckAndNoSecondWorkerWhileStopping) {
  // Enough mails that the check is still running when the stop comes.
  constexpr int kMails = 1500;
  for (int i = 0; i < kMails; ++i) dove->AddMessage("alice", MakePayNimbusMail(500 + i));
  AddAccount("Shop", "alice", "secret");
  auto w = Window();
  w->btnCheckClick();
  ASSERT_TRUE(WaitFor([&] { return w->Ui().sbProgress->isVisible(); }));
  w->btnCheckClick();  // stop
  EXPECT_EQ(w->Ui().btnCheck->text(), "Check Mail");
  const TGetMailThd* stopping = w->Worker();
  w->btnCheckClick();  // stopping: refused
  w->OnMailAccountClick(0);
  EXPECT_EQ(w->Worker(), stopping);
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_EQ(w->Worker(), nullptr);
  EXPECT_LT(w->Model().rowCount(), kMails);
  EXPECT_FALSE(w->Ui().sbProgress->isVisible());
}

TEST_F(MainWindow, ScheduleStartsChecksAndNoAccountsShowsTheHint) {
  AppOption->bCheckPaymentOnSchedule = true;
  AppOption->iCheckPaymentTime = 0;  // every tick
  auto w = Window();
  w->ScheduleTimer().setInterval(20);
  ASSERT_TRUE(WaitFor([&] { return !boxes.boxes.empty(); }));
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Info);
  EXPECT_EQ(boxes.boxes[0].text, "Please add a mail account before checking payements.");

  dove->AddMessage("alice", MakePayNimbusMail(40));
  AddAccount("Shop", "alice", "secret");
  EXPECT_TRUE(WaitFor([&] { return w->Model().rowCount() == 1; }));
}

TEST_F(MainWindow, ScheduleCountsTicksPerMinute) {
  AppOption->bCheckPaymentOnSchedule = true;
  AppOption->iCheckPaymentTime = 2;
  auto w = Window();
  w->ScheduleTimer().stop();
  for (int i = 0; i < 19; ++i) w->TimerAutoCheckTimer();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(w->TimeCount(), 19);
  w->TimerAutoCheckTimer();  // 20 ticks of 6 s: two minutes
  EXPECT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(w->TimeCount(), 0);
  AppOption->bCheckPaymentOnSchedule = false;
  w->TimerAutoCheckTimer();
  EXPECT_EQ(w->TimeCount(), 0);
}

TEST_F(MainWindow, AccountMenuFollowsTheAccounts) {
  AddAccount("One", "alice", "secret");
  AddAccount("Two", "bob", "pw");
  auto w = Window();
  auto texts = [&] {
    std::vector<std::string> t;
    for (QAction* a : w->Ui().pmCheckMail->actions()) t.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return t;
  };
  EXPECT_THAT(texts(), ElementsAre("Check All ...", "-", "One", "Two"));
  AppOption->AccountList.pop_back();
  w->RefreshAccountMenu();
  EXPECT_THAT(texts(), ElementsAre("Check All ...", "-", "One"));
}

// A loopback port nobody listens on: connections to it are refused at once.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

// A failure that used to leave no trace once the run was over (no box comes
// for it) marks the tray icon until the account is checked fine again, also
// across a restart of the program.
TEST_F(MainWindow, FailedAccountMarksTheTrayUntilItsNextCheckSucceeds) {
  dove->AddMessage("alice", MakePayNimbusMail(61));
  AddAccount("Shop", "alice", "secret");
  AppOption->AccountList.push_back(std::make_unique<TMailAccount>(
      TMailAccount{"Down <b>now</b>", "127.0.0.1", std::to_string(ClosedPort()), "u", "p", true}));
  {
    auto w = Window();
    EXPECT_FALSE(w->Ui().CTrayIcon->ErrorMark());
    EXPECT_EQ(w->Ui().CTrayIcon->Hint(), "Quenbell");
    w->btnCheckClick();
    ASSERT_TRUE(CheckEnds(*w));
    EXPECT_EQ(w->Ui().sbPanel1->text(), "1 new payment(s) received");
    EXPECT_EQ(w->Ui().sbPanel1->textFormat(), Qt::PlainText);
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_TRUE(w->Ui().CTrayIcon->ErrorMark());
    const QString hint = w->Ui().CTrayIcon->Hint();
    EXPECT_TRUE(hint.contains("Down <b>now</b>")) << hint.toStdString();
    EXPECT_FALSE(hint.contains("Shop")) << hint.toStdString();
    EXPECT_FALSE(Qt::mightBeRichText(hint));  // the name shows as typed
    const TAccountState* down = w->AccountStates().Book().Find("Down <b>now</b>");
    ASSERT_NE(down, nullptr);
    EXPECT_EQ(down->Caption, "Can not connect host.");
    ASSERT_NE(w->AccountStates().Book().Find("Shop"), nullptr);
    EXPECT_EQ(w->AccountStates().Book().Find("Shop")->NewPayments, 1);
  }
  // After a restart the mark is still there; the repaired account clears it.
  auto w = Window();
  EXPECT_TRUE(w->Ui().CTrayIcon->ErrorMark());
  AppOption->AccountList[1]->Host = dove->Host();
  AppOption->AccountList[1]->Port = std::to_string(dove->Port());
  AppOption->AccountList[1]->UserName = "bob";
  AppOption->AccountList[1]->Password = "pw";
  w->btnCheckClick();
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_FALSE(w->Ui().CTrayIcon->ErrorMark());
  EXPECT_EQ(w->Ui().CTrayIcon->Hint(), "Quenbell");
  // An account that is removed takes its state with it.
  AppOption->AccountList.pop_back();
  w->RefreshAccountMenu();
  EXPECT_EQ(w->AccountStates().Book().Find("Down <b>now</b>"), nullptr);
}

TEST_F(MainWindow, WithoutAccountsTheWindowSaysHowToAddOne) {
  auto w = Window();
  w->show();
  ASSERT_TRUE(w->Ui().NoAccountHint->isVisible());
  // The button leads through the options dialog straight into a new account.
  TModalAnswer<TFormMailAccount> account([&](TFormMailAccount& d) {
    d.EditAccount->setText("Shop");
    d.EditServer->setText(QString::fromStdString(dove->Host()));
    d.btnOK->click();
  });
  QTimer okOptions;
  okOptions.setInterval(5);
  QObject::connect(&okOptions, &QTimer::timeout, [&] {
    auto* o = qobject_cast<TFormOptions*>(QApplication::activeModalWidget());
    // Once the new account's row is there.
    if (!o || !account.found || o->LVAccounts->topLevelItemCount() == 0) return;
    okOptions.stop();
    EXPECT_EQ(o->PageControl->tabText(o->PageControl->currentIndex()), "Mail Accounts");
    o->btnOK->click();
  });
  okOptions.start();
  w->Ui().NoAccountHint->btnAddAccount->click();
  EXPECT_TRUE(account.found);
  ASSERT_EQ(AppOption->AccountList.size(), 1u);
  EXPECT_EQ(AppOption->AccountList[0]->Name, "Shop");
  EXPECT_FALSE(w->Ui().NoAccountHint->isVisible());
  EXPECT_EQ(w->Ui().pmCheckMail->actions().size(), 3);
}

TEST_F(MainWindow, ExitAsksAndNoKeepsTheWindow) {
  auto w = Window();
  w->show();
  boxes.answers = {false};
  w->close();
  EXPECT_TRUE(w->isVisible());
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text, "Are you sure to exit?");
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Sure);
}

TEST_F(MainWindow, MailProgramIsSplitAndStartedWithoutAShell) {
  auto w = Window();
  std::vector<std::pair<QString, QStringList>> started;
  w->StartProgram = [&](const QString& p, const QStringList& a) { started.emplace_back(p, a); };
  setenv("QNB_TEST_DIR", "/opt/mail", 1);
  AppOption->sMailProgram = "\"$QNB_TEST_DIR/my mail\" -compose \"a b\" ;rm -rf /";
  w->btnMailProgramClick();
  AppOption->sMailProgram = "";
  w->btnMailProgramClick();
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].first, "/opt/mail/my mail");
  EXPECT_EQ(started[0].second, (QStringList{"-compose", "a b", ";rm", "-rf", "/"}));
}

TEST(GetCmdParam, SplitsAtTheFirstBlankOutsideQuotes) {
  struct Case { const char* line; const char* cmd; const char* param; };
  const Case cases[] = {
      {"\"C:\\Program Files\\Mail\\mail.exe\" /compose", "\"C:\\Program Files\\Mail\\mail.exe\"", "/compose"},
      {"mutt", "mutt", ""},
      {"\"unterminated quote and more", "\"unterminated quote and more", ""},
      {"prog  two-blanks", "prog", " two-blanks"},
      {" leading", "", "leading"},
      {"a\"b c\"d e", "a\"b c\"d", "e"},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string cmd, param;
    GetCmdParam(c.line, cmd, param);
    EXPECT_EQ(cmd, c.cmd) << c.line;
    EXPECT_EQ(param, c.param) << c.line;
  }
}

TEST(OrderModel, AmountsAndRowColours) {
  QLocale::setDefault(QLocale::c());
  EXPECT_EQ(AmountText(123456789), "$12345.68");
  EXPECT_EQ(AmountText(-5000), "$-0.50");
  QLocale::setDefault(QLocale(QLocale::German));
  EXPECT_EQ(AmountText(123456789), "$12345,68");  // no thousands separator
  EXPECT_EQ(AmountText(499000, "EUR"), QStringLiteral("\u20ac49,90"));
  QLocale::setDefault(QLocale::c());
  struct Case { TCurrency amount; const char* currency; QString text; };
  const Case cases[] = {
      {499000, "EUR", QStringLiteral("\u20ac49.90")}, {349000, "USD", "$34.90"}, {349000, "", "$34.90"},
      {499000, "CHF", "49.90 CHF"}, {100000, "gbp", QStringLiteral("\u00a310.00")}, {-5000, "EUR", QStringLiteral("\u20ac-0.50")},
  };
  for (const Case& c : cases) EXPECT_EQ(AmountText(c.amount, c.currency), c.text) << c.currency;
  TOrderModel m;
  TOrderData a, b;
  a.OrderID = "A";
  b.OrderID = "B";
  m.Append(a);
  m.Append(b);
  EXPECT_EQ(m.data(m.index(0, 0), Qt::BackgroundRole).value<QColor>(), QColor(Qt::white));
  EXPECT_EQ(m.data(m.index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(230, 237, 251));
  EXPECT_EQ(m.data(m.index(0, 4), Qt::TextAlignmentRole).toInt() & Qt::AlignRight, Qt::AlignRight);
  EXPECT_EQ(m.headerData(3, Qt::Horizontal, Qt::DisplayRole).toString(), "Quantity");
}


// The list's orders are read in place until copied; once copied, what the
// list does to them no longer reaches the view.
TEST(OrderModel, BorrowedOrdersAreShownSearchedAndKeptOnceCopied) {
  std::vector<std::unique_ptr<TOrderData>> list;
  const char* const buyers[] = {"Jane Example", "J\xc3\x9cRGEN M\xc3\x9cLLER", "Max Sample"};
  for (int i = 0; i < 3; ++i) {
    auto o = std::make_unique<TOrderData>();
    o->OrderID = "B-" + std::to_string(i + 1);
    o->Name = buyers[i];
    o->Email = "buyer" + std::to_string(i + 1) + "@example.com";
    o->Amount = (i + 1) * 100000;
    o->Currency = "EUR";
    list.push_back(std::move(o));
  }
  TOrderModel m;
  m.Borrow(list);
  ASSERT_EQ(m.rowCount(), 3);
  EXPECT_EQ(m.data(m.index(1, TOrderModel::colAmount), Qt::DisplayRole).toString(), QStringLiteral("\u20ac20.00"));
  m.SetFilter(QStringLiteral("j\u00fcrgen m\u00fcller"), 0, 0);  // any case, beyond ASCII
  ASSERT_EQ(m.rowCount(), 1);
  EXPECT_EQ(m.Row(0).id, "B-2");
  m.SetFilter({}, 0, 0);
  m.sort(TOrderModel::colID, Qt::DescendingOrder);
  EXPECT_EQ(m.Row(0).id, "B-3");
  m.CopyBorrowed();
  for (auto& o : list) {
    o->OrderID = "changed";
    o->Name = "changed";
  }
  list.clear();
  std::vector<std::string> ids;
  for (int i = 0; i < m.rowCount(); ++i) ids.push_back(m.Entry(i).Record().Order.OrderID.str());
  EXPECT_EQ(ids, (std::vector<std::string>{"B-3", "B-2", "B-1"}));
  m.SetFilter(QStringLiteral("max sample"), 0, 0);
  ASSERT_EQ(m.rowCount(), 1);
  EXPECT_EQ(m.Entry(0).Record().Order.Name.str(), "Max Sample");
}
}  // namespace
}  // namespace qnb::test
