#include "mailcheck/ImapSession.h"

#include <algorithm>
#include <charconv>

namespace qnb {

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool ToNumber(const std::string& text, uint32_t& v) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

// The server's text goes into status messages: keep it short.
std::string Said(const TImapResponse& r) {
  std::string s = r.Text.substr(0, 100);
  return s.empty() ? r.Status : s;
}

}  // namespace

class TImapSession::TInput final : public TImapInput {
 public:
  explicit TInput(TLineReader& r) : r_(r) {}
  std::string ReadLine() override { return r_.ReadLine(); }
  std::string ReadBytes(size_t n) override { return r_.ReadBytes(n); }

 private:
  TLineReader& r_;
};

TImapSession::TImapSession() : reader_(stream_), input_(std::make_unique<TInput>(reader_)) {}

TImapSession::~TImapSession() { stream_.Close(); }

std::string TImapSession::NextTag() { return "Q" + std::to_string(++tagCounter_); }

void TImapSession::Send(const std::string& line) {
  // A line break would smuggle in a command of its own.
  if (line.find_first_of("\r\n") != std::string::npos) throw ENetFailure("Line break in a command");
  stream_.Write(line + "\r\n");
}

TImapResponse TImapSession::Read() {
  TImapResponse r = ReadImapResponse(*input_, Limits);
  if (!r.Untagged()) {
    if (r.Tag != "+" && r.Status.empty()) throw ENetFailure(kImapMalformed);
    return r;
  }
  if (r.Status == "BYE") throw ENetFailure("The server closed the connection: " + Said(r));
  if (!r.Status.empty()) {
    if (Upper(r.Code.substr(0, 12)) == "UIDVALIDITY ") ToNumber(r.Code.substr(12), uidValidity_);
    if (Upper(r.Code.substr(0, 11)) == "CAPABILITY ") ReadCapabilities(r.Code.substr(11));
    return r;
  }
  if (r.Data.empty()) throw ENetFailure(kImapMalformed);
  const std::string first = Upper(r.Data[0].Text);
  if (first == "CAPABILITY") {
    caps_.clear();
    for (size_t i = 1; i < r.Data.size(); ++i) caps_.insert(Upper(r.Data[i].Text));
  } else if (first == "LIST") {
    if (listing_ && r.Data.size() >= 4 && r.Data[1].Kind == TImapValue::vList) {
      bool selectable = true;
      for (const auto& f : r.Data[1].Items)
        if (f.IsAtom("\\NOSELECT") || f.IsAtom("\\NONEXISTENT")) selectable = false;
      if (selectable) listing_->push_back(r.Data[3].Text);
    }
  } else if (r.Data.size() >= 2) {
    uint32_t n = 0;
    const std::string what = Upper(r.Data[1].Text);
    if (ToNumber(r.Data[0].Text, n)) {
      if (what == "EXISTS") {
        const int count = static_cast<int>(std::min<uint32_t>(n, INT32_MAX));
        if (count > exists_) grew_ = true;
        exists_ = count;
      } else if (what == "EXPUNGE") {
        if (exists_ > 0) --exists_;
      } else if (what == "FETCH" && r.Data.size() >= 3 && r.Data[2].Kind == TImapValue::vList) {
        auto& items = r.Data[2].Items;
        uint32_t uid = 0;
        std::string* header = nullptr;
        std::string* whole = nullptr;
        for (size_t i = 0; i + 1 < items.size(); i += 2) {
          const std::string key = Upper(items[i].Text);
          TImapValue& v = items[i + 1];
          if (key == "UID") ToNumber(v.Text, uid);
          else if (key == "BODY[HEADER]" && v.Kind == TImapValue::vString) header = &v.Text;
          else if (key == "BODY[]" && v.Kind == TImapValue::vString) whole = &v.Text;
        }
        if (uid != 0) {
          if (uidListing_ && items.size() == 2) uidListing_->emplace_back(n, uid);
          // The mail's bytes are moved, never copied: they may be megabytes.
          if (header) fetched_[0][uid] = std::move(*header);
          if (whole) fetched_[1][uid] = std::move(*whole);
        }
      }
    }
  }
  return r;
}

TImapResponse TImapSession::Command(const std::string& args) {
  const std::string tag = NextTag();
  Send(tag + " " + args);
  for (;;) {
    TImapResponse r = Read();
    if (r.Tag == tag) return r;
    if (r.Tag == "+") throw ENetFailure("Unexpected continuation request");
    if (!r.Untagged() && unanswered_.count(r.Tag)) done_[r.Tag] = r.Status;
  }
}

TImapResponse TImapSession::CommandWithStrings(const std::string& verb, const std::vector<std::string>& strings) {
  const std::string tag = NextTag();
  std::string line = tag + " " + verb;
  for (const auto& s : strings) {
    std::string quoted;
    if (ImapQuote(s, quoted)) {
      line += " " + quoted;
      continue;
    }
    // A synchronising literal: the server says go ahead before the bytes.
    stream_.Write(line + " {" + std::to_string(s.size()) + "}\r\n");
    for (;;) {
      TImapResponse r = Read();
      if (r.Tag == "+") break;
      if (r.Tag == tag) return r;
    }
    stream_.Write(s);
    line.clear();
  }
  stream_.Write(line + "\r\n");
  for (;;) {
    TImapResponse r = Read();
    if (r.Tag == tag) return r;
    if (r.Tag == "+") throw ENetFailure("Unexpected continuation request");
  }
}

