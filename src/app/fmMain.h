#pragma once
// The main window and controller: the check command and its stop, the worker's
// start and end, the schedule, the per-account menu, hide/show/exit, the status
// texts and the payment list.

#include <QAbstractTableModel>
#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/QnbImages.h"
#include "mailcheck/OrderMailUtils.h"

class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTreeView;
class QAction;
class QToolButton;

namespace qnb {

class TImapWatch;
class TClickLabel;

// Posted by an IDLE watch: lParam is the account's index.
inline constexpr uint32_t WM_IDLE_NEWS = WM_USER + 20;
class TCoolTrayIcon;
class TsuiMSNPopForm;

// A message of the worker, delivered on the GUI thread.
class TWorkerEvent : public QEvent {
 public:
  static const QEvent::Type kType;
  TWorkerEvent(uint32_t message, intptr_t wParam, intptr_t lParam)
      : QEvent(kType), Message(message), WParam(wParam), LParam(lParam) {}
  uint32_t Message;
  intptr_t WParam, LParam;
};

// The payment list: one row per order, copied from the order list.
class TOrderModel : public QAbstractTableModel {
 public:
  struct TRow {
    QString id, from, item, quantity, amount;
  };
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void Append(const TOrderData& o);
  void Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders);
  const TRow& Row(int i) const { return FRows[static_cast<size_t>(i)]; }

  QIcon RowIcon;

 private:
  static TRow MakeRow(const TOrderData& o);
  std::vector<TRow> FRows;
};

// "$" and the amount with two decimals, the locale's decimal separator and no
// thousands separators.
QString AmountText(TCurrency amount);

// Splits a command line into the program part (quotes kept) and the rest.
void GetCmdParam(const std::string& cmdLine, std::string& cmd, std::string& param);

class TFormMain : public QMainWindow, public TMessageTarget {
  Q_OBJECT
 public:
  explicit TFormMain(QWidget* parent = nullptr);
  ~TFormMain() override;

  void InitMain();

  // TMessageTarget: any thread; the message is handled on the GUI thread.
  void Post(uint32_t message, intptr_t wParam, intptr_t lParam) override;

  // Controls and state, public for the tests as the window's own parts.
  QPushButton* btnCheck;
  QToolButton* suiArrowButton1;
  QPushButton* btnMailProgram;
  QPushButton* btnOptions;
  QPushButton* btnHide;
  QPushButton* btnAbout;
  TClickLabel* LabelHomepage;
  QTreeView* lvOrders;
  TOrderModel* OrderModel;
  QLabel* sbPanel1;
  QLabel* sbPanel2;
  QLabel* sbPanel3;
  QProgressBar* sbProgress;
  QMenu* pmCheckMail;
  QAction* A1;
  QMenu* PopupMenuTray;
  QAction* MIViewOrderList;
  QAction* MICheckOrderNew;
  QAction* Help1;
  QAction* Homepage1;
  QAction* MIAbout;
  QAction* MIExit;
  QTimer TimerAutoCheck;
  TCoolTrayIcon* CTrayIcon;
  TsuiMSNPopForm* MSNPopForm;
  TImageList ImgListCheck, ImgListNewNotify, ImgListOrder;

  bool FFinished = false;
  int FTimeCount = 0;
  bool FbRunning = false;
  bool FNewOrderCome = false;
  TTaskList FTaskList;
  TOrderList FOrderList;
  std::unique_ptr<TGetMailThd> FOmu;
  std::unique_ptr<TParseGear> ParseGear;

  // Seams for tests: the plug-in folder (empty: beside the executable), the
  // POP3 time-outs, the sound player, the program starter.
  std::string PluginDir;
  int WorkerReadTimeoutMs = TPop3Session::kReadTimeoutMs;
  std::function<void(const QString& wavFile)> PlaySound;
  std::function<void(const QString& program, const QStringList& args)> StartProgram;

 public slots:
  void btnCheckClick();
  void OnMailAccountClick(int index);
  void RefreshAccountMenu();
  void TimerAutoCheckTimer();
  void suiArrowButton1Click();
  void btnOptionsClick();
  void MIAboutClick();
  void btnHideClick();
  void MIViewOrderListClick();
  void MIExitClick();
  void btnMailProgramClick();
  void Help1Click();
  void Homepage1Click();

 public:
  void StartCheckThread();
  void EndCheckThread();
  // One IDLE watch per IMAP account, started afresh from the account list.
  void RestartWatches();
  // A changed network or a resume: every watch opens its connection again.
  void ReconnectWatches();
  // An IDLE watch's news: a check of that account now, or after the one running.
  void OnIdleNews(int index);
  std::vector<std::unique_ptr<TImapWatch>> FWatches;
  std::set<int> FIdleNews;  // accounts to check once the running check ends
  void WMUpdateStatus();
  void WMOrderNew(intptr_t wParam);
  void WMProgress(intptr_t state, intptr_t value);
  // Waits up to timeoutMs for a stopped worker to end; true when none runs.
  bool WaitForWorker(int timeoutMs);

 protected:
  void customEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void FormActivate();
  void ReleaseFinishedWorker();
  void StartIdleChecks();
  // True when the account at index is an IMAP account held in IDLE.
  bool Idling(int index) const;
  void CheckForResume();
  bool FClosing = false;
  QTimer FResumeTimer;
  long long FLastAwakeGap = -1;  // boot-time clock minus monotonic clock, ms
};

// The one main window while the program runs.
extern TFormMain* FormMain;

}  // namespace qnb
