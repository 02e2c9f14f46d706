#pragma once
// The one-account-per-tick rotation of automatic receive.
#include <optional>
#include <vector>

namespace receive {

struct AutoReStep {
  int account = 0;   // number of the account to receive on this tick
  int position = 0;  // the automatic-receive position for the next tick
};

// `accounts`: the account numbers in tree order. The account whose number equals the
// position is received and the position moves on by one; when none has that number the
// first account is received and the next tick asks for number 2. So 01, 02, 03 go round
// 1, 2, 3, 1, ...; with a gap (01 and 03) the rotation never gets past it. Nothing when
// there is no account.
std::optional<AutoReStep> fAutoReNext(const std::vector<int>& accounts, int position);

}  // namespace receive
