#pragma once
// An account's last-check state in a row of the options dialog's account list.

#include "settings/AccountState.h"

class QTreeWidgetItem;

namespace qnb {

// Caption of the column.
inline constexpr const char* kStateColumnCaption = "State";

// "OK", "Failed" or "Not checked" in the column, in red for a failure, with
// the time, the failure's caption and its whole text in the tool tip.
void ShowAccountState(QTreeWidgetItem& row, int column, const TAccountState* state);

}  // namespace qnb
