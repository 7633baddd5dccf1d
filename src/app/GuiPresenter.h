#pragma once
// Message boxes for the desktop program: QMessageBox with the icon and buttons
// of the kind, owned by the active window, all other windows blocked meanwhile.

#include <QMessageBox>

#include <memory>
#include <string>

#include "settings/VrDiag.h"

class QWidget;

namespace qnb {

// The box Show() runs: error/information with OK, question with Yes and No
// (Yes the default). The text is shown as plain text.
std::unique_ptr<QMessageBox> MakeMessageBox(TBoxKind kind, const std::string& caption, const std::string& text,
                                            QWidget* owner);

class TGuiPresenter final : public TMessagePresenter {
 public:
  bool Show(TBoxKind kind, const std::string& caption, const std::string& text) override;
};

// Installs a TGuiPresenter for the life of the object.
class TGuiPresenterScope {
 public:
  TGuiPresenterScope() : FOld(SetMessagePresenter(&FPresenter)) {}
  ~TGuiPresenterScope() { SetMessagePresenter(FOld); }
  TGuiPresenterScope(const TGuiPresenterScope&) = delete;
  TGuiPresenterScope& operator=(const TGuiPresenterScope&) = delete;

 private:
  TGuiPresenter FPresenter;
  TMessagePresenter* FOld;
};

}  // namespace qnb
