// quenbell-cli history: the stored orders listed, exported and summed.

#include <filesystem>
#include <fstream>
#include <ostream>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "history/OrderFields.h"
#include "history/OrderHistory.h"
#include "history/OrderTotals.h"

namespace qnb::cli {

namespace {

struct TRange {
  TDateTime From = 0, To = 0;
};

// --from and --to: local days by PurchaseDate, both ends included.
TRange TakeRange(TArgs& args) {
  TRange r;
  std::string text;
  if (TakeOption(args, "--from", text) && !ParseDate(text, r.From))
    throw TUsageError("--from needs a date YYYY-MM-DD: " + text);
  if (TakeOption(args, "--to", text)) {
    if (!ParseDate(text, r.To)) throw TUsageError("--to needs a date YYYY-MM-DD: " + text);
    r.To += 1;
  }
  return r;
}

void NoMoreArgs(const TArgs& args) {
  if (!args.empty()) throw TUsageError("unexpected argument \"" + args[0] + "\"");
}

// The stored records; none when no history has been kept yet (the file is
// not created by reading it).
std::vector<THistoryRecord> Records(const THistoryQuery& q, TCliIo& io) {
  TOrderHistory history;
  if (!std::filesystem::exists(history.Path())) return {};
  bool failed = false;
  history.OnProblem = [&](const std::string& m) {
    io.err << "quenbell-cli: " << m << "\n";
    failed = true;
  };
  if (!history.Open()) throw std::runtime_error("the order history cannot be read");
  auto records = history.Query(q);
  if (failed && records.empty() && history.MovedAsidePath().empty())
    throw std::runtime_error("the order history cannot be read");
  return records;
}

std::string RecordJson(const THistoryRecord& r) {
  std::string order = OrderJson(r.Order);
  order.pop_back();  // the closing brace: the history's own fields follow
  order += "," + JsonString("SeenAt") + ":" + JsonDouble(r.SeenAt) + "," + JsonString("SeenAt_text") + ":" +
           JsonString(DateTimeText(r.SeenAt)) + "," + JsonString("OnServer") + ":" + JsonBool(r.OnServer) + "}";
  return order;
}

// RFC 4180: quoted when it holds a comma, a quote or a line break.
std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The values of one record as `history list` prints them, without JSON quoting.
std::vector<std::pair<std::string, std::string>> CsvFields(const THistoryRecord& r) {
  std::vector<std::pair<std::string, std::string>> cells;
  for (const auto& f : OrderFields()) {
    switch (f.Kind) {
      case TOrderField::Text: cells.emplace_back(f.Name, Utf8Text(f.GetText(r.Order))); break;
      case TOrderField::Int: cells.emplace_back(f.Name, std::to_string(f.GetInt(r.Order))); break;
      case TOrderField::Currency: {
        std::string v = JsonCurrency(f.GetInt(r.Order));
        cells.emplace_back(f.Name, v.substr(1, v.size() - 2));
        break;
      }
      case TOrderField::Date:
        cells.emplace_back(f.Name, JsonDouble(f.GetDate(r.Order)));
        cells.emplace_back(std::string(f.Name) + "_text", DateTimeText(f.GetDate(r.Order)));
        break;
    }
  }
  cells.emplace_back("SeenAt", JsonDouble(r.SeenAt));
  cells.emplace_back("SeenAt_text", DateTimeText(r.SeenAt));
  cells.emplace_back("OnServer", JsonBool(r.OnServer));
  return cells;
}

int HistoryList(TArgs args, TCliIo& io) {
  THistoryQuery q;
  TakeOption(args, "--account", q.Account);
  TakeOption(args, "--search", q.Search);
  const TRange range = TakeRange(args);
  q.From = range.From;
  q.To = range.To;
  NoMoreArgs(args);
  for (const auto& r : Records(q, io)) io.out << TJsonObject().Raw("order", RecordJson(r)).Text() << "\n";
  return EXIT_OK;
}

int HistoryExport(TArgs args, TCliIo& io) {
  std::string format, output;
  if (!TakeOption(args, "--format", format)) throw TUsageError("export needs --format csv|json");
  if (format != "csv" && format != "json") throw TUsageError("--format must be csv or json: " + format);
  const bool toFile = TakeOption(args, "--output", output) && output != "-";
  THistoryQuery q;
  const TRange range = TakeRange(args);
  q.From = range.From;
  q.To = range.To;
  NoMoreArgs(args);
  const auto records = Records(q, io);

  std::string text;
  if (format == "json") {
    text = "[";
    for (size_t i = 0; i < records.size(); ++i) text += (i ? "," : "") + RecordJson(records[i]);
    text += "]\n";
  } else {
    // The header comes from an empty record, so that it is there with no rows.
    const auto names = CsvFields(THistoryRecord{});
    for (size_t i = 0; i < names.size(); ++i) text += (i ? "," : "") + CsvCell(names[i].first);
    text += "\r\n";
    for (const auto& r : records) {
      const auto cells = CsvFields(r);
      for (size_t i = 0; i < cells.size(); ++i) text += (i ? "," : "") + CsvCell(cells[i].second);
      text += "\r\n";
    }
  }
  if (!toFile) {
    io.out << text;
    return EXIT_OK;
  }
  // Written aside and renamed, so that a failed export leaves no half file.
  const std::string part = output + ".part";
  {
    std::ofstream f(part, std::ios::binary | std::ios::trunc);
    f << text;
    f.close();
    if (!f) {
      std::filesystem::remove(part);
      throw std::runtime_error("cannot write \"" + output + "\"");
    }
  }
  std::error_code ec;
  std::filesystem::rename(part, output, ec);
  if (ec) {
    std::filesystem::remove(part);
    throw std::runtime_error("cannot write \"" + output + "\": " + ec.message());
  }
  return EXIT_OK;
}

int HistoryTotals(TArgs args, TCliIo& io) {
  std::string by = "day";
  TakeOption(args, "--by", by);
  if (by != "day" && by != "month") throw TUsageError("--by must be day or month: " + by);
  THistoryQuery q;
  const TRange range = TakeRange(args);
  q.From = range.From;
  q.To = range.To;
  NoMoreArgs(args);
  const auto records = Records(q, io);
  std::vector<const TOrderData*> orders;
  orders.reserve(records.size());
  for (const auto& r : records) orders.push_back(&r.Order);
  for (const auto& t : TotalsByPeriod(orders, by == "month"))
    io.out << TJsonObject()
                  .Str("period", t.Period)
                  .Str("currency", t.Currency)
                  .Int("count", t.Count)
                  .Raw("amount", JsonCurrency(t.Amount))
                  .Text()
           << "\n";
  return EXIT_OK;
}

}  // namespace

int CmdHistory(const TArgs& argsIn, TCliIo& io) {
  if (argsIn.empty()) throw TUsageError("history needs list, export or totals");
  TArgs args(argsIn.begin() + 1, argsIn.end());
  if (argsIn[0] == "list") return HistoryList(args, io);
  if (argsIn[0] == "export") return HistoryExport(args, io);
  if (argsIn[0] == "totals") return HistoryTotals(args, io);
  throw TUsageError("unknown history command \"" + argsIn[0] + "\"");
}

}  // namespace qnb::cli
