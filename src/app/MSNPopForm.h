#pragma once
// The pop-up that slides in above the task bar, stays a while and slides out:
// the component TsuiMSNPopForm (what the main window configures and calls) and
// its window TfrmMSNPopForm.

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>

class QPropertyAnimation;

namespace qnb {

class TClickLabel;

enum class TPopState { psHidden, psSlidingIn, psShowing, psSlidingOut };

// Milliseconds of a monotonic clock; tests put their own in.
using TMsClock = std::function<int64_t()>;
int64_t SystemMilliseconds();

class TfrmMSNPopForm : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWidth = 181;
  static constexpr int kHeight = 116;
  // The close box drawn on the background, in client pixels (162..175, 6..19).
  static QRect CloseBoxRect() { return QRect(162, 6, 14, 14); }

  TfrmMSNPopForm();
  ~TfrmMSNPopForm() override;

  // Copied from the component by each Popup.
  int AnimateTime = 400;
  int StayTime = 2000;
  bool ClickHide = false;

  TClickLabel* lbl_title;
  TClickLabel* lbl_text;
  // Ends the stay; runs while the window is fully shown.
  QTimer Timer1;

  // Shows the window, sliding it in unless it is shown already.
  void ShowWindow();
  // Slides the window out, or hides it at once after the close box.
  void HideWindow();

  TPopState State() const { return FState; }
  // Clock time at which the last slide-in ended.
  int64_t ShownAt() const { return FShownAt; }
  void SetClock(TMsClock clock) { FClock = std::move(clock); }
  // Whether the window slides at all (not where windows cannot be placed).
  bool SlideEnabled() const;

 public slots:
  void Timer1Timer();

 signals:
  void BodyClick();
  void TitleClick();
  void Closed();

 private:
  class TBody;

  void OnCloseBox();
  void OnBodyClick();
  void Slide(int toY, TPopState during);
  void SlideFinished();
  void UpdateMask();

  TBody* FBody;
  QPropertyAnimation* FSlide;
  TPopState FState = TPopState::psHidden;
  TMsClock FClock = SystemMilliseconds;
  int64_t FShownAt = 0;
  bool FClosedByBox = false;
};

class TsuiMSNPopForm : public QObject {
  Q_OBJECT
 public:
  // mainForm decides the monitor the pop-up appears on; may be nullptr.
  explicit TsuiMSNPopForm(QWidget* mainForm = nullptr, QObject* parent = nullptr);
  ~TsuiMSNPopForm() override;

  int AnimateTime = 400;
  int StayTime = 2000;
  bool AutoPosition = true;
  int PositionX = 0;
  int PositionY = 0;
  bool ClickHide = false;
  QFont TitleFont;
  QColor TitleColor;
  QFont MessageFont;
  QColor MessageColor;
  QString Title;
  QString MessageText;

  // Shows the texts; a pop-up already showing takes the new texts and place
  // but keeps counting its stay from its first show.
  void Popup();

  // Where an automatically placed pop-up goes on the given work area.
  static QPoint AutoPlace(const QRect& workArea);

  TfrmMSNPopForm* Form() const { return FForm; }

 signals:
  void clicked();       // body or message text
  void titleClicked();
  void closed();

 private:
  QPointer<QWidget> FMainForm;
  TfrmMSNPopForm* FForm;
};

}  // namespace qnb
