// Quenbell: the desktop program.

#include <QApplication>

#include "app/GuiPresenter.h"
#include "app/fmMain.h"
#include "mailcheck/QnbGlobals.h"
#include "secrets/KeyringStore.h"
#include "settings/VrDiag.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quenbell"));
  QApplication::setOrganizationName(QStringLiteral("Varnett"));
  QApplication::setDesktopFileName(QStringLiteral("com.example.Quenbell"));
  // The window lives on in the tray when it is hidden; only Exit ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  qnb::TGuiPresenterScope boxes;
  qnb::SetApplicationTitle("Quenbell");
  // Passwords in the desktop's keyring where one answers. A locked keyring
  // asks the user to unlock it: the wait leaves time for that.
  qnb::TKeyringStoreScope keyring(60000);
  qnb::TQnbProcessObjects objects;  // a store failure is shown here, before any window

  int rc;
  {
    qnb::TFormMain window;
    qnb::FormMain = &window;
    window.InitMain();
    rc = QApplication::exec();
    qnb::FormMain = nullptr;
  }
  return rc;
}
