#include "app/fmMailAccount.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "app/AccountSetup.h"
#include "settings/ProviderPresets.h"
#include "app/QtText.h"
#include "app/Skin.h"

namespace qnb {

TFormMailAccount* FormMailAccount = nullptr;

TFormMailAccount::TFormMailAccount(TMailAccount& account, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), FMA(account) {
  FormMailAccount = this;
  setObjectName(QStringLiteral("FormMailAccount"));
  setWindowTitle(QStringLiteral("Mail Account Properties"));
  setFixedSize(373, 390);

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
  auto* server = new QGridLayout(groupServer);
  server->addWidget(new QLabel(QStringLiteral("POP3 Mail Server:"), groupServer), 0, 0);
  server->addWidget(EditServer, 0, 1);
  server->addWidget(new QLabel(QStringLiteral("Port:"), groupServer), 0, 2);
  server->addWidget(EditPort, 0, 3);
  auto* security = new QHBoxLayout;
  security->addStretch(1);
  security->addWidget(new QLabel(QStringLiteral("Security:"), groupServer));
  security->addWidget(CBSecurity);
  server->addLayout(security, 1, 1, 1, 3);
  server->addWidget(new QLabel(QStringLiteral("Account Name:"), groupServer), 2, 0);
  server->addWidget(EditName, 2, 1, 1, 3);
  server->addWidget(new QLabel(QStringLiteral("Password:"), groupServer), 3, 0);
  server->addWidget(EditPassword, 3, 1, 1, 3);
  lblPasswordPlace = new QLabel(groupServer);
  lblPasswordPlace->setObjectName(QStringLiteral("lblPasswordPlace"));
  lblPasswordPlace->setTextFormat(Qt::PlainText);
  lblPasswordPlace->setWordWrap(true);
  server->addWidget(lblPasswordPlace, 4, 1, 1, 3);
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
  setTabOrder(EditPort, CBSecurity);
  setTabOrder(CBSecurity, TestPanel->btnTest);
  // Typing starts in the name box.
  EditAccount->setFocus();

  ApplySkin(*this);
  UpdateDisplay();
}

TFormMailAccount::~TFormMailAccount() {
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
  return a;
}

void TFormMailAccount::ApplyPreset() {
  const TProviderPreset* p = PresetForAddress(FromQ(EditName->text().trimmed()));
  if (!p) return;
  // A server the user typed stays; one a preset filled in follows the address.
  if (!EditServer->text().isEmpty() && EditServer->text() != FPresetHost) return;
  FPresetHost = QString::fromLatin1(p->Host);
  FUpdating = true;
  EditServer->setText(FPresetHost);
  CBSecurity->setCurrentIndex(static_cast<int>(p->Security));
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
  accept();
}

void TFormMailAccount::CBSecurityChange() {
  if (FUpdating) return;
  // The usual ports follow the choice; a port of the user's own stays.
  const bool tls = CBSecurity->currentIndex() == secTls;
  if (tls && EditPort->text() == QLatin1String("110")) EditPort->setText(QStringLiteral("995"));
  else if (!tls && EditPort->text() == QLatin1String("995")) EditPort->setText(QStringLiteral("110"));
}

}  // namespace qnb
