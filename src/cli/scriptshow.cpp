// tamrisk-cli script show RELEASE [--vars]: the text of a release as it was
// released, its script or (--vars) its variables file, byte for byte.

#include "scriptactions.h"

#include "cli.h"
#include "clisession.h"
#include "processactions.h"

#include <ostream>

namespace tamrisk {

int ScriptShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records"}, {"vars"});
    if (!args.error.empty())
        return UsageError(err, args.error);
    const auto id = ReleaseArgument(args, "show", err);
    if (!id)
        return CliUsage;
    RecordStore store;
    if (const int status = OpenProcessRecords(args, store, err); status != CliOk)
        return status;
    const StoreResult<ScriptRelease> release = store.Releases().Find(*id);
    if (!release)
        return StoreFailed(err, "cannot show release " + std::to_string(*id) + ":", release.error());
    if (args.flag("vars") && release->varsName.empty()) {
        CliError(err, "release " + std::to_string(*id) + " has no variables file");
        return CliRecordNotFound;
    }
    out << (args.flag("vars") ? release->vars : release->script);
    return CliOk;
}

}  // namespace tamrisk
