// The order history at 100,000 stored orders: storing one order, the window's
// start to shown (against an empty history), switching to the whole history,
// and a search keystroke to the filtered view. On the offscreen platform, in
// one process, each figure the median of a few tries.
//
//   bench_history [--orders N] [--on-server N] [--tries N]
//
// Defaults: 100000 orders, of which the last 2000 still on the server (the
// rest left it), 5 tries. The window is measured against a history with
// --on-server orders on the server and against one with all of them there.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTreeView>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/OrderModel.h"
#include "app/fmMain.h"
#include "history/OrderHistory.h"
#include "mailcheck/OldUIDs.h"
#include "mailcheck/QnbGlobals.h"
#include "settings/QnbBase.h"
#include "settings/VrDiag.h"
#include "support/PayNimbusMail.h"
#include "support/TempDir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Message boxes would wait for a click: none is expected, each is printed.
class TPrintingPresenter final : public qnb::TMessagePresenter {
 public:
  bool Show(qnb::TBoxKind, const std::string&, const std::string& text) override {
    std::fprintf(stderr, "bench_history: message: %s\n", text.c_str());
    return true;
  }
};

qnb::TStrings Lines(const std::string& mail) {
  qnb::TStrings lines;
  for (size_t b = 0; b < mail.size();) {
    size_t e = mail.find("\r\n", b);
    if (e == std::string::npos) e = mail.size();
    lines.push_back(mail.substr(b, e - b));
    b = e + 2;
  }
  return lines;
}

qnb::TOrderData OrderFor(int seq) {
  const qnb::test::TPayNimbusOrder p = qnb::test::PayNimbusOrderFor(seq);
  qnb::TOrderData o;
  o.FromAccount = "Shop";
  o.UID = "uid-" + std::to_string(seq);
  o.OrderID = p.orderID;
  o.Name = p.buyerName;
  o.RegName = p.buyerName;
  o.Email = p.email;
  o.Product_Name = p.product;
  o.Quantity = p.quantity;
  o.Amount = p.amount;
  o.UnitPrice = p.unitPrice;
  o.VAT = p.vat;
  o.Currency = seq % 5 == 0 ? "USD" : "EUR";
  o.Country = p.country;
  o.RegCode = p.regCode;
  o.IPAddress = p.ipAddress;
  o.URLforReceipt = p.receiptURL;
  // Spread over about three years.
  o.PurchaseDate = 45300 + seq * (1100.0 / 100000.0);
  return o;
}

// Fills a history of n orders; the last onServer of them stay on the list.
// Returns the time of each OrderFound in ms.
std::vector<double> Fill(const std::string& path, int n, int onServer) {
  qnb::TOrderHistory h(path);
  if (!h.Open()) std::exit(1);
  std::vector<double> times;
  times.reserve(static_cast<size_t>(n));
  std::vector<qnb::TOrderData> left;
  for (int i = 1; i <= n; ++i) {
    const qnb::TOrderData o = OrderFor(i);
    const qnb::TStrings mail = Lines(qnb::test::MakePayNimbusMail(i));
    // Until the order is in the file, as an announcement waits for it.
    const auto t0 = Clock::now();
    h.OrderFound(o, mail);
    h.Flush();
    times.push_back(Ms(t0));
    if (i <= n - onServer) left.push_back(o);
    if (left.size() == 5000 || (i == n && !left.empty())) {
      h.OrdersLeftList(left);
      left.clear();
    }
  }
  qnb::TStrings uids;
  for (int i = n - onServer + 1; i <= n; ++i) uids.push_back("uid-" + std::to_string(i));
  h.MemoryUpdated("Shop", uids);
  return times;
}

struct TWindowTimes {
  double shown = 0;  // construction to the window shown with its rows
  int rows = 0;
};

