#pragma once
// The analyzer host's side of the helper process that runs the plug-ins:
// starts quenbell-analyzer-host, talks to it over a socket pair and, when a
// call fails (the helper crashed, aborted, or did not answer in time), ends
// it; the next call starts a fresh one and loads the same plug-ins again.

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <unordered_map>
#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/PluginProtocol.h"

namespace qnb {

// A call to the helper failed; the helper is gone.
struct EPluginHost : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TPluginHostClient {
 public:
  static constexpr int kCallTimeoutMs = 10000;

  explicit TPluginHostClient(std::string helperPath, int callTimeoutMs = kCallTimeoutMs);
  ~TPluginHostClient();
  TPluginHostClient(const TPluginHostClient&) = delete;
  TPluginHostClient& operator=(const TPluginHostClient&) = delete;

  // Starts the helper afresh with these libraries; the accepted ones, in
  // order. Every later call loads the same ones into a restarted helper.
  std::vector<hostproto::TLoadedItem> Load(const std::vector<std::string>& paths);
  // Load in two halves, so that the caller can go on (connect to a server)
  // while the helper starts and loads: StartLoad starts the helper and sends
  // the request, FinishLoad waits for its answer. Any other call finishes a
  // load still out first.
  void StartLoad(const std::vector<std::string>& paths);
  std::vector<hostproto::TLoadedItem> FinishLoad();
  // Per header text: the index of the claiming plug-in, or -1.
  std::vector<int32_t> Claim(const std::vector<std::string>& headers);
  // A parse of the mail's lines from plug-in `from` on; the request is sent
  // as it is encoded, never held whole.
  hostproto::TParsed Parse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source);

  // Parse requests sent ahead: the helper works on them in order while the
  // caller goes on, and each answer is taken later by its ticket. At most
  // kMaxAhead wait at once (their answers must fit the socket's buffer);
  // SendParse returns 0 when no more fit or the request could not be sent.
  // Any other call first reads the answers still out.
  static constexpr size_t kMaxAhead = 8;
  // Requests out at once stay well inside the socket's buffer, so that
  // sending one never waits for a helper that is busy or stuck.
  static constexpr size_t kMaxAheadBytes = 128 * 1024;
  uint64_t SendParse(int32_t from, TLineSpan body, TLineSpan header, TLineSpan source);
  enum class TAheadOutcome { aoAnswered, aoFailed, aoLost };
  // aoAnswered with the answer; aoFailed when the helper crashed or hung on
  // this very request (failure says how, as Parse would throw it); aoLost
  // when the helper ended before it got to the request, or the ticket is
  // unknown: the caller asks again with Parse.
  TAheadOutcome TakeParsed(uint64_t ticket, hostproto::TParsed& answer, std::string& failure);

  // The helper's process, -1 when none runs (for tests).
  pid_t Pid() const { return pid_; }
  int CallTimeoutMs() const { return timeoutMs_; }
  bool LoadPending() const { return loadPending_; }

 private:
  void Start();
  // Starts the helper and sends it the load of paths_; FinishLoad reads the answer.
  void SendLoad();
  void EnsureRunning();
  // Sends the frame and returns the payload of an answer of the expected
  // kind; any failure ends the helper and is EPluginHost.
  std::string Call(const std::string& frame, hostproto::TKind expected);
  // The same for a request sent by `send`, which writes through the
  // function it is given.
  std::string Call(const std::function<void(const std::function<void(std::string_view)>&)>& send,
                   hostproto::TKind expected);
  // The answer to a request sent earlier.
  std::string Receive(hostproto::TKind expected);
  // Ends the helper (killed if it still runs) and says how it ended.
  std::string End(bool kill);
  // A call that failed (timed out, or the helper ended): ends the helper and
  // throws EPluginHost saying how.
  [[noreturn]] void Failed(bool timedOut);
  // A message that makes no sense ends the helper too.
  [[noreturn]] void Wrong(const std::string& what);
  template <class M>
  M Answer(const std::string& payload) {
    M m;
    try {
      hostproto::Decode(payload, m);
    } catch (const hostproto::EProtocol& e) {
      Wrong(e.what());
    }
    return m;
  }

  // Reads the answer to the oldest request sent ahead. A failure ends the
  // helper, is kept for that request and loses the ones after it.
  void ReadOneAhead();
  void DrainAhead();
  struct TAheadResult {
    bool failed = false;
    hostproto::TParsed answer;
    std::string failure;
  };

  std::string helperPath_;
  std::deque<std::pair<uint64_t, size_t>> sentAhead_;  // tickets and request sizes, answers not read yet, in order
  size_t aheadBytes_ = 0;
  std::unordered_map<uint64_t, TAheadResult> gotAhead_;  // answers read and not taken yet
  uint64_t nextTicket_ = 1;
  int timeoutMs_;
  std::vector<std::string> paths_;
  std::vector<hostproto::TLoadedItem> loaded_;
  pid_t pid_ = -1;
  int fd_ = -1;
  bool loadPending_ = false;  // the load request sent, its answer not yet read
};

// quenbell-analyzer-host beside the running executable, or "" when there is
// none or QUENBELL_PLUGINS_IN_PROCESS asks for plug-ins in the process.
std::string DefaultPluginHelper();

}  // namespace qnb
