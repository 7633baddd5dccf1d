#include "app/CoolTrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QPainter>
#include <QWidget>

#include <algorithm>

#include "app/QnbImages.h"

namespace qnb {

TCoolTrayIcon::TCoolTrayIcon(QWidget* mainForm, QObject* parent)
    : QObject(parent), FMainForm(mainForm), FTray(new QSystemTrayIcon(this)), FIcon(StoredTrayIcon()) {
  FCycleTimer.setInterval(500);
  connect(&FCycleTimer, &QTimer::timeout, this, &TCoolTrayIcon::CycleTimerTimer);
  connect(FTray, &QSystemTrayIcon::activated, this, &TCoolTrayIcon::OnActivated);
  ShowIcon(FIcon);
}

TCoolTrayIcon::~TCoolTrayIcon() {
  FCycleTimer.stop();
  FTray->hide();
}

void TCoolTrayIcon::SetIconVisible(bool visible) {
  FIconVisible = visible;
  FTray->setVisible(visible);
}

void TCoolTrayIcon::SetIcon(const QIcon& icon) {
  FIcon = icon;
  if (!FIconList) ShowIcon(FIcon);
}

void TCoolTrayIcon::SetIconList(const TImageList* list) {
  FIconList = list;
  FIconIndex = 0;
  if (!FIconList) ShowIcon(FIcon);
  else if (FIconList->Count() > 0) ShowIcon(FIconList->Image(0));
}

void TCoolTrayIcon::SetIconIndex(int index) {
  if (!FIconList || FIconList->Count() == 0) {
    FIconIndex = 0;
    return;
  }
  FIconIndex = std::clamp(index, 0, FIconList->Count() - 1);
  ShowIcon(FIconList->Image(FIconIndex));
}

void TCoolTrayIcon::SetCycleIcons(bool cycle) {
  FCycleIcons = cycle;
  if (cycle) {
    SetIconIndex(0);
    FCycleTimer.start();
  } else {
    FCycleTimer.stop();
  }
}

void TCoolTrayIcon::SetCycleInterval(int ms) {
  // A running timer restarts with the new interval.
  FCycleTimer.setInterval(ms);
}

void TCoolTrayIcon::SetPopupMenu(QMenu* menu) {
  FPopupMenu = menu;
  FTray->setContextMenu(menu);
}

void TCoolTrayIcon::SetHint(const QString& hint) {
  FHint = hint;
  FTray->setToolTip(hint);
}

void TCoolTrayIcon::HideMainForm() {
  if (FMainForm) FMainForm->hide();
}

bool TCoolTrayIcon::TrayAvailable() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TCoolTrayIcon::CycleTimerTimer() {
  if (!FIconList || FIconList->Count() == 0) return;
  FIconIndex = FIconIndex + 1 >= FIconList->Count() ? 0 : FIconIndex + 1;
  ShowIcon(FIconList->Image(FIconIndex));
}

void TCoolTrayIcon::OnActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason != QSystemTrayIcon::DoubleClick || !FPopupMenu) return;
  if (QAction* def = FPopupMenu->defaultAction()) def->trigger();
}

void TCoolTrayIcon::SetErrorMark(bool mark) {
  if (mark == FErrorMark) return;
  FErrorMark = mark;
  ShowIcon(FShown);
}

namespace {

QIcon WithErrorMark(const QIcon& icon) {
  QIcon marked;
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pm = icon.pixmap(size, size);
    if (pm.isNull()) {
      pm = QPixmap(size, size);
      pm.fill(Qt::transparent);
    }
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal d = pm.width() * 0.55;
    const QRectF dot(pm.width() - d, pm.height() - d, d, d);
    p.setPen(QPen(Qt::white, std::max<qreal>(1.0, d / 10)));
    p.setBrush(QColor(220, 30, 30));
    p.drawEllipse(dot.adjusted(0.5, 0.5, -0.5, -0.5));
    QFont f = p.font();
    f.setBold(true);
    f.setPixelSize(std::max(6, static_cast<int>(d * 0.8)));
    p.setFont(f);
    p.drawText(dot, Qt::AlignCenter, QStringLiteral("!"));
    p.end();
    marked.addPixmap(pm);
  }
  return marked;
}

}  // namespace

void TCoolTrayIcon::ShowIcon(const QIcon& icon) {
  FShown = icon;
  FCurrent = FErrorMark ? WithErrorMark(icon) : icon;
  // Changes the existing entry in place.
  FTray->setIcon(FCurrent);
}

}  // namespace qnb
