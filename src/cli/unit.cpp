// tamrisk-cli unit: what the line knows of one unit; here the dispatch.

#include "clisession.h"
#include "unitactions.h"

namespace tamrisk {

int UnitCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty())
        return UsageError(err, "unit needs an action: history");
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    if (rest[0] == "history")
        return UnitHistoryAction(args, out, err);
    return UsageError(err, "unknown unit action " + rest[0]);
}

}  // namespace tamrisk
