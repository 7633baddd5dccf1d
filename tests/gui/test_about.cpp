#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include <vector>

#include "app/ClickLabel.h"
#include "app/ShellOpen.h"
#include "app/fmAbout.h"
#include "GuiTestSupport.h"

namespace qnb {
namespace {

class AboutBox : public ::testing::Test {
 protected:
  AboutBox() : FOld(SetUrlOpener([this](const QUrl& u) { opened.push_back(u.toString()); })) {}
  ~AboutBox() override { SetUrlOpener(FOld); }
  std::vector<QString> opened;

 private:
  TUrlOpener FOld;
};

TEST_F(AboutBox, ShowsTheBuildVersion) {
  uint16_t v[4] = {9, 9, 9, 9};
  ASSERT_TRUE(GetBuildInfo(v[0], v[1], v[2], v[3]));
  const QString fromBuild = QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
  EXPECT_EQ(fromBuild, QStringLiteral(QNB_TEST_PROJECT_VERSION));
  TFormAbout about;
  EXPECT_EQ(about.LabelVersion->text(), QStringLiteral("Version " QNB_TEST_PROJECT_VERSION));
}

TEST_F(AboutBox, BorderlessPictureWithItsLabels) {
  TFormAbout about;
  EXPECT_EQ(about.windowTitle(), QStringLiteral("About Quenbell"));
  EXPECT_EQ(about.size(), QSize(350, 233));
  EXPECT_TRUE(about.windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(about.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(about.Image1->geometry(), QRect(0, 0, 350, 233));
  ASSERT_FALSE(about.Image1->pixmap().isNull());
  EXPECT_EQ(about.Label6->text(), QStringLiteral("Website:"));
  EXPECT_EQ(about.Label4->text(), QStringLiteral("https://quenbell.example.com"));
  EXPECT_EQ(about.Label1->text(), QStringLiteral("Mail:"));
  EXPECT_EQ(about.Label2->text(), QStringLiteral("support@quenbell.example.com"));
  EXPECT_EQ(about.Label4->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(about.Label2->cursor().shape(), Qt::PointingHandCursor);
  for (QWidget* l : {static_cast<QWidget*>(about.LabelVersion), static_cast<QWidget*>(about.Label2)})
    EXPECT_TRUE(about.rect().contains(l->geometry())) << "on the picture";
  const QRect desk = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(about.geometry().center(), desk.center()) << "centred on the desktop";
}

TEST_F(AboutBox, LinksOpenTheirAddressesAndThePictureCloses) {
  TFormAbout about;
  about.show();
  QTest::mouseClick(about.Label4, Qt::LeftButton);
  QTest::mouseClick(about.Label2, Qt::LeftButton);
  EXPECT_EQ(opened, (std::vector<QString>{QStringLiteral("https://quenbell.example.com"),
                                          QStringLiteral("mailto:support@quenbell.example.com")}));
  EXPECT_TRUE(about.isVisible()) << "a link click does not close the box";
  QTest::mouseClick(about.Image1, Qt::LeftButton, {}, QPoint(200, 215));
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(opened.size(), 2u);
}

TEST_F(AboutBox, ShownModallyItEndsWithAClickOnThePicture) {
  TFormAbout about;
  test::TModalAnswer<TFormAbout> click([](TFormAbout& a) { QTest::mouseClick(a.Image1, Qt::LeftButton); });
  about.exec();
  EXPECT_TRUE(click.found);
  test::TModalAnswer<TFormAbout> escape([](TFormAbout& a) { QTest::keyClick(&a, Qt::Key_Escape); });
  about.exec();
  EXPECT_TRUE(escape.found);
}

}  // namespace
}  // namespace qnb
