#include "rules/MailText.h"

#include <gmime/gmime.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstring>
#include <mutex>

#include "rules/Pattern.h"

namespace qnb::rules {

namespace {

void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_mime_init();
    xmlInitParser();
  });
}

bool IEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string TakeGString(char* s) {
  if (!s) return {};
  std::string out(s);
  g_free(s);
  return out;
}

struct TPartWalk {
  std::string text, html;
  bool haveText = false, haveHtml = false;
};

void VisitPart(GMimeObject*, GMimeObject* part, gpointer data) {
  auto* walk = static_cast<TPartWalk*>(data);
  if (!GMIME_IS_TEXT_PART(part)) return;
  GMimeContentDisposition* disp = g_mime_object_get_content_disposition(part);
  if (disp && g_mime_content_disposition_is_attachment(disp)) return;
  GMimeContentType* type = g_mime_object_get_content_type(part);
  bool plain = g_mime_content_type_is_type(type, "text", "plain");
  bool html = g_mime_content_type_is_type(type, "text", "html");
  if ((plain && walk->haveText) || (html && walk->haveHtml) || (!plain && !html)) return;
  std::string body = TakeGString(g_mime_text_part_get_text(GMIME_TEXT_PART(part)));
  if (plain) {
    walk->haveText = true;
    CutUtf8(body, kMaxTextBytes);
    walk->text = std::move(body);
  } else {
    walk->haveHtml = true;
    CutUtf8(body, kMaxHtmlBytes);
    walk->html = HtmlToText(body);
  }
}

bool IsBlock(const char* n) {
  static const char* const blocks[] = {"p",     "div",    "tr",     "li",      "h1",    "h2",       "h3",  "h4",
                                       "h5",    "h6",     "table",  "tbody",   "thead", "tfoot",    "ul",  "ol",
                                       "hr",    "blockquote", "section", "article", "header", "footer", "center",
                                       "dl",    "dt",     "dd",     "address", "pre",   "form",     "body", "caption"};
  for (const char* b : blocks)
    if (std::strcmp(n, b) == 0) return true;
  return false;
}

struct TTextSink {
  std::string out;
  bool pendingSpace = false;
  void NewLine() {
    while (!out.empty() && (out.back() == ' ' || out.back() == '\t')) out.pop_back();
    if (!out.empty() && out.back() != '\n') out += '\n';
    pendingSpace = false;
  }
  bool AtLineStart() const { return out.empty() || out.back() == '\n'; }
  void Cell() {
    if (!AtLineStart() && out.back() != '\t') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
      out += '\t';
    }
    pendingSpace = false;
  }
  void Text(const char* s) {
    for (const char* p = s; *p; ++p) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
        pendingSpace = true;
        continue;
      }
      if (pendingSpace && !AtLineStart() && out.back() != '\t') out += ' ';
      pendingSpace = false;
      out += static_cast<char>(c);
    }
  }
};

void Walk(xmlNode* node, TTextSink& sink, int depth) {
  if (depth > 400) return;
  for (xmlNode* n = node; n; n = n->next) {
    if (sink.out.size() > kMaxTextBytes) return;
    if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      if (n->content) sink.Text(reinterpret_cast<const char*>(n->content));
      continue;
    }
    if (n->type != XML_ELEMENT_NODE) continue;
    const char* name = reinterpret_cast<const char*>(n->name);
    if (std::strcmp(name, "script") == 0 || std::strcmp(name, "style") == 0 || std::strcmp(name, "head") == 0 ||
        std::strcmp(name, "title") == 0 || std::strcmp(name, "noscript") == 0)
      continue;
    if (std::strcmp(name, "br") == 0) {
      sink.NewLine();
      if (sink.AtLineStart() && !sink.out.empty()) sink.out += '\n';
      continue;
    }
    bool block = IsBlock(name);
    bool cell = std::strcmp(name, "td") == 0 || std::strcmp(name, "th") == 0;
    if (block) sink.NewLine();
    if (cell) sink.Cell();
    Walk(n->children, sink, depth + 1);
    if (block) sink.NewLine();
    if (cell) sink.pendingSpace = true;
  }
}

}  // namespace

