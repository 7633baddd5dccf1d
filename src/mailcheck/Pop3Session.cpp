#include "mailcheck/Pop3Session.h"

#include "settings/TextConv.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <type_traits>

namespace qnb {

TPop3Reply SplitReply(std::string_view line) {
  TPop3Reply r;
  std::string word = Trim(line.substr(0, 4));
  if (line.size() >= 4 && line[3] == '-') word = Trim(line.substr(0, 3));
  r.StatusWord = word;
  r.Text.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
  if (SameText(word, "+OK"))
    r.Status = TPop3Reply::rsOK;
  else if (SameText(word, "-ERR"))
    r.Status = TPop3Reply::rsERR;
  return r;
}

TPop3Session::TPop3Session() : reader_(stream_) {}

TPop3Session::~TPop3Session() { stream_.Close(); }

namespace {
// A line break in a user name or password would smuggle in commands of its
// own (a DELE, say); no such command goes out.
void CheckCommand(std::string_view cmd) {
  if (cmd.find_first_of("\r\n") != std::string_view::npos) throw ENetFailure(kLineBreakInCommand);
}
}  // namespace

void TPop3Session::SendCmd(std::string_view cmd) {
  CheckCommand(cmd);
  std::string line(cmd);
  line += "\r\n";
  stream_.Write(line);
}

void TPop3Session::QueueCommand(std::string_view cmd) {
  CheckCommand(cmd);
  queued_ += cmd;
  queued_ += "\r\n";
}

void TPop3Session::Flush() {
  if (queued_.empty()) return;
  std::string out;
  out.swap(queued_);
  stream_.Write(out);
}

namespace {
// Empty lines a server may send before a reply line.
constexpr size_t kMaxBlankBytes = 64 * 1024;
constexpr size_t kMaxCapaBytes = 64 * 1024;
}  // namespace

const TPop3Reply& TPop3Session::GetReply() {
  reader_.SetDeadline(TLineReader::TClock::now() + std::chrono::milliseconds(AnswerTimeout));
  std::string line;
  size_t blank = 0;
  for (;;) {
    line = reader_.ReadLine();
    blank += line.size() + 2;
    line = Trim(line);
    if (!line.empty()) break;
    if (blank > kMaxBlankBytes) throw EAnswerBound("Too many empty lines instead of a reply");
  }
  lastReply_ = SplitReply(line);
  if (lastReply_.Status == TPop3Reply::rsUnknown) {
    // The server's text goes into the message, so keep it short.
    throw ENetFailure("Unrecognised reply: " + line.substr(0, 100));
  }
  return lastReply_;
}

void TPop3Session::RequireOK(std::string_view cmd) {
  if (!cmd.empty()) SendCmd(cmd);
  if (GetReply().Status != TPop3Reply::rsOK) throw EPop3ReplyError(lastReply_.Text);
}

bool TPop3Session::SendAndCheck(std::string_view cmd) {
  SendCmd(cmd);
  return GetReply().Status == TPop3Reply::rsOK;
}

template <class TDest>
void TPop3Session::ReadMultiLine(TDest& dest, size_t maxBytes, size_t maxLines, bool unstuff,
                                 bool skipEmpty) {
  size_t bytes = 0, lines = 0;
  // A header has a dozen lines or two: room for them at once, not in steps.
  if constexpr (std::is_same_v<TDest, TStrings>) dest.reserve(dest.size() + 16);
  for (;;) {
    std::string_view line = reader_.ReadLineView();
    if (line.size() >= 1 && line[0] == '.') {
      if (line.size() == 1) return;
      if (unstuff && line[1] == '.') line.remove_prefix(1);
    }
    bytes += line.size() + 2;
    if (skipEmpty && line.empty()) {
      if (bytes > maxBytes) break;
      continue;
    }
    if (++lines > maxLines || bytes > maxBytes) break;
    dest.emplace_back(line);
  }
  // Past the bound: the rest is read, not kept, so the next answer is found;
  // a server that never ends the answer ends the session.
  const bool byLines = lines > maxLines;
  const size_t discardLimit = 2 * kMaxMailBytes;
  for (;;) {
    const std::string_view line = reader_.ReadLineView();
    if (line == ".") break;
    bytes += line.size() + 2;
    ++lines;
    if (bytes > discardLimit) throw EAnswerBound(kAnswerEndless);
  }
  if (byLines) throw EAnswerTooLarge(maxLines, lines);
  throw EAnswerTooLarge(maxBytes, bytes);
}

void TPop3Session::Connect(int connectTimeoutMs) {
  try {
    socket_.SetReadTimeout(ReadTimeout);
    reader_.SetMaxLineLength(MaxLineLength);
    socket_.Connect(Host, Port, connectTimeoutMs);
    // Any value but the two others means TLS: never plain by mistake.
    if (Security != secNone && Security != secStartTls) StartTls();
    RequireOK({});
    if (Security == secStartTls) {
      SendCmd("STLS");
      if (GetReply().Status != TPop3Reply::rsOK) {
        const std::string said = Trim(lastReply_.Text.front()).substr(0, 100);
        throw ETlsError("the server refused STLS" + (said.empty() ? std::string() : ": " + said));
      }
      // Whatever came after the reply came unprotected and would be taken
      // for the server's answers inside TLS.
      if (reader_.Buffered() != 0) throw ETlsError("the server sent unexpected data after its STLS reply");
      StartTls();
    }
    RequireOK("USER " + UserName);
    RequireOK("PASS " + Password);
    if (AskCapabilities) AskCapa();
  } catch (...) {
    try {
      Disconnect();
    } catch (...) {
      // The failure that ended the log-in is the one to report.
    }
    throw;
  }
}

int TPop3Session::CheckMessages() {
  RequireOK("STAT");
  const std::string& text = lastReply_.Text.front();
  if (text.empty()) return 0;
  size_t blank = text.find(' ');
  if (blank == std::string::npos) throw ENetFailure("Invalid STAT reply: " + text.substr(0, 100));
  int32_t count = 0;
  if (!TryStrToInt(std::string_view(text.data(), blank), count))
    throw ENetFailure("Invalid STAT reply: " + text.substr(0, 100));
  return count;
}

bool TPop3Session::UIDL(TStrings& dest, size_t maxLines) {
  if (!SendAndCheck("UIDL")) return false;
  ReadMultiLine(dest, MaxMailBytes, maxLines, true, false);
  return true;
}

void TPop3Session::AskCapa() {
  capabilities_.clear();
  pipelining_ = false;
  if (!SendAndCheck("CAPA")) return;
  ReadMultiLine(capabilities_, kMaxCapaBytes, SIZE_MAX, true, false);
  for (const auto& c : capabilities_) {
    const std::string word = Trim(std::string_view(c).substr(0, c.find(' ')));
    if (SameText(word, "PIPELINING")) pipelining_ = true;
  }
}

bool TPop3Session::ReadHeaderAnswer(TStrings& headerLines, size_t maxBytes) {
  if (GetReply().Status != TPop3Reply::rsOK) return false;
  ReadMultiLine(headerLines, std::min(maxBytes, MaxHeaderBytes), SIZE_MAX, false, true);
  return true;
}

bool TPop3Session::ReadRetrieveAnswer(TStrings& dest, size_t maxBytes) {
  if (GetReply().Status != TPop3Reply::rsOK) return false;
  ReadMultiLine(dest, std::min(maxBytes, MaxMailBytes), SIZE_MAX, true, false);
  return true;
}

bool TPop3Session::ReadRetrieveAnswer(TMailLines& dest, size_t maxBytes) {
  if (GetReply().Status != TPop3Reply::rsOK) return false;
  ReadMultiLine(dest, std::min(maxBytes, MaxMailBytes), SIZE_MAX, true, false);
  return true;
}

bool TPop3Session::RetrieveHeader(int n, TStrings& headerLines) {
  SendCmd("TOP " + std::to_string(n) + " 0");
  return ReadHeaderAnswer(headerLines);
}

bool TPop3Session::Retrieve(int n, TStrings& dest) {
  SendCmd("RETR " + std::to_string(n));
  return ReadRetrieveAnswer(dest);
}

void TPop3Session::StartTls() { stream_.StartTls(Host, CAFile, ReadTimeout); }

bool TPop3Session::Connected() { return stream_.IsOpen(); }

void TPop3Session::Disconnect() {
  std::exception_ptr failure;
  if (Connected()) {
    try {
      SendCmd("QUIT");
    } catch (...) {
      failure = std::current_exception();
    }
  }
  stream_.Close();
  if (failure) std::rethrow_exception(failure);
}

TPop3Session& TPop3SessionSlot::Create() {
  auto fresh = std::make_unique<TPop3Session>();
  std::lock_guard lock(mutex_);
  session_ = std::move(fresh);
  return *session_;
}

void TPop3SessionSlot::Release() noexcept {
  std::unique_ptr<TPop3Session> old;
  std::lock_guard lock(mutex_);
  old = std::move(session_);
}

bool TPop3SessionSlot::Disconnect() {
  std::lock_guard lock(mutex_);
  if (!session_) return false;
  session_->Disconnect();
  return true;
}

}  // namespace qnb
