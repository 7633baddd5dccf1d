#pragma once
// The main window's controller: the check command and its stop, the worker's
// start and end, the schedule, the per-account menu, hide/show/exit and the
// status texts. The layout is in fmMainLayout, the payment list in OrderModel.

#include <QEvent>
#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/DesktopNotify.h"
#include "app/QnbImages.h"
#include "app/fmMainLayout.h"
#include "history/OrderHistory.h"
#include "mailcheck/OrderMailUtils.h"

namespace qnb {

class TAccountStateView;
class TImapWatch;

// Posted by an IDLE watch: lParam is the account's index.
inline constexpr uint32_t WM_IDLE_NEWS = WM_USER + 20;
class TOrderModel;

// A message of the worker, delivered on the GUI thread.
class TWorkerEvent : public QEvent {
 public:
  static const QEvent::Type kType;
  TWorkerEvent(uint32_t message, intptr_t wParam, intptr_t lParam)
      : QEvent(kType), Message(message), WParam(wParam), LParam(lParam) {}
  uint32_t Message;
  intptr_t WParam, LParam;
};

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

  // The window's parts and what tests may observe of its state.
  const TMainUi& Ui() const { return FUi; }
  TOrderModel& Model() const { return *FOrderModel; }
  bool Running() const { return FbRunning; }
  const TGetMailThd* Worker() const { return FOmu.get(); }
  int TimeCount() const { return FTimeCount; }
  QTimer& ScheduleTimer() { return TimerAutoCheck; }
  const TImageList& CheckImages() const { return ImgListCheck; }
  const TImageList& NewOrderImages() const { return ImgListNewNotify; }
  // The history in use; nullptr when payments are not remembered or the file
  // cannot be used.
  TOrderHistory* History() const { return FHistory && FHistory->IsOpen() ? FHistory.get() : nullptr; }
  bool ShowsWholeHistory() const;
  // The totals strip's text.
  QString TotalsText() const;
  // Each account's last check, shown on the tray icon.
  const TAccountStateView& AccountStates() const { return *FAccountStates; }
  // One IDLE watch per IMAP account.
  const std::vector<std::unique_ptr<TImapWatch>>& Watches() const { return FWatches; }

  // Seams for tests: the plug-in folder (empty: beside the executable), the
  // POP3 time-outs, the sound player, the program starter.
  std::string PluginDir;
  int WorkerReadTimeoutMs = TPop3Session::kReadTimeoutMs;
  std::function<void(const QString& wavFile)> PlaySound;
  std::function<void(const QString& program, const QStringList& args)> StartProgram;
  // The file an export goes to (empty: cancelled); filter e.g. "CSV (*.csv)".
  std::function<QString(const QString& filter, const QString& suffix)> ChooseExportFile;
  // Where a desktop notification goes; the session bus's service by default.
  std::function<void(const TNotification&)> SendNotification;
  // The history file (empty: the default place); set before InitMain.
  std::string HistoryPath;

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
  void ViewChanged();
  void FilterChanged();
  void ExportView(bool json);
  void AnalyseAgainSelected();
  void ShowDetails(int row);
  // The options dialog on its account page, adding an account.
  void AddAccountClick();

 public:
  // Waits up to timeoutMs for a stopped worker to end; true when none runs.
  bool WaitForWorker(int timeoutMs);

 protected:
  void customEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void RunOptions(bool addAccount);
  // One IDLE watch per IMAP account, started afresh from the account list.
  void RestartWatches();
  // A changed network or a resume: every watch opens its connection again.
  void ReconnectWatches();
  // An IDLE watch's news: a check of that account now, or after the one running.
  void OnIdleNews(int index);
  void StartIdleChecks();
  // True when the account at index is an IMAP account held in IDLE.
  bool Idling(int index) const;
  void CheckForResume();
  void StartCheckThread();
  void EndCheckThread();
  void WMUpdateStatus();
  void WMOrderNew(intptr_t wParam);
  void WMProgress(intptr_t state, intptr_t value);
  void FormActivate();
  void ReleaseFinishedWorker();
  // Opens or drops the history as the option says.
  void ApplyHistoryOption();
  void ReportHistoryProblem(const std::string& text);
  // Shows the list or the history again, as they are now.
  void RefreshView();
  void RefreshTotals();
  // The shown rows' records, in shown order (selected ones only when asked).
  std::vector<const THistoryRecord*> ShownRecords(bool selectedOnly) const;

  TMainUi FUi;
  TOrderModel* FOrderModel = nullptr;
  QTimer TimerAutoCheck;
  TImageList ImgListCheck, ImgListNewNotify, ImgListOrder;
  bool FFinished = false;
  int FTimeCount = 0;
  bool FbRunning = false;
  bool FNewOrderCome = false;
  bool FClosing = false;
  TTaskList FTaskList;
  TOrderList FOrderList;
  std::unique_ptr<TGetMailThd> FOmu;
  std::unique_ptr<TAccountStateView> FAccountStates;
  std::unique_ptr<TParseGear> ParseGear;
  std::unique_ptr<TOrderHistory> FHistory;
  bool FDropHistoryAfterRun = false;
  bool FDeferTotals = false;  // while the window starts
  const TOrderData* FLastShown = nullptr;  // the list's last order the view shows
  std::unique_ptr<TDesktopNotifier> FNotifier;
  std::vector<std::unique_ptr<TImapWatch>> FWatches;
  std::set<int> FIdleNews;  // accounts to check once the running check ends
  QTimer FResumeTimer;
  long long FLastAwakeGap = -1;  // boot-time clock minus monotonic clock, ms
};

// The one main window while the program runs.
extern TFormMain* FormMain;

}  // namespace qnb
