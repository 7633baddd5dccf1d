#include "settings/AccountState.h"

#include <QDateTime>
#include <QFile>
#include <QFileDevice>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>
#include <filesystem>

#include "settings/Registry.h"

namespace qnb {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QString& s) {
  const QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

std::string TimeText(int64_t t) {
  return S(QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("yyyy-MM-dd HH:mm")));
}

}  // namespace

std::string TAccountStateBook::DefaultPath() {
  return (std::filesystem::path(TRegistry::FilePath()).parent_path() / "AccountState.json").string();
}

void TAccountStateBook::Set(const std::string& account, const TAccountState& state) { states_[Key(account)] = state; }

const TAccountState* TAccountStateBook::Find(const std::string& account) const {
  auto it = states_.find(Key(account));
  return it == states_.end() ? nullptr : &it->second;
}

std::vector<std::string> TAccountStateBook::FailedAccounts() const {
  std::vector<std::string> names;
  for (const auto& [name, s] : states_)
    if (s.Failed) names.push_back(name);
  return names;
}

void TAccountStateBook::Retain(const std::vector<std::string>& names) {
  std::vector<std::string> keys;
  for (const auto& n : names) keys.push_back(Key(n));
  for (auto it = states_.begin(); it != states_.end();)
    it = std::find(keys.begin(), keys.end(), it->first) == keys.end() ? states_.erase(it) : std::next(it);
}

bool TAccountStateBook::Load(const std::string& path) {
  states_.clear();
  QFile f(Q(path));
  if (!f.exists()) return true;
  if (!f.open(QIODevice::ReadOnly)) return false;
  // The file is small; anything far larger is not ours.
  if (f.size() > (1 << 20)) return false;
  const QByteArray data = f.readAll();
  return LoadText(std::string(data.constData(), static_cast<size_t>(data.size())));
}

bool TAccountStateBook::LoadText(const std::string& text) {
  states_.clear();
  QJsonParseError err{};
  const QJsonDocument doc =
      QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &err);
  if (err.error != QJsonParseError::NoError || !doc.isObject()) return false;
  const QJsonArray accounts = doc.object().value(QStringLiteral("accounts")).toArray();
  for (const QJsonValue& v : accounts) {
    const QJsonObject o = v.toObject();
    const std::string name = S(o.value(QStringLiteral("account")).toString());
    if (name.empty()) continue;
    TAccountState s;
    // Seconds as a double: out-of-range values would make the cast undefined.
    const double t = o.value(QStringLiteral("time")).toDouble();
    s.Time = t >= 0 && t < 1e15 ? static_cast<int64_t>(t) : 0;
    s.Failed = o.value(QStringLiteral("failed")).toBool();
    s.NewPayments = o.value(QStringLiteral("newPayments")).toInt();
    s.Caption = S(o.value(QStringLiteral("caption")).toString());
    s.Text = S(o.value(QStringLiteral("text")).toString());
    states_[Key(name)] = s;
  }
  return true;
}

std::string TAccountStateBook::SaveText() const {
  QJsonArray accounts;
  for (const auto& [name, s] : states_) {
    QJsonObject o;
    o.insert(QStringLiteral("account"), Q(name));
    o.insert(QStringLiteral("time"), static_cast<double>(s.Time));
    o.insert(QStringLiteral("failed"), s.Failed);
    o.insert(QStringLiteral("newPayments"), s.NewPayments);
    o.insert(QStringLiteral("caption"), Q(s.Caption));
    o.insert(QStringLiteral("text"), Q(s.Text));
    accounts.append(o);
  }
  QJsonObject root;
  root.insert(QStringLiteral("accounts"), accounts);
  const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);
  return std::string(data.constData(), static_cast<size_t>(data.size()));
}

bool TAccountStateBook::Save(const std::string& path) const {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  QSaveFile out(Q(path));
  if (!out.open(QIODevice::WriteOnly)) return false;
  // Failure texts name hosts and users: the owner's only, like the settings.
  out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
  const std::string data = SaveText();
  return out.write(data.data(), static_cast<qint64>(data.size())) == static_cast<qint64>(data.size()) && out.commit();
}

std::string StateSummary(const TAccountState* state) {
  if (!state) return "Not checked yet";
  if (state->Failed) return "Failed " + TimeText(state->Time) + ": " + state->Caption;
  return "Checked " + TimeText(state->Time) + ": " + std::to_string(state->NewPayments) + " new payment(s)";
}

std::string StateDetails(const TAccountState* state) {
  std::string s = StateSummary(state);
  if (state && state->Failed && !state->Text.empty()) s += "\n" + state->Text;
  return s;
}

}  // namespace qnb
