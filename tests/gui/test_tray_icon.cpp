#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QWidget>

#include "app/CoolTrayIcon.h"
#include "app/QnbImages.h"
#include "GuiTestSupport.h"

namespace qnb {
namespace {

// The platform icon shows this list image (icons copied from one share its key).
bool Shows(const TCoolTrayIcon& tray, const QIcon& icon) {
  return tray.Native()->icon().cacheKey() == icon.cacheKey() && tray.CurrentIcon().cacheKey() == icon.cacheKey();
}

TEST(TrayImages, ListsHaveTheirCountsOfDistinctSharpImages) {
  struct Case { const char* name; TImageList list; int count; };
  for (const Case& c : {Case{"check", MakeImgListCheck(), 5}, Case{"new", MakeImgListNewNotify(), 2},
                        Case{"order", MakeImgListOrder(), 1}}) {
    ASSERT_EQ(c.list.Count(), c.count) << c.name;
    std::vector<QImage> seen;
    for (int i = 0; i < c.list.Count(); ++i) {
      const QIcon icon = c.list.Image(i);
      // Real pixels at 16 and at 32 (a 2x panel), not an upscaled 16.
      for (int s : {16, 32}) {
        QPixmap pm = icon.pixmap(QSize(s, s));
        ASSERT_FALSE(pm.isNull()) << c.name << " " << i << " at " << s;
        EXPECT_EQ(pm.size(), QSize(s, s)) << c.name << " " << i;
      }
      QImage img = icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
      for (const QImage& other : seen) EXPECT_NE(img, other) << c.name << " image " << i << " repeats";
      seen.push_back(img);
    }
    EXPECT_TRUE(c.list.Image(c.count).isNull()) << c.name;
  }
  EXPECT_FALSE(StoredTrayIcon().pixmap(QSize(16, 16)).isNull());
  EXPECT_FALSE(AppIcon().pixmap(QSize(256, 256)).isNull());
}

TEST(TrayIcon, IconAndIndexFollowTheList) {
  TImageList check = MakeImgListCheck();
  TImageList blink = MakeImgListNewNotify();
  TCoolTrayIcon tray(nullptr);
  EXPECT_EQ(tray.CycleInterval(), 500);
  EXPECT_TRUE(tray.Hint().isEmpty());
  EXPECT_TRUE(Shows(tray, tray.Icon())) << "the stored icon before any list";

  tray.SetIconIndex(3);  // no list: index 0, icon unchanged
  EXPECT_EQ(tray.IconIndex(), 0);
  EXPECT_TRUE(Shows(tray, tray.Icon()));

  tray.SetIconList(&check);
  EXPECT_EQ(tray.IconIndex(), 0);
  EXPECT_TRUE(Shows(tray, check.Image(0)));
  tray.SetIconIndex(3);
  EXPECT_TRUE(Shows(tray, check.Image(3)));

  struct Case { int asked; int index; };
  tray.SetIconList(&blink);
  EXPECT_TRUE(Shows(tray, blink.Image(0))) << "a new list starts at its first image";
  for (Case c : {Case{7, 1}, Case{4, 1}, Case{1, 1}, Case{0, 0}, Case{-3, 0}}) {
    tray.SetIconIndex(c.asked);
    EXPECT_EQ(tray.IconIndex(), c.index) << c.asked;
    EXPECT_TRUE(Shows(tray, blink.Image(c.index))) << c.asked;
  }

  // After a check the resting icon is the first image of the check list.
  tray.SetIconList(&check);
  tray.SetCycleIcons(true);
  tray.CycleTimerTimer();
  tray.SetCycleIcons(false);
  tray.SetIconIndex(0);
  EXPECT_TRUE(Shows(tray, check.Image(0)));

  tray.SetIconList(nullptr);
  EXPECT_TRUE(Shows(tray, tray.Icon()));
}

TEST(TrayIcon, CyclingRestartsAtZeroWrapsAndStopsWhereItIs) {
  TImageList check = MakeImgListCheck();
  TCoolTrayIcon tray(nullptr);
  tray.SetIconList(&check);
  tray.SetIconIndex(3);
  tray.SetCycleIcons(true);
  EXPECT_EQ(tray.IconIndex(), 0);
  EXPECT_TRUE(tray.CycleIcons());
  std::vector<int> seen;
  for (int i = 0; i < 7; ++i) {
    tray.CycleTimerTimer();
    seen.push_back(tray.IconIndex());
    EXPECT_TRUE(Shows(tray, check.Image(tray.IconIndex())));
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 0, 1, 2}));

