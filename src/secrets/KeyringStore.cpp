#include "secrets/KeyringStore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <memory>

#include "settings/Registry.h"

namespace qnb {

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "quenbell-cli";
  static char* argv[] = {name, nullptr};
  // Lives until the process ends: jobs cut short by their time limit may
  // still finish into it.
  new QCoreApplication(argc, argv);
}

struct TOutcome {
  bool done = false;
  QKeychain::Error error = QKeychain::NoError;
  std::string text;
  QByteArray data;
};

// Runs the job (which deletes itself when it ends) and waits for it.
std::shared_ptr<TOutcome> Run(QKeychain::Job* job, int timeoutMs) {
  auto out = std::make_shared<TOutcome>();
  job->setAutoDelete(true);
  QObject::connect(job, &QKeychain::Job::finished, job, [out](QKeychain::Job* j) {
    out->done = true;
    out->error = j->error();
    out->text = j->errorString().toStdString();
    if (auto* r = qobject_cast<QKeychain::ReadPasswordJob*>(j)) out->data = r->binaryData();
  });
  QEventLoop loop;
  QObject::connect(job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
  QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
  job->start();
  if (!out->done) loop.exec(QEventLoop::ExcludeUserInputEvents);
  if (!out->done) {
    out->error = QKeychain::OtherError;
    out->text = "the keyring did not answer in time";
  }
  return out;
}

}  // namespace

std::string TKeyringStore::Service() { return "Quenbell " + TRegistry::FilePath(); }

bool TKeyringStore::Write(const std::string& key, const std::string& password, std::string& error) {
  EnsureApplication();
  auto* job = new QKeychain::WritePasswordJob(Q(Service()));
  job->setKey(Q(key));
  // Bytes as they are: a password need not be UTF-8.
  job->setBinaryData(QByteArray(password.data(), static_cast<qsizetype>(password.size())));
  auto out = Run(job, timeoutMs_);
  if (out->error != QKeychain::NoError) {
    error = out->text;
    return false;
  }
  available_ = true;
  return true;
}

TPasswordStore::TRead TKeyringStore::Read(const std::string& key, std::string& password, std::string& error) {
  EnsureApplication();
  auto* job = new QKeychain::ReadPasswordJob(Q(Service()));
  job->setKey(Q(key));
  auto out = Run(job, timeoutMs_);
  if (out->error == QKeychain::EntryNotFound) return TRead::NotFound;
  if (out->error != QKeychain::NoError) {
    error = out->text;
    return TRead::Failed;
  }
  password.assign(out->data.constData(), static_cast<size_t>(out->data.size()));
  return TRead::Found;
}

bool TKeyringStore::Remove(const std::string& key, std::string& error) {
  EnsureApplication();
  auto* job = new QKeychain::DeletePasswordJob(Q(Service()));
  job->setKey(Q(key));
  auto out = Run(job, timeoutMs_);
  if (out->error == QKeychain::NoError || out->error == QKeychain::EntryNotFound) return true;
  error = out->text;
  return false;
}

bool TKeyringStore::Available() {
  if (!available_) {
    // A key that no account uses: "not found" is an answer, too.
    std::string password, error;
    available_ = Read("\x01probe", password, error) != TRead::Failed;
  }
  return *available_;
}

}  // namespace qnb
