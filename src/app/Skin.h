#pragma once
// The skin: the file "mp10.sui" beside the executable, a Qt style sheet. A
// window that loads it takes its look; without the file it keeps the platform look.

#include <string>

class QWidget;

namespace qnb {

// ExecutableDir()/mp10.sui.
std::string SkinFilePath();
// Applies the style sheet in file to the window; false (and no change) when the
// file is missing or unreadable.
bool ApplySkin(QWidget& window, const std::string& file = SkinFilePath());

}  // namespace qnb
