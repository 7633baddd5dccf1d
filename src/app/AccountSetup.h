#pragma once
// The account dialog's helpers for setting an account up: the connection test
// run in the background, the provider presets, and the line that says where
// the password is kept.

#include <QWidget>

#include <functional>
#include <memory>

#include "mailcheck/ConnectionTest.h"
#include "settings/QnbBase.h"

class QLabel;
class QPushButton;

namespace qnb {

struct TProviderPreset;

class TConnectionTestPanel : public QWidget {
  Q_OBJECT
 public:
  explicit TConnectionTestPanel(QWidget* parent = nullptr);
  // Cancels a test still running; its thread ends on its own.
  ~TConnectionTestPanel() override;

  QPushButton* btnTest;
  QLabel* lblResult;
  // The account as the dialog's fields hold it now.
  std::function<TMailAccount()> CurrentAccount;
  // Seam for tests: a CA file trusted besides the system's.
  std::string CAFile;

  bool Running() const { return static_cast<bool>(FRun); }
  void Start();

 signals:
  void finished(bool ok);

 private:
  struct TRun;
  void Done(const TConnectionTestResult& r);
  std::shared_ptr<TRun> FRun;
};

// Fills host, port and security from the preset of the address's domain; the
// caller keeps a server the user typed. Returns the preset used, or nullptr.
// The provider's row for the protocol, or its other row when it has no such
// one; nullptr for an address of an unknown provider.
const TProviderPreset* PresetForAddress(const std::string& address, TProtocol protocol);

// "The password is kept in the desktop's keyring." and the like.
QString PasswordPlaceText(const TMailAccount& account);

}  // namespace qnb
