#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>

#include "app/ClickLabel.h"
#include "app/MSNPopForm.h"
#include "GuiTestSupport.h"

namespace qnb {
namespace {

using S = TPopState;

class Popup : public ::testing::Test {
 protected:
  Popup() : closed(&pop, &TsuiMSNPopForm::closed), clicked(&pop, &TsuiMSNPopForm::clicked),
            titleClicked(&pop, &TsuiMSNPopForm::titleClicked) {
    form().SetClock([this] { return now; });
    pop.Title = QStringLiteral("Quenbell");
    pop.MessageText = QStringLiteral("3 new payment(s) received");
    pop.StayTime = 3500;
  }
  TfrmMSNPopForm& form() { return *pop.Form(); }
  bool WaitState(S s) { return test::WaitFor([&] { return form().State() == s; }); }
  // Presses at a point of the window, as the user would.
  void Press(QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    QWidget* target = form().childAt(at);
    ASSERT_NE(target, nullptr);
    QTest::mousePress(target, b, {}, target->mapFrom(&form(), at));
  }
  void Click(QPoint at, Qt::MouseButton b = Qt::LeftButton) {
    QWidget* target = form().childAt(at);
    ASSERT_NE(target, nullptr);
    QTest::mouseClick(target, b, {}, target->mapFrom(&form(), at));
  }

