// quenbell-gallery: shows one of the program's surfaces with sample data, for
// looking at it and for the pictures in docs/screenshots. Never installed.
//
//   quenbell-gallery options | options-accounts | account | about | popup [SLIDE_MS] | tray | icons
//   quenbell-gallery render-icon SVG SIZE OUT.png

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/CoolTrayIcon.h"
#include "app/GuiPresenter.h"
#include "app/MSNPopForm.h"
#include "app/QnbImages.h"
#include "app/RuleEditor.h"
#include "app/Skin.h"
#include "app/fmAbout.h"
#include "app/fmMailAccount.h"
#include "app/fmOptions.h"
#include "settings/QnbBase.h"

using namespace qnb;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: quenbell-gallery options|options-accounts|account|about|popup [SLIDE_MS]|tray|icons\n"
               "       quenbell-gallery render-icon SVG SIZE OUT.png\n");
  return 2;
}

std::unique_ptr<TMailAccount> Sample(const char* name, const char* host, const char* user, bool enabled) {
  auto a = std::make_unique<TMailAccount>(TMailAccount{name, host, "110", user, "secret", enabled});
  a->Security = secStartTls;
  return a;
}

// Options and accounts in a private settings folder, never the user's own.
void SampleSettings(TOptions& o) {
  o.bAutoRun = true;
  o.bMinToTray = false;
  o.bCheckPaymentOnSchedule = true;
  o.bCheckPaymentWhenOpening = true;
  o.iCheckPaymentTime = 10;
  o.sMailProgram = "/usr/bin/thunderbird";
  o.AccountList.push_back(Sample("My Order", "pop.example.com", "orders", true));
  o.AccountList.push_back(Sample("Shop Sales", "mail.example.org", "sales@example.org", true));
  o.AccountList.push_back(Sample("Resellers", "pop3.example.net", "resell", false));
  o.StoreOptions();
}

// Every image at its own size and at twice that, on a light and a dark panel.
class TIconSheet : public QWidget {
 public:
  TIconSheet() {
    setWindowTitle(QStringLiteral("Quenbell images"));
    FCheck = MakeImgListCheck();
    FNew = MakeImgListNewNotify();
    FOrder = MakeImgListOrder();
    FRows = {{QStringLiteral("stored"), {StoredTrayIcon()}},
             {QStringLiteral("check"), Images(FCheck)},
             {QStringLiteral("new"), Images(FNew)},
             {QStringLiteral("order"), Images(FOrder)},
             {QStringLiteral("app"), {AppIcon()}}};
    setFixedSize(2 * kPanel, 36 + static_cast<int>(FRows.size()) * 64);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    const QColor panels[] = {QColor(0xF2, 0xF2, 0xF2), QColor(0x2B, 0x2E, 0x33)};
    const QColor ink[] = {QColor(0x30, 0x30, 0x30), QColor(0xE0, 0xE0, 0xE0)};
    for (int k = 0; k < 2; ++k) {
      const int x0 = k * kPanel;
      p.fillRect(x0, 0, kPanel, height(), panels[k]);
      p.setPen(ink[k]);
      p.drawText(x0 + 8, 20, k == 0 ? QStringLiteral("light panel: 16 px, then 32 px")
                                    : QStringLiteral("dark panel: 16 px, then 32 px"));
      int y = 36;
      for (const auto& [name, icons] : FRows) {
        p.drawText(x0 + 8, y + 14, name);
        int x = x0 + 60;
        for (const QIcon& icon : icons) {
          p.drawPixmap(x, y, icon.pixmap(16, 16));
          p.drawPixmap(x, y + 22, icon.pixmap(32, 32));
          x += 42;
        }
        y += 64;
      }
    }
  }

 private:
  static constexpr int kPanel = 300;
  static QList<QIcon> Images(const TImageList& l) {
    QList<QIcon> out;
    for (int i = 0; i < l.Count(); ++i) out.push_back(l.Image(i));
    return out;
  }
  TImageList FCheck, FNew, FOrder;
  std::vector<std::pair<QString, QList<QIcon>>> FRows;
};

