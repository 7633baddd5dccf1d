// The main window end to end: real worker, real Dovecot, the example plug-in,
// on the offscreen platform. Message boxes go to a recording presenter.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

#include "TestConfig.h"
#include "app/CoolTrayIcon.h"
#include "app/MSNPopForm.h"
#include "app/fmMain.h"
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
    return WaitFor([&] { return !w.FbRunning; }, ms);
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
  EXPECT_EQ(w->btnCheck->text(), "Stop Checking");
  EXPECT_EQ(w->MICheckOrderNew->text(), "Stop Checking");
  EXPECT_TRUE(w->CTrayIcon->CycleIcons());
  ASSERT_TRUE(CheckEnds(*w));
  // The rebuild at the end makes the view equal to the order list.
  EXPECT_TRUE(WaitFor([&] {
    return w->OrderModel->rowCount() == 3 && w->OrderModel->Row(0).id.toStdString() == PayNimbusOrderID(1);
  }));
  EXPECT_EQ(w->btnCheck->text(), "Check Mail");
  EXPECT_EQ(w->sbPanel1->text(), "3 new payment(s) received");
  EXPECT_EQ(w->sbPanel2->text(), "3 payment(s)");
  EXPECT_EQ(w->OrderModel->Row(0).id.toStdString(), PayNimbusOrderID(1));
  EXPECT_EQ(w->OrderModel->Row(1).amount, AmountText(PayNimbusOrderFor(2).amount));
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_EQ(sounds[0].substr(sounds[0].size() - 20), "/Sound/ewpayment.wav");
  EXPECT_EQ(w->MSNPopForm->MessageText, "3 new payment(s) received");
  EXPECT_EQ(w->MSNPopForm->Title, "Quenbell");
  EXPECT_EQ(w->MSNPopForm->StayTime, 3500);
  // Not in front: the tray icon blinks with the new-payment images.
  EXPECT_EQ(w->CTrayIcon->IconList(), &w->ImgListNewNotify);
  EXPECT_TRUE(w->CTrayIcon->CycleIcons());
  EXPECT_EQ(w->FOmu, nullptr);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(MainWindow, ImapAccountInIdleIsCheckedAsSoonAsAPaymentArrives) {
  auto acc = std::make_unique<TMailAccount>(
      TMailAccount{"Shop", dove->Host(), std::to_string(dove->ImapPort()), "alice", "secret", true});
  acc->Protocol = protoImap;
  AppOption->AccountList.push_back(std::move(acc));
  auto w = Window();
  ASSERT_EQ(w->FWatches.size(), 1u);
  ASSERT_TRUE(WaitFor([&] { return w->FWatches[0]->State() == TImapWatch::wsIdling; }, 5000));
  EXPECT_FALSE(w->FbRunning);  // no schedule, no check asked for: the watch only waits
  const auto delivered = std::chrono::steady_clock::now();
  dove->AddMessage("alice", MakePayNimbusMail(31));
  ASSERT_TRUE(WaitFor([&] { return w->OrderModel->rowCount() == 1; }, 5000));
  EXPECT_LT(std::chrono::steady_clock::now() - delivered, std::chrono::milliseconds(3000));
  EXPECT_EQ(w->OrderModel->Row(0).id.toStdString(), PayNimbusOrderID(31));
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_TRUE(WaitFor([&] { return w->MSNPopForm->MessageText == "1 new payment(s) received"; }, 3000));
}