void TImapSession::ReadCapabilities(const std::string& text) {
  caps_.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find(' ', pos);
    if (end == std::string::npos) end = text.size();
    if (end > pos) caps_.insert(Upper(text.substr(pos, end - pos)));
    pos = end + 1;
  }
}

void TImapSession::StartTls() { stream_.StartTls(Host, CAFile, ReadTimeout); }

void TImapSession::Connect(int connectTimeoutMs) {
  try {
    socket_.SetReadTimeout(ReadTimeout);
    socket_.Connect(Host, Port, connectTimeoutMs);
    // Any value but the two others means TLS: never plain by mistake.
    if (Security != secNone && Security != secStartTls) StartTls();
    TImapResponse greeting = ReadImapResponse(*input_, Limits);
    if (!greeting.Untagged() || greeting.Status.empty()) throw ENetFailure(kImapMalformed);
    if (greeting.Status != "OK" && greeting.Status != "PREAUTH") throw ELoginRefused(Said(greeting));
    bool loggedIn = greeting.Status == "PREAUTH";
    if (Security == secStartTls) {
      if (loggedIn) throw ETlsError("the server logged in before STARTTLS");
      TImapResponse r = Command("STARTTLS");
      if (r.Status != "OK") throw ETlsError("the server refused STARTTLS: " + Said(r));
      // Whatever came after the answer came unprotected.
      if (reader_.Buffered() != 0) throw ETlsError("the server sent unexpected data after its STARTTLS answer");
      StartTls();
      caps_.clear();
    }
    if (!loggedIn) {
      TImapResponse r = CommandWithStrings("LOGIN", {UserName, Password});
      if (r.Status != "OK") throw ELoginRefused(Said(r));
    }
    // The capabilities after the log-in are the ones that count.
    if (Command("CAPABILITY").Status != "OK") caps_.clear();
  } catch (...) {
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  }
}

void TImapSession::Examine(const std::string& folder) {
  exists_ = 0;
  uidValidity_ = 0;
  TImapResponse r = CommandWithStrings("EXAMINE", {folder});
  if (r.Status != "OK") throw EImapRefused(Said(r));
}

bool TImapSession::FetchUids(std::vector<uint32_t>& uids) {
  if (exists_ == 0) return true;
  std::vector<std::pair<uint32_t, uint32_t>> got;
  uidListing_ = &got;
  TImapResponse r;
  try {
    r = Command("UID FETCH 1:* (UID)");
  } catch (...) {
    uidListing_ = nullptr;
    throw;
  }
  uidListing_ = nullptr;
  std::sort(got.begin(), got.end());
  got.erase(std::unique(got.begin(), got.end()), got.end());
  for (const auto& [n, uid] : got) uids.push_back(uid);
  return r.Status == "OK";
}

size_t TImapSession::QueueFetch(uint32_t uid, bool whole) {
  if (whole) {
    CloseHeaderSet();
    const std::string tag = NextTag();
    const std::string line = tag + " UID FETCH " + std::to_string(uid) + " (BODY.PEEK[])\r\n";
    queued_ += line;
    pending_.push_back({tag, uid, true});
    ++unanswered_[tag];
    return line.size();
  }
  if (headerSet_.size() >= kMaxHeaderSet) CloseHeaderSet();
  if (headerSet_.empty()) headerTag_ = NextTag();
  headerSet_.push_back(uid);
  pending_.push_back({headerTag_, uid, false});
  ++unanswered_[headerTag_];
  const size_t digits = std::to_string(uid).size() + 1;
  return headerSet_.size() == 1 ? headerTag_.size() + 34 + digits : digits;
}

void TImapSession::CloseHeaderSet() {
  if (headerSet_.empty()) return;
  std::string line = headerTag_ + " UID FETCH ";
  for (size_t i = 0; i < headerSet_.size(); ++i) {
    if (i) line += ',';
    line += std::to_string(headerSet_[i]);
  }
  line += " (BODY.PEEK[HEADER])\r\n";
  queued_ += line;
  headerSet_.clear();
}

void TImapSession::Flush() {
  CloseHeaderSet();
  if (queued_.empty()) return;
  std::string out;
  out.swap(queued_);
  stream_.Write(out);
}

void TImapSession::Answered(const std::string& tag) {
  auto it = unanswered_.find(tag);
  if (it == unanswered_.end() || --it->second > 0) return;
  unanswered_.erase(it);
  done_.erase(tag);
}

