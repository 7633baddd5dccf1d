#pragma once
// Records every message box and answers MBSure from a queue (default: Yes).
// Installed for the life of the object.

#include <deque>
#include <string>
#include <vector>

#include "settings/VrDiag.h"

namespace qnb::test {

struct TShownBox {
  TBoxKind kind;
  std::string caption;
  std::string text;
};

class TRecordingPresenter final : public TMessagePresenter {
 public:
  TRecordingPresenter() : old_(SetMessagePresenter(this)) {}
  ~TRecordingPresenter() override { SetMessagePresenter(old_); }
  bool Show(TBoxKind kind, const std::string& caption, const std::string& text) override {
    boxes.push_back({kind, caption, text});
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> t;
    for (const auto& b : boxes) t.push_back(b.text);
    return t;
  }

  std::vector<TShownBox> boxes;
  std::deque<bool> answers;

 private:
  TMessagePresenter* old_;
};

}  // namespace qnb::test
