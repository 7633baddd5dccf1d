#include "settings/VrDiag.h"

#include <iostream>

namespace qnb {

namespace {

class TStderrPresenter final : public TMessagePresenter {
 public:
  bool Show(TBoxKind, const std::string&, const std::string& text) override {
    std::cerr << "quenbell-cli: " << text << std::endl;
    return false;  // nobody to say Yes
  }
};

std::string& Title() {
  static std::string title = "Quenbell";
  return title;
}

TMessagePresenter* gPresenter = nullptr;

TMessagePresenter& Current() { return gPresenter ? *gPresenter : StderrPresenter(); }

}  // namespace

TMessagePresenter& StderrPresenter() {
  static TStderrPresenter p;
  return p;
}

TMessagePresenter* SetMessagePresenter(TMessagePresenter* presenter) {
  TMessagePresenter* old = gPresenter;
  gPresenter = presenter;
  return old;
}

const std::string& ApplicationTitle() { return Title(); }
void SetApplicationTitle(const std::string& title) { Title() = title; }

void MBError(const std::string& msg) { Current().Show(TBoxKind::Error, ApplicationTitle(), msg); }
void MBInfo(const std::string& msg) { Current().Show(TBoxKind::Info, ApplicationTitle(), msg); }
bool MBSure(const std::string& msg) { return Current().Show(TBoxKind::Sure, ApplicationTitle(), msg); }

}  // namespace qnb
