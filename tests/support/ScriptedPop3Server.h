#pragma once
// A POP3 server that plays a script, for the answers a real server will not
// give (a refused greeting, odd status words, over-long lines, silence, a
// connection cut in the middle of an answer, slow answers, data injected
// around STLS). It listens on 127.0.0.1 on a free port, accepts one connection
// and plays the script in a thread of its own. When the script has run out it
// goes on reading, and recording, what the client sends until the client
// closes the connection. StartTls() switches the connection to TLS at that
// point of the script (first in the script: TLS from the first byte).
//
//   TScriptedPop3Server srv;
//   srv.Reply("+OK ready").Expect("USER u").Reply("+OK").Expect("PASS p").Reply("+OK");
//   srv.Start();
//   ... connect a session to 127.0.0.1:srv.Port() ...
//   srv.WaitDone();
//   EXPECT_THAT(srv.Errors(), IsEmpty());

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace qnb::test {

class TScriptedPop3Server {
 public:
  TScriptedPop3Server();
  ~TScriptedPop3Server();
  TScriptedPop3Server(const TScriptedPop3Server&) = delete;
  TScriptedPop3Server& operator=(const TScriptedPop3Server&) = delete;

  int Port() const { return port_; }

  // Script steps, played in order.
  TScriptedPop3Server& Send(std::string raw);    // bytes as they are
  TScriptedPop3Server& Reply(std::string line);  // line + CR LF
  // The next command line (without CR LF) must be `command`; a different one
  // or none within ExpectTimeoutMs is recorded in Errors() and ends the script.
  TScriptedPop3Server& Expect(std::string command);
  TScriptedPop3Server& Pause(int ms);
  // For ms the client must send nothing (a command sent ahead of its turn is
  // recorded in Errors() and ends the script).
  TScriptedPop3Server& ExpectSilence(int ms);
  // raw in pieces of `chunk` bytes with a pause of delayMs before each.
  TScriptedPop3Server& SendSlowly(std::string raw, size_t chunk, int delayMs);
  // chunk `times` times, with a pause of delayMs before each; times 0: until
  // the client goes away, which then ends the script without an error (an
  // answer that never ends, or trickles). Nothing is held but the chunk, so
  // big answers cost the test process no memory.
  TScriptedPop3Server& Repeat(std::string chunk, size_t times, int delayMs = 0);
  // Ends the connection at once (the client sees the end of the stream).
  TScriptedPop3Server& Close();
  // From here on TLS: the server's side of the handshake with this
  // certificate and key (PEM files). A failed handshake is recorded in
  // Errors() ("TLS handshake failed: ...") and ends the script.
  TScriptedPop3Server& StartTls(std::string certFile, std::string keyFile);
  // Stops sending (the client sees the end of the stream) but goes on reading.
  TScriptedPop3Server& HalfClose();
  // A "CAPA" that comes where the script expects another command is answered
  // with this listing (by default TOP, UIDL and USER: no PIPELINING) and the
  // script goes on waiting for its command. A script that expects "CAPA"
  // answers it itself.
  TScriptedPop3Server& Capabilities(std::vector<std::string> lines);
  // The usual greeting and a USER/PASS log-in accepted.
  TScriptedPop3Server& Login(const std::string& user = "user", const std::string& pass = "pass");

  // Accepts one connection and plays the script in the server's thread.
  void Start();
  // Waits until the script has run and the client has gone; false on time-out.
  bool WaitDone(int timeoutMs = 5000);

  // The command lines the client sent, in order, also those after the script.
  std::vector<std::string> Commands() const;
  // Script failures: unexpected or missing commands, a command line not
  // ended by CR LF, send errors.
  std::vector<std::string> Errors() const;

  int ExpectTimeoutMs = 5000;

 private:
  struct TStep {
    enum TKind { skSend, skRepeat, skExpect, skPause, skSilence, skClose, skHalfClose, skStartTls } Kind;
    std::string Text;
    int Ms = 0;
    std::string Key;  // skStartTls: Text is the certificate file
    size_t Times = 0;  // skRepeat
  };

  void Run();
  bool PlayStep(int conn, const TStep& step);
  // Reads one line from conn into line; false at the end of the stream, on
  // stop, or after timeoutMs (-1: no limit).
  bool ReadLine(int conn, std::string& line, int timeoutMs);
  bool SendAll(int conn, const std::string& data);
  // Some bytes from the client, plain or TLS: > 0 bytes, 0 at the end of the
  // stream, -1 on stop, time-out (timeoutMs; -1: none) or error.
  long Receive(int conn, char* buf, size_t size, int timeoutMs);
  // Waits for conn to be readable (or writable); false on stop or time-out.
  bool WaitConn(int conn, bool forWrite, int timeoutMs);
  bool Handshake(int conn, const TStep& step);
  void FreeTls();
  // Sleeps, waking early when the server is stopped; false when stopped.
  bool Sleep(int ms);
  void AddError(std::string e);

  int listen_ = -1;
  int port_ = 0;
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::vector<TStep> steps_;
  std::vector<std::string> capabilities_{"TOP", "UIDL", "USER"};
  std::string pending_;  // received bytes not yet a whole line
  ::ssl_ctx_st* sslCtx_ = nullptr;  // server thread only
  ::ssl_st* ssl_ = nullptr;
  std::thread thread_;

  mutable std::mutex mutex_;
  std::condition_variable doneCv_;
  bool done_ = false;
  std::vector<std::string> commands_;
  std::vector<std::string> errors_;
};

}  // namespace qnb::test
