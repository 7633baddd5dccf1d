#pragma once
// The account dialog: edits one account record, the options dialog's FMA.

#include <QDialog>

#include "settings/QnbBase.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace qnb {

class TFormMailAccount : public QDialog {
  Q_OBJECT
 public:
  // Reads and, on OK, writes account (the options dialog passes its FMA).
  TFormMailAccount(TMailAccount& account, QWidget* owner);
  ~TFormMailAccount() override;

  QLineEdit* EditAccount;
  QLineEdit* EditServer;
  QLineEdit* EditPort;
  QLineEdit* EditName;
  QLineEdit* EditPassword;
  QComboBox* CBSecurity;  // "None", "STARTTLS", "SSL/TLS" in the order of TSecurity
  QPushButton* btnOK;
  QPushButton* btnCancel;

  void UpdateDisplay();

 public slots:
  void btnOKClick();
  void CBSecurityChange();

 private:
  TMailAccount& FMA;
  bool FUpdating = false;
};

// The account dialog while it exists.
extern TFormMailAccount* FormMailAccount;

}  // namespace qnb
