#include "clilogin.h"

#include "cli.h"
#include "clioperationrecord.h"
#include "clisession.h"
#include "pin.h"
#include "record.h"
#include "recordstore.h"

#include <QDateTime>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tamrisk {

namespace {

// Longest line a PIN is read from; a PIN has at most 32 characters of up to 4 bytes.
constexpr std::size_t PinLineLimit = 256;

volatile std::sig_atomic_t g_pinSignal = 0;

extern "C" void OnPinSignal(int) { g_pinSignal = 1; }

// While it lives, SIGINT and SIGTERM interrupt a read (no restart) and are
// noted, so that the terminal's echo is put back before the program ends.
class PinSignals {
public:
    PinSignals() {
        g_pinSignal = 0;
        struct sigaction action {};
        action.sa_handler = OnPinSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_int);
        ::sigaction(SIGTERM, &action, &m_term);
    }
    ~PinSignals() {
        ::sigaction(SIGINT, &m_int, nullptr);
        ::sigaction(SIGTERM, &m_term, nullptr);
    }
    PinSignals(const PinSignals&) = delete;
    PinSignals& operator=(const PinSignals&) = delete;

private:
    struct sigaction m_int {}, m_term {};
};

// The terminal on `fd` without echo while it lives; its settings as they were after.
class EchoOff {
public:
    explicit EchoOff(int fd) : m_fd(fd) {
        if (::tcgetattr(fd, &m_saved) != 0)
            return;
        termios quiet = m_saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~(ECHO | ECHOE | ECHOK | ECHONL));
        m_off = ::tcsetattr(fd, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_off)
            ::tcsetattr(m_fd, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool Off() const { return m_off; }

private:
    int m_fd;
    termios m_saved {};
    bool m_off = false;
};

enum class LineRead { Read, Ended, Interrupted, Failed };

// Reads a line from `fd` into `line` (its end and a CR before it not kept),
// at most PinLineLimit bytes; the rest of a longer line is read and dropped.
LineRead ReadLine(int fd, std::string& line) {
    line.clear();
    line.reserve(PinLineLimit);
    bool any = false;
    for (;;) {
        char byte = 0;
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0) {
            if (errno == EINTR && !g_pinSignal)
                continue;
            return errno == EINTR ? LineRead::Interrupted : LineRead::Failed;
        }
        if (got == 0)
            return any ? LineRead::Read : LineRead::Ended;
        any = true;
        if (byte == '\n')
            break;
        if (line.size() < PinLineLimit)
            line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return LineRead::Read;
}

// The first line of the PIN file `path`, once it is found to be a regular file
// of this user's that no one else may read or write.
int ReadPinFile(const std::string& path, PinText& pin, std::ostream& err) {
    const auto refuse = [&](const std::string& why) {
        CliError(err, "PIN file " + path + ": " + why);
        return CliLogInRefused;
    };
    // Not blocked by a FIFO; what was opened is what is checked.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(std::strerror(errno));
    struct stat info {};
    int status = CliOk;
    if (::fstat(fd, &info) != 0)
        status = refuse(std::strerror(errno));
    else if (!S_ISREG(info.st_mode))
        status = refuse("not a regular file");
    else if (info.st_uid != ::geteuid())
        status = refuse("not owned by the user running tamrisk-cli (" + LoginName() + "): give it to that user (chown)");
    else if ((info.st_mode & 077) != 0)
        status = refuse("others than its owner may read or write it: make it the owner's only with chmod 600 " + path);
    if (status == CliOk) {
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        const LineRead read = ReadLine(fd, pin.Buffer());
        if (read == LineRead::Failed)
            status = refuse(std::strerror(errno));
        else if (read != LineRead::Read)
            status = refuse("empty: its first line is the PIN");
    }
    ::close(fd);
    return status;
}

int AskPin(const std::string& fileOption, const std::string& prompt, PinText& pin, std::ostream& err) {
    if (::isatty(STDIN_FILENO) == 0) {
        CliError(err, "the PIN is asked on a terminal: give --" + fileOption + " FILE for automation");
        return CliLogInRefused;
    }
    const PinSignals interrupts;
    LineRead read = LineRead::Failed;
    {
        const EchoOff echo(STDIN_FILENO);
        if (!echo.Off()) {
            CliError(err, std::string("cannot turn the terminal's echo off to ask for the PIN: ") + std::strerror(errno));
            return CliLogInRefused;
        }
        err << prompt << std::flush;
        read = ReadLine(STDIN_FILENO, pin.Buffer());
    }
    // The Enter typed was not echoed.
    err << std::endl;
    switch (read) {
    case LineRead::Read: return CliOk;
    case LineRead::Interrupted: CliError(err, "cancelled while the PIN was asked"); return CliCancelled;
    case LineRead::Ended: CliError(err, "no PIN typed"); return CliLogInRefused;
    case LineRead::Failed: break;
    }
    CliError(err, std::string("cannot read the PIN: ") + std::strerror(errno));
    return CliLogInRefused;
}

CliLogIn Refusal(std::ostream& err, const std::string& why, int status = CliLogInRefused) {
    CliError(err, why);
    return {status, std::nullopt};
}

}  // namespace

