#include "app/OrderModel.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/QtText.h"
#include "history/OrderTotals.h"

namespace qnb {

namespace {
const QColor kOddRow(230, 237, 251);
}  // namespace

int TOrderModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FView.size());
}

int TOrderModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant TOrderModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const TRow& r = Row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      switch (index.column()) {
        case colID: return r.id;
        case colFrom: return r.from;
        case colItem: return r.item;
        case colQuantity: return r.quantity;
        case colAmount: return r.amount;
        case colDate: return r.date;
      }
      return {};
    case Qt::TextAlignmentRole:
      return index.column() == colQuantity || index.column() == colAmount
                 ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                 : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::BackgroundRole:
      return index.row() % 2 == 1 ? QVariant(kOddRow) : QVariant(QColor(Qt::white));
    case Qt::ForegroundRole:
      // The row colours are fixed, so is the text; an order whose mail left
      // the server is greyed.
      return Entry(index.row()).Record.Id != 0 && !Entry(index.row()).Record.OnServer ? QColor(Qt::darkGray)
                                                                                       : QColor(Qt::black);
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(RowIcon) : QVariant();
    default:
      return {};
  }
}

QVariant TOrderModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal) return {};
  static const char* const kCaptions[] = {"ID", "From", "Item", "Quantity", "Amount", "Date"};
  if (role == Qt::DisplayRole && section >= 0 && section < kColumns) return QString::fromLatin1(kCaptions[section]);
  if (role == Qt::TextAlignmentRole)
    return section == colQuantity || section == colAmount ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                                          : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

Qt::ItemFlags TOrderModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

TOrderModel::TEntry TOrderModel::MakeEntry(THistoryRecord r) {
  const TOrderData& o = r.Order;
  TEntry e;
  e.Row = {ToQ(o.OrderID), ToQ(o.Email), ToQ(o.Product_Name), QString::number(o.Quantity),
           AmountText(o.Amount, o.Currency), DateText(o.PurchaseDate)};
  e.Haystack = (ToQ(o.Name) + QLatin1Char('\n') + ToQ(o.RegName) + QLatin1Char('\n') + ToQ(o.FirstName) +
                QLatin1Char(' ') + ToQ(o.LastName) + QLatin1Char('\n') + e.Row.from + QLatin1Char('\n') + e.Row.item +
                QLatin1Char('\n') + e.Row.id)
                   .toCaseFolded();
  e.Record = std::move(r);
  return e;
}

bool TOrderModel::Matches(const TEntry& e) const {
  const TDateTime d = e.Record.Order.PurchaseDate;
  if (FFrom != 0 && d < FFrom) return false;
  if (FTo != 0 && d >= FTo) return false;
  return FText.isEmpty() || e.Haystack.contains(FText);
}

void TOrderModel::Append(const TOrderData& o) {
  THistoryRecord r;
  r.Order = o;
  r.OnServer = true;
  FAll.push_back(MakeEntry(std::move(r)));
  if (!Matches(FAll.back())) return;
  if (FSortColumn >= 0) {
    // Sorted: the new row goes where it belongs.
    beginResetModel();
    FView.push_back(FAll.size() - 1);
    SortView();
    endResetModel();
    return;
  }
  const int n = rowCount();
  beginInsertRows({}, n, n);
  FView.push_back(FAll.size() - 1);
  endInsertRows();
}

void TOrderModel::Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders) {
  beginResetModel();
  FAll.clear();
  FAll.reserve(orders.size());
  for (const auto& o : orders) {
    THistoryRecord r;
    r.Order = *o;
    r.OnServer = true;
    FAll.push_back(MakeEntry(std::move(r)));
  }
  Refilter();
  endResetModel();
}

void TOrderModel::SetRecords(std::vector<THistoryRecord> records) {
  beginResetModel();
  FAll.clear();
  FAll.reserve(records.size());
  for (auto& r : records) FAll.push_back(MakeEntry(std::move(r)));
  Refilter();
  endResetModel();
}

