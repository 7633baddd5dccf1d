#pragma once
// The notification-area icon: one stored icon, or the images of a list shown
// one at a time, cycling on a timer. Right button: the tray menu (Qt opens it
// at the cursor); double click: the menu's default item; single click: nothing.

#include <QIcon>
#include <QObject>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class QMenu;
class QWidget;

namespace qnb {

class TImageList;

class TCoolTrayIcon : public QObject {
  Q_OBJECT
 public:
  // mainForm is the window HideMainForm hides; the icon starts hidden, showing
  // the stored icon, with a cycle interval of 500 ms.
  explicit TCoolTrayIcon(QWidget* mainForm, QObject* parent = nullptr);
  ~TCoolTrayIcon() override;

  bool IconVisible() const { return FIconVisible; }
  void SetIconVisible(bool visible);

  // The stored icon, shown while no list is set.
  QIcon Icon() const { return FIcon; }
  void SetIcon(const QIcon& icon);

  // The list is not owned and must outlive its use here; nullptr for none.
  const TImageList* IconList() const { return FIconList; }
  void SetIconList(const TImageList* list);

  int IconIndex() const { return FIconIndex; }
  void SetIconIndex(int index);

  bool CycleIcons() const { return FCycleIcons; }
  void SetCycleIcons(bool cycle);

  int CycleInterval() const { return FCycleTimer.interval(); }
  void SetCycleInterval(int ms);

  QMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(QMenu* menu);

  // A red mark over whatever icon is shown (the stored one or the list's),
  // while some account's last check failed.
  bool ErrorMark() const { return FErrorMark; }
  void SetErrorMark(bool mark);

  QString Hint() const { return FHint; }
  void SetHint(const QString& hint);

  // Hides the main window (and with it its task-bar button).
  void HideMainForm();

  // What the notification area shows now.
  QIcon CurrentIcon() const { return FCurrent; }
  // The platform icon underneath, for wiring and for tests.
  QSystemTrayIcon* Native() const { return FTray; }

  static bool TrayAvailable();

 public slots:
  // One tick of the cycle timer: the next image of the list, or the first after the last.
  void CycleTimerTimer();

 private:
  void OnActivated(QSystemTrayIcon::ActivationReason reason);
  void ShowIcon(const QIcon& icon);

  QWidget* FMainForm;
  QSystemTrayIcon* FTray;
  QTimer FCycleTimer;
  QIcon FIcon;
  QIcon FCurrent;
  QIcon FShown;  // FCurrent without the error mark
  bool FErrorMark = false;
  const TImageList* FIconList = nullptr;
  int FIconIndex = 0;
  bool FCycleIcons = false;
  bool FIconVisible = false;
  QMenu* FPopupMenu = nullptr;
  QString FHint;
};

}  // namespace qnb
