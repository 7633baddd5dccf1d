#pragma once
// The account dialog: edits one account record, the options dialog's FMA.

#include <QDialog>

#include <memory>
#include <string>
#include <thread>
#include <vector>

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
  QComboBox* CBProtocol;  // "POP3", "IMAP" in the order of TProtocol
  QLabel* LabelServer;
  QLabel* LabelFolder;
  QComboBox* CBFolder;    // editable; the list button fills it with the server's folders
  QPushButton* btnFolders;
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
  void CBProtocolChange();
  void btnFoldersClick();

 public:
  // The listing's result, on the GUI thread: the folders, or the error text.
  void FoldersListed(const std::vector<std::string>& folders, const QString& error);
  // Seam for tests: a PEM file of CAs trusted besides the system's.
  std::string CAFile;

 private:
  // The account as the fields hold it now.
  TMailAccount Edited() const;
  // The port box follows protocol and security where it holds a usual port.
  void FollowDefaultPort();
  TMailAccount& FMA;
  bool FUpdating = false;
  QString FPresetHost;  // the server a preset filled in
  struct TListing;
  std::shared_ptr<TListing> FListing;  // the folder listing in progress
  std::thread FListThread;
};

// The account dialog while it exists.
extern TFormMailAccount* FormMailAccount;

}  // namespace qnb
