#pragma once
// Every field of one order, read-only, opened by a double-click on its row.

#include <QDialog>

#include "history/OrderFields.h"
#include "history/OrderHistory.h"

class QTableWidget;

namespace qnb {

class TFormOrderDetails : public QDialog {
  Q_OBJECT
 public:
  TFormOrderDetails(const THistoryRecord& record, QWidget* parent = nullptr);
  // The shown value of a field by its name ("Email", "Amount", "SeenAt", ...);
  // empty for an unknown name.
  QString Value(const QString& field) const;

 private:
  QTableWidget* FTable;
};

// The value of a field as the window shows it.
QString FieldText(const TOrderData& o, const TOrderField& f);

}  // namespace qnb
