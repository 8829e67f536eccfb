#include "commandline.h"

#include "programversion.h"

#include <QCommandLineParser>

#include <cmath>

namespace tamrisk::sim {

namespace {

// A whole decimal number in [low, high].
bool ToInt(const QString& text, long long low, long long high, long long& value) {
    bool ok = false;
    const long long parsed = text.toLongLong(&ok, 10);
    if (!ok || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// A finite decimal number, fraction allowed.
bool ToNumber(const QString& text, double& value) {
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

CommandLine Failure(const QString& reason) {
    CommandLine result;
    result.action = CommandLine::Action::Error;
    result.text = reason.toStdString();
    return result;
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A fiscal printer simulated behind a pseudo-terminal. The pty is published as a link "
        "in the station's virtual ports folder ($XDG_RUNTIME_DIR/tamrisk/ports, or "
        "/tmp/tamrisk-<uid>/ports), and the link's path is printed as one line on stdout. "
        "SIGINT or SIGTERM ends the simulator and removes the link.");
    parser.addHelpOption();
    const QCommandLineOption version("version", "Print the version and exit.");
    const QCommandLineOption name("name", "Link name in the virtual ports folder (default: the first free of SIM0..SIM99).", "NAME");
    const QCommandLineOption link("link", "Publish the link at PATH instead (its folder must exist).", "PATH");
    const QCommandLineOption syn("syn", "Send N SYN bytes before every answer (default 0).", "N", "0");
    const QCommandLineOption delay("delay", "Wait MS milliseconds before every answer (default 0).", "MS", "0");
    const QCommandLineOption baud("baud", "Pace answers at B bit/s, 10 bits a byte (default 0: unpaced).", "B", "0");
    const QCommandLineOption faultRate("fault-rate", "Hit each answer with a fault with probability R, 0..1 (default 0).", "R", "0");
    const QCommandLineOption seed("seed", "Seed of the fault draw (default 1).", "S", "1");
    const QCommandLineOption faults("faults", "Fault kinds to draw from, comma-separated: noanswer, checksum, sequence (default all).", "KINDS", "noanswer,checksum,sequence");
    const QCommandLineOption status("status", "Answer command CMD (decimal) with these six status bytes (hex), e.g. 48=21,00,00,00,00,00. Refusal bits (S0.0, S0.1, S1.1) stop the command from running. Repeatable.", "CMD=B0,..,B5");
    const QCommandLineOption fmSize("fm-size", "Fiscal memory size in KiB: 64, 128 or 256 (default 128).", "KIB", "128");
    const QCommandLineOption journalDays("journal-days", "Days closed by a Z-report that the electronic journal holds, 1..3650 (default 6).", "N", "6");
    const QCommandLineOption vary("vary", "Vary the used figure of the journal information (119,I) from answer to answer, drawn reproducibly from seed SEED (default: no variation; the figure is the stored journal's size).", "SEED");
    const QCommandLineOption varySpread("vary-spread", "Standard deviation of that variation in bytes, 0 or more (default: 1 % of the stored journal's size).", "N");
    const QCommandLineOption varyDrift("vary-drift", "Bytes added to the used figure for each information answer given before, may be negative (default 0).", "N", "0");
    parser.addOptions({version, name, link, syn, delay, baud, faultRate, seed, faults, status, fmSize, journalDays,
                       vary, varySpread, varyDrift});

    if (!parser.parse(arguments))
        return Failure(parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all")) {
        CommandLine help;
        help.action = CommandLine::Action::Help;
        help.text = parser.helpText().toStdString();
        return help;
    }
    if (parser.isSet(version)) {
        CommandLine shown;
        shown.action = CommandLine::Action::Version;
        shown.text = std::string("tamrisk-sim ") + ProgramVersionText + "\n";
        return shown;
    }
    if (!parser.positionalArguments().isEmpty())
        return Failure("unexpected argument: " + parser.positionalArguments().constFirst());

    CommandLine result;
    result.action = CommandLine::Action::Run;
    ServerOptions& options = result.options;
    long long value = 0;

    options.name = parser.value(name).toStdString();
    if (parser.isSet(name) && (options.name.empty() || options.name == "." || options.name == ".." ||
                               options.name.find('/') != std::string::npos))
        return Failure("--name must be a plain file name");
    options.linkPath = parser.value(link).toStdString();
    if (parser.isSet(link) && options.linkPath.empty())
        return Failure("--link needs a path");

    if (!ToInt(parser.value(syn), 0, 10000, value))
        return Failure("--syn must be a number from 0 to 10000");
    options.model.synCount = static_cast<int>(value);
    if (!ToInt(parser.value(delay), 0, 3'600'000, value))
        return Failure("--delay must be milliseconds from 0 to 3600000");
    options.delayMs = static_cast<int>(value);
    if (!ToInt(parser.value(baud), 0, 10'000'000, value))
        return Failure("--baud must be a number from 0 to 10000000");
    options.baud = static_cast<int>(value);

    double rate = 0.0;
    if (!ToNumber(parser.value(faultRate), rate) || rate < 0.0 || rate > 1.0)
        return Failure("--fault-rate must be a number from 0 to 1");
    options.model.faultRate = rate;
    bool ok = false;
    const qulonglong faultSeed = parser.value(seed).toULongLong(&ok, 10);
    if (!ok)
        return Failure("--seed must be a whole number");
    options.model.faultSeed = faultSeed;
    const auto kinds = ParseFaultKinds(parser.value(faults).toStdString());
    if (!kinds)
        return Failure("--faults takes noanswer, checksum and sequence, separated by commas");
    options.model.faultKinds = *kinds;

    for (const QString& text : parser.values(status)) {
        int command = 0;
        StatusArray bytes{};
        if (!ParseStatusOverride(text.toStdString(), command, bytes))
            return Failure("--status must look like 48=21,00,00,00,00,00, not " + text);
        options.model.statusOverrides[command] = bytes;
    }

    if (!ToInt(parser.value(fmSize), 64, 256, value) || (value != 64 && value != 128 && value != 256))
        return Failure("--fm-size must be 64, 128 or 256");
    options.model.fiscalMemoryKiB = static_cast<int>(value);
    if (!ToInt(parser.value(journalDays), 1, 3650, value))
        return Failure("--journal-days must be a number from 1 to 3650");
    options.model.journalDays = static_cast<int>(value);

    if (parser.isSet(vary)) {
        UsedVariation variation;
        variation.seed = parser.value(vary).toULongLong(&ok, 10);
        if (!ok)
            return Failure("--vary must be a whole number");
        if (parser.isSet(varySpread)) {
            double spread = 0.0;
            if (!ToNumber(parser.value(varySpread), spread) || spread < 0.0)
                return Failure("--vary-spread must be a number of bytes, 0 or more");
            variation.spread = spread;
        }
        if (!ToNumber(parser.value(varyDrift), variation.drift))
            return Failure("--vary-drift must be a number of bytes");
        options.model.usedVariation = variation;
    } else if (parser.isSet(varySpread) || parser.isSet(varyDrift)) {
        return Failure("--vary-spread and --vary-drift need --vary");
    }
    return result;
}

}  // namespace tamrisk::sim
