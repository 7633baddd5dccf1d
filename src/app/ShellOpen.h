#pragma once
// Opens a document, web address or mailto: address with the desktop's default
// program. Failures are silent. Tests replace the opener to see the address.

#include <QUrl>

#include <functional>

namespace qnb {

using TUrlOpener = std::function<void(const QUrl&)>;

void ShellOpen(const QUrl& url);
// Sets the opener (an empty one restores the desktop's); returns the old one.
TUrlOpener SetUrlOpener(TUrlOpener opener);

}  // namespace qnb
