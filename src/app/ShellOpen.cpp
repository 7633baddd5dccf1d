#include "app/ShellOpen.h"

#include <QDesktopServices>

namespace qnb {

namespace {

TUrlOpener& Opener() {
  static TUrlOpener opener;
  return opener;
}

}  // namespace

void ShellOpen(const QUrl& url) {
  if (Opener()) Opener()(url);
  else QDesktopServices::openUrl(url);
}

TUrlOpener SetUrlOpener(TUrlOpener opener) {
  TUrlOpener old = std::move(Opener());
  Opener() = std::move(opener);
  return old;
}

}  // namespace qnb
