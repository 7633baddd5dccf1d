#pragma once
// The main window's part in the account states: fed with the status records
// the window drains, it keeps the book (and its file) current and shows on the
// tray icon whether some account's last check failed.

#include <QString>

#include <ctime>
#include <functional>

#include "mailcheck/AccountStateFeed.h"
#include "settings/AccountState.h"

namespace qnb {

class TCoolTrayIcon;

class TAccountStateView {
 public:
  // Loads the book from path (empty: the default file) and shows it.
  TAccountStateView(TCoolTrayIcon* tray, std::string path = {});

  // One record of the worker, as drained from the status queue.
  void Feed(const TLogRec& rec);
  // After the run's last record: stores the book when it changed.
  void RunEnded();
  // Forgets accounts that are no longer configured (after the options change).
  void AccountsChanged(const std::vector<std::string>& names);

  const TAccountStateBook& Book() const { return FBook; }
  // The tray's tool tip for the book.
  QString Hint() const;
  // Seam for tests: the time of a record.
  std::function<int64_t()> Now = [] { return static_cast<int64_t>(std::time(nullptr)); };

 private:
  void Show();
  TCoolTrayIcon* FTray;
  std::string FPath;
  TAccountStateBook FBook;
  TAccountStateFeed FFeed{FBook};
  bool FChanged = false;
};

}  // namespace qnb
