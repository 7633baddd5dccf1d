#pragma once
// A mail decoded for the rules: header values and subject as UTF-8, the plain
// text part and the HTML part made text, each bounded in size.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qnb::rules {

// Only this much of a mail is decoded, and only this much of each text is
// searched: a 50 MB mail costs no more than a big ordinary one.
constexpr size_t kMaxSourceBytes = 4 * 1024 * 1024;
constexpr size_t kMaxHtmlBytes = 1024 * 1024;
constexpr size_t kMaxTextBytes = 256 * 1024;

struct TMailText {
  std::string subject;
  std::string from;         // the From value, decoded
  std::string fromAddress;  // lower case, "" when there is none
  std::string text;         // first text/plain part that is no attachment
  std::string html;         // first text/html part that is no attachment, as text
  std::vector<std::pair<std::string, std::string>> headers;  // name as written, decoded value
  // The first header of that name (any case), or "" when there is none.
  std::string Header(std::string_view name) const;
};

// Decodes a whole mail (header, blank line, body; LF or CR LF line ends) with
// GMime. Never throws for a broken mail: what cannot be read stays empty.
TMailText DecodeMail(std::string_view source);

// The text of an HTML document: table cells apart by a tab, rows, paragraphs,
// list items and line breaks on lines of their own, scripts and styles left
// out, white space collapsed.
std::string HtmlToText(std::string_view html);

// Calls fn(name, value) for every field of a raw header (up to the first empty
// line), continuation lines joined to their field, value trimmed but not decoded.
template <class Fn>
void ForEachHeaderField(std::string_view raw, Fn&& fn);

// An encoded-word or raw 8-bit header value as UTF-8.
std::string DecodeHeaderValue(std::string_view raw);
// The address of a From-like value ("Name <a@b.c>", "a@b.c (Name)"), lower case.
std::string ExtractAddress(std::string_view value);

// Non-breaking and narrow spaces become plain spaces and CR LF becomes LF, so
// that patterns can use \s and $ as they expect.
void NormaliseSpaces(std::string& s);

template <class Fn>
void ForEachHeaderField(std::string_view raw, Fn&& fn) {
  std::string_view name;
  std::string value;
  bool open = false;
  auto flush = [&] {
    if (open) {
      size_t e = value.find_last_not_of(" \t");
      value.resize(e == std::string::npos ? 0 : e + 1);
      fn(name, std::string_view(value));
    }
    open = false;
  };
  size_t pos = 0;
  while (pos < raw.size()) {
    size_t nl = raw.find('\n', pos);
    std::string_view line = raw.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? raw.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') {
      if (open) {
        if (!value.empty()) value += ' ';
        size_t s = line.find_first_not_of(" \t");
        if (s != std::string_view::npos) value.append(line.substr(s));
      }
      continue;
    }
    flush();
    size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    name = line.substr(0, colon);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
    std::string_view v = line.substr(colon + 1);
    size_t s = v.find_first_not_of(" \t");
    value.assign(s == std::string_view::npos ? std::string_view() : v.substr(s));
    open = true;
  }
  flush();
}

}  // namespace qnb::rules
