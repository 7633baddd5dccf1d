#include "app/OrderModel.h"

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/QtText.h"
#include "history/OrderTotals.h"

namespace qnb {

namespace {
const QColor kOddRow(230, 237, 251);
// Rows searched per turn of the event loop: a few milliseconds.
constexpr size_t kPrepareBatch = 4000;
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
      {
        // A borrowed order is on the list, so on the server: it needs no copy.
        const THistoryRecord* r = FAll[FView[static_cast<size_t>(index.row())]].FRecord.get();
        return r && r->Id != 0 && !r->OnServer ? QColor(Qt::darkGray) : QColor(Qt::black);
      }
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

const TOrderModel::TRow& TOrderModel::RowOf(const TEntry& e) {
  if (!e.FRow) {
    const TOrderData& o = e.Order();
    e.FRow = std::make_unique<TRow>(TRow{ToQ(o.OrderID), ToQ(o.Email), ToQ(o.Product_Name),
                                         QString::number(o.Quantity), AmountText(o.Amount, o.Currency),
                                         DateText(o.PurchaseDate)});
  }
  return *e.FRow;
}

const QString& TOrderModel::HaystackOf(const TEntry& e) {
  if (!e.FHasHaystack) {
    const TOrderData& o = e.Order();
    std::string all;
    all.reserve(o.Name.str().size() + o.RegName.str().size() + o.FirstName.size() + o.LastName.size() +
                o.Email.str().size() + o.Product_Name.str().size() + o.OrderID.str().size() + 6);
    const std::string* const parts[] = {&o.Name.str(), &o.RegName.str(), &o.FirstName, &o.LastName,
                                        &o.Email.str(), &o.Product_Name.str(), &o.OrderID.str()};
    const char separators[] = "\n\n \n\n\n";  // before each part but the first
    for (size_t i = 0; i < std::size(parts); ++i) {
      if (i > 0) all += separators[i - 1];
      all += *parts[i];
    }
    const bool ascii = std::all_of(all.begin(), all.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    // Plain ASCII, the common case, is converted at once; other bytes field by
    // field, as each is shown (UTF-8, else Latin-1).
    const QString text =
        ascii ? QString::fromLatin1(all.data(), static_cast<qsizetype>(all.size()))
              : ToQ(o.Name) + QLatin1Char('\n') + ToQ(o.RegName) + QLatin1Char('\n') + ToQ(o.FirstName) +
                    QLatin1Char(' ') + ToQ(o.LastName) + QLatin1Char('\n') + ToQ(o.Email) + QLatin1Char('\n') +
                    ToQ(o.Product_Name) + QLatin1Char('\n') + ToQ(o.OrderID);
    e.FHaystack = text.toCaseFolded();
    e.FHasHaystack = true;
  }
  return e.FHaystack;
}

const TOrderModel::TEntry& TOrderModel::Own(TEntry& e) {
  if (e.FBorrowed) {
    e.FRecord = std::make_unique<THistoryRecord>(THistoryRecord{0, *e.FBorrowed, 0, true});
    e.FBorrowed = nullptr;
  }
  return e;
}

void TOrderModel::CopyBorrowed() {
  for (TEntry& e : FAll) Own(e);
}

bool TOrderModel::PrepareSearch(size_t n) {
  for (size_t done = 0; FPrepared < FAll.size() && done < n; ++FPrepared, ++done) HaystackOf(Own(FAll[FPrepared]));
  return FPrepared < FAll.size();
}

void TOrderModel::SchedulePrepare() {
  if (FPrepareQueued) return;
  FPrepareQueued = true;
  QTimer::singleShot(0, this, [this] {
    FPrepareQueued = false;
    if (PrepareSearch(kPrepareBatch)) SchedulePrepare();
  });
}

bool TOrderModel::Matches(const TEntry& e) const {
  const TDateTime d = e.Order().PurchaseDate;
  if (FFrom != 0 && d < FFrom) return false;
  if (FTo != 0 && d >= FTo) return false;
  return FText.isEmpty() || HaystackOf(e).contains(FText);
}

void TOrderModel::Append(const TOrderData& o) {
  FAll.emplace_back(o);
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
  for (const auto& o : orders) FAll.emplace_back(*o);
  Refilter();
  endResetModel();
  FPrepared = 0;
  SchedulePrepare();
}

void TOrderModel::Borrow(const std::vector<std::unique_ptr<TOrderData>>& orders) {
  beginResetModel();
  FAll.clear();
  FAll.reserve(orders.size());
  for (const auto& o : orders) FAll.push_back(TEntry(o.get()));
  Refilter();
  endResetModel();
  FPrepared = 0;
  SchedulePrepare();
}

void TOrderModel::SetRecords(std::vector<THistoryRecord> records) {
  beginResetModel();
  FAll.clear();
  FAll.reserve(records.size());
  for (auto& r : records) FAll.emplace_back(std::move(r));
  Refilter();
  endResetModel();
  // The whole history is shown to be searched: the first keystroke must not
  // wait for the search texts.
  FPrepared = 0;
  PrepareSearch(FAll.size());
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
    const TOrderData& ox = x.Order();
    const TOrderData& oy = y.Order();
    switch (c) {
      case colQuantity: return ox.Quantity < oy.Quantity;
      case colAmount:
        // By currency, then by amount: sums of different currencies do not compare.
        if (ox.Currency != oy.Currency) return ox.Currency < oy.Currency;
        return ox.Amount < oy.Amount;
      case colDate: return ox.PurchaseDate < oy.PurchaseDate;
      case colID: return RowOf(x).id.compare(RowOf(y).id, Qt::CaseInsensitive) < 0;
      case colFrom: return RowOf(x).from.compare(RowOf(y).from, Qt::CaseInsensitive) < 0;
      default: return RowOf(x).item.compare(RowOf(y).item, Qt::CaseInsensitive) < 0;
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
