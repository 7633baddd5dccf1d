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
#include <thread>

#include "app/ClickLabel.h"
#include "app/CoolTrayIcon.h"
#include "app/MSNPopForm.h"
#include "app/QtText.h"
#include "app/ShellOpen.h"
#include "app/Skin.h"
#include "app/fmAbout.h"
#include "app/fmOptions.h"
#include "app/OrderModel.h"
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
  connect(FUi.MSNPopForm, &TsuiMSNPopForm::clicked, this, &TFormMain::MIViewOrderListClick);
  connect(&TimerAutoCheck, &QTimer::timeout, this, &TFormMain::TimerAutoCheckTimer);

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
  FTimeCount = 0;
  if (AppOption->bCheckPaymentWhenOpening) btnCheckClick();
}

void TFormMain::Post(uint32_t message, intptr_t wParam, intptr_t lParam) {
  QCoreApplication::postEvent(this, new TWorkerEvent(message, wParam, lParam));
}

void TFormMain::customEvent(QEvent* e) {
  if (e->type() != TWorkerEvent::kType) return QMainWindow::customEvent(e);
  auto* m = static_cast<TWorkerEvent*>(e);
  switch (m->Message) {
    case WM_ORDWATCH_LOGNOTIFY: WMUpdateStatus(); break;
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
  FOmu = std::make_unique<TGetMailThd>(this, FTaskList, FOrderList, *ParseGear);
  FOmu->ReadTimeoutMs = WorkerReadTimeoutMs;
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
}

void TFormMain::TimerAutoCheckTimer() {
  if (!AppOption->bCheckPaymentOnSchedule) {
    FTimeCount = 0;
    return;
  }
  ++FTimeCount;
  if (FTimeCount < AppOption->iCheckPaymentTime * 10) return;
  if (FUi.btnCheck->text() == QLatin1String(kCheckMail)) btnCheckClick();
  FTimeCount = 0;
}

void TFormMain::suiArrowButton1Click() {
  FUi.pmCheckMail->popup(FUi.btnCheck->mapToGlobal(QPoint(0, FUi.btnCheck->height())));
}

void TFormMain::btnOptionsClick() {
  TFormOptions dlg(this);
  if (dlg.exec() == QDialog::Accepted) RefreshAccountMenu();
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
      FUi.sbPanel1->setText(ToQ(rec->LogMessage));
    }
  }
  if (!FFinished) return;

  ReleaseFinishedWorker();
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
  } else {
    FUi.CTrayIcon->SetCycleIcons(false);
    FUi.CTrayIcon->SetIconIndex(0);
  }
  Post(WM_ADD_ORDER, 1, 0);
}

void TFormMain::WMOrderNew(intptr_t wParam) {
  {
    auto orders = FOrderList.Lock();
    try {
      if (wParam == 0 && !orders->empty()) FOrderModel->Append(*orders->back());
      else if (wParam == 1) FOrderModel->Rebuild(*orders);
    } catch (...) {
    }
  }
  FUi.sbPanel2->setText(QStringLiteral("%1 payment(s)").arg(FOrderModel->rowCount()));
}

void TFormMain::WMProgress(intptr_t state, intptr_t value) {
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
