#include "app/fmMailAccount.h"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <QPointer>

#include <algorithm>
#include <mutex>

#include "app/AccountSetup.h"
#include "settings/ProviderPresets.h"
#include "app/QtText.h"
#include "app/Skin.h"
#include "mailcheck/ImapSession.h"

namespace qnb {

TFormMailAccount* FormMailAccount = nullptr;

// The folder listing runs beside the dialog, so a slow server never freezes
// it; closing the dialog cuts the connection.
struct TFormMailAccount::TListing {
  std::mutex mutex;
  TImapSession* session = nullptr;
  bool cancelled = false;
};

TFormMailAccount::TFormMailAccount(TMailAccount& account, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), FMA(account) {
  FormMailAccount = this;
  setObjectName(QStringLiteral("FormMailAccount"));
  setWindowTitle(QStringLiteral("Mail Account Properties"));
  setFixedSize(373, 470);

  auto* groupAccount = new QGroupBox(QStringLiteral("Mail Account"), this);
  auto* lblAccount = new QLabel(
      QStringLiteral("Type the name by which you would like to refer to your accout. For example: \"My Order\"."),
      groupAccount);
  lblAccount->setWordWrap(true);
  EditAccount = new QLineEdit(groupAccount);
  lblAccount->setBuddy(EditAccount);
  auto* accountLayout = new QVBoxLayout(groupAccount);
  accountLayout->addWidget(lblAccount);
  accountLayout->addWidget(EditAccount);

  auto* groupServer = new QGroupBox(QStringLiteral("Server Information"), this);
  EditServer = new QLineEdit(groupServer);
  EditPort = new QLineEdit(groupServer);
  EditPort->setFixedWidth(52);
  EditName = new QLineEdit(groupServer);
  EditPassword = new QLineEdit(groupServer);
  EditPassword->setEchoMode(QLineEdit::Password);
  EditPassword->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
  CBSecurity = new QComboBox(groupServer);
  for (TSecurity s : {secNone, secStartTls, secTls}) CBSecurity->addItem(QString::fromLatin1(SecurityName(s)));
  connect(CBSecurity, &QComboBox::currentIndexChanged, this, &TFormMailAccount::CBSecurityChange);
  CBProtocol = new QComboBox(groupServer);
  for (TProtocol p : {protoPop3, protoImap}) CBProtocol->addItem(QString::fromLatin1(ProtocolName(p)));
  connect(CBProtocol, &QComboBox::currentIndexChanged, this, &TFormMailAccount::CBProtocolChange);
  CBFolder = new QComboBox(groupServer);
  CBFolder->setEditable(true);
  btnFolders = new QPushButton(QStringLiteral("&List"), groupServer);
  btnFolders->setToolTip(QStringLiteral("Ask the server for its folders"));
  connect(btnFolders, &QPushButton::clicked, this, &TFormMailAccount::btnFoldersClick);
  LabelServer = new QLabel(QStringLiteral("POP3 Mail Server:"), groupServer);
  LabelFolder = new QLabel(QStringLiteral("Folder:"), groupServer);
  auto* server = new QGridLayout(groupServer);
  server->addWidget(LabelServer, 0, 0);
  server->addWidget(EditServer, 0, 1);
  server->addWidget(new QLabel(QStringLiteral("Port:"), groupServer), 0, 2);
  server->addWidget(EditPort, 0, 3);
  server->addWidget(new QLabel(QStringLiteral("Protocol:"), groupServer), 1, 0);
  server->addWidget(CBProtocol, 1, 1, 1, 3);
  server->addWidget(new QLabel(QStringLiteral("Security:"), groupServer), 2, 0);
  server->addWidget(CBSecurity, 2, 1, 1, 3);
  server->addWidget(new QLabel(QStringLiteral("Account Name:"), groupServer), 3, 0);
  server->addWidget(EditName, 3, 1, 1, 3);
  server->addWidget(new QLabel(QStringLiteral("Password:"), groupServer), 4, 0);
  server->addWidget(EditPassword, 4, 1, 1, 3);
  lblPasswordPlace = new QLabel(groupServer);
  lblPasswordPlace->setObjectName(QStringLiteral("lblPasswordPlace"));
  lblPasswordPlace->setTextFormat(Qt::PlainText);
  lblPasswordPlace->setWordWrap(true);
  server->addWidget(lblPasswordPlace, 5, 1, 1, 3);
  auto* folder = new QHBoxLayout;
  folder->addWidget(CBFolder, 1);
  folder->addWidget(btnFolders);
  server->addWidget(LabelFolder, 6, 0);
  server->addLayout(folder, 6, 1, 1, 3);
  server->setColumnStretch(1, 1);
  connect(EditName, &QLineEdit::textEdited, this, &TFormMailAccount::ApplyPreset);

  TestPanel = new TConnectionTestPanel(this);
  TestPanel->CurrentAccount = [this] { return Edited(); };

  btnOK = new QPushButton(QStringLiteral("&OK"), this);
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  connect(btnOK, &QPushButton::clicked, this, &TFormMailAccount::btnOKClick);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);

