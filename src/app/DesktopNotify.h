#pragma once
// New payments announced through the desktop's notification service
// (org.freedesktop.Notifications on the session bus), besides the pop-up; on
// desktops where the pop-up cannot be placed (Wayland) it is the way to be told.

#include <QDBusConnection>
#include <QString>

#include <vector>

#include "analysis/OMAnalyze.h"

namespace qnb {

struct TNotification {
  QString Summary;
  QString Body;
};

// "N new payment(s) received" and one line per payment (amount, buyer,
// product); when many arrive at once, the first few and how many more.
TNotification PaymentNotification(const std::vector<TOrderData>& orders);

class TDesktopNotifier {
 public:
  static constexpr int kMaxLines = 5;
  explicit TDesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus());
  // Sends without waiting for the answer; false when no bus is there.
  bool Notify(const TNotification& n);

 private:
  QDBusConnection FBus;
};

}  // namespace qnb
