#include "analysis/MailMessage.h"

#include "analysis/MailBase.h"

#include "settings/TextConv.h"

namespace qnb {

namespace {

constexpr size_t npos = std::string::npos;

const char kUnknownPartType[] = "Unknown Message Part Type.";
const char kUnevenBase64[] = "Uneven size in DecodeToStream.";

bool IsFoldBlank(char c) { return c == ' ' || c == '\t'; }

int Base64Index(char c) { return c == '=' ? 0 : B64(c); }

// One line of a base64 part: whole groups of four, a "=" in the third or
// fourth place of a group shortening it.
void DecodeBase64Line(std::string_view line, std::string& out) {
  if (line.empty()) return;
  if (line.size() % 4 != 0) throw EMailError(kUnevenBase64);
  for (size_t i = 0; i < line.size(); i += 4) {
    unsigned c1 = Base64Index(line[i]), c2 = Base64Index(line[i + 1]);
    unsigned c3 = Base64Index(line[i + 2]), c4 = Base64Index(line[i + 3]);
    out += static_cast<char>(((c1 << 2) | (c2 >> 4)) & 0xFF);
    if (line[i + 2] == '=') continue;
    out += static_cast<char>(((c2 << 4) | (c3 >> 2)) & 0xFF);
    if (line[i + 3] == '=') continue;
    out += static_cast<char>(((c3 << 6) | c4) & 0xFF);
  }
}

// One line of a quoted-printable part, decoded together with its CR LF so that
// a "=" at the end (a soft line break) swallows the line end.
void DecodeQuotedPrintableLine(std::string_view line, std::string& out) {
  while (!line.empty() && IsFoldBlank(line.back())) line.remove_suffix(1);
  const size_t n = line.size() + 2;
  auto at = [&](size_t i) { return i < line.size() ? line[i] : (i == line.size() ? '\r' : '\n'); };
  for (size_t i = 0; i < n;) {
    char c = at(i);
    if (c != '=') {
      out += c;
      ++i;
      continue;
    }
    int hi = i + 1 < n ? HexDigitValue(at(i + 1)) : -1;
    if (hi >= 0) {
      int lo = i + 2 < n ? HexDigitValue(at(i + 2)) : -1;
      if (lo >= 0) {
        out += static_cast<char>(hi * 16 + lo);
        i += 3;
      } else {
        out += static_cast<char>(hi);
        i += 2;
      }
      continue;
    }
    ++i;
    for (int k = 0; k < 2 && i < n && (at(i) == '\r' || at(i) == '\n'); ++k) ++i;
  }
}

// One line of a uuencoded block: a length character, then groups of four.
void DecodeUuLine(std::string_view line, std::string& out) {
  if (line.empty()) return;
  auto val = [&](size_t i) -> unsigned { return i < line.size() ? (static_cast<unsigned char>(line[i]) - 32u) & 63u : 0u; };
  size_t left = val(0);
  for (size_t i = 1; left > 0; i += 4) {
    unsigned a = val(i), b = val(i + 1), c = val(i + 2), d = val(i + 3);
    const char bytes[3] = {static_cast<char>(((a << 2) | (b >> 4)) & 0xFF),
                           static_cast<char>(((b << 4) | (c >> 2)) & 0xFF),
                           static_cast<char>(((c << 6) | d) & 0xFF)};
    size_t take = left < 3 ? left : 3;
    out.append(bytes, take);
    left -= take;
  }
}

// Decoded bytes as lines: a line ends at CR, LF or CR LF; a last line end
// adds no empty line.
TStrings SplitText(std::string_view s) {
  TStrings lines;
  size_t st = 0, i = 0;
  const size_t n = s.size();
  while (i < n) {
    char c = s[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(s.substr(st, i - st));
      if (c == '\r' && i + 1 < n && s[i + 1] == '\n') ++i;
      st = ++i;
    } else {
      ++i;
    }
  }
  if (st < n) lines.emplace_back(s.substr(st));
  return lines;
}

// "begin NNN name": characters 7 to 9 a positive number, character 10 a blank.
bool IsUuBegin(std::string_view line) {
  if (line.size() < 10 || !StartsText("begin ", line) || line[9] != ' ') return false;
  int v = 0;
  for (size_t i = 6; i < 9; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
    v = v * 10 + (line[i] - '0');
  }
  return v > 0;
}

enum class TEncoding { Base64, QuotedPrintable, Plain };

TEncoding EncodingOf(std::string_view name) {
  if (SameText(name, "base64")) return TEncoding::Base64;
  if (SameText(name, "quoted-printable")) return TEncoding::QuotedPrintable;
  return TEncoding::Plain;
}

bool IsAttachmentType(std::string_view contentType, std::string_view disposition) {
  if (SameText(Trim(disposition.substr(0, disposition.find(';'))), "attachment")) return true;
  return UpperCase(contentType).find("NAME") != npos;
}

// The quoted or unquoted text after a parameter marker.
std::string ParamText(std::string_view rest) {
  if (!rest.empty() && rest[0] == '"') {
    size_t e = rest.find('"', 1);
    return std::string(rest.substr(1, e == npos ? npos : e - 1));
  }
  return std::string(rest);
}

std::string AttachmentName(std::string_view contentType, std::string_view disposition) {
  size_t p = UpperCase(disposition).find("FILENAME");
  std::string raw;
  if (p != npos) {
    raw = ParamText(p + 9 <= disposition.size() ? disposition.substr(p + 9) : std::string_view());
  } else if ((p = UpperCase(contentType).find("NAME")) != npos) {
    raw = ParamText(p + 5 <= contentType.size() ? contentType.substr(p + 5) : std::string_view());
  }
  return DecodeIsoWindowsWords(raw);
}

}  // namespace

std::string LookupHeader(const TStrings& headers, std::string_view name) {
  for (size_t i = 0; i < headers.size(); ++i) {
    std::string_view line = headers[i];
    size_t colon = line.find(':');
    if (colon == npos || !SameText(line.substr(0, colon), name)) continue;
    // Joining trimmed pieces with one blank, trimming as it goes, amounts to
    // joining the non-empty trimmed pieces.
    std::string value = Trim(line.substr(colon + 1));
    for (size_t k = i + 1; k < headers.size() && !headers[k].empty() && IsFoldBlank(headers[k][0]); ++k) {
      std::string piece = Trim(headers[k]);
      if (piece.empty()) continue;
      if (!value.empty()) value += ' ';
      value += piece;
    }
    return value;
  }
  return {};
}

std::string BoundaryOf(std::string_view contentType) {
  size_t p = UpperCase(contentType).find("BOUNDARY=");
  if (p == npos) return {};
  return ParamText(contentType.substr(p + 9));
}

std::string TMessagePart::Value(std::string_view name) const {
  for (const auto& line : Headers) {
    size_t eq = line.find('=');
    if (eq != npos && SameText(std::string_view(line).substr(0, eq), name))
      return Trim(std::string_view(line).substr(eq + 1));
  }
  return {};
}

// Reads one whole mail into a TMailMessage.
class TMailReader {
 public:
  TMailReader(TMailMessage& msg, std::string_view text) : m_(msg), text_(text) {}
  TMailReader(TMailMessage& msg, const TMailLines& lines) : m_(msg), lines_(&lines) {}

