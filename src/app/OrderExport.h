#pragma once
// The shown payments as a file: CSV (RFC 4180, UTF-8, a header row with the
// field names) or one JSON array, with the fields and values quenbell-cli's
// history export writes.

#include <QByteArray>

#include <vector>

#include "history/OrderHistory.h"

namespace qnb {

QByteArray OrdersCsv(const std::vector<const THistoryRecord*>& records);
QByteArray OrdersJson(const std::vector<const THistoryRecord*>& records);

}  // namespace qnb
