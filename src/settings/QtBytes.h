#pragma once
// The system's text is bytes; Qt holds QString. Bytes that are valid UTF-8
// become that text, other bytes Latin-1 (one character per byte); text goes
// back as UTF-8. Used by the settings store for its file and by the windows
// for what they show.

#include <QString>

#include <string>

namespace qnb {

QString ToQ(const std::string& bytes);
std::string FromQ(const QString& text);

}  // namespace qnb