  auto* main = new QVBoxLayout(this);
  main->addWidget(groupAccount);
  main->addWidget(groupServer);
  main->addWidget(TestPanel);
  main->addStretch(1);
  main->addLayout(buttons);

  setTabOrder(btnOK, btnCancel);
  setTabOrder(btnCancel, EditAccount);
  setTabOrder(EditAccount, EditServer);
  setTabOrder(EditServer, EditName);
  setTabOrder(EditName, EditPassword);
  setTabOrder(EditPassword, EditPort);
  setTabOrder(EditPort, CBProtocol);
  setTabOrder(CBProtocol, CBSecurity);
  setTabOrder(CBSecurity, CBFolder);
  setTabOrder(CBFolder, btnFolders);
  setTabOrder(btnFolders, TestPanel->btnTest);
  // Typing starts in the name box.
  EditAccount->setFocus();

  ApplySkin(*this);
  UpdateDisplay();
}

TFormMailAccount::~TFormMailAccount() {
  if (FListing) {
    std::lock_guard lock(FListing->mutex);
    FListing->cancelled = true;
    if (FListing->session) {
      try {
        FListing->session->Disconnect();
      } catch (...) {
      }
    }
  }
  if (FListThread.joinable()) FListThread.join();
  if (FormMailAccount == this) FormMailAccount = nullptr;
}

void TFormMailAccount::UpdateDisplay() {
  FUpdating = true;
  EditAccount->setText(ToQ(FMA.Name));
  EditServer->setText(ToQ(FMA.Host));
  EditPort->setText(ToQ(FMA.Port));
  EditName->setText(ToQ(FMA.UserName));
  EditPassword->setText(ToQ(FMA.Password));
  CBSecurity->setCurrentIndex(FMA.Security <= secTls ? static_cast<int>(FMA.Security) : static_cast<int>(secTls));
  lblPasswordPlace->setText(PasswordPlaceText(FMA));
  CBProtocol->setCurrentIndex(FMA.Protocol == protoImap ? 1 : 0);
  CBFolder->setEditText(ToQ(FMA.Folder));
  CBProtocolChange();
  FUpdating = false;
  // Long texts show their beginning.
  for (QLineEdit* e : {EditAccount, EditServer, EditPort, EditName, EditPassword}) e->setCursorPosition(0);
}

TMailAccount TFormMailAccount::Edited() const {
  TMailAccount a = FMA;
  a.Name = EditedBytes(EditAccount->text(), FMA.Name);
  a.Port = EditedBytes(EditPort->text(), FMA.Port);
  a.Host = EditedBytes(EditServer->text(), FMA.Host);
  a.UserName = EditedBytes(EditName->text(), FMA.UserName);
  a.Password = EditedBytes(EditPassword->text(), FMA.Password);
  a.Security = static_cast<TSecurity>(std::max(0, CBSecurity->currentIndex()));
  a.Protocol = CBProtocol->currentIndex() == 1 ? protoImap : protoPop3;
  a.Folder = EditedBytes(CBFolder->currentText(), FMA.Folder);
  if (a.Folder.empty()) a.Folder = kDefaultFolder;
  return a;
}

void TFormMailAccount::ApplyPreset() {
  const TProviderPreset* p = PresetForAddress(FromQ(EditName->text().trimmed()),
                                              CBProtocol->currentIndex() == 1 ? protoImap : protoPop3);
  if (!p) return;
  // A server the user typed stays; one a preset filled in follows the address.
  if (!EditServer->text().isEmpty() && EditServer->text() != FPresetHost) return;
  FPresetHost = QString::fromLatin1(p->Host);
  FUpdating = true;
  EditServer->setText(FPresetHost);
  CBSecurity->setCurrentIndex(static_cast<int>(p->Security));
  CBProtocol->setCurrentIndex(std::string(p->Protocol) == "IMAP" ? 1 : 0);
  EditPort->setText(QString::number(p->Port));
  FUpdating = false;
}

