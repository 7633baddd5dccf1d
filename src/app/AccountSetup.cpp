#include "app/AccountSetup.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <mutex>
#include <thread>

#include "app/QtText.h"
#include "settings/PasswordStore.h"
#include "settings/ProviderPresets.h"

namespace qnb {

struct TConnectionTestPanel::TRun {
  std::unique_ptr<TAccountProbe> probe;
};

TConnectionTestPanel::TConnectionTestPanel(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ConnectionTestPanel"));
  btnTest = new QPushButton(QStringLiteral("&Test connection"), this);
  btnTest->setObjectName(QStringLiteral("btnTestConnection"));
  lblResult = new QLabel(this);
  // The result can carry the server's words.
  lblResult->setTextFormat(Qt::PlainText);
  lblResult->setWordWrap(true);
  lblResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* h = new QHBoxLayout(this);
  h->setContentsMargins(0, 0, 0, 0);
  h->addWidget(btnTest, 0, Qt::AlignTop);
  h->addWidget(lblResult, 1);
  connect(btnTest, &QPushButton::clicked, this, &TConnectionTestPanel::Start);
}

TConnectionTestPanel::~TConnectionTestPanel() {
  if (FRun) FRun->probe->Cancel();
}

void TConnectionTestPanel::Start() {
  if (FRun || !CurrentAccount) return;
  const TMailAccount account = CurrentAccount();
  auto run = std::make_shared<TRun>();
  run->probe = MakeProbe(account);
  run->probe->CAFile = CAFile;
  FRun = run;
  btnTest->setEnabled(false);
  lblResult->setText(QStringLiteral("Testing..."));
  QPointer<TConnectionTestPanel> self(this);
  // Detached: a name lookup cannot be cut short, and the dialog must not wait
  // for one. The run owns what it uses; the result finds the panel only if it
  // still exists.
  std::thread([run, account, self] {
    const TConnectionTestResult r = run->probe->Run(account);
    if (QCoreApplication* app = QCoreApplication::instance())
      QMetaObject::invokeMethod(app, [run, r, self] {
        if (self && self->FRun == run) self->Done(r);
      }, Qt::QueuedConnection);
  }).detach();
}

void TConnectionTestPanel::Done(const TConnectionTestResult& r) {
  FRun.reset();
  btnTest->setEnabled(true);
  lblResult->setText(ToQ(ResultText(r)));
  lblResult->setStyleSheet(r.Ok ? QStringLiteral("color: #006400;") : QStringLiteral("color: #b00000;"));
  emit finished(r.Ok);
}

const TProviderPreset* PresetForAddress(const std::string& address, TProtocol protocol) {
  if (address.find('@') == std::string::npos) return nullptr;
  if (const TProviderPreset* p = FindPreset(address, ProtocolName(protocol))) return p;
  return FindPreset(address, ProtocolName(protocol == protoImap ? protoPop3 : protoImap));
}

QString PasswordPlaceText(const TMailAccount& account) {
  if (account.PasswordStore == ppKeyring && account.PasswordUnread)
    return QStringLiteral("The password is kept in the desktop's keyring, which did not give it: type it to "
                          "replace it.");
  if (account.PasswordStore == ppKeyring) return QStringLiteral("The password is kept in the desktop's keyring.");
  TPasswordStore* store = CurrentPasswordStore();
  if (store && store->Available()) return QStringLiteral("The password will be kept in the desktop's keyring.");
  return QStringLiteral("No keyring answers: the password is kept coded in the settings file.");
}

}  // namespace qnb
