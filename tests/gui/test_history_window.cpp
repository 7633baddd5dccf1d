// The main window over the order history: restarts, the whole-history view
// with search, dates, sorting, details, export and totals, "Analyse again",
// desktop notifications, and a damaged history file. Real worker, real
// Dovecot, the example plug-in, SQLite files on disk, offscreen.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTreeView>

#include <fstream>

#include "TestConfig.h"
#include "app/OrderModel.h"
#include "app/fmMain.h"
#include "app/fmOrderDetails.h"
#include "gui/GuiTestSupport.h"
#include "history/OrderTotals.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"
#include "support/DovecotServer.h"
#include "support/PayNimbusMail.h"
#include "support/RecordingPresenter.h"
#include "support/TempDir.h"

namespace qnb::test {
namespace {

using ::testing::HasSubstr;

std::vector<std::string> ShownIds(const TOrderModel& m) {
  std::vector<std::string> ids;
  for (int i = 0; i < m.rowCount(); ++i) ids.push_back(m.Row(i).id.toStdString());
  return ids;
}

TOrderData Stored(const std::string& id, TDateTime date, TCurrency amount, const std::string& currency,
                  const std::string& buyer, const std::string& email) {
  TOrderData o;
  o.FromAccount = "Shop";
  o.UID = "uid-" + id;
  o.OrderID = id;
  o.PurchaseDate = date;
  o.Amount = amount;
  o.Currency = currency;
  o.Name = buyer;
  o.Email = email;
  o.Product_Name = "Tray Sounds Pack";
  o.Quantity = 1;
  return o;
}

class HistoryWindow : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dove = new TDovecotServer(std::vector<TDovecotUser>{{"alice", "secret"}});
    dove->Start();
  }
  static void TearDownTestSuite() {
    delete dove;
    dove = nullptr;
  }
  void SetUp() override {
    dove->ClearMailbox("alice");
    AppOption->sMailProgram = "true";
    AppOption->bCheckPaymentWhenOpening = false;
    AppOption->bCheckPaymentOnSchedule = false;
    AppOption->bMinToTray = true;
  }
  void AddAccount() {
    AppOption->AccountList.push_back(std::make_unique<TMailAccount>(
        TMailAccount{"Shop", dove->Host(), std::to_string(dove->Port()), "alice", "secret", true}));
  }
  std::unique_ptr<TFormMain> Window() {
    auto w = std::make_unique<TFormMain>();
    w->PluginDir = QUENBELL_PLUGIN_DIR;
    w->PlaySound = [this](const QString& f) { sounds.push_back(f.toStdString()); };
    w->SendNotification = [this](const TNotification& n) { notes.push_back(n); };
    w->InitMain();
    return w;
  }
  bool Check(TFormMain& w) {
    w.btnCheckClick();
    return WaitFor([&] { return !w.Running(); }, 15000) && WaitFor([&] {
             return w.Ui().sbPanel2->text() == QStringLiteral("%1 payment(s)").arg(w.Model().rowCount());
           });
  }
  // What a new start of the program finds: the process memory is gone.
  void Restart() {
    delete OldUIDs;
    OldUIDs = new TUidlList();
  }

  TTempConfigHome home;
  TRecordingPresenter boxes;
  TQnbProcessObjects objects;
  std::vector<std::string> sounds;
  std::vector<TNotification> notes;
  static TDovecotServer* dove;
};
TDovecotServer* HistoryWindow::dove = nullptr;

