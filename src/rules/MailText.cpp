#include "rules/MailText.h"

#include <gmime/gmime.h>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstring>
#include <mutex>

#include "rules/Pattern.h"
#include "settings/TextConv.h"

namespace qnb::rules {

namespace {

void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    g_mime_init();
    xmlInitParser();
  });
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

enum class TTag { Inline, Block, Cell, Break, Skip };

// What an element does to the text; names arrive in lower case.
TTag Classify(const char* n) {
  auto is = [n](const char* s) { return std::strcmp(n, s) == 0; };
  switch (n[0]) {
    case 'a': return is("address") || is("article") ? TTag::Block : TTag::Inline;
    case 'b': return is("br") ? TTag::Break : (is("blockquote") || is("body")) ? TTag::Block : TTag::Inline;
    case 'c': return is("center") || is("caption") ? TTag::Block : TTag::Inline;
    case 'd': return is("div") || is("dl") || is("dt") || is("dd") ? TTag::Block : TTag::Inline;
    case 'f': return is("footer") || is("form") ? TTag::Block : TTag::Inline;
    case 'h':
      if (n[1] >= '1' && n[1] <= '6' && n[2] == 0) return TTag::Block;
      return is("hr") || is("header") ? TTag::Block : is("head") ? TTag::Skip : TTag::Inline;
    case 'l': return is("li") ? TTag::Block : TTag::Inline;
    case 'n': return is("noscript") ? TTag::Skip : TTag::Inline;
    case 'o': return is("ol") ? TTag::Block : TTag::Inline;
    case 'p': return is("p") || is("pre") ? TTag::Block : TTag::Inline;
    case 's': return is("script") || is("style") ? TTag::Skip : is("section") ? TTag::Block : TTag::Inline;
    case 't':
      if (is("td") || is("th")) return TTag::Cell;
      if (is("title")) return TTag::Skip;
      return is("tr") || is("table") || is("tbody") || is("thead") || is("tfoot") ? TTag::Block : TTag::Inline;
    case 'u': return is("ul") ? TTag::Block : TTag::Inline;
    default: return TTag::Inline;
  }
}

struct TTextSink {
  std::string out;
  bool pendingSpace = false;
  int skipDepth = 0;  // inside script, style, head, title
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
  void Text(const char* s, int len) {
    if (skipDepth > 0 || out.size() > kMaxTextBytes) return;
    for (int i = 0; i < len; ++i) {
      unsigned char c = static_cast<unsigned char>(s[i]);
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

// SAX callbacks: the text is made while parsing, no tree is built.
TTextSink& SinkOf(void* ctx) { return *static_cast<TTextSink*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

void OnStart(void* ctx, const xmlChar* name, const xmlChar**) {
  TTextSink& sink = SinkOf(ctx);
  switch (Classify(reinterpret_cast<const char*>(name))) {
    case TTag::Skip: ++sink.skipDepth; break;
    case TTag::Break:
      if (sink.skipDepth) break;
      sink.NewLine();
      if (sink.AtLineStart() && !sink.out.empty()) sink.out += '\n';
      break;
    case TTag::Block:
      if (!sink.skipDepth) sink.NewLine();
      break;
    case TTag::Cell:
      if (!sink.skipDepth) sink.Cell();
      break;
    case TTag::Inline: break;
  }
}

void OnEnd(void* ctx, const xmlChar* name) {
  TTextSink& sink = SinkOf(ctx);
  switch (Classify(reinterpret_cast<const char*>(name))) {
    case TTag::Skip:
      if (sink.skipDepth) --sink.skipDepth;
      break;
    case TTag::Block:
      if (!sink.skipDepth) sink.NewLine();
      break;
    case TTag::Cell: sink.pendingSpace = true; break;
    default: break;
  }
}

void OnText(void* ctx, const xmlChar* ch, int len) { SinkOf(ctx).Text(reinterpret_cast<const char*>(ch), len); }

void OnError(void*, const char*, ...) {}

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
  htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
  if (!ctxt) return {};
  TTextSink sink;
  xmlSAXHandler sax{};
  sax.startElement = OnStart;
  sax.endElement = OnEnd;
  sax.characters = OnText;
  sax.cdataBlock = OnText;
  sax.warning = OnError;
  sax.error = OnError;
  *ctxt->sax = sax;
  ctxt->_private = &sink;
  htmlDocPtr doc = htmlCtxtReadMemory(ctxt, html.data(), static_cast<int>(html.size()), nullptr, "UTF-8",
                                      HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                          HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC | HTML_PARSE_NOIMPLIED);
  if (doc) xmlFreeDoc(doc);
  htmlFreeParserCtxt(ctxt);
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
    if (AsciiIEquals(n, name)) return v;
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
