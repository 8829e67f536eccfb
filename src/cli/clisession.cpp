#include "clisession.h"

#include "cli.h"
#include "qtserialio.h"
#include "savefile.h"
#include "settings.h"
#include "terminalsink.h"
#include "textcodec.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <ostream>
#include <unistd.h>

namespace tamrisk {

const char* const CliUsageText =
    "usage: tamrisk-cli ports [--long]\n"
    "       tamrisk-cli exec [--port PORT] [--speed BAUD] [--color auto|always|never] [--] COMMAND [DATA]\n"
    "       tamrisk-cli run [--port PORT] [--speed BAUD] [--color auto|always|never] [--retry N]\n"
    "                       [--write-back] [--unique-serials] [--claim-wait SECONDS]\n"
    "                       [--lines A-B] [--junit FILE] [--json FILE] [--stop-on-fail]\n"
    "                       [--set NAME=VALUE]... [--vars FILE]\n"
    "                       [--operation NAME --product NAME] [--] SCRIPT\n"
    "       tamrisk-cli run [the options of run but --vars, --set, --lines and --write-back]\n"
    "                       --unit TEXT --product NAME --operation NAME --operator ID [--pin-file FILE]\n"
    "       tamrisk-cli run --port PORT --port PORT... [--unit PORT=TEXT]... [the options of run\n"
    "                       but --junit and --json] [--] SCRIPT\n"
    "       tamrisk-cli read-code [--port PORT] [--speed BAUD] [--dump] -o FILE\n"
    "       tamrisk-cli read-fiscal [--port PORT] [--speed BAUD] [--dump] -o FILE\n"
    "       tamrisk-cli read-journal-bin [--port PORT] [--speed BAUD] [--start HEX] -o FILE\n"
    "       tamrisk-cli journal read [--port PORT] [--speed BAUD] [-o FILE] [--] QUERY\n"
    "       tamrisk-cli journal print [--port PORT] [--speed BAUD] [--large] [--] QUERY\n"
    "       tamrisk-cli journal check [--port PORT] [--speed BAUD] [--] QUERY\n"
    "       tamrisk-cli journal info [--port PORT] [--speed BAUD]\n"
    "       tamrisk-cli journal sha1 [--lines A-B] FILE\n"
    "       tamrisk-cli records list [--records PATH] [--unit TEXT] [--serial TEXT]\n"
    "                       [--outcome pass|fail|aborted|error] [--kind KIND] [--since DATE]\n"
    "                       [--operation NAME] [--product NAME] [--limit N]\n"
    "                       [--format table|csv|json]\n"
    "       tamrisk-cli records show [--records PATH] [--format text|json]\n"
    "                       [--color auto|always|never] [--] ID\n"
    "       tamrisk-cli records export [--records PATH] [the filters of records list]\n"
    "                       --format junit|json|csv -o FILE\n"
    "       tamrisk-cli records checks [--records PATH] [--name NAME] [--unit TEXT]\n"
    "                       [--station NAME] [--operation NAME] [--product NAME]\n"
    "                       [--result pass|fail|error] [--since T]\n"
    "                       [--until T] [--limit N] [--format table|csv|json]\n"
    "       tamrisk-cli records stats [--records PATH] [--since T] [--until T]\n"
    "                       [--station NAME] [--operation NAME] [--product NAME]\n"
    "                       [--format table|csv|json]\n"
    "       tamrisk-cli records capability [--records PATH] [--name NAME] [--since T]\n"
    "                       [--until T] [--station NAME] [--operation NAME]\n"
    "                       [--product NAME] [--values] [--format table|csv|json]\n"
    "       tamrisk-cli records wip [--records PATH] [--product NAME] [--format table|csv|json]\n"
    "       tamrisk-cli records sync [--records postgresql://USER@HOST[:PORT]/DB]\n"
    "       tamrisk-cli records claims [--records PATH] [--serial DATA] [--unit TEXT]\n"
    "                       [--station NAME] [--limit N] [--format table|csv|json]\n"
    "       tamrisk-cli records setup --records postgresql://OWNER@HOST[:PORT]/DB\n"
    "                       [--station-role NAME]... [--reader-role NAME]...\n"
    "                       [--supervisor-role NAME]...\n"
    "       tamrisk-cli route set [--records LOCATION] --product NAME OPERATION[:LIMIT]...\n"
    "       tamrisk-cli route show [--records LOCATION] [--product NAME] [--format table|csv|json]\n"
    "       tamrisk-cli route delete [--records LOCATION] --product NAME\n"
    "       tamrisk-cli unit history [--records PATH] [--format table|json] [--] UNIT\n"
    "       tamrisk-cli unit hold|release [--records LOCATION] UNIT --reason TEXT\n"
    "       tamrisk-cli audit list [--records LOCATION] [--since T] [--format table|csv|json]\n"
    "       tamrisk-cli audit verify [--records LOCATION]\n"
    "       tamrisk-cli script release [--records LOCATION] --product NAME --operation NAME\n"
    "                       [--vars FILE] --operator ID [--pin-file FILE] [--] FILE\n"
    "       tamrisk-cli script approve [--records LOCATION] --operator ID [--pin-file FILE] RELEASE\n"
    "       tamrisk-cli script revoke [--records LOCATION] --reason TEXT --operator ID\n"
    "                       [--pin-file FILE] RELEASE\n"
    "       tamrisk-cli script list [--records LOCATION] [--product NAME] [--operation NAME]\n"
    "                       [--format table|csv|json]\n"
    "       tamrisk-cli script show [--records LOCATION] [--vars] RELEASE\n"
    "       tamrisk-cli operator add [--records LOCATION] ID --name TEXT\n"
    "                       --role operator|technician|engineer|supervisor [--new-pin-file FILE]\n"
    "       tamrisk-cli operator list [--records LOCATION] [--format table|csv|json]\n"
    "       tamrisk-cli operator role [--records LOCATION] ID ROLE\n"
    "       tamrisk-cli operator disable [--records LOCATION] ID\n"
    "       tamrisk-cli operator pin [--records LOCATION] ID [--new-pin-file FILE]\n"
    "       tamrisk-cli dashboard [--records LOCATION] [--listen ADDRESS:PORT]\n"
    "       tamrisk-cli --help | --version\n"
    "\n"
    "  ports   list the serial ports in the order of the station's port list; --long\n"
    "          gives each port's name, description, manufacturer, serial number (as\n"
    "          the system reports them) and stable /dev/serial/by-id path, tab-separated\n"
    "  exec    send one command (32..255) with its data (\\t and \\n escapes) and log\n"
    "          the request, the answer and the execution time\n"
    "  run     run a script file (Windows-1251) and log every line the run writes;\n"
    "          --retry N answers Yes to the first N retry questions of each line,\n"
    "          --lines A-B runs only lines A to B (1-based) on a copy, --write-back\n"
    "          saves advanced serial numbers into SCRIPT; SIGINT or SIGTERM cancels;\n"
    "          --junit FILE and --json FILE write the run's report (JUnit XML, JSON)\n"
    "          when it ends, whether or not records are kept; --unique-serials\n"
    "          claims each serial number in the records before it is sent, skips\n"
    "          numbers given before and ends the run with an error when it cannot\n"
    "          claim one; a database out of reach is waited for, trying again, at\n"
    "          most --claim-wait SECONDS (default 60) before that error;\n"
    "          --set NAME=VALUE and --vars FILE (lines NAME=VALUE, # comments) give\n"
    "          the variables {NAME} of the check lines, --set over the file, {unit}\n"
    "          the --unit; --stop-on-fail ends the run at the first failed check or\n"
    "          red answer line; exit status 1 when a check failed, 2 when one could\n"
    "          not be read\n"
    "          --operation NAME --product NAME (with --unit) check the unit's\n"
    "          entry into the operation before the port is opened: refused (on\n"
    "          hold, in test elsewhere, an earlier operation not passed, not on the\n"
    "          product's route) it gets nothing sent, REFUSED: and the reason on\n"
    "          stderr and exit status 7; records out of reach are waited for as a\n"
    "          claim is, then exit status 5; a hold the run made is said on stderr\n"
    "          Where the records hold people, --operator ID logs the person in;\n"
    "          without SCRIPT the run runs the active release of the product and\n"
    "          operation (see script), exit status 10 when there is none or its\n"
    "          text no longer matches its SHA-256; a SCRIPT is an engineering run,\n"
    "          for an engineer or a supervisor\n"
    "          With several ports every printer runs SCRIPT at once in its own\n"
    "          run; its lines start with \"PORT: \"; --unit PORT=TEXT names the\n"
    "          unit on PORT; --write-back needs --unique-serials and saves SCRIPT\n"
    "          once all have ended, each stepping field one step past the highest\n"
    "          number claimed; SIGINT or SIGTERM cancels every run; the exit status\n"
    "          is the worst of them: 130 if one was cancelled, else 2 if one could\n"
    "          not start or lost its port, else 1 if one failed, else 0\n"
    "  read-code, read-fiscal\n"
    "          read the program memory (196,608 bytes) or the fiscal memory (65,536,\n"
    "          131,072 or 262,144 bytes) into FILE, replaced in one step once the\n"
    "          printer accepted the read; --dump writes the hex dump to stdout;\n"
    "          progress, a failed block's answer and status, and how the read ended\n"
    "          go to stderr; SIGINT or SIGTERM cancels after the block in flight\n"
    "  read-journal-bin\n"
    "          copy the raw electronic journal from address HEX (at most 9 digits\n"
    "          0-9 A-F, default 0) into FILE, 64 bytes a block, until the printer has\n"
    "          no more data; FILE is overwritten and holds exactly the blocks read;\n"
    "          SIGINT or SIGTERM stops after the block in flight\n"
    "  journal read\n"
    "          read the journal lines QUERY selects (e.g. A, D12, Z3, Z3-5) to stdout,\n"
    "          and with -o into FILE (Windows-1251, CR LF); the document count and, as\n"
    "          the last line, the status go to stderr; SIGINT or SIGTERM cancels\n"
    "  journal print\n"
    "          have the printer print what QUERY selects, small font unless --large\n"
    "  journal check\n"
    "          the printer's data of a Z-report (R<n>), its journal verification\n"
    "          (Z<n>) or its raw record (X<n>) as lines; the time on stderr\n"
    "  journal info\n"
    "          the journal's size, use and ranges of Z-reports and documents\n"
    "  journal sha1\n"
    "          the SHA-1 of a journal text file, or of its lines A to B (1-based)\n"
    "  records list\n"
    "          the records kept, newest first (20 unless --limit, 0 for all), of a\n"
    "          unit, of the record that sent serial number TEXT, of an outcome or a\n"
    "          kind, of an operation or a product, started since DATE (YYYY-MM-DD\n"
    "          or YYYY-MM-DDTHH:MM:SS, UTC); the product and operation are shown\n"
    "          when a record listed names one\n"
    "  records show\n"
    "          a record's header, serial numbers and images, then its lines coloured\n"
    "          as the operation printed them; ID is any unique start of its id\n"
    "  records export\n"
    "          the records that the filters select (all unless --limit), newest first,\n"
    "          whole as JUnit XML or JSON, or their headers as CSV, into FILE, replaced\n"
    "          in one step\n"
    "  records checks\n"
    "          the checks of answers that runs made, newest record first, each\n"
    "          record's in the order made (20 unless --limit, 0 for all): record,\n"
    "          start (UTC), unit, station, check, what it expected, the value found\n"
    "          and its result; of a check NAME, a unit, a station or a result, of\n"
    "          records started since T and before T (--until DATE takes in the whole\n"
    "          day; UTC unless T names its zone); with a line's database, the whole\n"
    "          line's; as CSV a row a check, numbers as numbers\n"
    "  records stats\n"
    "          the line's numbers over the runs started since T and before T\n"
    "          (local time unless T ends in Z; by default today since local\n"
    "          midnight): units tested, runs by outcome, first-pass yield (of the\n"
    "          units first ever tested then, first runs by outcome), final yield,\n"
    "          retests, each station's numbers and last record (silent ones\n"
    "          marked), the first ten causes of failure and the units of each hour;\n"
    "          --station NAME gives that station's; per operation of each product\n"
    "          its units, first-pass and final yield, and per product with a route\n"
    "          its rolled throughput yield (the product of its operations' first-pass\n"
    "          yields); --operation and --product count only the runs naming them\n"
    "  records capability\n"
    "          for each numeric check (<, <=, >, >=, in) of the runs started in the\n"
    "          period of records stats (engineering runs left out), a row per set of\n"
    "          limits, worst Cpk first: n, mean, sigma, Cpk with its 95% interval,\n"
    "          Ppk, values outside the limits and marginal, control chart rule\n"
    "          breaks, and the warning below 30 values; CSV and JSON add Cp, Pp,\n"
    "          short-term sigma, control limits and the same without failed runs;\n"
    "          --name NAME that check alone; --values (JSON only) lists each value\n"
    "  records wip\n"
    "          for each product with a route (or --product NAME) and each operation\n"
    "          of it, the units waiting for it (the first operation of the route\n"
    "          whose last ended run did not pass), in test at it and on hold at it\n"
    "  records sync\n"
    "          send the records waiting in this computer's local file to the line's\n"
    "          database now; says how many were sent\n"
    "  records claims\n"
    "          the serial numbers claimed, newest first (20 unless --limit, 0 for\n"
    "          all): number space, data, station, unit, time (UTC) and record; of\n"
    "          the data DATA, a unit or a station; with a line's database, the whole\n"
    "          line's\n"
    "  records setup\n"
    "          run by the owner of a line's database: make or upgrade the records\n"
    "          schema and grant each --station-role login the right to add records\n"
    "          and claims and give back only its own claims, and each --reader-role\n"
    "          login the right to read, and each --supervisor-role login a\n"
    "          station's rights and to set routes, release units and free any\n"
    "          station's units; run again to add a login\n"
    "  route set, show, delete\n"
    "          a product's route: its operations in order, NAME:N holding a unit\n"
    "          after N failures in a row (default 3); changes kept with who made\n"
    "          them; show as a table, CSV or JSON; delete: 4 when there is none\n"
    "  unit history\n"
    "          every run, refusal at entry, hold and release of UNIT on the\n"
    "          records' line, oldest first: time (UTC), kind, product, operation,\n"
    "          station, operator, outcome, cause and record\n"
    "  unit hold, release\n"
    "          hold a unit, or release its holds and free it from a run left\n"
    "          going (4 when it was neither), each kept as a record\n"
    "  audit list\n"
    "          the audit trail, newest first: every change of people, routes,\n"
    "          holds, releases, the line's logins and every engineering run, with\n"
    "          its number, time (UTC), who, station, what, subject, old and new\n"
    "          value and reason; of the entries at or after --since T\n"
    "  audit verify\n"
    "          check every entry against its SHA-256 and the chain: 0 when intact,\n"
    "          1 naming the first entry that does not match\n"
    "  script release, approve, revoke, list, show\n"
    "          scripts released for a product and an operation where every station\n"
    "          sees them: an engineer releases a script (and its variables file)\n"
    "          once every line reads as a run reads it (else 2 and the line), a\n"
    "          supervisor other than the one who released it approves it; the\n"
    "          newest approved and not revoked release is the active one, which an\n"
    "          operator's run of that product and operation runs; list marks the\n"
    "          active one; show prints a release's script or (--vars) variables\n"
    "          file; RELEASE is a release's id; 8 for a role that may not, 9 for\n"
    "          a log-in refused, 1 when the records refuse the change\n"
    "  operator add, list, role, disable, pin\n"
    "          the people who log in at the line's stations, managed by a logged-in\n"
    "          supervisor (the first person, a supervisor, is added while the records\n"
    "          hold nobody); a new PIN is typed twice on the terminal, or read from\n"
    "          --new-pin-file FILE (owner's only, mode 600); list never shows a PIN\n"
    "  dashboard\n"
    "          serve the line's web page on ADDRESS:PORT (default 127.0.0.1:8080;\n"
    "          port 0: a free one, printed): the period's units, first-pass and\n"
    "          final yield, each station (a silent one marked), units per hour, the\n"
    "          failures' causes and the newest records, updated every second; a\n"
    "          record's printable page at /records/ID; JSON at /api/stats (?since=\n"
    "          &until=&station=, as records stats), /api/records (?limit=&unit=),\n"
    "          /api/records/ID and /api/audit (as audit list); the audit trail at\n"
    "          /audit; reads only (a reader's login will do), a records\n"
    "          file must exist; serves until SIGINT or SIGTERM\n"
    "\n"
    "Every command that talks to the printer keeps a record of what it did in the\n"
    "records file: --records PATH, else TAMRISK_RECORDS, else the user's records\n"
    "file; 'off' keeps none. --unit TEXT names the unit tested (else the first\n"
    "serial number a run sent). A records file that cannot be written is told on\n"
    "stderr once and changes nothing else. With a line's database (--records\n"
    "postgresql://USER@HOST[:PORT]/DB) each record is written first to the local\n"
    "file (TAMRISK_LOCAL_RECORDS, else the user's records file) and sent on in the\n"
    "background; a command sends what waits for at most 3 seconds before it exits,\n"
    "and what could not be sent waits, told in one line on stderr.\n"
    "\n"
    "Where the records hold operators, run, exec, read-code, read-fiscal,\n"
    "read-journal-bin, journal read, print, check and info, unit hold and release,\n"
    "route set and delete and operator need --operator ID: the PIN is asked on the\n"
    "terminal, or read from the first line of --pin-file FILE (a file of the user's\n"
    "own that no one else may read or write: chmod 600); the person's role must\n"
    "allow the command. Records and histories are read without a log-in.\n"
    "\n"
    "PORT is a device path (a /dev/serial/by-id link too) or a name that 'ports'\n"
    "lists; without --port and --speed the station's saved port and speed are used.\n"
    "A port refused for lack of permission is told with the group that owns it and\n"
    "how to join it.\n"
    "Exit: exec 0 done without a printer or link error, 1 the transaction failed or\n"
    "the printer reported an error; run 0 completed without a red line, 1 completed\n"
    "with one (or the script or a report could not be saved), 130 cancelled (a\n"
    "report that cannot be written changes no exit status but 0); read-code and\n"
    "read-fiscal 0 every block read, 1 the printer refused the read (no file\n"
    "written), a block failed or came short, or FILE could not be written, 130\n"
    "cancelled; read-journal-bin 0 the journal's end reached, 1 a transaction failed\n"
    "or FILE could not be written, 130 stopped; journal read 0 the journal's end\n"
    "reached, 1 a request failed (the lines so far still written) or FILE could not\n"
    "be written, 130 cancelled; journal print and info 0 done, 1 a request failed;\n"
    "journal check 0 done, 1 a request failed, 3 the printer found the journal and\n"
    "its recorded SHA-1 not equal; journal sha1, records list, show, checks, stats,\n"
    "capability and claims 0 done;\n"
    "records export 0 done, 1 FILE could not be written; records sync 0 none waits,\n"
    "1 some still wait (the reason on stderr); records setup 0 done, 1 the database\n"
    "could not be set up (the reason on stderr); audit list 0 done; audit verify 0\n"
    "the trail is intact, 1 an entry does not match; dashboard 0 stopped by a signal;\n"
    "all 2 for a usage error\n"
    "(a blank QUERY or one too long for a request included), an unreadable script\n"
    "or file, a report FILE of run that cannot be written (found before the run),\n"
    "a port that could not be opened, a port lost on the way, an ID that starts\n"
    "more than one record, records off, and an address the dashboard cannot listen\n"
    "on; records, audit and dashboard 1 the records database failed a statement, 4 no\n"
    "record has the ID, 5 the records cannot be opened or read (a file that cannot\n"
    "be made or opened or is not there for the dashboard, a line's database out of\n"
    "reach or busy), 6 the records are refused (not a records database, a newer\n"
    "one, a login without its rights); run 7 the unit was refused entry; 8 the\n"
    "person's role may not do this; 9 the log-in was refused (no --operator where\n"
    "the records hold operators, an unknown, locked or disabled ID, a wrong PIN, a\n"
    "PIN file refused, no terminal to ask the PIN on).\n";

volatile std::sig_atomic_t g_cancelSignal = 0;

namespace {

extern "C" void OnCancelSignal(int) { g_cancelSignal = 1; }

}  // namespace

void InstallCancelSignals() {
    g_cancelSignal = 0;
    struct sigaction action {};
    action.sa_handler = OnCancelSignal;
    sigemptyset(&action.sa_mask);
    // A second signal ends the process the usual way; no restart, so that a
    // wait for Enter is interrupted too.
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool SaveOutputFile(Host& host, const std::string& path, std::string_view bytes, std::string* problem) {
    QString error;
    if (SaveBytesToFile(QString::fromStdString(path), bytes, error))
        return true;
    host.showMessageDetail("Can't write output file", "Error", error.toStdString());
    if (problem != nullptr)
        *problem = error.toStdString();
    return false;
}

void CliError(std::ostream& err, const std::string& what) { err << "tamrisk-cli: " << EscapeControls(what) << '\n'; }

bool OutputFileWritable(const std::string& path, std::string& error) {
    SaveFileWriter trial(QString::fromStdString(path));
    if (!trial.Open()) {
        error = trial.Error().toStdString();
        return false;
    }
    trial.Discard();
    return true;
}

int UsageError(std::ostream& err, const std::string& what) {
    CliError(err, what);
    err << '\n' << CliUsageText;
    return CliUsage;
}

int RunAction(const std::string& command, std::initializer_list<CliAction> actions,
              const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    if (rest.empty()) {
        std::string names;
        std::size_t i = 0;
        for (const CliAction& action : actions) {
            if (i > 0)
                names += i + 1 == actions.size() ? " or " : ", ";
            names += action.name;
            ++i;
        }
        return UsageError(err, command + " needs an action: " + names);
    }
    const std::vector<std::string> args(rest.begin() + 1, rest.end());
    for (const CliAction& action : actions) {
        if (rest[0] == action.name)
            return action.run(args, out, err);
    }
    return UsageError(err, "unknown " + command + " action " + rest[0]);
}

CliSession::CliSession(std::ostream& out, std::ostream& err)
    : host(err, [this] {
          // The port's own events (its data, its loss) are delivered here, so
          // every wait notices a lost port as the station does.
          if (QCoreApplication::instance() != nullptr)
              QCoreApplication::processEvents();
          if (!g_cancelSignal)
              return;
          if (onCancelSignal)
              onCancelSignal();
          else
              station.state.CancelRequest = true;
      }, &out),
      station(host, std::make_unique<QtSerialIo>()) {
    // Messages carry script and printer text (a message line, a reason): shown
    // on stderr, never obeyed, with a message's own line breaks kept.
    // The detail is filtered before its text; its own line breaks (the lines
    // of advice after a reason) are kept.
    host.setDetailFilter([this](const std::string& detail) {
        m_detail = detail;
        return EscapeControls(detail, true);
    });
    host.setTextFilter([this](const std::string& text) {
        lastMessage = Cp1251ToUtf8(text) + (m_detail.empty() ? "" : ": " + m_detail);
        m_detail.clear();
        return TerminalText(text, true);
    });
}

bool WantColours(const std::string& mode) {
    if (mode == "always")
        return true;
    if (mode == "never")
        return false;
    return StdoutIsTerminal() && std::getenv("NO_COLOR") == nullptr;
}

bool StdoutIsTerminal() { return ::isatty(STDOUT_FILENO) != 0; }

bool OpenLink(CliSession& session, const ParsedArgs& args, std::ostream& err) {
    Station& station = session.station;
    SerialLink& link = station.link;
    const auto store = OpenSettingsStore();
    station.LoadSettings(*store);

    int speed = station.SpeedBps();
    if (const auto text = args.value("speed"))
        speed = static_cast<int>(*ParseWholeNumber(*text, 1, 10000000));

    std::string path;
    if (const auto port = args.value("port")) {
        const int index = link.FindPort(*port);
        if (index >= 0) {
            path = link.PortAt(index).path;
        } else if (port->find('/') != std::string::npos) {
            path = *port;
        } else {
            session.lastMessage = "no port named " + *port;
            CliError(err, session.lastMessage + " (see 'tamrisk-cli ports')");
            return false;
        }
    } else {
        // A port saved by path is opened by it, listed or not: the system then says what is wrong with it.
        path = link.GivenPortPath.empty() ? link.PortAt(link.PortIndex).path : link.GivenPortPath;
        if (path.empty()) {
            session.lastMessage = "no saved port";
            CliError(err, session.lastMessage + "; give one with --port");
            return false;
        }
    }
    session.openedPort = path;
    session.openedSpeed = speed;
    return station.ConnectPath(path, speed);
}

std::string CheckLinkOptions(const ParsedArgs& args) {
    if (const auto speed = args.value("speed"); speed && !ParseWholeNumber(*speed, 1, 10000000))
        return "--speed takes a line speed in bit/s";
    if (const auto color = args.value("color"); color && *color != "auto" && *color != "always" && *color != "never")
        return "--color takes auto, always or never";
    return {};
}

}  // namespace tamrisk
