#include "settings/Registry.h"

#include "settings/QtBytes.h"

#include <QFile>
#include <QSaveFile>
#include <QSettings>
#include <QVariant>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qnb {

namespace {

// A key's own (unnamed) value. Writing it marks an empty key as existing,
// which INI groups cannot express otherwise.
const QString kKeyMarker = QStringLiteral(".");

QString Group(const std::string& key) {
  QStringList parts = ToQ(key).split(QLatin1Char('\\'));
  // QSettings writes a group named "general" in any case as "[%General]" and
  // reads it back as "General"; registry keys ignore case, so use that spelling.
  for (QString& part : parts)
    if (part.compare(QLatin1String("general"), Qt::CaseInsensitive) == 0) part = QStringLiteral("General");
  return parts.join(QLatin1Char('/'));
}

QString ValueKey(const std::string& key, const std::string& name) {
  QString g = Group(key);
  return g.isEmpty() ? ToQ(name) : g + QLatin1Char('/') + ToQ(name);
}

}  // namespace

TRegistry::TRegistry() = default;

TRegistry::~TRegistry() {
  settings_.reset();
  if (!copy_.empty()) unlink(copy_.c_str());
}

std::string TRegistry::FilePath() {
  std::filesystem::path base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::filesystem::path(home && *home ? home : "/") / ".config";
  }
  return (base / "Varnett" / "Qnb.ini").string();
}

bool TRegistry::OpenRoot(bool create) {
  path_ = FilePath();
  std::error_code ec;
  std::filesystem::path p(path_);
  bool exists = std::filesystem::exists(p, ec);
  if (exists) {
    if (!std::filesystem::is_regular_file(p, ec) || access(path_.c_str(), R_OK) != 0) return false;
  } else {
    if (!create) return false;
    std::filesystem::create_directories(p.parent_path(), ec);
    if (!std::filesystem::is_directory(p.parent_path(), ec)) return false;
  }
  // The file keeps passwords (coded or not): the folder is for its owner only.
  chmod(p.parent_path().c_str(), 0700);
  std::string tmpl = (std::filesystem::temp_directory_path() / "quenbell-settings-XXXXXX").string();
  int fd = mkstemp(tmpl.data());
  if (fd < 0) return false;
  copy_ = tmpl;
  bool copied = true;
  if (exists) {
    QFile in(QString::fromStdString(path_));
    QFile out;
    copied = in.open(QIODevice::ReadOnly) && out.open(fd, QIODevice::WriteOnly) &&
             out.write(in.readAll()) == in.size() && out.flush() && in.error() == QFile::NoError;
  }
  close(fd);
  if (!copied) return false;
  settings_ = std::make_unique<QSettings>(QString::fromStdString(copy_), QSettings::IniFormat);
  // Never write over a file that could not be read whole.
  if (settings_->status() != QSettings::NoError) {
    settings_.reset();
    return false;
  }
  // A new file appears with the first commit.
  return true;
}

bool TRegistry::KeyExists(const std::string& key) const {
  QString g = Group(key);
  if (g.isEmpty()) return true;
  if (settings_->contains(g + QLatin1Char('/') + kKeyMarker)) return true;
  // A key that holds values or subkeys exists even without its marker (a
  // hand-edited file).
  settings_->beginGroup(g);
  bool any = !settings_->childKeys().isEmpty() || !settings_->childGroups().isEmpty();
  settings_->endGroup();
  return any;
}

void TRegistry::CreateKey(const std::string& key) {
  if (KeyExists(key)) return;
  settings_->setValue(Group(key) + QLatin1Char('/') + kKeyMarker, QString());
  dirty_ = true;
}

void TRegistry::DeleteKey(const std::string& key) {
  settings_->remove(Group(key));
  dirty_ = true;
}

std::vector<std::string> TRegistry::SubKeys(const std::string& key) const {
  settings_->beginGroup(Group(key));
  const QStringList groups = settings_->childGroups();
  settings_->endGroup();
  std::vector<std::string> names;
  for (const QString& g : groups) names.push_back(FromQ(g));
  std::sort(names.begin(), names.end());
  return names;
}

TReadResult TRegistry::ReadText(const std::string& key, const std::string& name, std::string& value) const {
  QVariant v = settings_->value(ValueKey(key, name));
  if (!v.isValid()) return TReadResult::Missing;
  if (v.typeId() != QMetaType::QString) return TReadResult::NotText;
  value = FromQ(v.toString());
  return TReadResult::Ok;
}

void TRegistry::WriteText(const std::string& key, const std::string& name, const std::string& value) {
  settings_->setValue(ValueKey(key, name), ToQ(value));
  dirty_ = true;
}

bool TRegistry::ValueExists(const std::string& key, const std::string& name) const {
  return settings_->contains(ValueKey(key, name));
}

void TRegistry::DeleteValue(const std::string& key, const std::string& name) {
  settings_->remove(ValueKey(key, name));
  dirty_ = true;
}

bool TRegistry::Commit() {
  if (!settings_) return false;
  if (!dirty_) return true;
  settings_->sync();
  if (settings_->status() != QSettings::NoError) return false;
  QFile copy(QString::fromStdString(copy_));
  if (!copy.open(QIODevice::ReadOnly)) return false;
  const QByteArray data = copy.readAll();
  if (copy.error() != QFile::NoError) return false;
  QSaveFile out(QString::fromStdString(path_));
  if (!out.open(QIODevice::WriteOnly)) return false;
  // QSaveFile gives the new file the old one's mode (or the umask's): set it
  // before any byte is written, so no reader ever sees it open.
  out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  chmod(std::filesystem::path(path_).parent_path().c_str(), 0700);
  if (out.write(data) != data.size() || !out.commit()) return false;
  dirty_ = false;
  return true;
}

}  // namespace qnb