TEST_F(HistoryWindow, AfterARestartOnlyNewPaymentsAreAnnounced) {
  for (int i = 1; i <= 2; ++i) dove->AddMessage("alice", MakePayNimbusMail(i));
  AddAccount();
  {
    auto w = Window();
    ASSERT_TRUE(Check(*w));
    EXPECT_EQ(w->Ui().sbPanel1->text(), "2 new payment(s) received");
    // The claimed mail is kept as the server sent it.
    const auto stored = w->History()->Query({});
    ASSERT_EQ(stored.size(), 2u);
    TStrings source;
    ASSERT_TRUE(w->History()->MailSource(stored[0].Id, source));
    std::string joined;
    for (const auto& l : source) joined += l + "\r\n";
    std::string mail = MakePayNimbusMail(1);
    if (mail.size() < 2 || mail.compare(mail.size() - 2, 2, "\r\n") != 0) mail += "\r\n";
    EXPECT_EQ(joined, mail);
  }
  Restart();
  dove->AddMessage("alice", MakePayNimbusMail(3));
  auto w = Window();
  // Restored before any check.
  EXPECT_EQ(ShownIds(w->Model()), (std::vector<std::string>{PayNimbusOrderID(1), PayNimbusOrderID(2)}));
  ASSERT_TRUE(Check(*w));
  EXPECT_EQ(w->Ui().sbPanel1->text(), "1 new payment(s) received");
  EXPECT_EQ(w->Model().rowCount(), 3);
  EXPECT_EQ(sounds.size(), 2u);
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HistoryWindow, WithTheOptionOffEveryStartBeginsAfresh) {
  AppOption->bRememberPayments = false;
  for (int i = 1; i <= 2; ++i) dove->AddMessage("alice", MakePayNimbusMail(i));
  AddAccount();
  {
    auto w = Window();
    ASSERT_TRUE(Check(*w));
  }
  Restart();
  auto w = Window();
  EXPECT_EQ(w->Model().rowCount(), 0);
  EXPECT_EQ(w->History(), nullptr);
  ASSERT_TRUE(Check(*w));
  EXPECT_EQ(w->Ui().sbPanel1->text(), "2 new payment(s) received");
  EXPECT_FALSE(std::filesystem::exists(home.DataHome() / "Varnett" / "Qnb" / "history.sqlite"));
}

TEST_F(HistoryWindow, WholeHistorySearchDatesSortingDetailsExportAndTotals) {
  const TDateTime today = StartOfDay(NowDateTime()) + 0.5;
  {
    TOrderHistory h;
    ASSERT_TRUE(h.Open());
    h.OrderFound(Stored("A-1", today, 499000, "EUR", "Jane Example", "jane@example.com"), {"x"});
    h.OrderFound(Stored("A-2", today - 40, 349000, "USD", "Max Sample", "max@example.org"), {"x"});
    h.OrderFound(Stored("A-3", today, 120000, "CHF", "Lee, \"Junior\"", "lee@example.net"), {"x"});
    h.OrdersLeftList({Stored("A-2", 0, 0, "", "", "")});
  }
  auto w = Window();
  // The list shows the payments on the server; the history everything.
  EXPECT_EQ(ShownIds(w->Model()), (std::vector<std::string>{"A-1", "A-3"}));
  w->Ui().cbView->setCurrentIndex(1);
  EXPECT_EQ(ShownIds(w->Model()), (std::vector<std::string>{"A-2", "A-1", "A-3"}));
  EXPECT_EQ(w->Ui().sbPanel2->text(), "3 payment(s)");

  w->Ui().edSearch->setText("MAX@");
  EXPECT_EQ(ShownIds(w->Model()), std::vector<std::string>{"A-2"});
  w->Ui().edSearch->setText("");
  w->Ui().deFrom->setDate(QDate::currentDate().addDays(-7));
  w->Ui().deTo->setDate(QDate::currentDate());
  w->Ui().cbDates->setChecked(true);
  EXPECT_EQ(ShownIds(w->Model()), (std::vector<std::string>{"A-1", "A-3"}));
  w->Ui().cbDates->setChecked(false);

  // A click on a header sorts by that column; amounts by currency, then value.
  w->Ui().lvOrders->sortByColumn(TOrderModel::colAmount, Qt::AscendingOrder);
  EXPECT_EQ(ShownIds(w->Model()), (std::vector<std::string>{"A-3", "A-1", "A-2"}));
  w->Ui().lvOrders->sortByColumn(TOrderModel::colDate, Qt::DescendingOrder);
  EXPECT_EQ(ShownIds(w->Model()).back(), "A-2");
  EXPECT_EQ(w->Model().Row(2).amount, "$34.90");

  TModalAnswer<TFormOrderDetails> details([](TFormOrderDetails& d) {
    EXPECT_EQ(d.Value("Email"), "max@example.org");
    EXPECT_EQ(d.Value("Amount"), "$34.90");
    EXPECT_EQ(d.Value("OnServer"), "No");
    d.reject();
  });
  w->ShowDetails(2);
  EXPECT_TRUE(details.found);

  TTempDir out;
  QString chosen = QString::fromStdString((out.Path() / "view.csv").string());
  w->ChooseExportFile = [&](const QString&, const QString&) { return chosen; };
  w->Ui().edSearch->setText("example.net");
  w->ExportView(false);
  const std::string csv = ReadFile(chosen.toStdString());
  EXPECT_EQ(csv.rfind("UID,FromAccount,OrderID,", 0), 0u) << csv;
  EXPECT_THAT(csv, HasSubstr(",A-3,\"Lee, \"\"Junior\"\"\",lee@example.net,"));
  EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
  w->Ui().edSearch->setText("");
  chosen = QString::fromStdString((out.Path() / "view.json").string());
  w->ExportView(true);
  const QJsonArray all = QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(chosen.toStdString()))).array();
  ASSERT_EQ(all.size(), 3);
  EXPECT_EQ(all[2].toObject()["OrderID"].toString(), "A-2");
  EXPECT_EQ(all[2].toObject()["Amount"].toString(), "34.9000");
  EXPECT_EQ(all[2].toObject()["OnServer"].toBool(), false);

  EXPECT_THAT(w->TotalsText().toStdString(),
              HasSubstr(QStringLiteral("Today: 12.00 CHF \u00b7 \u20ac49.90 (2 payments)").toStdString()));
  EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(HistoryWindow, AnalyseAgainRereadsTheStoredMail) {
  const TPayNimbusOrder truth = PayNimbusOrderFor(21);
  {
    TOrderHistory h;
    ASSERT_TRUE(h.Open());
    TOrderData wrong = Stored(truth.orderID, 46000, 10000, "USD", "Somebody Else", "wrong@example.com");
    TStrings lines;
    const std::string mail = MakePayNimbusMail(21);
    for (size_t b = 0; b < mail.size();) {
      size_t e = mail.find("\r\n", b);
      if (e == std::string::npos) e = mail.size();
      lines.push_back(mail.substr(b, e - b));
      b = e + 2;
    }
    h.OrderFound(wrong, lines);
  }
  auto w = Window();
  ASSERT_EQ(w->Model().rowCount(), 1);
  w->Ui().lvOrders->selectAll();
  w->AnalyseAgainSelected();
  EXPECT_TRUE(boxes.boxes.empty()) << boxes.boxes[0].text;
  EXPECT_EQ(w->Ui().sbPanel1->text(), "1 stored mail(s) analysed again");
  EXPECT_EQ(w->Model().Entry(0).Record().Order.Email.str(), truth.email);
  EXPECT_EQ(w->Model().Row(0).amount, AmountText(truth.amount, "EUR"));
  const auto stored = w->History()->Query({});
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].Order.Email.str(), truth.email);
  EXPECT_EQ(stored[0].Order.UID, "uid-" + truth.orderID);
}

