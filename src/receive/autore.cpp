#include "receive/autore.h"

namespace receive {

std::optional<AutoReStep> fAutoReNext(const std::vector<int>& accounts, int position) {
  if (accounts.empty()) return std::nullopt;
  for (int number : accounts) {
    if (number == position) return AutoReStep{number, position + 1};
  }
  return AutoReStep{accounts.front(), 2};
}

}  // namespace receive
