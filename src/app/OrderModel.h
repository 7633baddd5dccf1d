#pragma once
// The payment list: the orders on the server (a copy of the order list) or
// the whole history, filtered by a search text and a date range and sorted
// by any column. Filtering and sorting work on texts prepared once per row,
// so that a keystroke over a long history stays quick.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <memory>
#include <vector>

#include "analysis/OMAnalyze.h"
#include "history/OrderHistory.h"

namespace qnb {

class TOrderModel : public QAbstractTableModel {
 public:
  enum TColumn { colID, colFrom, colItem, colQuantity, colAmount, colDate, kColumns };
  struct TRow {
    QString id, from, item, quantity, amount, date;
  };
  struct TEntry {
    THistoryRecord Record;  // Id 0: not from the history
    TRow Row;
    QString Haystack;  // buyer, e-mail, product and order ID, case-folded
  };

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

  // The orders of the list, in list order.
  void Append(const TOrderData& o);
  void Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders);
  // Stored records, as the history gives them.
  void SetRecords(std::vector<THistoryRecord> records);

  // Rows whose buyer, e-mail, product or order ID holds text (any case) and
  // whose purchase date is in [from, to) (0: open end).
  void SetFilter(const QString& text, TDateTime from, TDateTime to);

  // Shown rows.
  const TRow& Row(int i) const { return Entry(i).Row; }
  const TEntry& Entry(int i) const { return FAll[FView[static_cast<size_t>(i)]]; }
  // Every row held, shown or not.
  int TotalCount() const { return static_cast<int>(FAll.size()); }

  QIcon RowIcon;

 private:
  static TEntry MakeEntry(THistoryRecord r);
  bool Matches(const TEntry& e) const;
  void Refilter();
  void SortView();

  std::vector<TEntry> FAll;
  std::vector<size_t> FView;
  QString FText;
  TDateTime FFrom = 0, FTo = 0;
  int FSortColumn = -1;  // -1: list order
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};

// The amount in its currency with two decimals, the locale's decimal
// separator and no thousands separators: "€49.90" for EUR, "$34.90" for USD
// or no currency, "£", "¥" likewise, "49.90 CHF" for the others.
QString AmountText(TCurrency amount, const std::string& currency = {});

// "YYYY-MM-DD HH:MM" of a date-time; empty for none.
QString DateText(TDateTime t);

}  // namespace qnb
