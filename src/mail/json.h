#pragma once
// Minimal JSON for the command-line driver and scripts (strings and the mail library's
// results out) and for the answers of sign-in services (values in).
#include <string>
#include <string_view>

#include "mail/mail.h"

namespace mail::json {

// A JSON string literal (with quotes). Invalid UTF-8 bytes become U+FFFD so the output
// is always valid JSON.
std::string fString(std::string_view utf8);

// An array result as a JSON array of strings, a text result as a JSON string.
std::string fResult(const MailResult& result);

}  // namespace mail::json

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace mail::json {

// A value read from JSON text (a server's answer: untrusted). Objects keep their members
// in order; a repeated name finds the first.
struct Member;

struct Value {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's UTF-8 text
  std::vector<Value> items;
  std::vector<Member> members;  // an object's members in their order

  // The member named `name` of an object; nothing for other kinds or a missing name.
  const Value* find(std::string_view name) const;
  // The member as text: a string as it is, a number in its shortest form, true/false;
  // empty when missing, null, an array or an object.
  std::string fText(std::string_view name) const;
};

struct Member {
  std::string name;
  Value value;
};

// Reads one JSON value (RFC 8259) filling the whole text but for white space; nothing
// when it is not valid JSON or nests deeper than 64 levels.
std::optional<Value> fParse(std::string_view text);

}  // namespace mail::json
