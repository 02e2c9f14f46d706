#include "search/mailtext.h"

#include <cstdlib>
#include <variant>
#include <vector>

#include "mail/jptext.h"
#include "mail/mail.h"
#include "search/normalize.h"

namespace search {
namespace {

std::string_view after(const std::string& element, std::string_view label) {
  return element.starts_with(label) ? std::string_view(element).substr(label.size()) : std::string_view();
}

bool looksLikeHtml(std::string_view body) {
  const std::string head = mail::jptext::fLower(body.substr(0, 2048));
  for (std::string_view tag : {"<html", "<body", "<div", "<p>", "<p ", "<br", "<table", "<span"}) {
    if (head.find(tag) != std::string::npos) return true;
  }
  return false;
}

void putCode(std::string& out, unsigned long c) {
  if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return;
  appendUtf8(out, static_cast<char32_t>(c));
}

// "&amp;" and the like at `i`; the decoded text, or nothing when it is not an entity.
bool decodeEntity(std::string_view html, std::size_t& i, std::string& out) {
  const std::size_t semi = html.find(';', i);
  if (semi == std::string_view::npos || semi - i > 10) return false;
  const std::string name(html.substr(i + 1, semi - i - 1));
  static constexpr std::pair<std::string_view, std::string_view> kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", " "}, {"yen", "¥"}};
  for (const auto& [n, text] : kNamed) {
    if (name == n) {
      out += text;
      i = semi + 1;
      return true;
    }
  }
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    char* end = nullptr;
    const unsigned long code = std::strtoul(name.c_str() + (hex ? 2 : 1), &end, hex ? 16 : 10);
    if (end && *end == '\0') {
      putCode(out, code);
      i = semi + 1;
      return true;
    }
  }
  return false;
}

}  // namespace

std::string fHtmlText(std::string_view html) {
  std::string out;
  out.reserve(html.size() / 2);
  for (std::size_t i = 0; i < html.size();) {
    const char c = html[i];
    if (c == '<') {
      const std::size_t close = html.find('>', i);
      if (close == std::string_view::npos) break;
      const std::string tag = mail::jptext::fLower(html.substr(i + 1, std::min<std::size_t>(close - i - 1, 7)));
      // What a browser does not show: scripts, styles, comments.
      for (std::string_view hidden : {"script", "style"}) {
        if (tag.starts_with(hidden)) {
          const std::string lower = mail::jptext::fLower(html.substr(close));
          const std::size_t end = lower.find("</" + std::string(hidden));
          i = end == std::string::npos ? html.size() : close + end;
        }
      }
      if (tag.starts_with("!--")) {
        const std::size_t end = html.find("-->", i);
        i = end == std::string_view::npos ? html.size() : end + 3;
        continue;
      }
      const std::size_t next = html.find('>', i);
      i = next == std::string_view::npos ? html.size() : next + 1;
      out += ' ';
      continue;
    }
    if (c == '&' && decodeEntity(html, i, out)) continue;
    out += c;
    ++i;
  }
  return out;
}

MailText fMailText(std::string_view bytes) {
  MailText text;
  const mail::MailResult r = mail::fReadMailBytes(bytes, "subject:from:to:cc:nofile:", "");
  const auto* values = std::get_if<std::vector<std::string>>(&r);
  if (!values) return text;
  for (const std::string& e : *values) {
    if (auto v = after(e, "subject: "); !v.empty()) text.subject = v;
    else if (auto v = after(e, "from: "); !v.empty()) text.from = v;
    else if (auto v = after(e, "to: "); !v.empty()) text.to = v;
    else if (auto v = after(e, "cc: "); !v.empty()) (text.to += ' ') += v;
    else if (auto v = after(e, "body: "); !v.empty()) text.body = looksLikeHtml(v) ? fHtmlText(v) : std::string(v);
  }
  return text;
}

std::string fSearchText(const MailText& text) {
  std::string all;
  for (const std::string* part : {&text.subject, &text.from, &text.to, &text.body}) {
    if (!all.empty()) all += kFieldSeparator;
    all += fNormalize(*part);
  }
  return all;
}

}  // namespace search
