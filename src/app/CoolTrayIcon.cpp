#include "app/CoolTrayIcon.h"

#include <QAction>
#include <QMenu>
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

void TCoolTrayIcon::ShowIcon(const QIcon& icon) {
  FCurrent = icon;
  // Changes the existing entry in place.
  FTray->setIcon(icon);
}

}  // namespace qnb
