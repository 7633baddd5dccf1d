#pragma once
// The account dialog: edits one account record, the options dialog's FMA.

#include <QDialog>

#include "settings/QnbBase.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qnb {

class TConnectionTestPanel;

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
  QLabel* lblPasswordPlace;
  TConnectionTestPanel* TestPanel;

  void UpdateDisplay();
  // Host, port and security from the provider of the address typed as the
  // account name, unless the user typed a server of their own.
  void ApplyPreset();

 public slots:
  void btnOKClick();
  void CBSecurityChange();

 private:
  // The account as the fields hold it now.
  TMailAccount Edited() const;
  TMailAccount& FMA;
  bool FUpdating = false;
  QString FPresetHost;  // the server a preset filled in
};

// The account dialog while it exists.
extern TFormMailAccount* FormMailAccount;

}  // namespace qnb
