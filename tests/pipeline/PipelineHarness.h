#pragma once
// Helpers shared by the pipelining tests: one worker run with a chosen window,
// and the records in a form that compares whole.

#include <string>
#include <vector>

#include "mailcheck/OrderMailUtils.h"
#include "support/ScriptedPop3Server.h"
#include "worker/WorkerHarness.h"

namespace qnb::test {

inline std::vector<TLogRec> RunWithWindow(TCheckHarness& h, const std::vector<TTaskSpec>& specs, int window,
                                          size_t bytes = TGetMailThd::kDefaultPipelineBytes,
                                          int readTimeoutMs = 5000) {
  h.target = std::make_unique<TCollectingTarget>();
  ClearList(h.tasks);
  for (size_t i = 0; i < specs.size(); ++i) h.tasks.Add(std::make_unique<TTaskData>(Task(int(i), specs[i])));
  TGetMailThd worker(h.target.get(), h.tasks, h.orders, h.gear, &h.logs, &h.uids);
  worker.ReadTimeoutMs = readTimeoutMs;
  worker.ConnectTimeoutMs = 3000;
  worker.PipelineWindow = window;
  worker.PipelineBytes = bytes;
  worker.Start();
  worker.WaitFor();
  return h.Drain();
}

// Every field of every record but the port (scripted servers differ in it),
// one line each.
inline std::vector<std::string> Whole(const std::vector<TLogRec>& logs) {
  std::vector<std::string> r;
  for (const auto& l : logs)
    r.push_back(std::to_string(l.TaskID) + "|" + LogTypeName(l.LogCode) + "|" + l.Reserved.str() + "|" +
                l.LogMessage.str() + "|" + l.Account.str() + "|" + l.Server.str());
  return r;
}

// A multi-line answer: "+OK", the lines dot-stuffed, ".".
inline void Answer(TScriptedPop3Server& srv, const std::string& mail) {
  srv.Reply("+OK");
  size_t pos = 0;
  while (pos < mail.size()) {
    size_t e = mail.find("\r\n", pos);
    if (e == std::string::npos) e = mail.size();
    std::string line = mail.substr(pos, e - pos);
    if (!line.empty() && line[0] == '.') line = "." + line;
    srv.Reply(line);
    pos = e + 2;
  }
  srv.Reply(".");
}

inline std::string HeaderOf(const std::string& mail) { return mail.substr(0, mail.find("\r\n\r\n") + 2); }

inline const std::vector<std::string> kPipeliningCapa = {"TOP", "UIDL", "USER", "PIPELINING"};

}  // namespace qnb::test