TEST_F(HistoryWindow, ADesktopNotificationCarriesThePaymentsGrouped) {
  AppOption->bDesktopNotify = true;
  for (int i = 1; i <= 7; ++i) dove->AddMessage("alice", MakePayNimbusMail(30 + i));
  AddAccount();
  auto w = Window();
  ASSERT_TRUE(Check(*w));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].Summary, "7 new payment(s) received");
  const QStringList lines = notes[0].Body.split('\n');
  ASSERT_EQ(lines.size(), 6);
  const TPayNimbusOrder first = PayNimbusOrderFor(31);
  EXPECT_EQ(lines[0], AmountText(first.amount, "EUR") + QStringLiteral(" \u00b7 ") +
                          QString::fromStdString(first.buyerName) + QStringLiteral(" \u00b7 ") +
                          QString::fromStdString(first.product));
  EXPECT_EQ(lines[5], "and 2 more");
  // Nothing new: nothing sent.
  ASSERT_TRUE(Check(*w));
  EXPECT_EQ(notes.size(), 1u);
}

TEST_F(HistoryWindow, ADamagedHistoryIsReportedOnceAndANewOneServes) {
  const auto dir = home.DataHome() / "Varnett" / "Qnb";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "history.sqlite") << std::string(5000, '\x01');
  dove->AddMessage("alice", MakePayNimbusMail(50));
  AddAccount();
  auto w = Window();
  ASSERT_TRUE(WaitFor([&] { return !boxes.boxes.empty(); }));
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].kind, TBoxKind::Error);
  EXPECT_THAT(boxes.boxes[0].text, HasSubstr("It was kept as"));
  ASSERT_NE(w->History(), nullptr);
  ASSERT_TRUE(Check(*w));
  EXPECT_EQ(w->History()->Count(), 1);
  EXPECT_EQ(boxes.boxes.size(), 1u);
}

}  // namespace
}  // namespace qnb::test
