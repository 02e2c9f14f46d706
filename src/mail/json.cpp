#include "mail/json.h"

#include <cstdio>
#include <cstdlib>

#include "store/charset.h"
#include "store/text.h"

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

namespace mail::json {
namespace {

constexpr int kMaxDepth = 64;

class Reader {
 public:
  explicit Reader(std::string_view text) : s_(text) {}

  std::optional<Value> document() {
    Value v;
    if (!value(v, 0)) return std::nullopt;
    blanks();
    if (at_ != s_.size()) return std::nullopt;
    return v;
  }

 private:
  void blanks() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\n' || s_[at_] == '\r'))
      ++at_;
  }
  bool literal(std::string_view word) {
    if (s_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool value(Value& v, int depth) {
    if (depth > kMaxDepth) return false;
    blanks();
    if (at_ >= s_.size()) return false;
    switch (s_[at_]) {
      case '{':
        return object(v, depth);
      case '[':
        return array(v, depth);
      case '"':
        v.kind = Value::Kind::String;
        return string(v.text);
      case 't':
        v.kind = Value::Kind::Bool;
        v.boolean = true;
        return literal("true");
      case 'f':
        v.kind = Value::Kind::Bool;
        return literal("false");
      case 'n':
        return literal("null");
      default:
        return number(v);
    }
  }

  bool object(Value& v, int depth) {
    v.kind = Value::Kind::Object;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    for (;;) {
      blanks();
      std::string name;
      if (at_ >= s_.size() || s_[at_] != '"' || !string(name)) return false;
      blanks();
      if (at_ >= s_.size() || s_[at_++] != ':') return false;
      Value member;
      if (!value(member, depth + 1)) return false;
      v.members.push_back(Member{std::move(name), std::move(member)});
      blanks();
      if (at_ >= s_.size()) return false;
      const char c = s_[at_++];
      if (c == '}') return true;
      if (c != ',') return false;
    }
  }

  bool array(Value& v, int depth) {
    v.kind = Value::Kind::Array;
    ++at_;
    blanks();
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    for (;;) {
      Value item;
      if (!value(item, depth + 1)) return false;
      v.items.push_back(std::move(item));
      blanks();
      if (at_ >= s_.size()) return false;
      const char c = s_[at_++];
      if (c == ']') return true;
      if (c != ',') return false;
    }
  }

  bool number(Value& v) {
    const std::size_t start = at_;
    auto digits = [&] {
      const std::size_t from = at_;
      while (at_ < s_.size() && s_[at_] >= '0' && s_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < s_.size() && s_[at_] == '-') ++at_;
    if (at_ < s_.size() && s_[at_] == '0') ++at_;
    else if (!digits()) return false;
    if (at_ < s_.size() && s_[at_] == '.' && (++at_, !digits())) return false;
    if (at_ < s_.size() && (s_[at_] == 'e' || s_[at_] == 'E')) {
      ++at_;
      if (at_ < s_.size() && (s_[at_] == '+' || s_[at_] == '-')) ++at_;
      if (!digits()) return false;
    }
    v.kind = Value::Kind::Number;
    v.number = std::strtod(std::string(s_.substr(start, at_ - start)).c_str(), nullptr);
    return true;
  }

  bool hex4(unsigned& out) {
    if (s_.size() - at_ < 4) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = s_[at_++];
      out <<= 4;
      if (c >= '0' && c <= '9') out |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f') out |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F') out |= static_cast<unsigned>(c - 'A' + 10);
      else return false;
    }
    return true;
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < s_.size()) {
      const char c = s_[at_++];
      if (c == '"') return charset::fIsValidUtf8(out);
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) return false;
      switch (s_[at_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          unsigned cp = 0;
          if (!hex4(cp)) return false;
          // A surrogate pair is one character; a lone half becomes U+FFFD.
          if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(at_, 2) == "\\u") {
            const std::size_t back = at_;
            at_ += 2;
            unsigned low = 0;
            if (hex4(low) && low >= 0xDC00 && low < 0xE000) cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            else at_ = back;
          }
          text::appendUtf8(out, cp >= 0xD800 && cp < 0xE000 ? 0xFFFD : cp);
          break;
        }
        default:
          return false;
      }
    }
    return false;
  }

  std::string_view s_;
  std::size_t at_ = 0;
};

}  // namespace

const Value* Value::find(std::string_view name) const {
  if (kind != Kind::Object) return nullptr;
  for (const auto& [key, value] : members)
    if (key == name) return &value;
  return nullptr;
}

std::string Value::fText(std::string_view name) const {
  const Value* v = find(name);
  if (!v) return "";
  switch (v->kind) {
    case Kind::String:
      return v->text;
    case Kind::Bool:
      return v->boolean ? "true" : "false";
    case Kind::Number: {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", v->number);
      // The shortest form that reads back the same ("3600", not "3600.0000…").
      for (int precision = 1; precision <= 17; ++precision) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", precision, v->number);
        if (std::strtod(shorter, nullptr) == v->number) return shorter;
      }
      return buf;
    }
    default:
      return "";
  }
}

std::optional<Value> fParse(std::string_view text) { return Reader(text).document(); }

}  // namespace mail::json
