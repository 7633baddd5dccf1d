#pragma once
// The payment list: the orders on the server (a copy of the order list) or
// the whole history, filtered by a search text and a date range and sorted
// by any column. Filtering and sorting work on texts prepared once per row,
// so that a keystroke over a long history stays quick. A row's texts are
// made when first needed, not when the row joins: a start with a long list
// makes only the painted ones, and the search texts follow in small batches
// once the window is shown.

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
    explicit TEntry(THistoryRecord r) : FRecord(std::make_unique<THistoryRecord>(std::move(r))) {}
    // An order of the list, copied once.
    explicit TEntry(const TOrderData& o) : FRecord(std::make_unique<THistoryRecord>(THistoryRecord{0, o, 0, true})) {}
    // Id 0: not from the history. Only for an entry given by Entry().
    const THistoryRecord& Record() const { return *FRecord; }

   private:
    friend class TOrderModel;
    // An order of the list not copied yet; FRecord holds it once copied. A
    // long list borrowed costs a pointer per order until then.
    explicit TEntry(const TOrderData* borrowed) : FBorrowed(borrowed) {}
    const TOrderData& Order() const { return FBorrowed ? *FBorrowed : FRecord->Order; }
    const TOrderData* FBorrowed = nullptr;
    std::unique_ptr<THistoryRecord> FRecord;
    mutable std::unique_ptr<TRow> FRow;
    mutable QString FHaystack;  // buyer, e-mail, product and order ID, case-folded
    mutable bool FHasHaystack = false;
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
  // As Rebuild, but the orders are copied a batch at a time after the reset,
  // or when a row is asked for. Only while nothing else changes the orders:
  // CopyBorrowed must have run before anything may.
  void Borrow(const std::vector<std::unique_ptr<TOrderData>>& orders);
  void CopyBorrowed();
  // Stored records, as the history gives them.
  void SetRecords(std::vector<THistoryRecord> records);

  // Rows whose buyer, e-mail, product or order ID holds text (any case) and
  // whose purchase date is in [from, to) (0: open end).
  void SetFilter(const QString& text, TDateTime from, TDateTime to);

  // Shown rows.
  const TRow& Row(int i) const { return RowOf(Entry(i)); }
  const TEntry& Entry(int i) const { return Own(FAll[FView[static_cast<size_t>(i)]]); }
  // Every row held, shown or not.
  int TotalCount() const { return static_cast<int>(FAll.size()); }

  // Copies borrowed orders and makes the search texts of up to n rows not
  // yet done; false once every row is done.
  bool PrepareSearch(size_t n);

  QIcon RowIcon;

 private:
  static const TEntry& Own(TEntry& e);
  static const TRow& RowOf(const TEntry& e);
  static const QString& HaystackOf(const TEntry& e);
  bool Matches(const TEntry& e) const;
  void Refilter();
  void SortView();
  // The search texts of a new set of rows, in batches between events.
  void SchedulePrepare();

  mutable std::vector<TEntry> FAll;  // a borrowed order is copied when its entry is asked for
  std::vector<size_t> FView;
  size_t FPrepared = 0;  // rows before this one have their search texts
  bool FPrepareQueued = false;
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
