#pragma once
// A label that reports left-button clicks (press and release on the label).

#include <QLabel>

namespace qnb {

class TClickLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TClickLabel(QWidget* parent = nullptr);
  explicit TClickLabel(const QString& text, QWidget* parent = nullptr);

 signals:
  void clicked();

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  bool FPressed = false;
};

}  // namespace qnb
