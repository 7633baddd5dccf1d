#include "app/AccountStateColumn.h"

#include <QBrush>
#include <QColor>
#include <QTreeWidgetItem>

#include "app/PlainText.h"
#include "app/QtText.h"

namespace qnb {

void ShowAccountState(QTreeWidgetItem& row, int column, const TAccountState* state) {
  QString shown;
  // Short, for a narrow column; the tool tip tells the rest.
  if (!state) shown = QStringLiteral("Not checked");
  else if (state->Failed) shown = QStringLiteral("Failed");
  else shown = QStringLiteral("OK");
  row.setText(column, shown);
  row.setToolTip(column, PlainToolTip(ToQ(StateSummary(state)), state && state->Failed ? ToQ(state->Text) : QString()));
  if (state && state->Failed) row.setForeground(column, QBrush(QColor(200, 0, 0)));
  else row.setData(column, Qt::ForegroundRole, QVariant());
}

}  // namespace qnb