TEST_F(MainWindow, CheckThatFindsNothingIsQuiet) {
  dove->AddMessage("alice", "Subject: hello\r\n\r\nnot a payment\r\n");
  AddAccount("Shop", "alice", "secret");
  auto w = Window();
  w->btnCheckClick();
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_EQ(w->sbPanel1->text(), "0 new payment(s) received");
  EXPECT_TRUE(sounds.empty());
  EXPECT_FALSE(w->MSNPopForm->Form()->isVisible());
  EXPECT_EQ(w->CTrayIcon->IconList(), &w->ImgListCheck);
  EXPECT_FALSE(w->CTrayIcon->CycleIcons());
  EXPECT_EQ(w->CTrayIcon->IconIndex(), 0);
  EXPECT_TRUE(WaitFor([&] { return w->sbPanel2->text() == "0 payment(s)"; }));
  EXPECT_FALSE(w->sbProgress->isVisible());
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
  EXPECT_TRUE(WaitFor([&] { return w->OrderModel->rowCount() == 1; }));
  EXPECT_EQ(w->sbPanel2->text(), "1 payment(s)");
}

TEST_F(MainWindow, StopDuringACheckAndNoSecondWorkerWhileStopping) {
  for (int i = 0; i < 300; ++i) dove->AddMessage("alice", MakePayNimbusMail(500 + i));
  AddAccount("Shop", "alice", "secret");
  auto w = Window();
  w->btnCheckClick();
  ASSERT_TRUE(WaitFor([&] { return w->sbProgress->isVisible(); }));
  w->btnCheckClick();  // stop
  EXPECT_EQ(w->btnCheck->text(), "Check Mail");
  TGetMailThd* stopping = w->FOmu.get();
  w->btnCheckClick();  // stopping: refused
  w->OnMailAccountClick(0);
  EXPECT_EQ(w->FOmu.get(), stopping);
  ASSERT_TRUE(CheckEnds(*w));
  EXPECT_EQ(w->FOmu, nullptr);
  EXPECT_LT(w->OrderModel->rowCount(), 300);
  EXPECT_FALSE(w->sbProgress->isVisible());
}

TEST_F(MainWindow, ScheduleStartsChecksAndNoAccountsShowsTheHint) {
  AppOption->bCheckPaymentOnSchedule = true;
  AppOption->iCheckPaymentTime = 0;  // every tick
  auto w = Window();
  w->TimerAutoCheck.setInterval(20);
  ASSERT_TRUE(WaitFor([&] { return !boxes.boxes.empty(); }));
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Info);
  EXPECT_EQ(boxes.boxes[0].text, "Please add a mail account before checking payements.");

  dove->AddMessage("alice", MakePayNimbusMail(40));
  AddAccount("Shop", "alice", "secret");
  EXPECT_TRUE(WaitFor([&] { return w->OrderModel->rowCount() == 1; }));
}

TEST_F(MainWindow, ScheduleCountsTicksPerMinute) {
  AppOption->bCheckPaymentOnSchedule = true;
  AppOption->iCheckPaymentTime = 2;
  auto w = Window();
  w->TimerAutoCheck.stop();
  for (int i = 0; i < 19; ++i) w->TimerAutoCheckTimer();
  EXPECT_TRUE(boxes.boxes.empty());
  EXPECT_EQ(w->FTimeCount, 19);
  w->TimerAutoCheckTimer();  // 20 ticks of 6 s: two minutes
  EXPECT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(w->FTimeCount, 0);
  AppOption->bCheckPaymentOnSchedule = false;
  w->TimerAutoCheckTimer();
  EXPECT_EQ(w->FTimeCount, 0);
}

TEST_F(MainWindow, AccountMenuFollowsTheAccounts) {
  AddAccount("One", "alice", "secret");
  AddAccount("Two", "bob", "pw");
  auto w = Window();
  auto texts = [&] {
    std::vector<std::string> t;
    for (QAction* a : w->pmCheckMail->actions()) t.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    return t;
  };
  EXPECT_THAT(texts(), ElementsAre("Check All ...", "-", "One", "Two"));
  AppOption->AccountList.pop_back();
  w->RefreshAccountMenu();
  EXPECT_THAT(texts(), ElementsAre("Check All ...", "-", "One"));
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
  QLocale::setDefault(QLocale::c());
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

}  // namespace
}  // namespace qnb::test
