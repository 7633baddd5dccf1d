// One QApplication on the offscreen platform for the whole test program.
#include <gtest/gtest.h>

#include <QApplication>

#include <memory>

namespace qnb::test {
namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "test_gui";
    static char* argv[] = {name, nullptr};
    FApp = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quenbell"));
  }
  void TearDown() override { FApp.reset(); }

 private:
  std::unique_ptr<QApplication> FApp;
};

[[maybe_unused]] const ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

}  // namespace
}  // namespace qnb::test
