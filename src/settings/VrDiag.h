#pragma once
// The program's only message boxes. The core never shows a box itself: it calls
// these routines, which hand the text to the presenter that the front end set
// (message boxes in the GUI, standard error in the CLI, a recorder in tests).

#include <string>

namespace qnb {

enum class TBoxKind { Error, Info, Sure };

class TMessagePresenter {
 public:
  virtual ~TMessagePresenter() = default;
  // Shows one box; the result matters for TBoxKind::Sure only (true = Yes).
  virtual bool Show(TBoxKind kind, const std::string& caption, const std::string& text) = 0;
};

// The presenter used until SetMessagePresenter is called: writes
// "quenbell-cli: TEXT" style lines to standard error and answers No.
TMessagePresenter& StderrPresenter();

// Sets the presenter (nullptr restores the standard-error one); returns the old one.
TMessagePresenter* SetMessagePresenter(TMessagePresenter* presenter);

// Caption of every box; "Quenbell" unless the start-up changes it.
const std::string& ApplicationTitle();
void SetApplicationTitle(const std::string& title);

void MBError(const std::string& msg);
void MBInfo(const std::string& msg);
bool MBSure(const std::string& msg);

}  // namespace qnb
