#pragma once
// The pieces of an outgoing file that depend on the time, apart so they can be checked
// for any date.
#include <ctime>
#include <string>

namespace compose {

// The file name for a local time: "yy" + day of the year without leading zeros +
// "MMdd_HHmmss" (14:07:09 on 5 March 2024 gives "24650305_140709").
std::string fOutgoingName(const std::tm& local);

// "Date: Tue, 05 Mar 2024 14:07:09 +0900" with CR LF: English names whatever the locale,
// and the zone's offset east of UTC in minutes.
std::string fOutgoingDateLine(const std::tm& local, long offsetMinutes);

}  // namespace compose
