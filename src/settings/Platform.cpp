#include "settings/Platform.h"

#include <QProcess>
#include <QSaveFile>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <vector>

namespace qnb {

namespace fs = std::filesystem;

namespace {

std::string EnvOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : fallback;
}

std::string Home() { return EnvOr("HOME", "/"); }

std::string ConfigHome() {
  std::string x = EnvOr("XDG_CONFIG_HOME", "");
  return !x.empty() && x[0] == '/' ? x : Home() + "/.config";
}

std::vector<std::string> DataDirs() {
  std::vector<std::string> dirs;
  std::string dataHome = EnvOr("XDG_DATA_HOME", "");
  dirs.push_back(!dataHome.empty() && dataHome[0] == '/' ? dataHome : Home() + "/.local/share");
  std::stringstream ss(EnvOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"));
  for (std::string d; std::getline(ss, d, ':');)
    if (!d.empty()) dirs.push_back(d);
  return dirs;
}

// The Exec value of a desktop entry's [Desktop Entry] group.
std::string ReadExec(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  bool inEntry = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry = line == "[Desktop Entry]";
      continue;
    }
    if (!inEntry) continue;
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    if (key != "Exec") continue;
    std::string v = line.substr(eq + 1);
    while (!v.empty() && v.front() == ' ') v.erase(v.begin());
    return v;
  }
  return {};
}

// Drops field codes (%u, %F, ...) and turns "%%" into "%".
std::string StripFieldCodes(const std::string& exec) {
  std::string out;
  for (size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] != '%' || i + 1 >= exec.size()) {
      out += exec[i];
      continue;
    }
    char c = exec[++i];
    if (c == '%') out += '%';
  }
  // Codes stood as separate arguments: drop the blanks they leave behind.
  std::string squeezed;
  for (char c : out)
    if (!(c == ' ' && (squeezed.empty() || squeezed.back() == ' '))) squeezed += c;
  while (!squeezed.empty() && squeezed.back() == ' ') squeezed.pop_back();
  return squeezed;
}

// Quotes an argument for a desktop entry's Exec key: the quoting of the Exec
// value, then the escaping of a desktop-file string.
std::string ExecQuote(const std::string& arg) {
  std::string q = "\"";
  for (char c : arg) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') q += '\\';
    q += c;
  }
  q += '"';
  std::string escaped;
  for (char c : q) {
    if (c == '\\') escaped += "\\\\";
    else if (c == '\n') escaped += "\\n";
    else escaped += c;
  }
  return escaped;
}

}  // namespace

std::string ExecutablePath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ExecutableDir() {
  std::string p = ExecutablePath();
  return p.empty() ? fs::current_path().string() : fs::path(p).parent_path().string();
}

namespace {

std::string LookUpDefaultMailCommand() {
  QProcess proc;
  proc.start(QStringLiteral("xdg-mime"), {QStringLiteral("query"), QStringLiteral("default"),
                                          QStringLiteral("x-scheme-handler/mailto")});
  if (!proc.waitForStarted(3000)) return {};
  if (!proc.waitForFinished(5000)) {
    proc.kill();
    proc.waitForFinished(1000);
    return {};
  }
  if (proc.exitStatus() != QProcess::NormalExit || proc.exitCode() != 0) return {};
  std::string id = proc.readAllStandardOutput().trimmed().toStdString();
  if (id.empty() || id.find('/') != std::string::npos) return {};
  for (const auto& dir : DataDirs()) {
    fs::path file = fs::path(dir) / "applications" / id;
    std::error_code ec;
    if (fs::is_regular_file(file, ec)) return StripFieldCodes(ReadExec(file));
  }
  return {};
}

}  // namespace

std::string DefaultMailCommand() {
  // xdg-mime is a shell script that takes about half a second; its answer is
  // kept for the process, per set of variables that decide it.
  static std::mutex mutex;
  static std::map<std::string, std::string> cache;
  std::string key;
  for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME", "XDG_DATA_DIRS",
                        "XDG_CURRENT_DESKTOP", "PATH"})
    key += EnvOr(v, "") + '\n';
  std::lock_guard<std::mutex> lock(mutex);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, LookUpDefaultMailCommand()).first;
  return it->second;
}

std::string AutoStartFilePath() { return ConfigHome() + "/autostart/quenbell.desktop"; }

void SetAutoStart(bool enable, const std::string& executable) {
  fs::path file = AutoStartFilePath();
  std::error_code ec;
  if (!enable) {
    fs::remove(file, ec);
    return;
  }
  fs::create_directories(file.parent_path(), ec);
  QSaveFile out(QString::fromStdString(file.string()));
  if (!out.open(QIODevice::WriteOnly)) return;
  std::string text =
      "[Desktop Entry]\n"
      "Type=Application\n"
      "Name=Quenbell\n"
      "Comment=Watch your mailboxes for new payments\n"
      "Icon=quenbell\n"
      "Exec=" + ExecQuote(executable) + "\n"
      "Terminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  out.write(text.data(), static_cast<qint64>(text.size()));
  out.commit();
}

std::string AutoStartCommand() {
  std::error_code ec;
  if (!fs::is_regular_file(AutoStartFilePath(), ec)) return {};
  return ReadExec(AutoStartFilePath());
}

}  // namespace qnb
