#pragma once
// The outcome of one step of sending mail: success, or an error number the e-mail window tests
// for, with an Error a person can act on.

#include "platform/core/Result.h"

#include <utility>

namespace chimora {

/// Error numbers of the mail steps. The e-mail window tells the user apart only about
/// AmbiguousRecipient; the others are for the log and for tests.
namespace MailErrorNumber {
inline constexpr int UserAbort = 32001;             ///< the user cancelled: dialog or send
inline constexpr int Failure = 32002;               ///< anything else: server down, TLS, protocol
inline constexpr int LoginFailure = 32003;          ///< the server refused user name or password
inline constexpr int AttachmentNotFound = 32011;    ///< the attachment file is missing
inline constexpr int AttachmentOpenFailure = 32012; ///< the attachment could not be read
inline constexpr int UnknownRecipient = 32014;      ///< the server refused the recipient
inline constexpr int InvalidSession = 32019;        ///< no signed-on session with that identifier
inline constexpr int NotSupported = 32020;          ///< a request this mail system cannot do
inline constexpr int AmbiguousRecipient = 32021;    ///< a recipient that is not an address
inline constexpr int NoRecipients = 32025;          ///< no recipient, or an empty one
} // namespace MailErrorNumber

class [[nodiscard]] MailStep {
public:
    MailStep() = default;
    MailStep(int number, Error error) : m_number(number), m_error(std::move(error)) {}

    static MailStep failure(int number, QString message, QString detail = {}) {
        return {number, Error::environment(std::move(message), std::move(detail))};
    }

    /// The outcome of a step the user cancelled.
    static MailStep cancelled(QString detail = {}) {
        return failure(MailErrorNumber::UserAbort, QStringLiteral("Sending was cancelled."),
                       std::move(detail));
    }

    bool ok() const { return m_number == 0; }
    explicit operator bool() const { return ok(); }
    /// 0 on success, else one of MailErrorNumber.
    int number() const { return m_number; }
    const Error& error() const { return m_error; }

private:
    int m_number = 0;
    Error m_error;
};

} // namespace chimora
