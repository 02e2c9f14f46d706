#include <cctype>
#include <map>

#include "receive/speech.h"

namespace speech {
namespace {

// Attributes of a tag body ("NUMK  VAL=3  COUNTER=けん"); the first word is the tag name.
std::map<std::string, std::string> attributes(std::string_view body, std::string& name) {
  std::map<std::string, std::string> out;
  size_t i = 0;
  bool first = true;
  while (i < body.size()) {
    while (i < body.size() && std::isspace(static_cast<unsigned char>(body[i]))) ++i;
    size_t start = i;
    while (i < body.size() && !std::isspace(static_cast<unsigned char>(body[i]))) ++i;
    std::string_view word = body.substr(start, i - start);
    if (word.empty()) break;
    if (first) {
      name = std::string(word);
      first = false;
      continue;
    }
    size_t eq = word.find('=');
    if (eq != std::string_view::npos)
      out[std::string(word.substr(0, eq))] = std::string(word.substr(eq + 1));
  }
  return out;
}

// A number attribute keeps its digits (and a decimal point) only.
std::string numberText(const std::string& value) {
  std::string out;
  for (char c : value)
    if ((c >= '0' && c <= '9') || c == '.') out += c;
  return out;
}

}  // namespace

std::string fPhoneticToPlain(std::string_view phonetic) {
  std::string out;
  out.reserve(phonetic.size());
  for (size_t i = 0; i < phonetic.size(); ++i) {
    char c = phonetic[i];
    if (c == '<') {
      size_t close = phonetic.find('>', i + 1);
      if (close == std::string_view::npos) break;  // an open tag swallows the rest
      std::string name;
      auto attr = attributes(phonetic.substr(i + 1, close - i - 1), name);
      if (name == "NUM" || name == "NUMK") {
        out += numberText(attr["VAL"]);
        if (name == "NUMK") out += attr["COUNTER"];
      }
      i = close;
    } else if (c == '\'') {
      continue;
    } else if (c == ';') {
      out += "、";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace speech