bool TImapSession::ReadFetch(std::string& data) {
  if (pending_.empty()) throw ENetFailure("No fetch pending");
  const TPending p = pending_.front();
  pending_.pop_front();
  auto& store = fetched_[p.whole ? 1 : 0];
  // The data may come before the command's end; a mail that is not there
  // (expunged, or refused) is known only at the end.
  for (;;) {
    if (auto it = store.find(p.uid); it != store.end()) {
      data = std::move(it->second);
      store.erase(it);
      Answered(p.tag);
      return true;
    }
    if (done_.count(p.tag)) {
      Answered(p.tag);
      return false;
    }
    TImapResponse r = Read();
    if (r.Tag == "+") throw ENetFailure("Unexpected continuation request");
    if (!r.Untagged() && unanswered_.count(r.Tag)) done_[r.Tag] = r.Status;
  }
}

std::vector<std::string> TImapSession::ListFolders() {
  std::vector<std::string> names;
  listing_ = &names;
  TImapResponse r;
  try {
    r = Command("LIST \"\" \"*\"");
  } catch (...) {
    listing_ = nullptr;
    throw;
  }
  listing_ = nullptr;
  if (r.Status != "OK") throw EImapRefused(Said(r));
  return names;
}

void TImapSession::StartIdle() {
  const std::string tag = NextTag();
  Send(tag + " IDLE");
  for (;;) {
    TImapResponse r = Read();
    if (r.Tag == "+") break;
    if (r.Tag == tag) throw EImapRefused(Said(r));
  }
  idleTag_ = tag;
}

bool TImapSession::WaitIdle(int timeoutMs) {
  socket_.SetReadTimeout(timeoutMs);
  grew_ = false;
  struct TRestore {
    TSocket& s;
    int ms;
    ~TRestore() { s.SetReadTimeout(ms); }
  } restore{socket_, ReadTimeout};
  for (;;) {
    try {
      TImapResponse r = Read();
      if (r.Tag == idleTag_) throw EImapRefused(Said(r));
    } catch (const ENetFailure& e) {
      if (std::string_view(e.what()) == kReadTimeout && reader_.Buffered() == 0) return false;
      throw;
    }
    if (grew_) return true;
  }
}

void TImapSession::StopIdle() {
  Send("DONE");
  for (;;) {
    TImapResponse r = Read();
    if (r.Tag == idleTag_) {
      idleTag_.clear();
      if (r.Status != "OK") throw EImapRefused(Said(r));
      return;
    }
  }
}

bool TImapSession::Connected() { return stream_.IsOpen(); }

void TImapSession::Disconnect() {
  std::exception_ptr failure;
  if (Connected()) {
    try {
      // A tag of its own: the counter belongs to the thread that runs the
      // session, and a stop request comes from another one.
      stream_.Write("QZ LOGOUT\r\n");
    } catch (...) {
      failure = std::current_exception();
    }
  }
  stream_.Close();
  if (failure) std::rethrow_exception(failure);
}

TStrings SplitMailLines(const std::string& data, bool skipEmpty) {
  TStrings lines;
  size_t pos = 0;
  while (pos < data.size()) {
    size_t lf = data.find('\n', pos);
    const size_t end = lf == std::string::npos ? data.size() : lf;
    size_t len = end - pos;
    if (len > 0 && data[pos + len - 1] == '\r') --len;
    if (len > 0 || !skipEmpty) lines.emplace_back(data, pos, len);
    pos = end + 1;
  }
  return lines;
}

int TImapSource::CheckMessages() {
  session_.Examine(Folder);
  return session_.Exists();
}

bool TImapSource::List(TStrings& dest) {
  uids_.clear();
  if (!session_.FetchUids(uids_)) return false;
  const std::string epoch = UidEpoch();
  for (size_t i = 0; i < uids_.size(); ++i)
    dest.push_back(std::to_string(i + 1) + " " + epoch + "." + std::to_string(uids_[i]));
  return true;
}

size_t TImapSource::QueueRequest(bool whole, int n) {
  if (n < 1 || static_cast<size_t>(n) > uids_.size()) throw std::out_of_range("no such message");
  return session_.QueueFetch(uids_[static_cast<size_t>(n - 1)], whole);
}

bool TImapSource::ReadAnswer(bool whole, int /*n*/, TStrings& lines, size_t room) {
  std::string data;
  if (!ReadFetch(whole, data, room)) return false;
  TStrings got = SplitMailLines(data, !whole);
  lines.insert(lines.end(), std::make_move_iterator(got.begin()), std::make_move_iterator(got.end()));
  return true;
}

bool TImapSource::ReadMailAnswer(int /*n*/, TMailLines& mail, size_t room) {
  std::string data;
  if (!ReadFetch(true, data, room)) return false;
  // The literal becomes the mail's buffer: its lines are not copied.
  mail.AdoptText(std::move(data));
  return true;
}

bool TImapSource::ReadFetch(bool whole, std::string& data, size_t room) {
  if (!session_.ReadFetch(data)) return false;
  // Read whole (a literal is bounded by the session's limits), so the
  // session is in step for the next answer.
  const size_t bound = std::min(room, MaxAnswerBytes(whole));
  if (data.size() > bound) throw EAnswerTooLarge(bound, data.size());
  return true;
}

}  // namespace qnb