int RenderIcon(int argc, char** argv) {
  if (argc != 5) return Usage();
  const int size = std::atoi(argv[3]);
  QPixmap pm = RenderSvg(QString::fromLocal8Bit(argv[2]), QSize(size, size));
  if (pm.isNull() || !pm.toImage().save(QString::fromLocal8Bit(argv[4]), "PNG")) {
    std::fprintf(stderr, "quenbell-gallery: cannot render %s\n", argv[2]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const QString name = QString::fromLocal8Bit(argv[1]);

  QTemporaryDir config;
  if (!config.isValid()) return 1;
  qputenv("XDG_CONFIG_HOME", QDir(config.path()).absolutePath().toLocal8Bit());

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quenbell"));
  QApplication::setWindowIcon(AppIcon());
  if (name == QLatin1String("render-icon")) return RenderIcon(argc, argv);

  TGuiPresenterScope boxes;
  TOptions options;
  AppOption = &options;
  SampleSettings(options);

  std::unique_ptr<QWidget> window;
  std::unique_ptr<TsuiMSNPopForm> pop;
  std::unique_ptr<TCoolTrayIcon> tray;
  std::unique_ptr<QMenu> menu;
  TImageList check = MakeImgListCheck();
  TMailAccount account{"My Order", "pop.example.com", "110", "orders", "secret", true};
  account.Security = secStartTls;

  if (name == QLatin1String("options") || name == QLatin1String("options-accounts") ||
      name == QLatin1String("options-analyzers")) {
    auto* dlg = new TFormOptions(nullptr);
    if (name == QLatin1String("options-accounts")) {
      dlg->PageControl->setCurrentIndex(1);
      dlg->LVAccounts->setCurrentItem(dlg->LVAccounts->topLevelItem(0));
    }
    if (name == QLatin1String("options-analyzers")) dlg->PageControl->setCurrentIndex(2);
    window.reset(dlg);
  } else if (name == QLatin1String("rule-editor")) {
    // argv[2]: a mail file to open in it.
    auto* editor = new TRuleEditor(nullptr, QString(), QDir::tempPath(), NewRuleTemplate());
    if (argc > 2) editor->LoadMail(QString::fromLocal8Bit(argv[2]));
    window.reset(editor);
  } else if (name == QLatin1String("account")) {
    window.reset(new TFormMailAccount(account, nullptr));
  } else if (name == QLatin1String("about")) {
    window.reset(new TFormAbout(nullptr));
  } else if (name == QLatin1String("icons")) {
    window.reset(new TIconSheet);
  } else if (name == QLatin1String("popup") || name == QLatin1String("tray")) {
    menu = std::make_unique<QMenu>();
    ApplySkin(*menu);
    QAction* open = menu->addAction(QStringLiteral("Open Quenbell"));
    menu->setDefaultAction(open);
    menu->addAction(QStringLiteral("Check Mail"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Help"));
    menu->addAction(QStringLiteral("Homepage"));
    menu->addAction(QStringLiteral("About..."));
    menu->addSeparator();
    QObject::connect(menu->addAction(QStringLiteral("Exit")), &QAction::triggered, &app, &QApplication::quit);
    tray = std::make_unique<TCoolTrayIcon>(nullptr);
    tray->SetPopupMenu(menu.get());
    tray->SetIconVisible(true);
    if (name == QLatin1String("tray")) {
      tray->SetIconList(&check);
      tray->SetCycleIcons(true);
    } else {
      pop = std::make_unique<TsuiMSNPopForm>();
      pop->Title = QStringLiteral("Quenbell");
      pop->StayTime = 60000;
      if (argc > 2) pop->AnimateTime = std::atoi(argv[2]);  // a slow slide to look at
      pop->MessageText = QStringLiteral("3 new payment(s) received");
      QTimer::singleShot(500, pop.get(), [&] { pop->Popup(); });
    }
  } else {
    return Usage();
  }
  if (window) window->show();
  const int rc = app.exec();
  window.reset();
  AppOption = nullptr;
  return rc;
}
