#include "app/fmMain.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLineEdit>
#include <QSaveFile>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QNetworkInformation>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <set>
#include <thread>

#include "app/AccountStateView.h"
#include "app/ClickLabel.h"
#include "app/CoolTrayIcon.h"
#include "app/MSNPopForm.h"
#include "app/NoAccountHint.h"
#include "app/QtText.h"
#include "app/ShellOpen.h"
#include "app/Skin.h"
#include "app/fmAbout.h"
#include "app/fmOptions.h"
#include "app/OrderExport.h"
#include "app/OrderModel.h"
#include "app/fmOrderDetails.h"
#include "history/OrderTotals.h"
#include "mailcheck/ImapWatch.h"
#include "mailcheck/OldUIDs.h"
#include "settings/Platform.h"
#include "settings/QnbBase.h"
#include "settings/VrDiag.h"

namespace qnb {

TFormMain* FormMain = nullptr;

const QEvent::Type TWorkerEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {


// Expands $NAME and ${NAME} from the environment, as the shell would.
QString ExpandEnv(QString s) {
  static const QRegularExpression re(QStringLiteral(R"(\$\{([A-Za-z_][A-Za-z0-9_]*)\}|\$([A-Za-z_][A-Za-z0-9_]*))"));
  const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  QString out;
  qsizetype last = 0;
  for (auto it = re.globalMatch(s); it.hasNext();) {
    auto m = it.next();
    out += s.mid(last, m.capturedStart() - last);
    out += env.value(m.captured(1).isEmpty() ? m.captured(2) : m.captured(1));
    last = m.capturedEnd();
  }
  return out + s.mid(last);
}

}  // namespace

void GetCmdParam(const std::string& cmdLine, std::string& cmd, std::string& param) {
  cmd.clear();
  param.clear();
  std::string rest = cmdLine;
  size_t i = 0;
  while (i < rest.size()) {
    char c = rest[i];
    if (c == '"') {
      cmd += rest[i++];
      if (i < rest.size()) cmd += rest[i++];
      while (i < rest.size() && rest[i] != '"') cmd += rest[i++];
      if (i >= rest.size()) return;
      cmd += rest[i++];
    } else if (c == ' ') {
      param = rest.substr(i + 1);
      return;
    } else {
      cmd += rest[i++];
    }
  }
}

// ---------------------------------------------------------------------------
// The window

TFormMain::TFormMain(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Quenbell"));
  setWindowIcon(AppIcon());
  setMinimumSize(200, 50);
  ImgListCheck = MakeImgListCheck();
  ImgListNewNotify = MakeImgListNewNotify();
  ImgListOrder = MakeImgListOrder();

  FOrderModel = new TOrderModel();
  FOrderModel->setParent(this);
  FOrderModel->RowIcon = ImgListOrder.Image(0);
  BuildMainUi(*this, *FOrderModel, FUi);
  FAccountStates = std::make_unique<TAccountStateView>(FUi.CTrayIcon);

  connect(FUi.btnCheck, &QPushButton::clicked, this, &TFormMain::btnCheckClick);
  connect(FUi.suiArrowButton1, &QToolButton::clicked, this, &TFormMain::suiArrowButton1Click);
  connect(FUi.btnMailProgram, &QPushButton::clicked, this, &TFormMain::btnMailProgramClick);
  connect(FUi.btnOptions, &QPushButton::clicked, this, &TFormMain::btnOptionsClick);
  connect(FUi.btnHide, &QPushButton::clicked, this, &TFormMain::btnHideClick);
  connect(FUi.btnAbout, &QPushButton::clicked, this, &TFormMain::MIAboutClick);
  connect(FUi.LabelHomepage, &TClickLabel::clicked, this, &TFormMain::Homepage1Click);
  connect(FUi.A1, &QAction::triggered, this, &TFormMain::btnCheckClick);
  connect(FUi.MIViewOrderList, &QAction::triggered, this, &TFormMain::MIViewOrderListClick);
  connect(FUi.MICheckOrderNew, &QAction::triggered, this, &TFormMain::btnCheckClick);
  connect(FUi.Help1, &QAction::triggered, this, &TFormMain::Help1Click);
  connect(FUi.Homepage1, &QAction::triggered, this, &TFormMain::Homepage1Click);
  connect(FUi.MIAbout, &QAction::triggered, this, &TFormMain::MIAboutClick);
  connect(FUi.MIExit, &QAction::triggered, this, &TFormMain::MIExitClick);
  connect(FUi.NoAccountHint, &TNoAccountHint::addAccount, this, &TFormMain::AddAccountClick);
  connect(FUi.MSNPopForm, &TsuiMSNPopForm::clicked, this, &TFormMain::MIViewOrderListClick);
  connect(&TimerAutoCheck, &QTimer::timeout, this, &TFormMain::TimerAutoCheckTimer);
  connect(FUi.cbView, &QComboBox::currentIndexChanged, this, &TFormMain::ViewChanged);
  connect(FUi.edSearch, &QLineEdit::textChanged, this, &TFormMain::FilterChanged);
  connect(FUi.cbDates, &QCheckBox::toggled, this, [this](bool on) {
    FUi.deFrom->setEnabled(on);
    FUi.deTo->setEnabled(on);
    FilterChanged();
  });
  connect(FUi.deFrom, &QDateEdit::dateChanged, this, &TFormMain::FilterChanged);
  connect(FUi.deTo, &QDateEdit::dateChanged, this, &TFormMain::FilterChanged);
  connect(FUi.MIExportCsv, &QAction::triggered, this, [this] { ExportView(false); });
  connect(FUi.MIExportJson, &QAction::triggered, this, [this] { ExportView(true); });
  connect(FUi.btnAnalyseAgain, &QPushButton::clicked, this, &TFormMain::AnalyseAgainSelected);
  connect(FUi.MIAnalyseAgain, &QAction::triggered, this, &TFormMain::AnalyseAgainSelected);
  connect(FUi.lvOrders, &QTreeView::doubleClicked, this, [this](const QModelIndex& i) { ShowDetails(i.row()); });
  connect(FUi.MIDetails, &QAction::triggered, this, [this] {
    const QModelIndex i = FUi.lvOrders->currentIndex();
    if (i.isValid()) ShowDetails(i.row());
  });
  connect(FUi.lvOrders, &QTreeView::customContextMenuRequested, this, [this](const QPoint& p) {
    if (FUi.lvOrders->indexAt(p).isValid()) FUi.pmOrders->popup(FUi.lvOrders->viewport()->mapToGlobal(p));
  });
  // The connections in IDLE come back by themselves after a change of network...
  if (QNetworkInformation::load(QNetworkInformation::Feature::Reachability)) {
    connect(QNetworkInformation::instance(), &QNetworkInformation::reachabilityChanged, this,
            [this](QNetworkInformation::Reachability r) {
              if (r == QNetworkInformation::Reachability::Online) ReconnectWatches();
            });
  }
  // ... and after a resume from suspend, seen as the boot-time clock running
  // ahead of the monotonic one, which stands still while the machine sleeps.
  connect(&FResumeTimer, &QTimer::timeout, this, &TFormMain::CheckForResume);
  FResumeTimer.start(10000);

  PlaySound = [this](const QString& file) {
    if (!QFileInfo::exists(file)) return;
    auto* effect = new QSoundEffect(this);
    effect->setSource(QUrl::fromLocalFile(file));
    connect(effect, &QSoundEffect::playingChanged, effect, [effect] {
      if (!effect->isPlaying()) effect->deleteLater();
    });
    effect->play();
  };
  StartProgram = [](const QString& program, const QStringList& args) { QProcess::startDetached(program, args); };
  ChooseExportFile = [this](const QString& filter, const QString& suffix) {
    QFileDialog dlg(this, QStringLiteral("Export payments"), QDir::homePath(), filter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(suffix);
    return dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty() ? dlg.selectedFiles().first() : QString();
  };
  SendNotification = [this](const TNotification& n) {
    if (!FNotifier) FNotifier = std::make_unique<TDesktopNotifier>();
    FNotifier->Notify(n);
  };

  ApplySkin(*this);
  // Wide enough for the filter bar and the date column.
  resize(900, 420);
  TimerAutoCheck.setInterval(6000);
  TimerAutoCheck.start();
}

TFormMain::~TFormMain() {
  FWatches.clear();
  // A worker still running uses the lists and the host: it must end first.
  if (FOmu) {
    FOmu->Stop();
    FOmu->WaitFor();
  }
  // The view may still read the list's orders in place; the list goes first.
  FOrderModel->Rebuild({});
}

void TFormMain::InitMain() {
  // Without a notification area the window is the only way in.
  if (!AppOption->bMinToTray || !TCoolTrayIcon::TrayAvailable()) {
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
    show();
  }
  ParseGear = PluginDir.empty() ? std::make_unique<TParseGear>() : std::make_unique<TParseGear>(PluginDir);
  // The totals strip is not needed for the first paint: it follows once the
  // window is shown.
  FDeferTotals = true;
  ApplyHistoryOption();
  FDeferTotals = false;
  QTimer::singleShot(0, this, [this] { RefreshTotals(); });
  RefreshAccountMenu();
  RestartWatches();
  FTimeCount = 0;
  if (AppOption->bCheckPaymentWhenOpening) btnCheckClick();
}

void TFormMain::RestartWatches() {
  FWatches.clear();
  FIdleNews.clear();
  for (size_t i = 0; i < AppOption->AccountList.size(); ++i) {
    const TMailAccount& a = *AppOption->AccountList[i];
    if (a.Protocol != protoImap) continue;
    auto w = std::make_unique<TImapWatch>(TaskOfAccount(a, static_cast<int>(i)),
                                          [this](int32_t id) { Post(WM_IDLE_NEWS, 0, id); });
    w->ReadTimeoutMs = WorkerReadTimeoutMs;
    w->Start();
    FWatches.push_back(std::move(w));
  }
}

void TFormMain::ReconnectWatches() {
  for (auto& w : FWatches) w->ReconnectNow();
}

void TFormMain::CheckForResume() {
  timespec boot{}, mono{};
  clock_gettime(CLOCK_BOOTTIME, &boot);
  clock_gettime(CLOCK_MONOTONIC, &mono);
  const long long gap = (boot.tv_sec - mono.tv_sec) * 1000LL + (boot.tv_nsec - mono.tv_nsec) / 1000000;
  if (FLastAwakeGap >= 0 && gap - FLastAwakeGap > 5000) ReconnectWatches();
  FLastAwakeGap = gap;
}

bool TFormMain::Idling(int index) const {
  for (const auto& w : FWatches)
    if (w->TaskID() == index) return w->State() == TImapWatch::wsIdling;
  return false;
}

void TFormMain::OnIdleNews(int index) {
  FIdleNews.insert(index);
  StartIdleChecks();
}

void TFormMain::StartIdleChecks() {
  if (FbRunning || FIdleNews.empty() || FClosing) return;
  ClearList(FTaskList);
  for (int index : FIdleNews)
    if (index >= 0 && static_cast<size_t>(index) < AppOption->AccountList.size())
      FTaskList.Add(std::make_unique<TTaskData>(TaskOfAccount(*AppOption->AccountList[static_cast<size_t>(index)], index)));
  FIdleNews.clear();
  if (FTaskList.Lock()->empty()) return;
  StartCheckThread();
}

void TFormMain::Post(uint32_t message, intptr_t wParam, intptr_t lParam) {
  QCoreApplication::postEvent(this, new TWorkerEvent(message, wParam, lParam));
}

void TFormMain::customEvent(QEvent* e) {
  if (e->type() != TWorkerEvent::kType) return QMainWindow::customEvent(e);
  auto* m = static_cast<TWorkerEvent*>(e);
  switch (m->Message) {
    case WM_ORDWATCH_LOGNOTIFY: WMUpdateStatus(); break;
    case WM_IDLE_NEWS: OnIdleNews(static_cast<int>(m->LParam)); break;
    case WM_ADD_ORDER: WMOrderNew(m->WParam); break;
    case WM_ORDWATCH_PROGRESS: WMProgress(m->WParam, m->LParam); break;
    default: break;
  }
}

void TFormMain::btnCheckClick() {
  if (FUi.btnCheck->text() != QLatin1String(kCheckMail)) {
    EndCheckThread();
    return;
  }
  // Stopping: the stopped worker has not ended yet; a second one must not start.
  if (FbRunning) return;
  if (AppOption->AccountList.empty()) {
    MBInfo("Please add a mail account before checking payements.");
    return;
  }
  try {
    ClearList(FTaskList);
    for (size_t i = 0; i < AppOption->AccountList.size(); ++i) {
      try {
        FTaskList.Add(std::make_unique<TTaskData>(TaskOfAccount(*AppOption->AccountList[i], static_cast<int>(i))));
      } catch (...) {
      }
    }
    StartCheckThread();
  } catch (...) {
    MBError("Error");
  }
}

void TFormMain::OnMailAccountClick(int index) {
  if (FbRunning) return;
  try {
    ClearList(FTaskList);
    if (index >= 0 && static_cast<size_t>(index) < AppOption->AccountList.size()) {
      try {
        FTaskList.Add(std::make_unique<TTaskData>(TaskOfAccount(*AppOption->AccountList[static_cast<size_t>(index)], index)));
      } catch (...) {
      }
    }
    StartCheckThread();
  } catch (...) {
    MBError("Error");
  }
}

void TFormMain::StartCheckThread() {
  FbRunning = true;
  FNewOrderCome = false;
  FUi.btnCheck->setText(QString::fromLatin1(kStopChecking));
  FUi.MICheckOrderNew->setText(FUi.btnCheck->text());
  // From here on the worker changes the order list: the view keeps its own copies.
  FOrderModel->CopyBorrowed();
  FOmu = std::make_unique<TGetMailThd>(this, FTaskList, FOrderList, *ParseGear);
  FOmu->ReadTimeoutMs = WorkerReadTimeoutMs;
  FOmu->Store = History();
  FOmu->Start();
  FUi.CTrayIcon->SetIconList(&ImgListCheck);
  FUi.CTrayIcon->SetCycleIcons(true);
}

void TFormMain::EndCheckThread() {
  FUi.btnCheck->setText(QString::fromLatin1(kCheckMail));
  FUi.MICheckOrderNew->setText(FUi.btnCheck->text());
  if (FOmu) {
    FOmu->Stop();
    std::this_thread::yield();
  }
}

void TFormMain::RefreshAccountMenu() {
  const auto actions = FUi.pmCheckMail->actions();
  for (qsizetype i = 2; i < actions.size(); ++i) {
    FUi.pmCheckMail->removeAction(actions[i]);
    delete actions[i];
  }
  for (size_t i = 0; i < AppOption->AccountList.size(); ++i) {
    QAction* item = FUi.pmCheckMail->addAction(ToQ(AppOption->AccountList[i]->Name));
    item->setData(static_cast<int>(i));
    connect(item, &QAction::triggered, this, [this, i] { OnMailAccountClick(static_cast<int>(i)); });
  }
  FUi.NoAccountHint->setVisible(AppOption->AccountList.empty());
  std::vector<std::string> names;
  for (const auto& a : AppOption->AccountList) names.push_back(a->Name);
  FAccountStates->AccountsChanged(names);
}

void TFormMain::TimerAutoCheckTimer() {
  if (!AppOption->bCheckPaymentOnSchedule) {
    FTimeCount = 0;
    return;
  }
  ++FTimeCount;
  if (FTimeCount < AppOption->iCheckPaymentTime * 10) return;
  FTimeCount = 0;
  if (FUi.btnCheck->text() != QLatin1String(kCheckMail)) return;
  bool anyIdling = false;
  for (size_t i = 0; i < AppOption->AccountList.size(); ++i) anyIdling = anyIdling || Idling(static_cast<int>(i));
  if (!anyIdling) {
    btnCheckClick();
    return;
  }
  // Accounts held in IDLE are checked when their server reports news.
  if (FbRunning) return;
  ClearList(FTaskList);
  for (size_t i = 0; i < AppOption->AccountList.size(); ++i)
    if (!Idling(static_cast<int>(i)))
      FTaskList.Add(std::make_unique<TTaskData>(TaskOfAccount(*AppOption->AccountList[i], static_cast<int>(i))));
  if (!FTaskList.Lock()->empty()) StartCheckThread();
}

void TFormMain::suiArrowButton1Click() {
  FUi.pmCheckMail->popup(FUi.btnCheck->mapToGlobal(QPoint(0, FUi.btnCheck->height())));
}

void TFormMain::btnOptionsClick() { RunOptions(false); }

void TFormMain::AddAccountClick() { RunOptions(true); }

void TFormMain::RunOptions(bool addAccount) {
  TFormOptions dlg(this);
  if (addAccount) {
    for (int i = 0; i < dlg.PageControl->count(); ++i)
      if (dlg.PageControl->tabText(i) == QLatin1String("Mail Accounts")) dlg.PageControl->setCurrentIndex(i);
    QTimer::singleShot(0, &dlg, &TFormOptions::btnAddClick);
  }
  if (dlg.exec() != QDialog::Accepted) return;
  RefreshAccountMenu();
  RestartWatches();
  ApplyHistoryOption();
}

void TFormMain::MIAboutClick() {
  TFormAbout about(nullptr);
  about.exec();
}

void TFormMain::btnHideClick() { FUi.CTrayIcon->HideMainForm(); }

void TFormMain::MIViewOrderListClick() {
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TFormMain::MIExitClick() { close(); }

void TFormMain::closeEvent(QCloseEvent* e) {
  if (FClosing) {
    e->accept();
    return;
  }
  if (!MBSure("Are you sure to exit?")) {
    e->ignore();
    return;
  }
  FClosing = true;
  FWatches.clear();
  if (FOmu) {
    FOmu->Stop();
    // The worker uses the lists and the host freed with the window; a blocked
    // name lookup cannot be cut short, so the wait has a bound, and a worker
    // still running after it is left to end with the process.
    if (!WaitForWorker(5000)) std::_Exit(0);
  }
  e->accept();
  QApplication::quit();
}

bool TFormMain::WaitForWorker(int timeoutMs) {
  if (!FOmu) return true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!FOmu->Finished() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!FOmu->Finished()) return false;
  FOmu->WaitFor();
  return true;
}

void TFormMain::changeEvent(QEvent* e) {
  if (e->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QMainWindow::changeEvent(e);
}

void TFormMain::FormActivate() {
  if (FbRunning) return;
  FUi.CTrayIcon->SetCycleIcons(false);
  FUi.CTrayIcon->SetIconIndex(0);
}

void TFormMain::ReleaseFinishedWorker() {
  // Its last record is queued right before its body returns: the join is short.
  if (FOmu) FOmu->WaitFor();
  FOmu.reset();
  if (FDropHistoryAfterRun) {
    FDropHistoryAfterRun = false;
    ApplyHistoryOption();
  }
}

void TFormMain::WMUpdateStatus() {
  FFinished = false;
  int iNewOrderCount = 0;
  {
    auto logs = FLogs->Lock();  // held through a login-failure box, as the worker expects
    while (!logs->empty()) {
      std::unique_ptr<TLogRec> rec = std::move(logs->front());
      logs->erase(logs->begin());
      try {
        if (rec->LogCode == ltAllTaskFinished) {
          FFinished = true;
          int32_t n = 0;
          iNewOrderCount = TryStrToInt(rec->Reserved, n) ? n : 0;
          if (iNewOrderCount > 0) FNewOrderCome = true;
        } else if (rec->LogCode == ltSingleTaskFailed && rec->Reserved.str() == "Login Failed") {
          MBError(rec->LogMessage);
        }
      } catch (...) {
      }
      FAccountStates->Feed(*rec);
      FUi.sbPanel1->setText(ToQ(rec->LogMessage));
    }
  }
  if (!FFinished) return;

  FAccountStates->RunEnded();
  ReleaseFinishedWorker();
  // The run's orders are kept before they are announced.
  if (History()) History()->Flush();
  FbRunning = false;
  EndCheckThread();
  FUi.CTrayIcon->SetCycleIcons(false);
  FUi.sbProgress->hide();
  if (FNewOrderCome) {
    PlaySound(QString::fromStdString(ExecutableDir() + "/Sound/ewpayment.wav"));
    if (!isActiveWindow()) {
      FUi.CTrayIcon->SetIconList(&ImgListNewNotify);
      FUi.CTrayIcon->SetCycleIcons(true);
    }
    FUi.MSNPopForm->Title = QString::fromStdString(ApplicationTitle());
    FUi.MSNPopForm->StayTime = 3500;
    FUi.MSNPopForm->MessageText = QStringLiteral("%1 new payment(s) received").arg(iNewOrderCount);
    FUi.MSNPopForm->Popup();
    if (AppOption->bDesktopNotify && SendNotification) {
      std::vector<TOrderData> fresh;
      {
        auto orders = FOrderList.Read();
        const size_t n = std::min(orders->size(), static_cast<size_t>(std::max(iNewOrderCount, 0)));
        // New orders join the list at its end.
        for (size_t i = orders->size() - n; i < orders->size(); ++i) fresh.push_back(*(*orders)[i]);
      }
      if (!fresh.empty()) SendNotification(PaymentNotification(fresh));
    }
  } else {
    FUi.CTrayIcon->SetCycleIcons(false);
    FUi.CTrayIcon->SetIconIndex(0);
  }
  Post(WM_ADD_ORDER, 1, 0);
  StartIdleChecks();
}

void TFormMain::WMOrderNew(intptr_t wParam) {
  if (wParam == 1) {
    RefreshView();
  } else if (!ShowsWholeHistory()) {
    // An order is shown only once it is kept.
    if (History()) History()->Flush();
    auto orders = FOrderList.Read();
    try {
      // Several orders may have joined since the last notice: every one after
      // the last shown is appended, each once.
      size_t first = orders->size();
      while (first > 0 && (*orders)[first - 1].get() != FLastShown) --first;
      if (first == 0 && FLastShown) {
        FOrderModel->Rebuild(*orders);  // the last shown one left the list
      } else {
        for (size_t i = first; i < orders->size(); ++i) FOrderModel->Append(*(*orders)[i]);
      }
      FLastShown = orders->empty() ? nullptr : orders->back().get();
    } catch (...) {
    }
  }
  FUi.sbPanel2->setText(QStringLiteral("%1 payment(s)").arg(FOrderModel->rowCount()));
}

bool TFormMain::ShowsWholeHistory() const { return FUi.cbView->currentIndex() == 1; }

void TFormMain::RefreshView() {
  try {
    if (ShowsWholeHistory() && History()) {
      FOrderModel->SetRecords(History()->Query({}));
    } else {
      auto orders = FOrderList.Read();
      // With no worker only this thread changes the list, and it copies what
      // is borrowed before a worker starts: a long list is copied after the
      // window has been painted.
      if (FOmu) FOrderModel->Rebuild(*orders);
      else FOrderModel->Borrow(*orders);
      FLastShown = orders->empty() ? nullptr : orders->back().get();
    }
  } catch (...) {
  }
  FUi.sbPanel2->setText(QStringLiteral("%1 payment(s)").arg(FOrderModel->rowCount()));
  if (!FDeferTotals) RefreshTotals();
}

void TFormMain::ViewChanged() {
  if (ShowsWholeHistory() && !History()) {
    FUi.cbView->setCurrentIndex(0);
    MBInfo("The order history is off: turn on \"Remember payments between starts\" in the options.");
    return;
  }
  RefreshView();
}

void TFormMain::FilterChanged() {
  TDateTime from = 0, to = 0;
  if (FUi.cbDates->isChecked()) {
    const QDate f = FUi.deFrom->date(), t = FUi.deTo->date();
    TryEncodeDateTime(f.year(), f.month(), f.day(), 0, 0, 0, from);
    TryEncodeDateTime(t.year(), t.month(), t.day(), 0, 0, 0, to);
    to += 1;  // the last day included
  }
  FOrderModel->SetFilter(FUi.edSearch->text(), from, to);
  FUi.sbPanel2->setText(QStringLiteral("%1 payment(s)").arg(FOrderModel->rowCount()));
}

QString TFormMain::TotalsText() const { return FUi.lbTotals->text(); }

void TFormMain::RefreshTotals() {
  const TDateTime now = NowDateTime();
  const TDateTime today = StartOfDay(now), week = StartOfWeek(now), month = StartOfMonth(now);
  std::vector<THistoryRecord> stored;
  std::vector<std::unique_ptr<TOrderData>> listed;
  std::vector<const TOrderData*> orders;
  if (History()) {
    THistoryQuery q;
    q.From = std::min(week, month);
    stored = History()->Query(q);
    for (const auto& r : stored) orders.push_back(&r.Order);
  } else {
    auto list = FOrderList.Read();
    for (const auto& o : *list) orders.push_back(listed.emplace_back(std::make_unique<TOrderData>(*o)).get());
  }
  auto part = [&](const char* caption, TDateTime from) {
    const auto totals = TotalsBetween(orders, from, today + 1);
    QStringList sums;
    int64_t count = 0;
    for (const auto& t : totals) {
      sums << AmountText(t.Amount, t.Currency);
      count += t.Count;
    }
    if (count == 0) return QStringLiteral("%1: no payments").arg(QLatin1String(caption));
    return QStringLiteral("%1: %2 (%3 payments)").arg(QLatin1String(caption), sums.join(QStringLiteral(" \u00b7 "))).arg(count);
  };
  FUi.lbTotals->setText(part("Today", today) + QStringLiteral("     ") + part("This week", week) +
                        QStringLiteral("     ") + part("This month", month));
}

std::vector<const THistoryRecord*> TFormMain::ShownRecords(bool selectedOnly) const {
  std::vector<const THistoryRecord*> out;
  if (selectedOnly) {
    QModelIndexList rows = FUi.lvOrders->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    for (const QModelIndex& i : rows) out.push_back(&FOrderModel->Entry(i.row()).Record());
  } else {
    for (int i = 0; i < FOrderModel->rowCount(); ++i) out.push_back(&FOrderModel->Entry(i).Record());
  }
  return out;
}

void TFormMain::ExportView(bool json) {
  const QString file = ChooseExportFile(json ? QStringLiteral("JSON (*.json)") : QStringLiteral("CSV (*.csv)"),
                                        json ? QStringLiteral("json") : QStringLiteral("csv"));
  if (file.isEmpty()) return;
  const auto records = ShownRecords(false);
  QSaveFile out(file);
  if (!out.open(QIODevice::WriteOnly) || out.write(json ? OrdersJson(records) : OrdersCsv(records)) < 0 ||
      !out.commit()) {
    MBError(FromQ(QStringLiteral("Could not write \"%1\": %2").arg(file, out.errorString())));
    return;
  }
  FUi.sbPanel1->setText(QStringLiteral("%1 payment(s) exported to %2").arg(records.size()).arg(file));
}

void TFormMain::AnalyseAgainSelected() {
  if (!History()) {
    MBInfo("The order history is off: turn on \"Remember payments between starts\" in the options.");
    return;
  }
  if (FbRunning) {
    MBInfo("Please wait until the check has ended.");
    return;
  }
  const auto selected = ShownRecords(true);
  if (selected.empty()) return;
  int done = 0;
  std::vector<std::string> failures;
  for (const THistoryRecord* r : selected) {
    const int64_t id = r->Id != 0 ? r->Id : History()->FindId(r->Order);
    TOrderData fresh;
    std::string why;
    if (id == 0) why = "its mail is not stored";
    if (id != 0 && History()->AnalyseAgain(id, *ParseGear, fresh, why)) {
      ++done;
      // The list holds a copy: it shows what the analyzers say now too.
      auto orders = FOrderList.Lock();
      for (auto& o : *orders)
        if (o->FromAccount == fresh.FromAccount && o->UID == fresh.UID && o->OrderID == fresh.OrderID) *o = fresh;
      continue;
    }
    failures.push_back(r->Order.OrderID.str() + ": " + why);
  }
  RefreshView();
  FUi.sbPanel1->setText(QStringLiteral("%1 stored mail(s) analysed again").arg(done));
  if (!failures.empty()) {
    std::string text = "These payments could not be analysed again:";
    for (const auto& f : failures) text += "\r\n" + f;
    MBError(text);
  }
}

void TFormMain::ShowDetails(int row) {
  if (row < 0 || row >= FOrderModel->rowCount()) return;
  THistoryRecord record = FOrderModel->Entry(row).Record();
  // A row of the list: the history knows when it was seen.
  if (record.Id == 0 && History()) {
    if (const int64_t id = History()->FindId(record.Order)) {
      THistoryQuery q;
      q.Account = record.Order.FromAccount;
      for (auto& r : History()->Query(q))
        if (r.Id == id) record = std::move(r);
    }
  }
  TFormOrderDetails dlg(record, this);
  dlg.exec();
}

void TFormMain::ReportHistoryProblem(const std::string& text) {
  // The worker meets write failures on its own thread.
  QMetaObject::invokeMethod(this, [text] { MBError(text); }, Qt::QueuedConnection);
}

void TFormMain::ApplyHistoryOption() {
  if (!AppOption->bRememberPayments) {
    if (!FHistory) return;
    // The running worker writes to it until its run ends.
    if (FbRunning) {
      FDropHistoryAfterRun = true;
      return;
    }
    FHistory.reset();
    FUi.cbView->setCurrentIndex(0);
    RefreshView();
    return;
  }
  if (FHistory) return;
  FHistory = std::make_unique<TOrderHistory>(HistoryPath.empty() ? TOrderHistory::DefaultPath() : HistoryPath);
  FHistory->OnProblem = [this](const std::string& text) { ReportHistoryProblem(text); };
  // Restored only into an empty list: a list of this process already holds
  // what it found.
  bool emptyList;
  {
    auto orders = FOrderList.Read();
    emptyList = orders->empty();
  }
  if (emptyList && OldUIDs && OldUIDs->Count() == 0) FHistory->OpenAndRestore(FOrderList, *OldUIDs);
  else FHistory->Open();
  RefreshView();
}

void TFormMain::WMProgress(intptr_t state, intptr_t value) {
  // The status records are taken in batches: a run's end may have been shown
  // before its last progress notices arrive, which then must not show it again.
  if (!FbRunning) return;
  // A long first check of a large mailbox shows how far it has come.
  if (state == rmsBegin) {
    FUi.sbProgress->setRange(0, static_cast<int>(value > 0 ? value : 0));
    FUi.sbProgress->setValue(0);
    FUi.sbProgress->setVisible(value > 0);
  } else if (state == rmsWork) {
    FUi.sbProgress->setValue(static_cast<int>(value));
  } else {
    FUi.sbProgress->hide();
  }
}

void TFormMain::btnMailProgramClick() {
  if (AppOption->sMailProgram.empty()) return;
  std::string cmd, param;
  GetCmdParam(AppOption->sMailProgram, cmd, param);
  QString program = ExpandEnv(ToQ(cmd));
  program.remove(QLatin1Char('"'));
  const QStringList args = QProcess::splitCommand(ExpandEnv(ToQ(param)));
  if (!program.isEmpty()) StartProgram(program, args);
}

void TFormMain::Help1Click() { ShellOpen(QUrl::fromLocalFile(QString::fromStdString(ExecutableDir() + "/Help.htm"))); }

void TFormMain::Homepage1Click() {
  const QString address = QString::fromLatin1(kHomepage).trimmed();
  if (!address.isEmpty()) ShellOpen(QUrl(address));
}

}  // namespace qnb
