#include "app/MSNPopForm.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "app/ClickLabel.h"
#include "app/QnbImages.h"

namespace qnb {

int64_t SystemMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The background with the labels on it. It is what moves during a slide; the
// window stays in place and shows only the part that has come in.
class TfrmMSNPopForm::TBody : public QWidget {
 public:
  explicit TBody(TfrmMSNPopForm* form) : QWidget(form), FForm(form) {
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    const qreal dpr = devicePixelRatioF();
    if (FBackground.isNull() || FBackground.devicePixelRatio() != dpr)
      FBackground = RenderSvg(ResourcePath(QStringLiteral("popup.svg")), size(), dpr);
    QPainter p(this);
    if (FBackground.isNull()) p.fillRect(rect(), Qt::white);
    else p.drawPixmap(0, 0, FBackground);
  }
  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    if (CloseBoxRect().contains(e->position().toPoint())) {
      FPressed = false;
      FForm->OnCloseBox();
      return;
    }
    FPressed = true;
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton || !FPressed) return;
    FPressed = false;
    if (rect().contains(e->position().toPoint())) FForm->OnBodyClick();
  }

 private:
  TfrmMSNPopForm* FForm;
  QPixmap FBackground;
  bool FPressed = false;
};

TfrmMSNPopForm::TfrmMSNPopForm()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      FBody(new TBody(this)),
      FSlide(new QPropertyAnimation(FBody, "pos", this)) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFixedSize(kWidth, kHeight);
  FBody->setGeometry(0, 0, kWidth, kHeight);

  lbl_title = new TClickLabel(FBody);
  lbl_title->setGeometry(10, 5, kWidth - 30, 18);
  lbl_title->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lbl_title->setTextFormat(Qt::PlainText);
  lbl_text = new TClickLabel(FBody);
  lbl_text->setGeometry(10, 40, kWidth - 20, kHeight - 50);
  lbl_text->setAlignment(Qt::AlignCenter);
  lbl_text->setWordWrap(true);
  lbl_text->setTextFormat(Qt::PlainText);
  connect(lbl_text, &TClickLabel::clicked, this, &TfrmMSNPopForm::OnBodyClick);
  connect(lbl_title, &TClickLabel::clicked, this, &TfrmMSNPopForm::TitleClick);

  Timer1.setInterval(100);
  connect(&Timer1, &QTimer::timeout, this, &TfrmMSNPopForm::Timer1Timer);
  connect(FSlide, &QPropertyAnimation::valueChanged, this, [this] { UpdateMask(); });
  connect(FSlide, &QPropertyAnimation::finished, this, &TfrmMSNPopForm::SlideFinished);
}

TfrmMSNPopForm::~TfrmMSNPopForm() {
  Timer1.stop();
  FSlide->stop();
}

