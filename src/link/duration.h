#pragma once
// The station's one format for durations: execution times, the script timer,
// the journal window's status. The text has no line end; a view that needs one
// after it adds its own.

#include <cstdint>
#include <string>
#include <string_view>

namespace tamrisk {

// "%s%4.2lf seconds" below 60 s, "%s%d:%4.2lf" (whole minutes and the rest)
// from 60 s on: 5 s give "5.00 seconds", 75.3 s give "1:15.30".
std::string FormatElapsed(std::string_view prefix, double seconds);

// Milliseconds as seconds with three decimals and no unit, as reports write
// them: 2500 ms give "2.500", 7 ms "0.007".
std::string FormatSeconds(std::int64_t ms);

}  // namespace tamrisk
