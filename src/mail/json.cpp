#include "mail/json.h"

#include <cstdio>

#include "store/charset.h"

namespace mail::json {

std::string fString(std::string_view raw) {
  std::string text = charset::fIsValidUtf8(raw)
                         ? std::string(raw)
                         : charset::fDecode("UTF-8", raw).value_or(std::string());
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
  return out;
}

std::string fResult(const MailResult& result) {
  if (const auto* text = std::get_if<std::string>(&result)) return fString(*text);
  const auto& items = std::get<std::vector<std::string>>(result);
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += ',';
    out += fString(items[i]);
  }
  out += ']';
  return out;
}

}  // namespace mail::json
