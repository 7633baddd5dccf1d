// analyze and plugins: the analyzer host from the command line.
#include <charconv>
#include <cmath>
#include <ostream>

#include "analysis/MsgType.h"
#include "analysis/OMAnalyze.h"
#include "cli/Cli.h"
#include "cli/Json.h"

namespace qnb::cli {

namespace {

std::string PluginDirArg(TArgs& args) {
  std::string dir;
  if (!TakeOption(args, "--plugins", dir)) dir = DefaultPluginDir();
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw TUsageError("unknown option \"" + a + "\"");
  return dir;
}

}  // namespace

std::string OrderJson(const TOrderData& o) {
  TJsonObject j;
  j.Str("UID", o.UID)
      .Str("FromAccount", o.FromAccount)
      .Str("OrderID", o.OrderID)
      .Str("Name", o.Name)
      .Str("Email", o.Email)
      .Str("RegName", o.RegName)
      .Str("RegCode", o.RegCode)
      .Str("Product_Name", o.Product_Name)
      .Str("Version", o.Version)
      .Int("Quantity", o.Quantity)
      .Raw("Amount", JsonCurrency(o.Amount))
      .Raw("PurchaseDate", JsonDouble(o.PurchaseDate))
      .Str("PurchaseDate_text", DateTimeText(o.PurchaseDate))
      .Str("OrderFrom", o.OrderFrom)
      .Str("Company", o.Company)
      .Str("Country", o.Country)
      .Str("LastName", o.LastName)
      .Str("FirstName", o.FirstName)
      .Str("Address", o.Address)
      .Str("Address2", o.Address2)
      .Str("City", o.City)
      .Str("State", o.State)
      .Str("PostCode", o.PostCode)
      .Str("Phone", o.Phone)
      .Str("Fax", o.Fax)
      .Str("Currency", o.Currency)
      .Str("Comments", o.Comments)
      .Raw("VAT", JsonCurrency(o.VAT))
      .Raw("UnitPrice", JsonCurrency(o.UnitPrice))
      .Str("DeliveryMethod", o.DeliveryMethod)
      .Str("IPAddress", o.IPAddress)
      .Str("URLforReceipt", o.URLforReceipt)
      .Str("AffiliateID", o.AffiliateID)
      .Raw("Commission", JsonCurrency(o.Commission));
  return j.Text();
}

int CmdAnalyze(const TArgs& argsIn, TCliIo& io) {
  TArgs args = argsIn;
  std::string dir = PluginDirArg(args);
  if (args.size() != 1) throw TUsageError("analyze needs exactly one FILE");
  TStrings lines = ReadLinesArg(args[0], io);

  TStrings headers;
  for (const auto& line : lines) {
    if (line.empty()) break;
    headers.push_back(line);
  }
  TParseGear gear(dir);
  if (!gear.IsOrderMail(headers)) {
    io.err << "quenbell-cli: not a payment mail\n";
    return EXIT_NOT_ORDER;
  }
  TMsgType msg;
  msg.Assign(lines);
  TOrderData order;
  if (!gear.GetOrderData(msg, &order)) {
    io.err << "quenbell-cli: no analyzer could parse the mail\n";
    return EXIT_NOT_ORDER;
  }
  io.out << TJsonObject().Raw("order", OrderJson(order)).Text() << "\n";
  return EXIT_OK;
}

int CmdPlugins(const TArgs& argsIn, TCliIo& io) {
  TArgs args = argsIn;
  std::string dir = PluginDirArg(args);
  if (!args.empty()) throw TUsageError("plugins takes no arguments");
  TParseGear gear(dir);
  for (const auto& item : gear.ParserList())
    io.out << TJsonObject().Str("file", item->DLLFileName).Str("reseller", item->Reseller).Text() << "\n";
  return EXIT_OK;
}

}  // namespace qnb::cli
