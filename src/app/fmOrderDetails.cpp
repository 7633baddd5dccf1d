#include "app/fmOrderDetails.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/OrderModel.h"
#include "app/QtText.h"
#include "history/OrderFields.h"

namespace qnb {

QString FieldText(const TOrderData& o, const TOrderField& f) {
  switch (f.Kind) {
    case TOrderField::Text: return ToQ(f.GetText(o));
    case TOrderField::Int: return QString::number(f.GetInt(o));
    case TOrderField::Currency: return AmountText(f.GetInt(o), o.Currency);
    case TOrderField::Date: return DateText(f.GetDate(o));
  }
  return {};
}

TFormOrderDetails::TFormOrderDetails(const THistoryRecord& record, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("Payment %1").arg(ToQ(record.Order.OrderID)));
  auto* v = new QVBoxLayout(this);
  FTable = new QTableWidget(this);
  FTable->setObjectName(QStringLiteral("tblDetails"));
  FTable->setColumnCount(2);
  FTable->setHorizontalHeaderLabels({QStringLiteral("Field"), QStringLiteral("Value")});
  FTable->verticalHeader()->hide();
  FTable->horizontalHeader()->setStretchLastSection(true);
  FTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  FTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  auto add = [&](const QString& name, const QString& value) {
    const int row = FTable->rowCount();
    FTable->insertRow(row);
    FTable->setItem(row, 0, new QTableWidgetItem(name));
    FTable->setItem(row, 1, new QTableWidgetItem(value));
  };
  for (const auto& f : OrderFields()) add(QString::fromLatin1(f.Name), FieldText(record.Order, f));
  if (record.Id != 0) {
    add(QStringLiteral("SeenAt"), DateText(record.SeenAt));
    add(QStringLiteral("OnServer"), record.OnServer ? QStringLiteral("Yes") : QStringLiteral("No"));
  }
  FTable->resizeColumnToContents(0);
  v->addWidget(FTable);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  v->addWidget(buttons);
  resize(520, 560);
}

QString TFormOrderDetails::Value(const QString& field) const {
  for (int r = 0; r < FTable->rowCount(); ++r)
    if (FTable->item(r, 0)->text() == field) return FTable->item(r, 1)->text();
  return {};
}

}  // namespace qnb
