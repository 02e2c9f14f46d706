#pragma once
// Commands on mails listed from any folder (search hits): each acts where the mail lives.
#include <filesystem>
#include <vector>

namespace search {

// Deletes mails as the delete command does in their own folders: a mail in its account's
// trash is deleted for good, any other goes to its own account's trash. Returns the mails
// that stayed (not in the store under `accountPrefix`, or the move or delete failed).
std::vector<std::filesystem::path> fDeleteWhereTheyLive(const std::filesystem::path& accountPrefix,
                                                        const std::vector<std::filesystem::path>& mails);

}  // namespace search