void TOrderModel::SetFilter(const QString& text, TDateTime from, TDateTime to) {
  beginResetModel();
  FText = text.trimmed().toCaseFolded();
  FFrom = from;
  FTo = to;
  Refilter();
  endResetModel();
}

void TOrderModel::Refilter() {
  FView.clear();
  FView.reserve(FAll.size());
  for (size_t i = 0; i < FAll.size(); ++i)
    if (Matches(FAll[i])) FView.push_back(i);
  SortView();
}

void TOrderModel::sort(int column, Qt::SortOrder order) {
  beginResetModel();
  FSortColumn = column;
  FSortOrder = order;
  if (column < 0) {
    std::sort(FView.begin(), FView.end());
  }
  SortView();
  endResetModel();
}

void TOrderModel::SortView() {
  if (FSortColumn < 0 || FSortColumn >= kColumns) return;
  const int c = FSortColumn;
  auto less = [&](size_t a, size_t b) {
    const TEntry& x = FAll[a];
    const TEntry& y = FAll[b];
    const TOrderData& ox = x.Record.Order;
    const TOrderData& oy = y.Record.Order;
    switch (c) {
      case colQuantity: return ox.Quantity < oy.Quantity;
      case colAmount:
        // By currency, then by amount: sums of different currencies do not compare.
        if (ox.Currency != oy.Currency) return ox.Currency < oy.Currency;
        return ox.Amount < oy.Amount;
      case colDate: return ox.PurchaseDate < oy.PurchaseDate;
      case colID: return x.Row.id.compare(y.Row.id, Qt::CaseInsensitive) < 0;
      case colFrom: return x.Row.from.compare(y.Row.from, Qt::CaseInsensitive) < 0;
      default: return x.Row.item.compare(y.Row.item, Qt::CaseInsensitive) < 0;
    }
  };
  // Stable, so that equal rows keep the list's order.
  if (FSortOrder == Qt::AscendingOrder) std::stable_sort(FView.begin(), FView.end(), less);
  else std::stable_sort(FView.begin(), FView.end(), [&](size_t a, size_t b) { return less(b, a); });
}

QString AmountText(TCurrency amount, const std::string& currency) {
  // Whole cents, rounded half away from zero, without going through a double;
  // only the decimal separator comes from the locale.
  const bool negative = amount < 0;
  const uint64_t mag = negative ? uint64_t(0) - uint64_t(amount) : uint64_t(amount);
  const uint64_t cents = (mag + 50) / 100;
  char digits[32];
  std::snprintf(digits, sizeof digits, "%s%llu", negative && cents != 0 ? "-" : "",
                static_cast<unsigned long long>(cents / 100));
  char frac[4];
  std::snprintf(frac, sizeof frac, "%02llu", static_cast<unsigned long long>(cents % 100));
  const QString number = QLatin1String(digits) + QLocale().decimalPoint() + QLatin1String(frac);
  QString code = QString::fromLatin1(currency.c_str()).trimmed().toUpper();
  if (code.isEmpty() || code == QLatin1String("USD")) return QStringLiteral("$") + number;
  if (code == QLatin1String("EUR")) return QStringLiteral("\u20ac") + number;
  if (code == QLatin1String("GBP")) return QStringLiteral("\u00a3") + number;
  if (code == QLatin1String("JPY")) return QStringLiteral("\u00a5") + number;
  return number + QLatin1Char(' ') + code;
}

QString DateText(TDateTime t) {
  if (t == 0 || !std::isfinite(t)) return {};
  int y, m, d;
  DecodeDate(t, y, m, d);
  // Cut to the minute, as a clock shows it, never rounded into the next day.
  const long long mins = static_cast<long long>(std::floor((t - StartOfDay(t)) * 1440.0 + 1e-6));
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", y, m, d, static_cast<int>(mins / 60 % 24),
                static_cast<int>(mins % 60));
  return QString::fromLatin1(buf);
}

}  // namespace qnb