  int64_t now = 1000;
  TsuiMSNPopForm pop;
  QSignalSpy closed, clicked, titleClicked;
};

TEST_F(Popup, WindowLabelsAndPlace) {
  pop.AnimateTime = 0;
  pop.Popup();
  ASSERT_EQ(form().State(), S::psShowing);
  EXPECT_TRUE(form().isVisible());
  EXPECT_EQ(form().size(), QSize(181, 116));
  const Qt::WindowFlags f = form().windowFlags();
  EXPECT_TRUE(f.testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(f.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Tool) << "no task-bar button";
  EXPECT_TRUE(form().testAttribute(Qt::WA_ShowWithoutActivating));

  EXPECT_EQ(form().lbl_title->geometry(), QRect(10, 5, 151, 18));
  EXPECT_EQ(form().lbl_text->geometry(), QRect(10, 40, 161, 66));
  EXPECT_EQ(form().lbl_title->text(), QStringLiteral("Quenbell"));
  EXPECT_EQ(form().lbl_text->text(), QStringLiteral("3 new payment(s) received"));
  EXPECT_TRUE(form().lbl_text->wordWrap());
  EXPECT_EQ(form().lbl_text->textFormat(), Qt::PlainText) << "mail text never becomes markup";
  EXPECT_EQ(form().lbl_title->font().pointSize(), 8);
  EXPECT_EQ(form().lbl_text->palette().color(QPalette::WindowText), QColor(0, 0, 128));
  EXPECT_EQ(form().StayTime, 3500) << "copied from the component";

  // Bottom right of the work area, 18 pixels in from the right edge.
  EXPECT_EQ(TsuiMSNPopForm::AutoPlace(QRect(0, 0, 1280, 800)), QPoint(1081, 684));
  EXPECT_EQ(TsuiMSNPopForm::AutoPlace(QRect(1280, 30, 1024, 738)), QPoint(2105, 652));
  EXPECT_EQ(form().pos(), TsuiMSNPopForm::AutoPlace(QGuiApplication::primaryScreen()->availableGeometry()));
}

TEST_F(Popup, StayIsCountedFromTheEndOfTheSlideIn) {
  pop.AnimateTime = 60;
  pop.Popup();
  EXPECT_EQ(form().State(), S::psSlidingIn);
  EXPECT_FALSE(form().Timer1.isActive()) << "the stay has not begun";
  EXPECT_LT(form().mask().boundingRect().height(), 116) << "only what has come in is shown";
  now = 5000;
  ASSERT_TRUE(WaitState(S::psShowing));
  EXPECT_EQ(form().ShownAt(), 5000);
  EXPECT_TRUE(form().mask().isEmpty()) << "the whole window once in";
  EXPECT_TRUE(form().Timer1.isActive());
  EXPECT_EQ(form().Timer1.interval(), 100);

  now = 5000 + 3499;
  form().Timer1Timer();
  EXPECT_EQ(form().State(), S::psShowing);
  now = 5000 + 3500;
  form().Timer1Timer();
  EXPECT_EQ(form().State(), S::psSlidingOut);
  EXPECT_FALSE(form().Timer1.isActive());
  EXPECT_TRUE(form().isVisible()) << "still sliding out";
  EXPECT_EQ(closed.count(), 0);
  ASSERT_TRUE(WaitState(S::psHidden));
  EXPECT_FALSE(form().isVisible());
  EXPECT_EQ(closed.count(), 1);
}

TEST_F(Popup, SecondPopupTakesTheNewTextAndPlaceButNotANewStay) {
  pop.AnimateTime = 0;
  pop.AutoPosition = false;
  pop.PositionX = 10;
  pop.PositionY = 20;
  now = 0;
  pop.Popup();
  ASSERT_EQ(form().State(), S::psShowing);
  EXPECT_EQ(form().pos(), QPoint(10, 20));

  now = 3000;
  pop.MessageText = QStringLiteral("5 new payment(s) received");
  pop.PositionX = 30;
  pop.Popup();
  EXPECT_EQ(form().lbl_text->text(), QStringLiteral("5 new payment(s) received"));
  EXPECT_EQ(form().pos(), QPoint(30, 20));
  EXPECT_EQ(form().State(), S::psShowing);
  EXPECT_EQ(form().ShownAt(), 0);

  now = 3500;
  form().Timer1Timer();
  EXPECT_EQ(form().State(), S::psHidden) << "no slide: hidden at once";
  EXPECT_EQ(closed.count(), 1);
}

TEST_F(Popup, WrappedClockEndsTheStay) {
  pop.AnimateTime = 0;
  now = 1'000'000;
  pop.Popup();
  now = 10;
  form().Timer1Timer();
  EXPECT_EQ(form().State(), S::psHidden);
}

TEST_F(Popup, CloseBoxRemovesItAtOnceWithoutTheSlide) {
  for (bool duringSlideIn : {false, true}) {
    SCOPED_TRACE(duringSlideIn ? "during the slide-in" : "during the stay");
    closed.clear();
    pop.AnimateTime = duringSlideIn ? 5000 : 30;
    pop.Popup();
    if (!duringSlideIn) {
      ASSERT_TRUE(WaitState(S::psShowing));
    }
    // The background the close box is drawn on, wherever the slide has got to.
    QWidget* body = form().lbl_title->parentWidget();
    QTest::mousePress(body, Qt::LeftButton, {}, QPoint(168, 12));
    EXPECT_EQ(form().State(), S::psHidden);
    EXPECT_FALSE(form().isVisible());
    EXPECT_FALSE(form().Timer1.isActive());
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(clicked.count(), 0);
  }
  // The flag is spent: the next stay ends with the slide again.
  pop.AnimateTime = 30;
  pop.Popup();
  ASSERT_TRUE(WaitState(S::psShowing));
  now += 4000;
  form().Timer1Timer();
  EXPECT_EQ(form().State(), S::psSlidingOut);
}

TEST_F(Popup, ClicksRunTheirHandlersAndLeaveThePopupUp) {
  pop.AnimateTime = 0;
  pop.Popup();
  Click(QPoint(60, 60));  // message text
  Click(QPoint(90, 32));  // body between title and text
  Click(QPoint(5, 100));  // body, bottom left
  EXPECT_EQ(clicked.count(), 3);
  Click(QPoint(30, 12));  // title
  EXPECT_EQ(titleClicked.count(), 1);
  EXPECT_EQ(clicked.count(), 3);
  Click(QPoint(60, 60), Qt::RightButton);
  EXPECT_EQ(clicked.count(), 3);
  EXPECT_EQ(form().State(), S::psShowing);
  EXPECT_TRUE(form().Timer1.isActive());

  pop.ClickHide = true;
  pop.Popup();  // copies ClickHide to the window
  Click(QPoint(60, 60));
  EXPECT_EQ(clicked.count(), 4);
  EXPECT_EQ(form().State(), S::psHidden);
}

TEST_F(Popup, PopupDuringTheSlideOutComesBackWithANewStay) {
  pop.AnimateTime = 400;
  pop.Popup();
  now = 100;
  ASSERT_TRUE(WaitState(S::psShowing));
  now = 100 + 3500;
  form().Timer1Timer();
  ASSERT_EQ(form().State(), S::psSlidingOut);
  now = 9000;
  pop.Popup();
  EXPECT_EQ(form().State(), S::psSlidingIn);
  ASSERT_TRUE(WaitState(S::psShowing));
  EXPECT_EQ(form().ShownAt(), 9000);
  EXPECT_EQ(closed.count(), 0);
}

// The whole life on the real clock, with shortened times.
TEST(PopupRealTime, SlidesInStaysAndSlidesOut) {
  TsuiMSNPopForm pop;
  QSignalSpy closed(&pop, &TsuiMSNPopForm::closed);
  pop.AnimateTime = 40;
  pop.StayTime = 250;
  pop.MessageText = QStringLiteral("1 new payment(s) received");
  pop.Popup();
  TfrmMSNPopForm& form = *pop.Form();
  ASSERT_TRUE(test::WaitFor([&] { return form.State() == S::psShowing; }));
  QElapsedTimer stay;
  stay.start();
  ASSERT_TRUE(test::WaitFor([&] { return form.State() == S::psSlidingOut; }));
  const qint64 stayed = stay.elapsed();
  EXPECT_GE(stayed, 240);
  EXPECT_LT(stayed, 250 + 100 + 2000) << "generous: the machine may be busy";
  ASSERT_TRUE(test::WaitFor([&] { return form.State() == S::psHidden; }));
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(closed.count(), 1);
}

}  // namespace
}  // namespace qnb
