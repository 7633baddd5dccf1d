#include "app/GuiPresenter.h"

#include <QApplication>
#include <QPointer>

#include "app/QtText.h"

namespace qnb {

std::unique_ptr<QMessageBox> MakeMessageBox(TBoxKind kind, const std::string& caption, const std::string& text,
                                            QWidget* owner) {
  auto box = std::make_unique<QMessageBox>(owner);
  box->setWindowTitle(ToQ(caption));
  // Texts can carry a server's reply: never let them turn into markup.
  box->setTextFormat(Qt::PlainText);
  box->setText(ToQ(text));
  box->setWindowModality(Qt::ApplicationModal);
  switch (kind) {
    case TBoxKind::Error:
      box->setIcon(QMessageBox::Critical);
      box->setStandardButtons(QMessageBox::Ok);
      box->setDefaultButton(QMessageBox::Ok);
      break;
    case TBoxKind::Info:
      box->setIcon(QMessageBox::Information);
      box->setStandardButtons(QMessageBox::Ok);
      box->setDefaultButton(QMessageBox::Ok);
      break;
    case TBoxKind::Sure:
      box->setIcon(QMessageBox::Question);
      box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      box->setDefaultButton(QMessageBox::Yes);
      break;
  }
  return box;
}

bool TGuiPresenter::Show(TBoxKind kind, const std::string& caption, const std::string& text) {
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = QApplication::activeWindow();
  QPointer<QWidget> wasActive = QApplication::activeWindow();
  auto box = MakeMessageBox(kind, caption, text, owner);
  const int result = box->exec();
  box.reset();
  if (wasActive) wasActive->activateWindow();
  return kind == TBoxKind::Sure && result == QMessageBox::Yes;
}

}  // namespace qnb
