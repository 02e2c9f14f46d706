#pragma once
// The form text is compared in when searching: what a Japanese reader takes for the same
// letters is the same. Full-width Latin letters, digits and signs become their ASCII
// forms, half-width katakana become full-width (a following sound mark joins its kana),
// Latin letters become lower case, and white space shrinks to one space; a line break
// between two Japanese characters goes away, since mail wraps Japanese lines anywhere.
#include <string>
#include <string_view>
#include <vector>

#include "store/text.h"

namespace search {

std::string fNormalize(std::string_view utf8);
using text::appendUtf8;

// Whether `needle` (normalised) occurs in `haystack` (normalised): every space-separated
// term of the needle somewhere in the haystack.
bool fContainsTerms(std::string_view haystack, std::string_view needle);

}  // namespace search

namespace search {
// The positions of the texts (each normalised already) that hold every term of the
// query: the listed folder's filter, which runs at every key press.
std::vector<std::size_t> fFilter(const std::vector<std::string>& texts, std::string_view query);
}  // namespace search
