#include "app/ClickLabel.h"

#include <QMouseEvent>

namespace qnb {

TClickLabel::TClickLabel(QWidget* parent) : QLabel(parent) {}
TClickLabel::TClickLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void TClickLabel::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    FPressed = true;
    e->accept();
    return;
  }
  QLabel::mousePressEvent(e);
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && FPressed) {
    FPressed = false;
    e->accept();
    if (rect().contains(e->position().toPoint())) emit clicked();
    return;
  }
  QLabel::mouseReleaseEvent(e);
}

}  // namespace qnb
