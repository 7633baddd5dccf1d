#include "app/OrderModel.h"

#include <QColor>
#include <QLocale>

#include "app/QtText.h"

namespace qnb {

namespace {
const QColor kOddRow(230, 237, 251);
}  // namespace

int TOrderModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TOrderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 5; }

QVariant TOrderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TRow& r = FRows[static_cast<size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case 0: return r.id;
        case 1: return r.from;
        case 2: return r.item;
        case 3: return r.quantity;
        case 4: return r.amount;
      }
      return {};
    case Qt::TextAlignmentRole:
      return index.column() >= 3 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return index.row() % 2 == 1 ? QVariant(kOddRow) : QVariant(QColor(Qt::white));
    case Qt::ForegroundRole:
      return QColor(Qt::black);  // the row colours are fixed, so is the text
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(RowIcon) : QVariant();
    default:
      return {};
  }
}

QVariant TOrderModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal) return {};
  static const char* const kCaptions[] = {"ID", "From", "Item", "Quantity", "Amount"};
  if (role == Qt::DisplayRole && section >= 0 && section < 5) return QString::fromLatin1(kCaptions[section]);
  if (role == Qt::TextAlignmentRole)
    return section >= 3 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TOrderModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

TOrderModel::TRow TOrderModel::MakeRow(const TOrderData& o) {
  return {ToQ(o.OrderID), ToQ(o.Email), ToQ(o.Product_Name), QString::number(o.Quantity), AmountText(o.Amount)};
}

void TOrderModel::Append(const TOrderData& o) {
  const int n = rowCount();
  beginInsertRows({}, n, n);
  FRows.push_back(MakeRow(o));
  endInsertRows();
}

void TOrderModel::Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders) {
  beginResetModel();
  FRows.clear();
  FRows.reserve(orders.size());
  for (const auto& o : orders) FRows.push_back(MakeRow(*o));
  endResetModel();
}

QString AmountText(TCurrency amount) {
  QLocale locale;
  locale.setNumberOptions(QLocale::OmitGroupSeparator);
  return QStringLiteral("$") + locale.toString(static_cast<double>(amount) / 10000.0, 'f', 2);
}

}  // namespace qnb
