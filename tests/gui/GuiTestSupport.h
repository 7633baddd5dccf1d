#pragma once
// Helpers for driving modal windows from a test: the window is answered from
// inside its own event loop, and a window that never appears cannot hang the test.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace qnb::test {

// Once a modal window of type W is open, runs answer on it (which must close
// it). Poll for `found` afterwards to know whether one appeared.
template <class W>
class TModalAnswer {
 public:
  explicit TModalAnswer(std::function<void(W&)> answer, int timeoutMs = 5000)
      : FAnswer(std::move(answer)), FTimer(std::make_unique<QTimer>()) {
    FTimer->setInterval(5);
    FSince.start();
    QObject::connect(FTimer.get(), &QTimer::timeout, [this, timeoutMs] {
      if (auto* w = qobject_cast<W*>(QApplication::activeModalWidget())) {
        FTimer->stop();
        found = true;
        FAnswer(*w);
        // An answer that forgot to close the window must not hang the test.
        if (w->isVisible()) {
          ADD_FAILURE() << "the answer left the window open";
          w->close();
        }
      } else if (FSince.elapsed() > timeoutMs) {
        FTimer->stop();
      }
    });
    FTimer->start();
  }
  bool found = false;

 private:
  std::function<void(W&)> FAnswer;
  std::unique_ptr<QTimer> FTimer;
  QElapsedTimer FSince;
};

// Spins the event loop until pred holds or the time is up.
inline bool WaitFor(const std::function<bool()>& pred, int timeoutMs = 5000) {
  return QTest::qWaitFor(pred, timeoutMs);
}

}  // namespace qnb::test
