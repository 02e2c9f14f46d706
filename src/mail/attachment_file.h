#pragma once
// Turning an attachment's name from a message (untrusted) into a file in a folder:
// a plain file name that cannot climb out of the folder, and never over another file.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace mail::attach {

// The name reduced to a plain file name: no directory parts, no "..", no control or
// direction-override characters, no characters Windows forbids, no reserved device
// names, at most 200 bytes. `fallback` when nothing usable is left.
std::string fSafeFileName(std::string_view name, std::string_view fallback);

// Writes an attachment as `name` (already safe) into `folder`: `write` fills the (empty,
// private) file it is given and says whether it could. An existing file of that name with
// the same bytes is reused (the same attachment extracted before); otherwise the first
// free name of "stem (2).ext", "stem (3).ext", … is taken. Nothing on failure.
std::optional<std::filesystem::path> fExtractWith(const std::filesystem::path& folder, const std::string& name,
                                                  const std::function<bool(const std::filesystem::path&)>& write);

}  // namespace mail::attach
