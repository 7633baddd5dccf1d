#include "app/fmMain.h"

#include <QApplication>
#include <QCloseEvent>
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
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <thread>

#include "app/ClickLabel.h"
#include "app/CoolTrayIcon.h"
#include "app/MSNPopForm.h"
#include "app/QtText.h"
#include "app/ShellOpen.h"
#include "app/Skin.h"
#include "app/fmAbout.h"
#include "app/fmOptions.h"
#include "mailcheck/ImapWatch.h"
#include "settings/Platform.h"
#include "settings/QnbBase.h"
#include "settings/VrDiag.h"

namespace qnb {

TFormMain* FormMain = nullptr;

const QEvent::Type TWorkerEvent::kType = static_cast<QEvent::Type>(QEvent::registerEventType());

namespace {

const char* const kCheckMail = "Check Mail";
const char* const kStopChecking = "Stop Checking";
const QColor kOddRow(230, 237, 251);

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

// ---------------------------------------------------------------------------
// Payment list

int TOrderModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TOrderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant TOrderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TRow& r = FRows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return r.id;
        case 1: return r.from;
        case 2: return r.item;
        case 3: return r.quantity;
        case 4: return r.amount;
      }
      return {};
    case Qt::TextAlignmentRole:
      return index.column() >= 3 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return index.row() % 2 == 1 ? QVariant(kOddRow) : QVariant(QColor(Qt::white));
    case Qt::ForegroundRole:
      return QColor(Qt::black);  // the row colours are fixed, so is the text
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(RowIcon) : QVariant();
    default:
      return {};
  }
}

QVariant TOrderModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal) return {};
  static const char* const kCaptions[] = {"ID", "From", "Item", "Quantity", "Amount"};
  if (role == Qt::DisplayRole && section >= 0 && section < 5) return QString::fromLatin1(kCaptions[section]);
  if (role == Qt::TextAlignmentRole)
    return section >= 3 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TOrderModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

TOrderModel::TRow TOrderModel::MakeRow(const TOrderData& o) {
  return {ToQ(o.OrderID), ToQ(o.Email), ToQ(o.Product_Name), QString::number(o.Quantity), AmountText(o.Amount)};
}

void TOrderModel::Append(const TOrderData& o) {
  const int n = rowCount();
  beginInsertRows({}, n, n);
  FRows.push_back(MakeRow(o));
  endInsertRows();
}

void TOrderModel::Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders) {
  beginResetModel();
  FRows.clear();
  FRows.reserve(orders.size());
  for (const auto& o : orders) FRows.push_back(MakeRow(*o));
  endResetModel();
}

