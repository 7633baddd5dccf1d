#pragma once
// What the main window shows while no mail account is set up: how to add one,
// and a button that does it.

#include <QWidget>

class QLabel;
class QPushButton;

namespace qnb {

class TNoAccountHint : public QWidget {
  Q_OBJECT
 public:
  explicit TNoAccountHint(QWidget* parent = nullptr);
  QLabel* lblHint;
  QPushButton* btnAddAccount;

 signals:
  void addAccount();
};

}  // namespace qnb
