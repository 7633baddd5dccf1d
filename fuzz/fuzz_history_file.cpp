// A history file damaged in arbitrary places: a small valid history is
// patched with the input (a cut length, then offset/byte pairs) and opened
// as at a start. Opening, restoring, querying, reading mails and storing
// must not crash; a file that cannot be read is moved aside unchanged.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "history/OrderHistory.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

qnb::TOrderData Order(int i) {
  qnb::TOrderData o;
  o.FromAccount = i % 2 ? "Shop" : "Other";
  o.UID = "uid-" + std::to_string(i);
  o.OrderID = "ID-" + std::to_string(i);
  o.Name = "Jane Example";
  o.Email = "jane@example.com";
  o.PurchaseDate = 46000 + i;
  o.Amount = 10000 * i;
  o.Currency = "EUR";
  return o;
}

struct TBase {
  fs::path dir;
  std::string bytes;
  TBase() {
    char tmpl[] = "/tmp/qnb-fuzz-history-XXXXXX";
    dir = mkdtemp(tmpl);
    const fs::path file = dir / "base.sqlite";
    {
      qnb::TOrderHistory h(file.string());
      if (!h.Open()) std::abort();
      for (int i = 1; i <= 12; ++i) h.OrderFound(Order(i), {"Subject: order " + std::to_string(i), "", "body"});
      h.OrdersLeftList({Order(3)});
      h.MemoryUpdated("Shop", {"uid-1", "uid-3"});
    }  // closing the last connection copies the log back into the file
    bytes = ReadAll(file);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TBase base;
  std::string bytes = base.bytes;
  if (size >= 2) {
    const size_t cut = (size_t(data[0]) << 8 | data[1]) * bytes.size() / 65535;
    if (cut > 0 && cut < bytes.size()) bytes.resize(cut);
    for (size_t i = 2; i + 2 < size; i += 3) {
      if (bytes.empty()) break;
      const size_t at = ((size_t(data[i]) << 8 | data[i + 1]) * 7) % bytes.size();
      bytes[at] = static_cast<char>(data[i + 2]);
    }
  }
  const fs::path dir = base.dir / "Qnb";
  std::error_code ec;
  fs::remove_all(dir, ec);
  fs::create_directories(dir);
  const fs::path file = dir / "history.sqlite";
  {
    std::ofstream f(file, std::ios::binary);
    f << bytes;
  }
  qnb::TOrderHistory h(file.string());
  h.OnProblem = [](const std::string& text) {
    if (text.empty()) std::abort();
  };
  if (h.Open()) {
    if (!h.MovedAsidePath().empty() && ReadAll(h.MovedAsidePath()) != bytes) std::abort();
    qnb::TOrderList list;
    qnb::TUidlList memory;
    h.Restore(list, memory);
    qnb::THistoryQuery q;
    q.Search = "jane";
    for (const auto& r : h.Query(q)) {
      qnb::TStrings lines;
      h.MailSource(r.Id, lines);
    }
    h.OrderFound(Order(99), {"x"});
    h.MemoryUpdated("Shop", {"uid-99"});
  }
  return 0;
}
