#pragma once
// Texts that carry what a server said (a reply, a host name, an account name)
// must never be read as markup.

#include <QString>

namespace qnb {

// A tool tip shown as plain text whatever follows: Qt takes a tool tip for
// markup by its first line only, so that line is ours and must hold no markup;
// the rest may be anything.
QString PlainToolTip(const QString& firstLine, const QString& rest);

}  // namespace qnb
