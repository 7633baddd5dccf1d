// rules list|test|check: the rules analyzer's rule files from the command line.
#include <fstream>
#include <iterator>
#include <ostream>

#include "analysis/OMAnalyze.h"
#include "cli/Cli.h"
#include "cli/Json.h"
#include "rules/RuleEngine.h"
#include "rules/RuleFile.h"
#include "rules/RulePaths.h"

namespace qnb::cli {

namespace {

// The shipped rules beside the installed plug-ins, and the user's own (or --rules DIR).
rules::TRuleSet LoadRules(TArgs& args) {
  std::string userDir;
  if (!TakeOption(args, "--rules", userDir)) userDir = rules::UserRulesDir();
  for (const auto& a : args)
    if (a.size() > 1 && a[0] == '-') throw TUsageError("unknown option \"" + a + "\"");
  rules::TRuleSet set;
  set.Load(rules::ShippedRulesDir(DefaultPluginDir()), userDir);
  return set;
}

void PrintErrors(const std::vector<rules::TRuleError>& errors, TCliIo& io) {
  for (const auto& e : errors) io.err << "quenbell-cli: " << e.Text() << "\n";
}

bool ReadWhole(const std::string& file, TCliIo& io, std::string& text) {
  if (file == "-") {
    text.assign(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream f(file, std::ios::binary);
  if (!f) return false;
  text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

int RulesList(TArgs args, TCliIo& io) {
  rules::TRuleSet set = LoadRules(args);
  if (!args.empty()) throw TUsageError("rules list takes no arguments");
  PrintErrors(set.Errors(), io);
  for (const auto& r : set.Rules())
    io.out << TJsonObject()
                  .Str("id", r->id)
                  .Str("service", r->service)
                  .Str("file", r->file)
                  .Str("origin", r->user ? "user" : "shipped")
                  .Bool("enabled", r->enabled)
                  .Text()
           << "\n";
  return EXIT_OK;
}

int RulesTest(TArgs args, TCliIo& io) {
  rules::TRuleSet set = LoadRules(args);
  if (args.empty()) throw TUsageError("rules test needs at least one FILE");
  PrintErrors(set.Errors(), io);
  TParseGear host(std::string{});  // for turning records into orders only
  int status = EXIT_OK;
  for (const auto& file : args) {
    TJsonObject line;
    line.Str("file", file);
    std::string source;
    if (!ReadWhole(file, io, source)) {
      line.Raw("rule", "null").Raw("order", "null").Str("reason", "cannot read \"" + file + "\"");
      io.out << line.Text() << "\n";
      status = EXIT_FAILURE_;
      continue;
    }
    TOriginData od{};
    const rules::TRule* rule = nullptr;
    rules::TParseReport report;
    bool parsed = set.Analyze(source, od, &rule, &report);
    line.Raw("rule", rule ? JsonString(rule->id) : "null");
    if (parsed) {
      TStrings headers;
      for (const auto& l : SplitLines(source)) {
        if (l.empty()) break;
        headers.push_back(l);
      }
      TOrderData order;
      host.FillOrder(od, headers, order);
      line.Raw("order", OrderJson(order)).Str("reason", "claimed by rule " + rule->id + " and parsed");
    } else {
      line.Raw("order", "null").Str("reason", report.reason);
    }
    io.out << line.Text() << "\n";
  }
  return status;
}

int RulesCheck(TArgs args, TCliIo& io) {
  if (args.empty()) throw TUsageError("rules check needs at least one RULEFILE");
  bool ok = true;
  for (const auto& file : args) {
    rules::TRuleFileResult r = rules::LoadRuleFile(file, true);
    PrintErrors(r.errors, io);
    ok = ok && r.errors.empty();
  }
  return ok ? EXIT_OK : EXIT_FAILURE_;
}

}  // namespace

int CmdRules(const TArgs& argsIn, TCliIo& io) {
  if (argsIn.empty()) throw TUsageError("rules needs list, test or check");
  TArgs rest(argsIn.begin() + 1, argsIn.end());
  if (argsIn[0] == "list") return RulesList(rest, io);
  if (argsIn[0] == "test") return RulesTest(rest, io);
  if (argsIn[0] == "check") return RulesCheck(rest, io);
  throw TUsageError("unknown rules command \"" + argsIn[0] + "\"");
}

}  // namespace qnb::cli
