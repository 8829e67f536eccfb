#pragma once
// What a failed operation of the records store was: its kind, where and why.
// Callers decide on the kind (a lost connection is worth connecting again, a
// refused statement is not); people read Text(), "<location>: <reason>".

#include <QString>

namespace tamrisk {

struct StoreError {
    enum class Kind {
        None,             // no failure
        NotOpen,          // the store was never opened, or its open failed for a reason other than reach
        ConnectionLost,   // the database is out of reach: refused, lost, timed out, shutting down or starting
        Busy,             // other writers held the database through every attempt
        SchemaRefused,    // not a records database, a newer schema, or a login that may not make it
        StatementFailed,  // the database refused or failed a statement
        NotFound,         // no such record
    };
    Kind kind = Kind::None;
    QString location;  // as messages show it (a password masked)
    QString reason;

    bool Failed() const { return kind != Kind::None; }
    QString Text() const { return location.isEmpty() ? reason : location + QStringLiteral(": ") + reason; }
};

}  // namespace tamrisk
