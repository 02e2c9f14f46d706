#pragma once
// The text of a mail that search looks at: the decoded subject, sender and recipients,
// and the body as a reader sees it (an HTML body as its text).
#include <string>
#include <string_view>

namespace search {

struct MailText {
  std::string subject, from, to, body;
};

MailText fMailText(std::string_view bytes);
// The text of an HTML document: no tags, scripts or styles; entities decoded.
std::string fHtmlText(std::string_view html);
// Everything searchable in one normalised text; the fields apart by a separator that
// no search term can span.
std::string fSearchText(const MailText& text);
inline constexpr char kFieldSeparator = '\x1f';

}  // namespace search