void TFormMailAccount::btnOKClick() {
  // As typed; nothing is validated.
  FMA.Name = EditedBytes(EditAccount->text(), FMA.Name);
  FMA.Port = EditedBytes(EditPort->text(), FMA.Port);
  FMA.Host = EditedBytes(EditServer->text(), FMA.Host);
  FMA.UserName = EditedBytes(EditName->text(), FMA.UserName);
  FMA.Password = EditedBytes(EditPassword->text(), FMA.Password);
  FMA.Security = static_cast<TSecurity>(std::max(0, CBSecurity->currentIndex()));
  FMA.Protocol = CBProtocol->currentIndex() == 1 ? protoImap : protoPop3;
  FMA.Folder = EditedBytes(CBFolder->currentText(), FMA.Folder);
  if (FMA.Folder.empty()) FMA.Folder = kDefaultFolder;
  accept();
}

void TFormMailAccount::CBSecurityChange() {
  if (FUpdating) return;
  FollowDefaultPort();
}

void TFormMailAccount::FollowDefaultPort() {
  // The usual ports follow the choice; a port of the user's own stays.
  const QString port = EditPort->text();
  for (const char* usual : {"110", "995", "143", "993"})
    if (port == QLatin1String(usual)) {
      const auto p = CBProtocol->currentIndex() == 1 ? protoImap : protoPop3;
      EditPort->setText(QString::fromLatin1(DefaultPort(p, static_cast<TSecurity>(std::max(0, CBSecurity->currentIndex())))));
      return;
    }
}

void TFormMailAccount::CBProtocolChange() {
  const bool imap = CBProtocol->currentIndex() == 1;
  LabelServer->setText(imap ? QStringLiteral("IMAP Mail Server:") : QStringLiteral("POP3 Mail Server:"));
  LabelFolder->setEnabled(imap);
  CBFolder->setEnabled(imap);
  btnFolders->setEnabled(imap && !FListing);
  if (FUpdating) return;
  // A server a preset filled in follows the protocol.
  if (!FPresetHost.isEmpty() && EditServer->text() == FPresetHost) ApplyPreset();
  FollowDefaultPort();
}

void TFormMailAccount::btnFoldersClick() {
  if (FListing) return;
  if (FListThread.joinable()) FListThread.join();
  bool portOk = false;
  const int port = EditPort->text().toInt(&portOk);
  TImapSession* s = new TImapSession;
  s->Host = EditedBytes(EditServer->text(), FMA.Host);
  s->Port = portOk ? port : 0;
  s->UserName = EditedBytes(EditName->text(), FMA.UserName);
  s->Password = EditedBytes(EditPassword->text(), FMA.Password);
  s->Security = static_cast<TSecurity>(std::max(0, CBSecurity->currentIndex()));
  s->CAFile = CAFile;
  s->ReadTimeout = 20000;
  auto listing = std::make_shared<TListing>();
  listing->session = s;
  FListing = listing;
  btnFolders->setEnabled(false);
  setCursor(Qt::BusyCursor);
  QPointer<TFormMailAccount> self(this);
  FListThread = std::thread([listing, self] {
    std::unique_ptr<TImapSession> session(listing->session);
    std::vector<std::string> folders;
    QString error;
    try {
      session->Connect();
      folders = session->ListFolders();
      session->Disconnect();
    } catch (const std::exception& e) {
      error = QString::fromUtf8(e.what());
    }
    {
      std::lock_guard lock(listing->mutex);
      listing->session = nullptr;
      if (listing->cancelled) return;
    }
    QMetaObject::invokeMethod(qApp, [self, folders, error] {
      if (self) self->FoldersListed(folders, error);
    }, Qt::QueuedConnection);
  });
}

void TFormMailAccount::FoldersListed(const std::vector<std::string>& folders, const QString& error) {
  FListing.reset();
  unsetCursor();
  btnFolders->setEnabled(CBProtocol->currentIndex() == 1);
  if (!error.isEmpty()) {
    btnFolders->setToolTip(QStringLiteral("The folders could not be listed: ") + error);
    return;
  }
  const QString current = CBFolder->currentText();
  CBFolder->clear();
  for (const auto& f : folders) CBFolder->addItem(ToQ(f));
  CBFolder->setEditText(current);
  CBFolder->showPopup();
}

}  // namespace qnb