PinText::~PinText() { Wipe(); }

void PinText::Wipe() {
    // The whole buffer (a shorter PIN read before may linger past the end),
    // through a volatile pointer so that the compiler cannot leave the bytes as they were.
    m_text.resize(m_text.capacity());
    volatile char* bytes = m_text.data();
    for (std::size_t i = 0; i < m_text.size(); ++i)
        bytes[i] = 0;
    m_text.clear();
}

std::set<std::string> WithLogInOptions(std::set<std::string> withValue) {
    withValue.insert({"operator", "pin-file"});
    return withValue;
}

int ReadPin(const ParsedArgs& args, const std::string& fileOption, const std::string& prompt, PinText& pin,
            std::ostream& err) {
    const auto file = args.value(fileOption);
    return file ? ReadPinFile(*file, pin, err) : AskPin(fileOption, prompt, pin, err);
}

std::string LockedUntil(qint64 ms) {
    return "locked until " + QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss")).toStdString();
}

std::string CliLogIn::Who() const { return person ? person->id : LoginName(); }

void CliLogIn::Sign(RecordHeader& header) const {
    if (!person)
        return;
    header.operatorId = person->id;
    header.operatorName = person->name;
}

void CliLogIn::Sign(RecordStore& store) const {
    if (person)
        store.SetActor(person->id, DefaultStationName());
}

CliLogIn LogInAt(RecordStore& store, const ParsedArgs& args, Privilege privilege, std::ostream& err) {
    const auto id = args.value("operator");
    const StoreResult<bool> any = store.Operators().AnyOperators();
    if (!any)
        return {StoreFailed(err, "cannot log in:", any.error()), std::nullopt};
    if (!*any) {
        if (id)
            CliError(err, "the records hold no operators: nobody logs in");
        return {};
    }
    if (!id)
        return Refusal(err, "these records hold operators: log in with --operator ID");
    if (!OperatorIdWellFormed(*id))
        return Refusal(err, "--operator: not an operator ID (1 to 64 characters, no control characters, no blank"
                            " at either end)");
    PinText pin;
    if (const int status = ReadPin(args, "pin-file", "PIN for " + *id + ": ", pin, err); status != CliOk)
        return {status, std::nullopt};
    // No stored PIN is ill-formed: such a one is no try at a person's PIN.
    if (!PinWellFormed(pin.Text()))
        return Refusal(err, "a PIN has 4 to 32 characters");
    const StoreResult<LogInOutcome> outcome =
        store.Operators().LogIn(*id, pin.Text(), QDateTime::currentMSecsSinceEpoch());
    pin.Wipe();
    if (!outcome)
        return {StoreFailed(err, "cannot log in:", outcome.error()), std::nullopt};
    using Verdict = LogInOutcome::Verdict;
    switch (outcome->verdict) {
    case Verdict::Accepted: break;
    case Verdict::WrongPin:
        return Refusal(err, "wrong PIN for " + *id + ": " + std::to_string(outcome->triesLeft) + " tries left");
    case Verdict::Locked:
        return Refusal(err, *id + " is " + LockedUntil(outcome->lockedUntilMs) + " (five wrong PINs)");
    case Verdict::Disabled: return Refusal(err, *id + " is disabled");
    case Verdict::Unknown: return Refusal(err, *id + " is no operator of these records");
    }
    const Operator& person = *outcome->person;
    if (!May(person.role, privilege))
        return Refusal(err, RefusalText(person.role, privilege), CliNotPermitted);
    CliLogIn done{CliOk, person};
    done.Sign(store);
    return done;
}

CliLogIn LogIn(const ParsedArgs& args, Privilege privilege, std::ostream& err) {
    StoreResult<std::optional<RecordsRoute>> route = RouteRecords(RecordsLocation(args));
    if (!route)
        return {StoreFailed(err, "cannot log in:", route.error()), std::nullopt};
    if (!*route) {
        if (args.value("operator"))
            CliError(err, "records are off: nobody logs in");
        return {};
    }
    RecordStore store;
    if (StoreResult<void> opened = store.Open((*route)->Claims()); !opened)
        return {StoreFailed(err, "cannot log in:", opened.error()), std::nullopt};
    return LogInAt(store, args, privilege, err);
}

}  // namespace tamrisk
