#pragma once
// What a failed operation of the records store was: its kind, where and why.
// Callers decide on the kind (a lost connection is worth connecting again, a
// refused statement is not); people read Text(), "<location>: <reason>".
//
// Every operation of the store returns a StoreResult: its value, or the
// StoreError that kept it from one. It reads as a small part of std::expected.

#include <QString>

#include <optional>
#include <utility>

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
    // A write refused for what it wrote (a constraint, a right, a bad value): the same write fails again.
    bool refused = false;

    bool Failed() const { return kind != Kind::None; }
    // The failure may pass if tried later: the database out of reach, or held by other writers throughout.
    bool OutOfReach() const { return kind == Kind::ConnectionLost || kind == Kind::Busy; }
    QString Text() const { return location.isEmpty() ? reason : location + QStringLiteral(": ") + reason; }
};

// The value of a store operation, or the StoreError that kept it from one.
template <typename T>
class [[nodiscard]] StoreResult {
public:
    StoreResult(T value) : m_value(std::move(value)) {}  // NOLINT: a value converts, as std::expected's does
    StoreResult(StoreError error) : m_error(std::move(error)) {}  // NOLINT

    explicit operator bool() const { return m_value.has_value(); }
    bool has_value() const { return m_value.has_value(); }

    T& value() & { return *m_value; }
    const T& value() const& { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    T& operator*() & { return *m_value; }
    const T& operator*() const& { return *m_value; }
    T&& operator*() && { return std::move(*m_value); }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }

    // The failure; of kind None when there is a value.
    const StoreError& error() const { return m_error; }

private:
    std::optional<T> m_value;
    StoreError m_error;
};

template <>
class [[nodiscard]] StoreResult<void> {
public:
    StoreResult() = default;
    StoreResult(StoreError error) : m_error(std::move(error)), m_failed(true) {}  // NOLINT

    explicit operator bool() const { return !m_failed; }
    bool has_value() const { return !m_failed; }
    void value() const {}
    void operator*() const {}

    const StoreError& error() const { return m_error; }

private:
    StoreError m_error;
    bool m_failed = false;
};

}  // namespace tamrisk
