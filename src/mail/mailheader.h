#pragma once
// Header-level reading of a message without building a MIME tree: the header block,
// unfolding, RFC 2047 words, RFC 2231 parameters and dates. The mail list reads
// thousands of files through these, so they work on views and allocate little.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mail::header {

struct Field {
  std::string_view name;  // as written
  std::string_view raw;   // the value after the colon, still folded
};

// The length of the header block, up to and including the blank line that ends it
// (the whole text when there is none). Lines without a colon are skipped.
size_t fHeaderBlockLength(std::string_view message);
std::vector<Field> fSplitFields(std::string_view headerBlock);
// The first field of that name (ASCII case-insensitive).
std::optional<std::string_view> fFindRaw(const std::vector<Field>& fields, std::string_view name);

// Folding line breaks removed, outer white space trimmed.
std::string fUnfold(std::string_view raw);

// Encoded words decoded (also when glued to other text or inside quotes), white space
// between adjacent encoded words dropped, raw 8-bit text taken by the undeclared rule.
std::string fDecodeText(std::string_view unfolded);

// A Content-Type or Content-Disposition value: the lower-case main value and the
// parameters with lower-case names and decoded values (RFC 2231 continuations and
// charsets, RFC 2047 words inside quoted values).
struct ParamHeader {
  std::string value;
  std::vector<std::pair<std::string, std::string>> params;
  const std::string* fGet(std::string_view name) const;
};
ParamHeader fParseParams(std::string_view unfolded);

// An RFC 5322 date as local time "yyyy/MM/dd HH:mm:ss"; empty when it cannot be read.
std::string fFormatDate(std::string_view value);

// Lenient base64: characters outside the alphabet are skipped, padding is optional.
std::string fBase64Decode(std::string_view text);

}  // namespace mail::header
