#include "app/Skin.h"

#include <QFile>
#include <QWidget>

#include "app/QnbImages.h"
#include "settings/Platform.h"

namespace qnb {

std::string SkinFilePath() { return ExecutableDir() + "/mp10.sui"; }

bool ApplySkin(QWidget& window, const std::string& file) {
  QFile f(QString::fromStdString(file));
  if (!f.open(QIODevice::ReadOnly)) return false;
  // A skin that is far too large for a style sheet is not one.
  if (f.size() > 1024 * 1024) return false;
  EnsureAppResources();
  window.setStyleSheet(QString::fromUtf8(f.readAll()));
  return true;
}

}  // namespace qnb
