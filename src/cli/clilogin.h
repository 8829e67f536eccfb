#pragma once
// Who gives a command of tamrisk-cli where the line's records hold people:
// --operator ID logs them in at the line's location (where the run's unit
// entries are asked: the line's database when records go on to one), the PIN
// asked on the terminal with its echo off, or read from --pin-file for a line's
// automation; the command goes on only when the person's role has the
// command's privilege. Where the records hold no operators (or are off) nobody
// logs in and every command works as it always has. A PIN is never taken from
// the command line or the environment, never written anywhere, and wiped from
// memory once checked.

#include "cliargs.h"
#include "operatorstore.h"
#include "privileges.h"

#include <iosfwd>
#include <optional>
#include <set>
#include <string>

namespace tamrisk {

class RecordStore;
struct RecordHeader;

// `withValue` of a command plus the log-in's own options, --operator and --pin-file.
std::set<std::string> WithLogInOptions(std::set<std::string> withValue);

// A PIN as typed or read: its bytes wiped when it goes.
class PinText {
public:
    PinText() = default;
    ~PinText();
    PinText(const PinText&) = delete;
    PinText& operator=(const PinText&) = delete;

    const std::string& Text() const { return m_text; }
    std::string& Buffer() { return m_text; }
    // Wipes the bytes and empties it.
    void Wipe();

private:
    std::string m_text;
};

// Reads a PIN into `pin`: the first line of the file that --`fileOption` of
// `args` names when given (refused unless it is a regular file owned by this
// program's user, that no other user may read or write), else from the
// terminal on stdin after `prompt` on `err`, its echo off while it is typed
// (and on again whatever happens). CliOk, else after a message on `err` the
// exit status: CliLogInRefused for a file refused or no terminal to ask on,
// CliCancelled for a signal while asking.
int ReadPin(const ParsedArgs& args, const std::string& fileOption, const std::string& prompt, PinText& pin,
            std::ostream& err);

// "locked until HH:MM:SS", the end of a lock at `ms` (since the epoch) in local time.
std::string LockedUntil(qint64 ms);

// Who gives the command.
struct CliLogIn {
    int status = 0;  // CliOk, else the exit status of the refusal, told on stderr
    // The person logged in; none where the records hold no operators.
    std::optional<Operator> person;

    bool Refused() const { return status != 0; }
    // Who a change is kept as made by: the person's ID, else the computer's login.
    std::string Who() const;
    // Puts the person into a record's header: operatorId their ID and
    // operatorName their name. Nothing where nobody logged in.
    void Sign(RecordHeader& header) const;
    // Makes the person the actor of the changes written through `store`, at
    // this computer's station. Nothing where nobody logged in.
    void Sign(RecordStore& store) const;
};

// Logs the person of `args` in at `store`, open at the line's location, for
// a command that needs `privilege`: none needed while the records hold no
// operators (--operator is then told to be of no use, and the command goes
// on). Refused (CliLogInRefused) without --operator, for an ill-formed ID, an
// unknown one, a wrong PIN (the tries left told), a locked or disabled ID;
// refused (CliNotPermitted, RefusalText) when the person's role may not; the
// store failing ends it with its exit status (StoreFailed).
CliLogIn LogInAt(RecordStore& store, const ParsedArgs& args, Privilege privilege, std::ostream& err);
// LogInAt the line's location of the records that `args` choose (--records,
// else TAMRISK_RECORDS, else the user's records file), opened for it; nobody
// logs in with records off.
CliLogIn LogIn(const ParsedArgs& args, Privilege privilege, std::ostream& err);

}  // namespace tamrisk
