#pragma once
// Minimal JSON output for the command-line driver and scripts: strings and the mail
// library's results.
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
