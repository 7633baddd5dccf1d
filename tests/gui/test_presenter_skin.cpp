#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDialog>
#include <QFile>
#include <QRegularExpression>
#include <QPushButton>

#include <functional>

#include "app/GuiPresenter.h"
#include "app/Skin.h"
#include "settings/Platform.h"
#include "support/TempDir.h"
#include "TestConfig.h"
#include "GuiTestSupport.h"

namespace qnb {
namespace {

TEST(GuiPresenter, EachKindHasItsIconAndButtons) {
  struct Case { TBoxKind kind; QMessageBox::Icon icon; QMessageBox::StandardButtons buttons; QMessageBox::StandardButton def; };
  for (Case c : {Case{TBoxKind::Error, QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok},
                 Case{TBoxKind::Info, QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok},
                 Case{TBoxKind::Sure, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes}}) {
    auto box = MakeMessageBox(c.kind, "Quenbell", "<b>Login Failed</b> for caf\xE9", nullptr);
    EXPECT_EQ(box->icon(), c.icon);
    EXPECT_EQ(box->standardButtons(), c.buttons);
    EXPECT_EQ(box->defaultButton(), box->button(c.def));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Quenbell"));
    EXPECT_EQ(box->textFormat(), Qt::PlainText) << "a server's text is never markup";
    EXPECT_EQ(box->text(), QString::fromUtf8("<b>Login Failed</b> for caf\u00e9"));
    EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
  }
}

TEST(GuiPresenter, AnswersComeBackAndTheBoxBelongsToTheActiveWindow) {
  TGuiPresenterScope scope;
  QDialog owner;
  owner.show();
  owner.activateWindow();
  auto ownerActive = [&] { return test::WaitFor([&] { return QApplication::activeWindow() == &owner; }); };
  ASSERT_TRUE(ownerActive());

  // Shows one box through the routines and answers it; the box must be owned
  // by the window that was active, and that window is active again afterwards.
  auto ask = [&](const std::function<bool()>& routine, const std::function<void(QMessageBox&)>& answer) {
    test::TModalAnswer<QMessageBox> answered([&](QMessageBox& box) {
      EXPECT_EQ(box.parentWidget(), &owner);
      answer(box);
    });
    const bool result = routine();
    EXPECT_TRUE(answered.found);
    EXPECT_TRUE(ownerActive()) << "active again afterwards";
    return result;
  };
  auto sure = [] { return MBSure("Are you sure to exit?"); };
  auto press = [](QMessageBox::StandardButton b) { return [b](QMessageBox& box) { box.button(b)->click(); }; };
  auto key = [](Qt::Key k) { return [k](QMessageBox& box) { QTest::keyClick(&box, k); }; };

  EXPECT_TRUE(ask(sure, press(QMessageBox::Yes)));
  EXPECT_FALSE(ask(sure, press(QMessageBox::No)));
  EXPECT_FALSE(ask(sure, key(Qt::Key_Escape))) << "Escape is No";
  EXPECT_TRUE(ask(sure, key(Qt::Key_Return))) << "Enter takes the default, Yes";
  ask(
      [] {
        MBError("Duplicate mail account name.");
        return false;
      },
      [](QMessageBox& box) {
        EXPECT_EQ(box.icon(), QMessageBox::Critical);
        EXPECT_EQ(box.text(), QStringLiteral("Duplicate mail account name."));
        box.button(QMessageBox::Ok)->click();
      });
}

class Skin : public ::testing::Test {
 protected:
  // Style sheet warnings ("Could not parse stylesheet ...") during a test.
  static void Collect(QtMsgType type, const QMessageLogContext&, const QString& msg) {
    if (type != QtDebugMsg) Warnings().push_back(msg);
  }
  static QStringList& Warnings() {
    static QStringList w;
    return w;
  }
  void SetUp() override {
    Warnings().clear();
    FOld = qInstallMessageHandler(Collect);
  }
  void TearDown() override { qInstallMessageHandler(FOld); }

 private:
  QtMessageHandler FOld = nullptr;
};

TEST_F(Skin, ShippedSkinSitsBesideTheProgramAndParses) {
  EXPECT_EQ(SkinFilePath(), ExecutableDir() + "/mp10.sui");
  const std::string shipped = std::string(QUENBELL_BUILD_DIR) + "/mp10.sui";
  QDialog d;
  auto* button = new QPushButton(QStringLiteral("&OK"), &d);
  ASSERT_TRUE(ApplySkin(d, shipped));
  EXPECT_FALSE(d.styleSheet().isEmpty());
  d.show();
  d.ensurePolished();
  button->ensurePolished();
  EXPECT_TRUE(Warnings().isEmpty()) << Warnings().join(QLatin1Char('\n')).toStdString();
  // Qt says nothing about an image that is not there: look for each one.
  const QString sheet = d.styleSheet();
  int images = 0;
  for (const auto& m : QRegularExpression(QStringLiteral("url\\(([^)]*)\\)")).globalMatch(sheet)) {
    ++images;
    EXPECT_TRUE(QFile::exists(m.captured(1))) << m.captured(1).toStdString();
  }
  EXPECT_GT(images, 0);
}

TEST_F(Skin, MissingFileKeepsThePlatformLook) {
  test::TTempDir dir;
  QDialog d;
  EXPECT_FALSE(ApplySkin(d, (dir.Path() / "mp10.sui").string()));
  EXPECT_TRUE(d.styleSheet().isEmpty());
  const auto file = dir.Write("mp10.sui", "QDialog { background: #123456; }");
  EXPECT_TRUE(ApplySkin(d, file.string()));
  EXPECT_EQ(d.styleSheet(), QStringLiteral("QDialog { background: #123456; }"));
}

}  // namespace
}  // namespace qnb