bool TfrmMSNPopForm::SlideEnabled() const {
  // Wayland lets no client place its windows; the pop-up then just appears.
  return AnimateTime > 0 && !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

void TfrmMSNPopForm::ShowWindow() {
  if (FState == TPopState::psShowing || FState == TPopState::psSlidingIn) return;
  const bool wasHidden = FState == TPopState::psHidden;
  FSlide->stop();
  if (wasHidden) {
    FBody->move(0, SlideEnabled() ? kHeight : 0);
    UpdateMask();
    show();
  }
  raise();
  if (SlideEnabled()) {
    Slide(0, TPopState::psSlidingIn);
  } else {
    FBody->move(0, 0);
    FState = TPopState::psSlidingIn;
    SlideFinished();
  }
}

void TfrmMSNPopForm::HideWindow() {
  if (FClosedByBox) {
    FClosedByBox = false;
    FSlide->stop();
    Timer1.stop();
    hide();
    FBody->move(0, 0);
    clearMask();
    FState = TPopState::psHidden;
    emit Closed();
    return;
  }
  if (FState == TPopState::psHidden || FState == TPopState::psSlidingOut) return;
  Timer1.stop();
  raise();
  if (SlideEnabled()) {
    Slide(kHeight, TPopState::psSlidingOut);
  } else {
    FState = TPopState::psSlidingOut;
    SlideFinished();
  }
}

void TfrmMSNPopForm::Timer1Timer() {
  const int64_t since = FClock() - FShownAt;
  // A negative time means the counter wrapped: end the stay rather than wait.
  if (since >= StayTime || since < 0) {
    Timer1.stop();
    HideWindow();
  }
}

void TfrmMSNPopForm::OnCloseBox() {
  FClosedByBox = true;
  Timer1.stop();
  HideWindow();
}

void TfrmMSNPopForm::OnBodyClick() {
  emit BodyClick();
  if (ClickHide) HideWindow();
}

void TfrmMSNPopForm::Slide(int toY, TPopState during) {
  // A slide that reverses one under way takes only the share of the time left.
  const int from = FBody->y();
  const int distance = std::abs(toY - from);
  FState = during;
  FSlide->setStartValue(QPoint(0, from));
  FSlide->setEndValue(QPoint(0, toY));
  FSlide->setDuration(std::max(1, AnimateTime * distance / kHeight));
  FSlide->start();
}

void TfrmMSNPopForm::SlideFinished() {
  if (FState == TPopState::psSlidingIn) {
    FBody->move(0, 0);
    clearMask();
    FState = TPopState::psShowing;
    FShownAt = FClock();
    Timer1.start();
  } else if (FState == TPopState::psSlidingOut) {
    hide();
    FBody->move(0, 0);
    clearMask();
    FState = TPopState::psHidden;
    emit Closed();
  }
}

void TfrmMSNPopForm::UpdateMask() {
  // At least one row: an empty region would mean no mask, the whole window.
  const int top = std::clamp(FBody->y(), 0, kHeight - 1);
  setMask(QRegion(0, top, kWidth, kHeight - top));
}

TsuiMSNPopForm::TsuiMSNPopForm(QWidget* mainForm, QObject* parent)
    : QObject(parent), FMainForm(mainForm), FForm(new TfrmMSNPopForm()) {
  TitleFont = QFont(QStringLiteral("MS Sans Serif"));
  TitleFont.setStyleHint(QFont::SansSerif);
  TitleFont.setPointSize(8);
  MessageFont = TitleFont;
  TitleColor = MessageColor = QColor(0, 0, 128);  // navy
  connect(FForm, &TfrmMSNPopForm::BodyClick, this, &TsuiMSNPopForm::clicked);
  connect(FForm, &TfrmMSNPopForm::TitleClick, this, &TsuiMSNPopForm::titleClicked);
  connect(FForm, &TfrmMSNPopForm::Closed, this, &TsuiMSNPopForm::closed);
}

TsuiMSNPopForm::~TsuiMSNPopForm() { delete FForm; }

QPoint TsuiMSNPopForm::AutoPlace(const QRect& workArea) {
  // QRect::right() is the last pixel; the edge is one further.
  return QPoint(workArea.x() + workArea.width() - TfrmMSNPopForm::kWidth - 18,
                workArea.y() + workArea.height() - TfrmMSNPopForm::kHeight);
}

void TsuiMSNPopForm::Popup() {
  FForm->AnimateTime = AnimateTime;
  FForm->StayTime = StayTime;
  FForm->ClickHide = ClickHide;
  auto setLabel = [](TClickLabel* l, const QString& text, const QFont& font, const QColor& color) {
    l->setText(text);
    l->setFont(font);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
  };
  setLabel(FForm->lbl_title, Title, TitleFont, TitleColor);
  setLabel(FForm->lbl_text, MessageText, MessageFont, MessageColor);

  QPoint pos(PositionX, PositionY);
  if (AutoPosition) {
    QScreen* screen = FMainForm ? FMainForm->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (screen) pos = AutoPlace(screen->availableGeometry());
  }
  FForm->move(pos);
  FForm->ShowWindow();
}

}  // namespace qnb
