// How the music service's operations report their outcome: one code (`Result`)
// that tells exact success from "success, but nothing found", one line saying
// why an operation did not simply succeed, and, for operations that hand
// something back, the value itself.
//
//   Result        the bare code, for operations that have nothing more to say
//                 (cheap enough for the real-time paths).
//   Status        a code, a stable kind of failure (`Error`) and a reason.
//   Outcome<T>    a Status that holds a T exactly when its code is Ok.
//
// Plain values, not thread-bound: a Status may be handed to any thread.
#pragma once

#include <cassert>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace music {

enum class Result
{
    Ok,           // done
    NothingFound, // success, nothing there: no notification, no playing instance, no port
    Failed,       // the operation failed and changed nothing
    NotSupported  // the object does not offer this operation
};

constexpr bool succeeded(Result r)
{
    return r == Result::Ok || r == Result::NothingFound;
}

// The kind of a failure, for callers that act on it; the reason says more.
enum class Error : std::uint8_t
{
    None = 0,      // no failure, or one that has no kind of its own
    ReadFailed,    // the file cannot be opened or read
    NotAFile,      // a folder, FIFO, device or socket: nothing to load
    NotMidi,       // neither a Standard MIDI File nor a RIFF MIDI file
    InvalidHeader, // the header chunk is missing, short or holds impossible values
    NoTracks,      // no track chunk
    TooLarge,      // over the size limit, or more than the memory available
};

// A stable name for the kind, such as "invalid-header"; tools print it and
// scripts may test it.
constexpr std::string_view errorName(Error error) noexcept
{
    switch (error) {
    case Error::None:
        return "none";
    case Error::ReadFailed:
        return "read-failed";
    case Error::NotAFile:
        return "not-a-file";
    case Error::NotMidi:
        return "not-midi";
    case Error::InvalidHeader:
        return "invalid-header";
    case Error::NoTracks:
        return "no-tracks";
    case Error::TooLarge:
        return "too-large";
    }
    return "unknown";
}

// A Result with the reason behind it. Converts from a bare Result and compares
// equal to one, so `status == Result::Ok` reads as before.
class [[nodiscard]] Status
{
public:
    Status() noexcept = default; // Ok
    Status(Result code) noexcept : m_code(code) {}
    Status(Result code, std::string reason, Error error = Error::None) noexcept
        : m_code(code), m_error(error), m_reason(std::move(reason))
    {
    }
    // An operation that failed, of the given kind, and why (one line).
    static Status failure(Error error, std::string reason) noexcept
    {
        return Status(Result::Failed, std::move(reason), error);
    }

    Result code() const noexcept { return m_code; }
    Error error() const noexcept { return m_error; }
    // One line; empty when the operation succeeded or had nothing to add.
    const std::string& reason() const noexcept { return m_reason; }
    // Exact success.
    bool ok() const noexcept { return m_code == Result::Ok; }
    // Ok or NothingFound.
    bool succeeded() const noexcept { return music::succeeded(m_code); }

    friend bool operator==(const Status& status, Result code) noexcept
    {
        return status.m_code == code;
    }

private:
    Result m_code = Result::Ok;
    Error m_error = Error::None;
    std::string m_reason;
};

// The outcome of an operation that hands back a value: the value on exact
// success, otherwise the Status that says why there is none.
template <typename T> class [[nodiscard]] Outcome
{
public:
    // Exact success.
    Outcome(T value) : m_value(std::move(value)) {}
    // No value: `status` is anything but Ok (nothing found, failed, not supported).
    Outcome(Status status) noexcept : m_status(std::move(status))
    {
        assert(!m_status.ok() && "an Ok outcome carries a value");
        if (m_status.ok())
            m_status = Status(Result::Failed);
    }

    const Status& status() const noexcept { return m_status; }
    Result code() const noexcept { return m_status.code(); }
    Error error() const noexcept { return m_status.error(); }
    const std::string& reason() const noexcept { return m_status.reason(); }
    bool ok() const noexcept { return m_value.has_value(); }
    bool succeeded() const noexcept { return m_status.succeeded(); }
    // Whether it holds a value (exact success).
    explicit operator bool() const noexcept { return ok(); }

    // The value; only on exact success.
    T& value() & noexcept { return *m_value; }
    const T& value() const& noexcept { return *m_value; }
    T&& value() && noexcept { return std::move(*m_value); }
    T& operator*() & noexcept { return *m_value; }
    const T& operator*() const& noexcept { return *m_value; }

private:
    Status m_status;
    std::optional<T> m_value;
};

} // namespace music
