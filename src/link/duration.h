#pragma once
// The station's one format for durations: execution times, the script timer,
// the journal window's status, and the records' durations. The text has no line
// end; a view that needs one after it adds its own.

#include <chrono>
#include <string>
#include <string_view>

namespace tamrisk {

// "%s%4.2lf seconds" below 60 s, "%s%d:%4.2lf" (whole minutes and the rest)
// from 60 s on: 5 s give "5.00 seconds", 75.3 s give "1:15.30".
std::string FormatElapsed(std::string_view prefix, double seconds);

// `duration` in seconds with `decimals` (0 to 9) digits after the point and no
// unit, as printf's "%.*f" rounds: 1250 ms give "1.25" with 2, "1.250" with 3.
std::string FormatSeconds(std::chrono::milliseconds duration, int decimals);

}  // namespace tamrisk