  // The real timer drives the same ticks.
  tray.SetCycleInterval(5);
  const int before = tray.IconIndex();
  EXPECT_TRUE(test::WaitFor([&] { return tray.IconIndex() != before; }));
  tray.SetCycleIcons(false);
  const int stopped = tray.IconIndex();
  QTest::qWait(40);
  EXPECT_EQ(tray.IconIndex(), stopped);
  EXPECT_TRUE(Shows(tray, check.Image(stopped))) << "the icon shown stays";

  // Without a list a tick changes nothing.
  tray.SetIconList(nullptr);
  tray.CycleTimerTimer();
  EXPECT_TRUE(Shows(tray, tray.Icon()));
}

TEST(TrayIcon, DoubleClickRunsTheDefaultItemAndSingleClickNothing) {
  QMenu menu;
  QAction* open = menu.addAction(QStringLiteral("Open Quenbell"));
  QAction* check = menu.addAction(QStringLiteral("Check Mail"));
  menu.setDefaultAction(open);
  int opened = 0, checked = 0;
  QObject::connect(open, &QAction::triggered, [&] { ++opened; });
  QObject::connect(check, &QAction::triggered, [&] { ++checked; });

  TCoolTrayIcon tray(nullptr);
  tray.SetPopupMenu(&menu);
  EXPECT_EQ(tray.Native()->contextMenu(), &menu) << "the right button opens the tray menu";
  emit tray.Native()->activated(QSystemTrayIcon::Trigger);
  emit tray.Native()->activated(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(opened, 0);
  emit tray.Native()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(checked, 0);

  menu.setDefaultAction(nullptr);
  emit tray.Native()->activated(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(opened, 1);
}

TEST(TrayIcon, HideMainFormHidesTheWindow) {
  QWidget main;
  main.show();
  TCoolTrayIcon tray(&main);
  tray.HideMainForm();
  EXPECT_FALSE(main.isVisible());
  TCoolTrayIcon orphan(nullptr);
  orphan.HideMainForm();  // no window: nothing to do
}

// The mark sits on whatever the icon shows, also while a list cycles, and goes
// with the failure.
TEST(TrayIcon, ErrorMarkOverlaysTheShownImageUntilCleared) {
  QWidget form;
  TCoolTrayIcon tray(&form);
  const TImageList list = MakeImgListCheck();
  auto corner = [&] {
    QImage img = tray.Native()->icon().pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    return img.pixelColor(27, 23);
  };
  auto isMarkRed = [](const QColor& c) { return c.red() > 180 && c.green() < 80 && c.blue() < 80; };
  ASSERT_FALSE(isMarkRed(corner()));

  tray.SetErrorMark(true);
  EXPECT_TRUE(tray.ErrorMark());
  EXPECT_TRUE(isMarkRed(corner()));
  tray.SetIconList(&list);
  tray.SetCycleIcons(true);
  tray.CycleTimerTimer();
  EXPECT_EQ(tray.IconIndex(), 1);
  EXPECT_TRUE(isMarkRed(corner()));
  // Under the mark it is still the list's image.
  const QImage under = list.Image(1).pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
  const QImage shown = tray.Native()->icon().pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(shown.pixelColor(2, 2), under.pixelColor(2, 2));

  tray.SetErrorMark(false);
  EXPECT_TRUE(Shows(tray, list.Image(1)));
  EXPECT_FALSE(isMarkRed(corner()));
}

}  // namespace
}  // namespace qnb
