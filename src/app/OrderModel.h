#pragma once
// The payment list: one row per order, copied from the order list.

#include <QAbstractTableModel>
#include <QIcon>
#include <QString>

#include <memory>
#include <vector>

#include "analysis/OMAnalyze.h"

namespace qnb {

class TOrderModel : public QAbstractTableModel {
 public:
  struct TRow {
    QString id, from, item, quantity, amount;
  };
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  void Append(const TOrderData& o);
  void Rebuild(const std::vector<std::unique_ptr<TOrderData>>& orders);
  const TRow& Row(int i) const { return FRows[static_cast<size_t>(i)]; }

  QIcon RowIcon;

 private:
  static TRow MakeRow(const TOrderData& o);
  std::vector<TRow> FRows;
};

// "$" and the amount with two decimals, the locale's decimal separator and no
// thousands separators.
QString AmountText(TCurrency amount);

}  // namespace qnb
