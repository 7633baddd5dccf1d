#pragma once
// The system's text is bytes; widgets show QString (ToQ / FromQ of the
// settings layer), and edit boxes give back the bytes they were filled with.

#include <QString>

#include <string>

#include "settings/QtBytes.h"

namespace qnb {

// Text of an edit box as bytes. When the user left the text as it was shown,
// the original bytes come back unchanged, so that a Latin-1 value is not
// silently rewritten as UTF-8.
std::string EditedBytes(const QString& shown, const std::string& original);

}  // namespace qnb