QString AmountText(TCurrency amount) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return QStringLiteral("$") + locale.toString(static_cast<double>(amount) / 10000.0, 'f', 2);
}

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

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("MainPanel"));
  auto* v = new QVBoxLayout(central);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  auto* bar = new QWidget(central);
  bar->setObjectName(QStringLiteral("ButtonBar"));
  auto* h = new QHBoxLayout(bar);
  h->setContentsMargins(4, 8, 8, 8);
  h->setSpacing(4);
  btnCheck = new QPushButton(QString::fromLatin1(kCheckMail), bar);
  btnCheck->setObjectName(QStringLiteral("btnCheck"));
  suiArrowButton1 = new QToolButton(bar);
  suiArrowButton1->setObjectName(QStringLiteral("suiArrowButton1"));
  suiArrowButton1->setArrowType(Qt::DownArrow);
  suiArrowButton1->setToolTip(QStringLiteral("Check one account"));
  btnMailProgram = new QPushButton(QStringLiteral("Mail Program"), bar);
  btnOptions = new QPushButton(QStringLiteral("Options"), bar);
  btnHide = new QPushButton(QStringLiteral("Hide"), bar);
  btnAbout = new QPushButton(QStringLiteral("About"), bar);
  LabelHomepage = new TClickLabel(bar);
  LabelHomepage->setObjectName(QStringLiteral("LabelHomepage"));
  LabelHomepage->setText(QStringLiteral("Welcome to Brisklet"));
  LabelHomepage->setToolTip(QString::fromLatin1(kHomepage));
  // Room for the longer caption of the check button and every other caption,
  // whatever the font and the skin's padding.
  const QFontMetrics fm = btnCheck->fontMetrics();
  btnCheck->setMinimumWidth(std::max(96, fm.horizontalAdvance(QString::fromLatin1(kStopChecking)) + 36));
  for (QPushButton* b : {btnMailProgram, btnOptions, btnHide, btnAbout})
    b->setMinimumWidth(std::max(77, fm.horizontalAdvance(b->text()) + 36));
  h->addWidget(btnCheck);
  h->addWidget(suiArrowButton1);
  h->addSpacing(8);
  h->addWidget(btnMailProgram);
  h->addWidget(btnOptions);
  h->addWidget(btnHide);
  h->addWidget(btnAbout);
  h->addStretch(1);
  h->addWidget(LabelHomepage);
  v->addWidget(bar);

  OrderModel = new TOrderModel();
  OrderModel->setParent(this);
  OrderModel->RowIcon = ImgListOrder.Image(0);
  lvOrders = new QTreeView(central);
  lvOrders->setObjectName(QStringLiteral("lvOrders"));
  lvOrders->setModel(OrderModel);
  lvOrders->setRootIsDecorated(false);
  lvOrders->setUniformRowHeights(true);
  lvOrders->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvOrders->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvOrders->setSortingEnabled(false);
  lvOrders->header()->setSectionsClickable(false);
  lvOrders->header()->setStretchLastSection(false);
  // The classic widths, widened where today's fonts need more for the captions
  // and for amounts like "$1234.56".
  const int widths[] = {140, 160, 150, 70, 80};
  for (int c = 0; c < 5; ++c) lvOrders->setColumnWidth(c, widths[c]);
  v->addWidget(lvOrders, 1);
  setCentralWidget(central);

  sbPanel1 = new QLabel(this);
  sbPanel1->setMinimumWidth(230);
  sbPanel2 = new QLabel(this);
  sbPanel2->setMinimumWidth(100);
  sbPanel3 = new QLabel(QStringLiteral("Varnett"), this);
  sbPanel3->setMinimumWidth(50);
  sbProgress = new QProgressBar(this);
  sbProgress->setMaximumWidth(120);
  sbProgress->setMaximumHeight(14);
  sbProgress->setTextVisible(false);
  sbProgress->hide();
  statusBar()->addWidget(sbPanel1, 1);
  statusBar()->addPermanentWidget(sbProgress);
  statusBar()->addPermanentWidget(sbPanel2);
  statusBar()->addPermanentWidget(sbPanel3);

  pmCheckMail = new QMenu(this);
  A1 = pmCheckMail->addAction(QStringLiteral("Check All ..."));
  pmCheckMail->addSeparator();

  PopupMenuTray = new QMenu(this);
  MIViewOrderList = PopupMenuTray->addAction(QStringLiteral("Open Quenbell"));
  MICheckOrderNew = PopupMenuTray->addAction(QString::fromLatin1(kCheckMail));
  PopupMenuTray->addSeparator();
  Help1 = PopupMenuTray->addAction(QStringLiteral("Help"));
  Homepage1 = PopupMenuTray->addAction(QStringLiteral("Homepage"));
  MIAbout = PopupMenuTray->addAction(QStringLiteral("About..."));
  PopupMenuTray->addSeparator();
  MIExit = PopupMenuTray->addAction(QStringLiteral("Exit"));
  PopupMenuTray->setDefaultAction(MIViewOrderList);

  CTrayIcon = new TCoolTrayIcon(this, this);
  CTrayIcon->SetPopupMenu(PopupMenuTray);
  CTrayIcon->SetHint(QStringLiteral("Quenbell"));
  CTrayIcon->SetIconVisible(true);
  MSNPopForm = new TsuiMSNPopForm(this, this);

  connect(btnCheck, &QPushButton::clicked, this, &TFormMain::btnCheckClick);
  connect(suiArrowButton1, &QToolButton::clicked, this, &TFormMain::suiArrowButton1Click);
  connect(btnMailProgram, &QPushButton::clicked, this, &TFormMain::btnMailProgramClick);
  connect(btnOptions, &QPushButton::clicked, this, &TFormMain::btnOptionsClick);
  connect(btnHide, &QPushButton::clicked, this, &TFormMain::btnHideClick);
  connect(btnAbout, &QPushButton::clicked, this, &TFormMain::MIAboutClick);
  connect(LabelHomepage, &TClickLabel::clicked, this, &TFormMain::Homepage1Click);
  connect(A1, &QAction::triggered, this, &TFormMain::btnCheckClick);
  connect(MIViewOrderList, &QAction::triggered, this, &TFormMain::MIViewOrderListClick);
  connect(MICheckOrderNew, &QAction::triggered, this, &TFormMain::btnCheckClick);
  connect(Help1, &QAction::triggered, this, &TFormMain::Help1Click);
  connect(Homepage1, &QAction::triggered, this, &TFormMain::Homepage1Click);
  connect(MIAbout, &QAction::triggered, this, &TFormMain::MIAboutClick);
  connect(MIExit, &QAction::triggered, this, &TFormMain::MIExitClick);
  connect(MSNPopForm, &TsuiMSNPopForm::clicked, this, &TFormMain::MIViewOrderListClick);
  connect(&TimerAutoCheck, &QTimer::timeout, this, &TFormMain::TimerAutoCheckTimer);
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

  ApplySkin(*this);
  resize(680, 360);
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
}

void TFormMain::InitMain() {
  // Without a notification area the window is the only way in.
  if (!AppOption->bMinToTray || !TCoolTrayIcon::TrayAvailable()) {
    if (QScreen* s = QGuiApplication::primaryScreen()) move(s->availableGeometry().center() - rect().center());
    show();
  }
  ParseGear = PluginDir.empty() ? std::make_unique<TParseGear>() : std::make_unique<TParseGear>(PluginDir);
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
    case WM_IDLE_NEWS: OnIdleNews(static_cast<int>(static_cast<TWorkerEvent*>(e)->LParam)); break;
    case WM_ADD_ORDER: WMOrderNew(m->WParam); break;
    case WM_ORDWATCH_PROGRESS: WMProgress(m->WParam, m->LParam); break;
    default: break;
  }
}

