#pragma once
// Runs the check worker the way the window does and collects what it reports.

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "TestConfig.h"
#include "mailcheck/OrderMailUtils.h"
#include "settings/QnbBase.h"

namespace qnb::test {

struct TPostedMsg {
  uint32_t message;
  intptr_t wParam, lParam;
};

class TCollectingTarget final : public TMessageTarget {
 public:
  void Post(uint32_t message, intptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    posts_.push_back({message, wParam, lParam});
  }
  std::vector<TPostedMsg> Posts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posts_;
  }
  // The progress messages as (state, value).
  std::vector<std::pair<int, int>> Progress() {
    std::vector<std::pair<int, int>> r;
    for (const auto& p : Posts())
      if (p.message == WM_ORDWATCH_PROGRESS) r.emplace_back(int(p.wParam), int(p.lParam));
    return r;
  }

 private:
  std::mutex mutex_;
  std::vector<TPostedMsg> posts_;
};

struct TTaskSpec {
  std::string account, server, port, user, pass;
};

inline TTaskData Task(int id, const TTaskSpec& s) {
  TTaskData t;
  t.ID = id;
  t.Account = s.account;
  t.Server = s.server;
  t.Port = s.port;
  t.Username = s.user;
  t.Password = s.pass;
  return t;
}

// The state that lives across runs in the program: the order list, the
// retrieved-message memory and the analyzer host.
class TCheckHarness {
 public:
  explicit TCheckHarness(const std::string& pluginDir = QUENBELL_PLUGIN_DIR) : gear(pluginDir) {}
  // With the plug-ins in this helper executable.
  TCheckHarness(const std::string& pluginDir, const std::string& helperPath) : gear(pluginDir, helperPath) {}

  // One whole run over the tasks; returns its status records in queue order.
  std::vector<TLogRec> Run(const std::vector<TTaskSpec>& specs, int readTimeoutMs = 5000) {
    target = std::make_unique<TCollectingTarget>();
    ClearList(tasks);
    for (size_t i = 0; i < specs.size(); ++i) tasks.Add(std::make_unique<TTaskData>(Task(int(i), specs[i])));
    TGetMailThd worker(target.get(), tasks, orders, gear, &logs, &uids);
    worker.ReadTimeoutMs = readTimeoutMs;
    worker.ConnectTimeoutMs = 3000;
    worker.AnswerTimeoutMs = answerTimeoutMs;
    worker.PipelineWindow = pipelineWindow;
    worker.Start();
    worker.WaitFor();
    return Drain();
  }
  std::vector<TLogRec> Drain() {
    std::vector<TLogRec> r;
    while (auto rec = logs.TakeFirst()) r.push_back(*rec);
    return r;
  }
  std::vector<std::string> OrderIDs() {
    std::vector<std::string> ids;
    auto l = orders.Lock();
    for (const auto& o : *l) ids.push_back(o->OrderID);
    return ids;
  }

  int answerTimeoutMs = TPop3Session::kAnswerTimeoutMs;
  int pipelineWindow = TGetMailThd::kDefaultPipelineWindow;
  TParseGear gear;
  TTaskList tasks;
  TOrderList orders;
  TLogList logs;
  TUidlList uids;
  std::unique_ptr<TCollectingTarget> target = std::make_unique<TCollectingTarget>();
};

// "code caption" per record, the form the expected sequences are written in.
inline std::vector<std::string> Codes(const std::vector<TLogRec>& logs) {
  std::vector<std::string> r;
  for (const auto& l : logs) r.push_back(std::string(LogTypeName(l.LogCode)) + " " + l.Reserved.str());
  return r;
}

}  // namespace qnb::test
