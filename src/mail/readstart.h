#pragma once
// Showing the text of a big mail before its attachments are walked through.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mail {

// What fReadMailShown gives, read from the first `headBytes` of the file alone and
// without the attachments: the key elements and the body, when these bytes hold the text
// part shown whole (or more of it than is shown). Nothing otherwise, and for "nobody:".
std::optional<std::vector<std::string>> fReadMailShownStart(std::string_view file, std::string_view keys,
                                                            size_t maxBodyBytes, size_t headBytes);

}  // namespace mail
