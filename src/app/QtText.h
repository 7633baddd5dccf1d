#pragma once
// The system's text is bytes; widgets show QString. Bytes that are valid UTF-8
// are shown as that text, other bytes as Latin-1, as the settings store does.

#include <QString>

#include <string>

namespace qnb {

QString ToQ(const std::string& bytes);
std::string FromQ(const QString& text);

// Text of an edit box as bytes. When the user left the text as it was shown,
// the original bytes come back unchanged, so that a Latin-1 value is not
// silently rewritten as UTF-8.
std::string EditedBytes(const QString& shown, const std::string& original);

}  // namespace qnb
