// tamrisk-cli records: the records that the printer commands and the station
// kept, listed and shown; here the dispatch and the opening of the file.

#include "recordscli.h"

#include "cli.h"
#include "clirecords.h"
#include "clisession.h"

#include <ostream>

namespace tamrisk {

int RecordsCommandLine(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty())
        return UsageError(err, "records needs an action: list or show");
    const std::string& action = rest[0];
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    if (action == "list")
        return RecordsListAction(args, out, err);
    if (action == "show")
        return RecordsShowAction(args, out, err);
    return UsageError(err, "unknown records action " + action);
}

std::unique_ptr<RecordStore> OpenRecordsToRead(const ParsedArgs& args, std::ostream& err) {
    const QString location = RecordsLocation(args);
    if (location.isEmpty()) {
        CliError(err, "records are off");
        return nullptr;
    }
    auto store = std::make_unique<RecordStore>();
    QString error;
    if (!store->Open(location, error)) {
        CliError(err, "cannot open records " + error.toStdString());
        return nullptr;
    }
    // A file that takes no writes can still be read.
    store->MarkAbandoned(error);
    return store;
}

}  // namespace tamrisk