void TFormMain::btnCheckClick() {
  if (btnCheck->text() != QLatin1String(kCheckMail)) {
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
  btnCheck->setText(QString::fromLatin1(kStopChecking));
  MICheckOrderNew->setText(btnCheck->text());
  FOmu = std::make_unique<TGetMailThd>(this, FTaskList, FOrderList, *ParseGear);
  FOmu->ReadTimeoutMs = WorkerReadTimeoutMs;
  FOmu->Start();
  CTrayIcon->SetIconList(&ImgListCheck);
  CTrayIcon->SetCycleIcons(true);
}

void TFormMain::EndCheckThread() {
  btnCheck->setText(QString::fromLatin1(kCheckMail));
  MICheckOrderNew->setText(btnCheck->text());
  if (FOmu) {
    FOmu->Stop();
    std::this_thread::yield();
  }
}

void TFormMain::RefreshAccountMenu() {
  const auto actions = pmCheckMail->actions();
  for (qsizetype i = 2; i < actions.size(); ++i) {
    pmCheckMail->removeAction(actions[i]);
    delete actions[i];
  }
  for (size_t i = 0; i < AppOption->AccountList.size(); ++i) {
    QAction* item = pmCheckMail->addAction(ToQ(AppOption->AccountList[i]->Name));
    item->setData(static_cast<int>(i));
    connect(item, &QAction::triggered, this, [this, i] { OnMailAccountClick(static_cast<int>(i)); });
  }
}

void TFormMain::TimerAutoCheckTimer() {
  if (!AppOption->bCheckPaymentOnSchedule) {
    FTimeCount = 0;
    return;
  }
  ++FTimeCount;
  if (FTimeCount < AppOption->iCheckPaymentTime * 10) return;
  FTimeCount = 0;
  if (btnCheck->text() != QLatin1String(kCheckMail)) return;
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
  pmCheckMail->popup(btnCheck->mapToGlobal(QPoint(0, btnCheck->height())));
}

void TFormMain::btnOptionsClick() {
  TFormOptions dlg(this);
  if (dlg.exec() == QDialog::Accepted) {
    RefreshAccountMenu();
    RestartWatches();
  }
}

void TFormMain::MIAboutClick() {
  TFormAbout about(nullptr);
  about.exec();
}

void TFormMain::btnHideClick() { CTrayIcon->HideMainForm(); }

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
  CTrayIcon->SetCycleIcons(false);
  CTrayIcon->SetIconIndex(0);
}

void TFormMain::ReleaseFinishedWorker() {
  // Its last record is queued right before its body returns: the join is short.
  if (FOmu) FOmu->WaitFor();
  FOmu.reset();
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
      sbPanel1->setText(ToQ(rec->LogMessage));
    }
  }
  if (!FFinished) return;

  ReleaseFinishedWorker();
  FbRunning = false;
  EndCheckThread();
  CTrayIcon->SetCycleIcons(false);
  sbProgress->hide();
  if (FNewOrderCome) {
    PlaySound(QString::fromStdString(ExecutableDir() + "/Sound/ewpayment.wav"));
    if (!isActiveWindow()) {
      CTrayIcon->SetIconList(&ImgListNewNotify);
      CTrayIcon->SetCycleIcons(true);
    }
    MSNPopForm->Title = QString::fromStdString(ApplicationTitle());
    MSNPopForm->StayTime = 3500;
    MSNPopForm->MessageText = QStringLiteral("%1 new payment(s) received").arg(iNewOrderCount);
    MSNPopForm->Popup();
  } else {
    CTrayIcon->SetCycleIcons(false);
    CTrayIcon->SetIconIndex(0);
  }
  Post(WM_ADD_ORDER, 1, 0);
  StartIdleChecks();
}

void TFormMain::WMOrderNew(intptr_t wParam) {
  {
    auto orders = FOrderList.Lock();
    try {
      if (wParam == 0 && !orders->empty()) OrderModel->Append(*orders->back());
      else if (wParam == 1) OrderModel->Rebuild(*orders);
    } catch (...) {
    }
  }
  sbPanel2->setText(QStringLiteral("%1 payment(s)").arg(OrderModel->rowCount()));
}

void TFormMain::WMProgress(intptr_t state, intptr_t value) {
  // A long first check of a large mailbox shows how far it has come.
  if (state == rmsBegin) {
    sbProgress->setRange(0, static_cast<int>(value > 0 ? value : 0));
    sbProgress->setValue(0);
    sbProgress->setVisible(value > 0);
  } else if (state == rmsWork) {
    sbProgress->setValue(static_cast<int>(value));
  } else {
    sbProgress->hide();
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
