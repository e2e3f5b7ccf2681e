#pragma once
// The outcome of an engine operation that can fail: a value, or an Error a person can act on.

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace chimora {

/// Why an operation failed. `message` is for people (names the file, device or tool and what to
/// do next); `detail` carries technical text (a library's error string, a tool's stderr).
struct Error {
    enum class Kind {
        BadInput,    ///< the file or value given cannot be used
        Environment, ///< something outside us failed: a disk, a device, a missing tool
        Internal,    ///< our own fault
    };
    Kind kind = Kind::Internal;
    QString message;
    QString detail = {};

    static Error badInput(QString message, QString detail = {}) {
        return {Kind::BadInput, std::move(message), std::move(detail)};
    }
    static Error environment(QString message, QString detail = {}) {
        return {Kind::Environment, std::move(message), std::move(detail)};
    }
    static Error internal(QString message, QString detail = {}) {
        return {Kind::Internal, std::move(message), std::move(detail)};
    }
};

/// Either a T or an Error. Result<void> carries only success or an Error.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

} // namespace chimora