TWindowTimes StartWindow(const std::string& historyPath) {
  // A new start: no memory of this process.
  delete qnb::OldUIDs;
  qnb::OldUIDs = new qnb::TUidlList();
  TWindowTimes t;
  const auto t0 = Clock::now();
  qnb::TFormMain w;
  w.HistoryPath = historyPath;
  w.PlaySound = [](const QString&) {};
  w.InitMain();
  w.show();
  QApplication::processEvents();
  w.repaint();
  t.shown = Ms(t0);
  t.rows = w.Model().rowCount();
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  int orders = 100000, onServer = 2000, tries = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const int v = std::atoi(argv[i + 1]);
    if (a == "--orders") orders = v;
    else if (a == "--on-server") onServer = v;
    else if (a == "--tries") tries = v;
    else {
      std::fprintf(stderr, "usage: bench_history [--orders N] [--on-server N] [--tries N]\n");
      return 2;
    }
  }
  onServer = std::min(onServer, orders);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quenbell"));
  TPrintingPresenter presenter;
  qnb::SetMessagePresenter(&presenter);
  qnb::test::TTempConfigHome home;
  qnb::TQnbProcessObjects objects;
  qnb::AppOption->bMinToTray = false;
  qnb::AppOption->bCheckPaymentWhenOpening = false;
  qnb::AppOption->bCheckPaymentOnSchedule = false;
  qnb::AppOption->sMailProgram = "true";

  const auto dir = home.DataHome();
  const std::string empty = (dir / "empty.sqlite").string(), some = (dir / "some.sqlite").string(),
                    all = (dir / "all.sqlite").string();
  {
    qnb::TOrderHistory h(empty);
    h.Open();
  }
  auto t0 = Clock::now();
  const std::vector<double> store = Fill(some, orders, onServer);
  std::printf("history of %d orders (%d on the server) filled in %.1f s, file %.1f MB\n", orders, onServer,
              Ms(t0) / 1000, std::filesystem::file_size(some) / 1e6);
  std::printf("storing one order (handed to the writer, mail compressed, one transaction, until in the file) "
              "while the history grows to %d: "
              "median %.3f ms, p99 %.3f ms, max %.3f ms\n",
              orders, Median(store), Percentile(store, 0.99), *std::max_element(store.begin(), store.end()));
  {
    // Storing into the full history, as the next check does.
    qnb::TOrderHistory h(some);
    h.Open();
    std::vector<double> more;
    for (int i = orders + 1; i <= orders + 1000; ++i) {
      const qnb::TStrings mail = Lines(qnb::test::MakePayNimbusMail(i));
      const qnb::TOrderData o = OrderFor(i);
      const auto t1 = Clock::now();
      h.OrderFound(o, mail);
      h.Flush();
      more.push_back(Ms(t1));
    }
    // Back to the size measured below.
    std::vector<qnb::TOrderData> drop;
    for (int i = orders + 1; i <= orders + 1000; ++i) drop.push_back(OrderFor(i));
    h.OrdersLeftList(drop);
    std::printf("storing one order into the history of %d: median %.3f ms, p99 %.3f ms\n", orders, Median(more),
                Percentile(more, 0.99));
  }
  t0 = Clock::now();
  Fill(all, orders, orders);
  std::printf("second history with all %d on the server filled in %.1f s\n", orders, Ms(t0) / 1000);

  {
    // The parts of a start with every order on the list.
    auto t1 = Clock::now();
    qnb::TOrderHistory h(all);
    h.Open();
    const double open = Ms(t1);
    qnb::TOrderList list;
    qnb::TUidlList memory;
    t1 = Clock::now();
    h.Restore(list, memory);
    const double restore = Ms(t1);
    qnb::TOrderModel model;
    t1 = Clock::now();
    {
      auto l = list.Lock();
      model.Rebuild(*l);
    }
    std::printf("parts of a start with all %d on the list: open and check %.1f ms, restore %.1f ms, list model %.1f ms\n",
                orders, open, restore, Ms(t1));
  }
  StartWindow(empty);  // fonts, styles and plug-ins loaded once before measuring
  std::vector<double> e, s, a;
  int rowsS = 0, rowsA = 0;
  for (int i = 0; i < tries; ++i) {
    e.push_back(StartWindow(empty).shown);
    const TWindowTimes ts = StartWindow(some);
    s.push_back(ts.shown);
    rowsS = ts.rows;
    const TWindowTimes ta = StartWindow(all);
    a.push_back(ta.shown);
    rowsA = ta.rows;
  }
  std::printf("start to shown window: empty history %.1f ms; %d stored, %d on server (%d rows) %.1f ms (+%.1f ms); "
              "%d stored, all on server (%d rows) %.1f ms (+%.1f ms)\n",
              Median(e), orders, onServer, rowsS, Median(s), Median(s) - Median(e), orders, rowsA, Median(a),
              Median(a) - Median(e));

  // The whole history in the window, then typing into the search box.
  delete qnb::OldUIDs;
  qnb::OldUIDs = new qnb::TUidlList();
  qnb::TFormMain w;
  w.HistoryPath = some;
  w.PlaySound = [](const QString&) {};
  w.InitMain();
  w.show();
  QApplication::processEvents();
  t0 = Clock::now();
  w.Ui().cbView->setCurrentIndex(1);
  QApplication::processEvents();
  w.repaint();
  std::printf("switch to the whole history (%d rows): %.1f ms\n", w.Model().rowCount(), Ms(t0));

  const char* const typed[] = {"m", "mu", "mue", "muel", "mueller", "muel", "", "pn-1", "pn-12", "pn-123", ""};
  std::vector<double> keys;
  std::string shown;
  for (int round = 0; round < tries; ++round) {
    for (const char* text : typed) {
      const auto t1 = Clock::now();
      w.Ui().edSearch->setText(QString::fromLatin1(text));
      QApplication::processEvents();
      w.Ui().lvOrders->viewport()->repaint();
      keys.push_back(Ms(t1));
      if (round == 0) shown += std::string(" \"") + text + "\":" + std::to_string(w.Model().rowCount());
    }
  }
  std::printf("search keystroke to the filtered view over %d rows: median %.1f ms, max %.1f ms (rows per text:%s)\n",
              w.Model().TotalCount(), Median(keys), *std::max_element(keys.begin(), keys.end()), shown.c_str());
  t0 = Clock::now();
  w.Ui().lvOrders->sortByColumn(qnb::TOrderModel::colAmount, Qt::DescendingOrder);
  QApplication::processEvents();
  std::printf("sort %d rows by amount: %.1f ms\n", w.Model().rowCount(), Ms(t0));
  return 0;
}
