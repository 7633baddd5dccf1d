#include "app/OrderExport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <utility>

#include "app/QtText.h"
#include "history/OrderFields.h"
#include "history/OrderTotals.h"

namespace qnb {

namespace {

// "12.3400", exactly four decimals.
QString CurrencyText(int64_t v) {
  const uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%s%llu.%04llu", v < 0 ? "-" : "", static_cast<unsigned long long>(mag / 10000),
                static_cast<unsigned long long>(mag % 10000));
  return QString::fromLatin1(buf);
}

// "YYYY-MM-DD HH:MM:SS", local, to the second.
QString SecondsText(double days) {
  if (days == 0) return QStringLiteral("1899-12-30 00:00:00");
  const long long secs = std::llround(days * 86400.0);
  const long long d = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  int y, m, dd;
  DecodeDate(static_cast<double>(d), y, m, dd);
  const long long rem = secs - d * 86400;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02lld:%02lld:%02lld", y, m, dd, rem / 3600, rem / 60 % 60, rem % 60);
  return QString::fromLatin1(buf);
}

// The shortest text that reads back as the same double.
QString NumberText(double v) {
  if (!std::isfinite(v)) return QStringLiteral("0");
  char buf[32];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  return QString::fromLatin1(buf, static_cast<qsizetype>(res.ptr - buf));
}

// Name and JSON value of every field of a record, in the export's order.
std::vector<std::pair<QString, QJsonValue>> Fields(const THistoryRecord& r) {
  std::vector<std::pair<QString, QJsonValue>> out;
  for (const auto& f : OrderFields()) {
    const QString name = QString::fromLatin1(f.Name);
    switch (f.Kind) {
      case TOrderField::Text: out.emplace_back(name, ToQ(f.GetText(r.Order))); break;
      case TOrderField::Int: out.emplace_back(name, static_cast<qint64>(f.GetInt(r.Order))); break;
      case TOrderField::Currency: out.emplace_back(name, CurrencyText(f.GetInt(r.Order))); break;
      case TOrderField::Date:
        out.emplace_back(name, f.GetDate(r.Order));
        out.emplace_back(name + QStringLiteral("_text"), SecondsText(f.GetDate(r.Order)));
        break;
    }
  }
  out.emplace_back(QStringLiteral("SeenAt"), r.SeenAt);
  out.emplace_back(QStringLiteral("SeenAt_text"), SecondsText(r.SeenAt));
  out.emplace_back(QStringLiteral("OnServer"), r.OnServer);
  return out;
}

QString CsvCell(const QJsonValue& v) {
  QString s;
  if (v.isBool()) s = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
  else if (v.isDouble()) s = NumberText(v.toDouble());
  else s = v.toString();
  if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n')) &&
      !s.contains(QLatin1Char('\r')))
    return s;
  s.replace(QLatin1String("\""), QLatin1String("\"\""));
  return QLatin1Char('"') + s + QLatin1Char('"');
}

}  // namespace

QByteArray OrdersCsv(const std::vector<const THistoryRecord*>& records) {
  QString text;
  const THistoryRecord empty;
  const auto names = Fields(empty);
  for (size_t i = 0; i < names.size(); ++i) text += (i ? QStringLiteral(",") : QString()) + names[i].first;
  text += QStringLiteral("\r\n");
  for (const THistoryRecord* r : records) {
    const auto cells = Fields(*r);
    for (size_t i = 0; i < cells.size(); ++i) text += (i ? QStringLiteral(",") : QString()) + CsvCell(cells[i].second);
    text += QStringLiteral("\r\n");
  }
  return text.toUtf8();
}

QByteArray OrdersJson(const std::vector<const THistoryRecord*>& records) {
  // Written by hand so that the fields keep their order.
  QByteArray out = "[";
  for (size_t i = 0; i < records.size(); ++i) {
    if (i) out += ',';
    out += '{';
    const auto cells = Fields(*records[i]);
    for (size_t k = 0; k < cells.size(); ++k) {
      if (k) out += ',';
      // A one-element array gives the value in JSON form; strip its brackets.
      QByteArray key = QJsonDocument(QJsonArray{cells[k].first}).toJson(QJsonDocument::Compact);
      QByteArray value = QJsonDocument(QJsonArray{cells[k].second}).toJson(QJsonDocument::Compact);
      if (cells[k].second.isDouble()) value = "[" + NumberText(cells[k].second.toDouble()).toUtf8() + "]";
      out += key.mid(1, key.size() - 2) + ':' + value.mid(1, value.size() - 2);
    }
    out += '}';
  }
  out += "]\n";
  return out;
}

}  // namespace qnb
