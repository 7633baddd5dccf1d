// The desktop notification through a real D-Bus daemon (a private one, started
// by the test) to a notification service that records what it is sent, and
// the text of grouped notifications.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QLocale>

#include <filesystem>

#include "app/DesktopNotify.h"
#include "app/OrderModel.h"
#include "gui/GuiTestSupport.h"
#include "support/TempDir.h"

extern char** environ;

namespace qnb::test {
namespace {

// org.freedesktop.Notifications as a recorder.
class TRecordingNotifications final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral("<interface name=\"org.freedesktop.Notifications\"><method name=\"Notify\"/></interface>");
  }
  bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
    if (m.member() != QLatin1String("Notify")) return false;
    calls.push_back(m.arguments());
    bus.send(m.createReply(QVariantList{QVariant::fromValue(uint(calls.size()))}));
    return true;
  }
  std::vector<QVariantList> calls;
};

class TPrivateBus {
 public:
  TPrivateBus() {
    const std::string socket = (dir_.Path() / "bus").string();
    address_ = QStringLiteral("unix:path=") + QString::fromStdString(socket);
    std::vector<std::string> args{"dbus-daemon", "--session", "--nofork", "--nopidfile",
                                  "--address=unix:path=" + socket};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, "dbus-daemon", nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
    WaitFor([&] { return std::filesystem::exists(socket); }, 5000);
  }
  ~TPrivateBus() {
    QDBusConnection::disconnectFromBus(QStringLiteral("qnb-test-service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("qnb-test-client"));
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  QDBusConnection Connect(const QString& name) { return QDBusConnection::connectToBus(address_, name); }

 private:
  TTempDir dir_;
  QString address_;
  pid_t pid_ = -1;
};

TOrderData Order(const char* buyer, const char* product, TCurrency amount, const char* currency) {
  TOrderData o;
  o.Name = buyer;
  o.Product_Name = product;
  o.Amount = amount;
  o.Currency = currency;
  return o;
}

TEST(DesktopNotify, NotifyReachesTheServiceOnTheBus) {
  QLocale::setDefault(QLocale::c());
  TPrivateBus bus;
  QDBusConnection service = bus.Connect(QStringLiteral("qnb-test-service"));
  ASSERT_TRUE(service.isConnected());
  TRecordingNotifications recorder;
  ASSERT_TRUE(service.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(service.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder));

  TDesktopNotifier notifier(bus.Connect(QStringLiteral("qnb-test-client")));
  const TNotification n = PaymentNotification({Order("Jane Example", "Widget Pro", 499000, "EUR")});
  ASSERT_TRUE(notifier.Notify(n));
  ASSERT_TRUE(WaitFor([&] { return !recorder.calls.empty(); }));
  const QVariantList& a = recorder.calls[0];
  ASSERT_EQ(a.size(), 8);
  EXPECT_EQ(a[0].toString(), "Quenbell");
  EXPECT_EQ(a[3].toString(), "1 new payment(s) received");
  EXPECT_EQ(a[4].toString(), QStringLiteral("\u20ac49.90 \u00b7 Jane Example \u00b7 Widget Pro"));
  EXPECT_EQ(a[7].toInt(), -1);
  service.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
}

TEST(DesktopNotify, WithoutABusNothingIsSent) {
  TDesktopNotifier notifier(QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/bus"),
                                                          QStringLiteral("qnb-test-nobus")));
  EXPECT_FALSE(notifier.Notify({QStringLiteral("s"), QStringLiteral("b")}));
  QDBusConnection::disconnectFromBus(QStringLiteral("qnb-test-nobus"));
}

TEST(DesktopNotify, ManyPaymentsAreGrouped) {
  QLocale::setDefault(QLocale::c());
  std::vector<TOrderData> orders;
  for (int i = 0; i < 8; ++i) orders.push_back(Order("Buyer", "Thing", 10000 * (i + 1), i % 2 ? "USD" : "CHF"));
  const TNotification n = PaymentNotification(orders);
  EXPECT_EQ(n.Summary, "8 new payment(s) received");
  const QStringList lines = n.Body.split('\n');
  ASSERT_EQ(lines.size(), TDesktopNotifier::kMaxLines + 1);
  EXPECT_EQ(lines[0], QStringLiteral("1.00 CHF \u00b7 Buyer \u00b7 Thing"));
  EXPECT_EQ(lines[1], QStringLiteral("$2.00 \u00b7 Buyer \u00b7 Thing"));
  EXPECT_EQ(lines.back(), "and 3 more");
}

}  // namespace
}  // namespace qnb::test
