#include "app/AccountStateView.h"

#include <QStringList>

#include "app/CoolTrayIcon.h"
#include "app/PlainText.h"
#include "app/QtText.h"

namespace qnb {

TAccountStateView::TAccountStateView(TCoolTrayIcon* tray, std::string path)
    : FTray(tray), FPath(path.empty() ? TAccountStateBook::DefaultPath() : std::move(path)) {
  FBook.Load(FPath);
  Show();
}

void TAccountStateView::Feed(const TLogRec& rec) {
  if (FFeed.Feed(rec, Now())) {
    FChanged = true;
    // A failure shows at once, not only when the whole run is over.
    Show();
  }
}

void TAccountStateView::RunEnded() {
  if (!FChanged) return;
  FChanged = false;
  FBook.Save(FPath);
  Show();
}

void TAccountStateView::AccountsChanged(const std::vector<std::string>& names) {
  FBook.Retain(names);
  FBook.Save(FPath);
  Show();
}

QString TAccountStateView::Hint() const {
  const std::vector<std::string> failed = FBook.FailedAccounts();
  if (failed.empty()) return QStringLiteral("Quenbell");
  QStringList names;
  for (const auto& n : failed) names << ToQ(n);
  return PlainToolTip(QStringLiteral("Quenbell: the last check failed for"), names.join(QLatin1Char('\n')));
}

void TAccountStateView::Show() {
  if (!FTray) return;
  FTray->SetErrorMark(!FBook.FailedAccounts().empty());
  FTray->SetHint(Hint());
}

}  // namespace qnb