void NormaliseSpaces(std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') continue;
    if (c == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') {
      out += ' ';
      ++i;
      continue;
    }
    if (c == '\xE2' && i + 2 < s.size() && s[i + 1] == '\x80' && (s[i + 2] == '\xAF' || s[i + 2] == '\x89')) {
      out += ' ';
      i += 2;
      continue;
    }
    out += c;
  }
  s.swap(out);
}

std::string HtmlToText(std::string_view html) {
  InitLibraries();
  if (html.empty()) return {};
  if (html.size() > kMaxHtmlBytes) html = html.substr(0, kMaxHtmlBytes);
  htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                  HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
                                      HTML_PARSE_IGNORE_ENC | HTML_PARSE_NOIMPLIED);
  if (!doc) return {};
  TTextSink sink;
  Walk(xmlDocGetRootElement(doc) ? doc->children : nullptr, sink, 0);
  xmlFreeDoc(doc);
  // Lines without trailing blanks, no empty ones.
  std::string out;
  out.reserve(sink.out.size());
  size_t pos = 0;
  const std::string& s = sink.out;
  while (pos < s.size()) {
    size_t nl = s.find('\n', pos);
    std::string_view line(s.data() + pos, (nl == std::string::npos ? s.size() : nl) - pos);
    pos = nl == std::string::npos ? s.size() : nl + 1;
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty()) continue;
    out.append(line);
    out += '\n';
  }
  out = ValidUtf8(out);
  NormaliseSpaces(out);
  CutUtf8(out, kMaxTextBytes);
  return out;
}

std::string DecodeHeaderValue(std::string_view raw) {
  if (raw.find("=?") == std::string_view::npos) return ValidUtf8(raw);
  InitLibraries();
  std::string in(raw);
  std::string out = TakeGString(g_mime_utils_header_decode_text(nullptr, in.c_str()));
  return ValidUtf8(out);
}

std::string ExtractAddress(std::string_view value) {
  std::string_view addr;
  size_t lt = value.rfind('<');
  if (lt != std::string_view::npos) {
    size_t gt = value.find('>', lt);
    addr = value.substr(lt + 1, gt == std::string_view::npos ? std::string_view::npos : gt - lt - 1);
  } else {
    size_t at = value.find('@');
    if (at == std::string_view::npos) return {};
    size_t b = at, e = at;
    auto stop = [](char c) { return c == ' ' || c == '\t' || c == '(' || c == ')' || c == '"' || c == ',' || c == ';'; };
    while (b > 0 && !stop(value[b - 1])) --b;
    while (e < value.size() && !stop(value[e])) ++e;
    addr = value.substr(b, e - b);
  }
  while (!addr.empty() && (addr.front() == ' ' || addr.front() == '\t')) addr.remove_prefix(1);
  while (!addr.empty() && (addr.back() == ' ' || addr.back() == '\t')) addr.remove_suffix(1);
  if (addr.find('@') == std::string_view::npos) return {};
  std::string out(addr);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string TMailText::Header(std::string_view name) const {
  for (const auto& [n, v] : headers)
    if (IEquals(n, name)) return v;
  return {};
}

TMailText DecodeMail(std::string_view source) {
  InitLibraries();
  TMailText mail;
  if (source.size() > kMaxSourceBytes) {
    size_t cut = source.rfind('\n', kMaxSourceBytes);
    source = source.substr(0, cut == std::string_view::npos ? kMaxSourceBytes : cut + 1);
  }
  // The header as the claim sees it, so that claiming and parsing agree.
  ForEachHeaderField(source, [&](std::string_view name, std::string_view value) {
    mail.headers.emplace_back(std::string(name), DecodeHeaderValue(value));
  });
  mail.subject = mail.Header("Subject");
  mail.from = mail.Header("From");
  mail.fromAddress = ExtractAddress(mail.from);

  GMimeStream* stream = g_mime_stream_mem_new_with_buffer(source.data(), source.size());
  GMimeParser* parser = g_mime_parser_new_with_stream(stream);
  g_object_unref(stream);
  GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
  g_object_unref(parser);
  if (message) {
    TPartWalk walk;
    g_mime_message_foreach(message, VisitPart, &walk);
    g_object_unref(message);
    mail.text = ValidUtf8(walk.text);
    NormaliseSpaces(mail.text);
    mail.html = std::move(walk.html);
  }
  return mail;
}

}  // namespace qnb::rules
