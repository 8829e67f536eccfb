// tamrisk-cli records show: one record, its header and then its log lines
// coloured as the operation printed them, or the whole record as JSON.

#include "recordsactions.h"

#include "cli.h"
#include "clisession.h"
#include "duration.h"
#include "reportfields.h"
#include "reports.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <ostream>

namespace tamrisk {

namespace {

void WriteHeader(std::ostream& out, const Record& record) {
    const RecordHeader& header = record.header;
    const auto field = [&out](const char* name, const std::string& value) {
        if (!value.empty())
            out << name << std::string(10 - std::string_view(name).size(), ' ') << EscapeControls(value) << '\n';
    };
    field("id", header.id);
    field("kind", KindShown(header.kind, header.engineering));
    field("outcome", header.outcome ? std::string(OutcomeText(*header.outcome)) : "in progress");
    field("reason", header.reason);
    field("exit", header.exitCode ? std::to_string(*header.exitCode) : "");
    field("unit", header.unit);
    field("product", header.product);
    field("operation", header.operation);
    field("started", IsoUtcMs(header.startedMs));
    field("duration", FormatSeconds(std::chrono::milliseconds(header.durationMs), 3) + " s");
    field("station", header.station);
    field("operator", OperatorShown(header));
    field("release", header.releaseNumber ? std::to_string(*header.releaseNumber) : "");
    field("version", header.version);
    field("port", header.port);
    field("speed", header.speed > 0 ? std::to_string(header.speed) : "");
    field("script", header.script);
    field("sha256", header.scriptSha256);
    field("lines", header.lineRange);
    for (const RecordSerial& serial : record.serials) {
        field("serial", "line " + std::to_string(serial.line) + "  " + Cp1251ToUtf8(serial.space) + "  " +
                            Cp1251ToUtf8(serial.data) + "  " + std::string(SerialResultText(serial.result)));
    }
    for (const RecordImage& image : record.images)
        field("image", image.file + "  " + std::to_string(image.length) + " bytes  sha256 " + image.sha256);
}

}  // namespace

int RecordsShowAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, {"records", "format", "color"}, {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (args.positional.size() != 1 || args.positional[0].empty())
        return UsageError(err, "records show takes one ID");
    const std::string format = args.value("format").value_or("text");
    if (format != "text" && format != "json")
        return UsageError(err, "--format takes text or json");
    if (const std::string problem = CheckLinkOptions(args); !problem.empty())
        return UsageError(err, problem);

    std::unique_ptr<RecordStore> store;
    if (const int status = OpenRecordsToRead(args, store, err); status != CliOk)
        return status;
    const std::string& prefix = args.positional[0];
    const StoreResult<ResolvedId> resolved = store->ResolveId(prefix);
    if (!resolved)
        return StoreFailed(err, "cannot read records", resolved.error());
    switch (resolved->resolve) {
    case Resolve::Found: break;
    case Resolve::Ambiguous:
        CliError(err, "more than one record has an ID starting with " + prefix + "; give more of it");
        return CliUsage;
    case Resolve::NotFound:
        CliError(err, "no record has an ID starting with " + prefix);
        return CliRecordNotFound;
    }
    const StoreResult<Record> record = store->Load(resolved->id);
    if (!record)
        return StoreFailed(err, "cannot read records", record.error());
    if (format == "json") {
        out << RecordJson(*record).toStdString() << '\n';
        return CliOk;
    }
    WriteHeader(out, *record);
    out << '\n';
    // Through the sink that printed them, so that the lines read as the operation showed them.
    TerminalSink sink(out, WantColours(args.value("color").value_or("auto")), StdoutIsTerminal());
    for (const RecordLogLine& line : record->log)
        sink.AppendResultLine(line.text, line.colour);
    sink.Flush();
    return CliOk;
}

}  // namespace tamrisk
