#pragma once
// IMAP tasks for the worker harness.

#include <string>
#include <vector>

#include "worker/WorkerHarness.h"

namespace qnb::test {

inline TTaskData ImapTask(int id, const TTaskSpec& s, TSecurity security = secNone,
                          const std::string& folder = "INBOX") {
  TTaskData t = Task(id, s);
  t.Protocol = protoImap;
  t.Security = security;
  t.Folder = folder;
  return t;
}

// One whole run over ready-made tasks; its status records in queue order.
inline std::vector<TLogRec> RunTasks(TCheckHarness& h, const std::vector<TTaskData>& tasks,
                                     const std::string& caFile = {}, int readTimeoutMs = 5000) {
  h.target = std::make_unique<TCollectingTarget>();
  ClearList(h.tasks);
  for (const auto& t : tasks) h.tasks.Add(std::make_unique<TTaskData>(t));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.ReadTimeoutMs = readTimeoutMs;
  worker.ConnectTimeoutMs = 3000;
  worker.CAFile = caFile;
  worker.Start();
  worker.WaitFor();
  return h.Drain();
}

}  // namespace qnb::test