  void Run() {
    bool bodyFollows = false;
    for (;;) {
      std::string_view line = NextLine();
      if (line.empty()) {
        bodyFollows = true;
        break;
      }
      if (line == ".") break;
      m_.headers_.emplace_back(line);
    }
    m_.ReadHeaderFields(true);
    if (bodyFollows) ReadBody();
    if (!lines_) m_.body_ = m_.ownBody_.Lines();
  }

 private:
  enum class TEnd { NextPart, Closed, EndOfMail };

  // The next line; once the text has run out, the closing "." it lacked.
  std::string_view NextLine() {
    if (lines_) return pos_ < lines_->size() ? (*lines_)[pos_++] : std::string_view(".");
    if (pos_ >= text_.size()) return ".";
    size_t nl = text_.find('\n', pos_);
    size_t end = nl == npos ? text_.size() : nl;
    std::string_view line = text_.substr(pos_, end - pos_);
    if (nl != npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = nl == npos ? text_.size() : nl + 1;
    return line;
  }

  void PushBoundary(const std::string& b) {
    if (b.empty()) return;
    if (!delims_.empty() && SameText(b, std::string_view(delims_.back()).substr(2))) return;
    delims_.push_back("--" + b);
  }
  void PopBoundary() {
    if (!delims_.empty()) delims_.pop_back();
  }
  bool IsDelimiter(std::string_view line) const {
    return !delims_.empty() && line.size() == delims_.back().size() && SameText(line, delims_.back());
  }
  bool IsCloseDelimiter(std::string_view line) const {
    if (delims_.empty()) return false;
    const std::string& d = delims_.back();
    return line.size() == d.size() + 2 && SameText(line.substr(0, d.size()), d) && line.substr(d.size()) == "--";
  }

  void ReadBody() {
    PushBoundary(m_.boundary_);
    const TEncoding topEncoding = EncodingOf(m_.transferEncoding_);
    for (;;) {
      std::string_view line = NextLine();
      if (line == ".") return;
      if (IsUuBegin(line)) {
        if (!ReadUuencoded(std::string(line.substr(10)))) return;
        continue;
      }
      if (!delims_.empty()) {
        if (IsDelimiter(line)) {
          if (!ReadParts()) return;
          continue;
        }
        // The end of a multipart whose last part closed an inner one.
        if (IsCloseDelimiter(line)) {
          PopBoundary();
          continue;
        }
        if (topEncoding != TEncoding::Plain) {
          if (!ReadTopLevelPart(line, topEncoding)) return;
          continue;
        }
      }
      if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.remove_prefix(1);
      // Lines of the caller's text are kept (and listed once at the end);
      // those of a mail's lines viewed.
      if (lines_) m_.body_.push_back(line);
      else m_.ownBody_.push_back(line);
    }
  }

  // The rest of an encoded top-level body as one part with the message's own
  // type. Returns false when the mail ended.
  bool ReadTopLevelPart(std::string_view first, TEncoding encoding) {
    TMessagePart part;
    if (!m_.contentType_.empty()) part.Headers.push_back("Content-Type=" + m_.contentType_);
    if (!m_.transferEncoding_.empty()) part.Headers.push_back("Content-Transfer-Encoding=" + m_.transferEncoding_);
    if (!m_.disposition_.empty()) part.Headers.push_back("Content-Disposition=" + m_.disposition_);
    std::string data;
    DecodeLine(first, encoding, data);
    TEnd end = ReadPartBody(encoding, data);
    StorePart(std::move(part), m_.contentType_, m_.disposition_, std::move(data));
    return AfterPart(end);
  }

  // Parts from a delimiter line on. Returns false when the mail ended.
  bool ReadParts() {
    for (;;) {
      TMessagePart part;
      for (;;) {
        std::string_view line = NextLine();
        if (line == ".") throw EMailError(kUnknownPartType);
        if (line.empty()) break;
        if (IsFoldBlank(line[0]) && !part.Headers.empty()) {
          std::string& prev = part.Headers.back();
          prev += ' ';
          prev.append(line.substr(1));
        } else {
          size_t c = line.find(": ");
          std::string stored(line.substr(0, c));
          if (c != npos) {
            stored += '=';
            stored.append(line.substr(c + 2));
          }
          part.Headers.push_back(std::move(stored));
        }
      }
      std::string contentType = part.Value("Content-Type");
      std::string disposition = part.Value("Content-Disposition");
      TEncoding encoding = EncodingOf(part.Value("Content-Transfer-Encoding"));
      PushBoundary(BoundaryOf(contentType));
      std::string data;
      TEnd end = ReadPartBody(encoding, data);
      StorePart(std::move(part), contentType, disposition, std::move(data));
      if (end != TEnd::NextPart) return AfterPart(end);
    }
  }

  bool AfterPart(TEnd end) {
    switch (end) {
      case TEnd::NextPart: return ReadParts();
      case TEnd::Closed: PopBoundary(); return true;
      case TEnd::EndOfMail: break;
    }
    return false;
  }

  TEnd ReadPartBody(TEncoding encoding, std::string& data) {
    for (;;) {
      std::string_view line = NextLine();
      if (line == ".") return TEnd::EndOfMail;
      if (IsDelimiter(line)) return TEnd::NextPart;
      if (IsCloseDelimiter(line)) return TEnd::Closed;
      DecodeLine(line, encoding, data);
    }
  }

  static void DecodeLine(std::string_view line, TEncoding encoding, std::string& data) {
    switch (encoding) {
      case TEncoding::Base64: DecodeBase64Line(line, data); break;
      case TEncoding::QuotedPrintable: DecodeQuotedPrintableLine(line, data); break;
      case TEncoding::Plain:
        if (!line.empty() && line[0] == '.') line.remove_prefix(1);
        data.append(line);
        data += "\r\n";
        break;
    }
  }

  void StorePart(TMessagePart part, std::string_view contentType, std::string_view disposition, std::string data) {
    if (IsAttachmentType(contentType, disposition)) {
      part.Kind = TMessagePart::TKind::Attachment;
      part.FileName = AttachmentName(contentType, disposition);
      part.Content = std::move(data);
    } else {
      part.Kind = TMessagePart::TKind::Text;
      part.Body = SplitText(data);
    }
    m_.parts_.push_back(std::move(part));
  }

  // A uuencoded block up to its "end" line. Returns false when the mail ended.
  bool ReadUuencoded(std::string name) {
    TMessagePart part;
    part.Kind = TMessagePart::TKind::Attachment;
    part.FileName = std::move(name);
    bool more = true;
    for (;;) {
      std::string_view line = NextLine();
      if (line == ".") {
        more = false;
        break;
      }
      if (SameText(Trim(line), "end")) break;
      if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.remove_prefix(1);
      DecodeUuLine(line, part.Content);
    }
    m_.parts_.push_back(std::move(part));
    return more;
  }

  TMailMessage& m_;
  std::string_view text_;
  const TMailLines* lines_ = nullptr;  // set: lines are read from here, not text_
  size_t pos_ = 0;                     // in text_, or the next line of lines_
  std::vector<std::string> delims_;  // "--" + boundary, innermost last
};

void TMailMessage::AddRawHeaderLine(std::string line) {
  if (!line.empty()) headers_.push_back(std::move(line));
}

void TMailMessage::ParseHeaders() { ReadHeaderFields(false); }

void TMailMessage::Parse(std::string_view text) {
  Clear();
  TMailReader(*this, text).Run();
}

void TMailMessage::Parse(const TMailLines& lines) {
  Clear();
  TMailReader(*this, lines).Run();
}

void TMailMessage::Clear() { *this = TMailMessage(); }

void TMailMessage::ReadHeaderFields(bool strictWords) {
  auto decoded = [&](const char* name) {
    std::string v = LookupHeader(headers_, name);
    if (strictWords) return DecodeIsoWindowsWords(v);
    try {
      return DecodeIsoWindowsWords(v);
    } catch (const EConvertError&) {
      return v;
    }
  };
  contentType_ = LookupHeader(headers_, "Content-Type");
  boundary_ = BoundaryOf(contentType_);
  transferEncoding_ = LookupHeader(headers_, "Content-Transfer-Encoding");
  disposition_ = LookupHeader(headers_, "Content-Disposition");
  date_ = LookupHeader(headers_, "Date");
  subject_ = decoded("Subject");
  from_ = decoded("From");
  to_ = decoded("To");
  cc_ = decoded("Cc");
  bcc_ = decoded("Bcc");
}

}  // namespace qnb
