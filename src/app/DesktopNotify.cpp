#include "app/DesktopNotify.h"

#include <QDBusMessage>
#include <QVariantMap>

#include "app/OrderModel.h"
#include "app/QtText.h"

namespace qnb {

TNotification PaymentNotification(const std::vector<TOrderData>& orders) {
  TNotification n;
  n.Summary = QStringLiteral("%1 new payment(s) received").arg(orders.size());
  QStringList lines;
  for (size_t i = 0; i < orders.size() && i < static_cast<size_t>(TDesktopNotifier::kMaxLines); ++i) {
    const TOrderData& o = orders[i];
    const QString buyer = ToQ(o.Name.empty() ? o.RegName.str() : o.Name.str());
    lines << QStringLiteral("%1 \u00b7 %2 \u00b7 %3").arg(AmountText(o.Amount, o.Currency), buyer, ToQ(o.Product_Name));
  }
  if (orders.size() > static_cast<size_t>(TDesktopNotifier::kMaxLines))
    lines << QStringLiteral("and %1 more").arg(orders.size() - TDesktopNotifier::kMaxLines);
  n.Body = lines.join(QLatin1Char('\n'));
  return n;
}

TDesktopNotifier::TDesktopNotifier(QDBusConnection bus) : FBus(std::move(bus)) {}

bool TDesktopNotifier::Notify(const TNotification& n) {
  if (!FBus.isConnected()) return false;
  QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                  QStringLiteral("/org/freedesktop/Notifications"),
                                                  QStringLiteral("org.freedesktop.Notifications"),
                                                  QStringLiteral("Notify"));
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("com.example.Quenbell"));
  hints.insert(QStringLiteral("category"), QStringLiteral("transfer.complete"));
  m << QStringLiteral("Quenbell") << uint(0) << QStringLiteral("com.example.Quenbell") << n.Summary << n.Body
    << QStringList() << hints << -1;
  // Never waits for the answer: a notification service that hangs must not
  // hold the window.
  return FBus.send(m);
}

}  // namespace qnb
