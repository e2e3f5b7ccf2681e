#include "mail/SmtpTransfer.h"

#include "mail/CurlPtr.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <climits>
#include <mutex>

namespace chimora {

namespace {

void ensureCurlReady() {
    // curl_global_init is not safe against other threads using curl; only this file uses curl,
    // and every use passes here first.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString serverName(const QString& url) {
    const QUrl parsed(url);
    return parsed.port() > 0 ? parsed.host() + QLatin1Char(':') + QString::number(parsed.port())
                             : parsed.host();
}

QByteArray readWhole(const QString& path, bool* ok) {
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    if (!*ok)
        return {};
    QByteArray bytes = file.readAll();
    *ok = file.error() == QFileDevice::NoError;
    return bytes;
}

QByteArray withCrlfLineEnds(const QString& text) {
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unified.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return unified.toUtf8().replace("\n", "\r\n");
}

// One transfer's handle and the lists it points to, which must live as long as it does.
struct Transfer {
    CurlEasyPtr easy;
    CurlListPtr recipients;
    CurlListPtr headers;
    CurlMimePtr mime;
    char errorText[CURL_ERROR_SIZE] = {};
    QString server;
    QByteArray refusal; // the server's last refusing reply (4xx, 5xx), for the user
    const Cancellation* cancel = nullptr;
};

int abortWhenCancelled(void* transfer, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const Cancellation* cancel = static_cast<Transfer*>(transfer)->cancel;
    return cancel && cancel->isCancelled() ? 1 : 0;
}

// Keeps the server's refusals; what we send (the login among it) is never looked at.
int keepServerRefusal(CURL*, curl_infotype type, char* data, size_t size, void* transfer) {
    if (type == CURLINFO_HEADER_IN && size > 0 && (data[0] == '4' || data[0] == '5'))
        static_cast<Transfer*>(transfer)->refusal =
            QByteArray(data, qsizetype(std::min<size_t>(size, 300))).trimmed();
    return 0;
}

MailStep failureOf(CURLcode code, const Transfer& t) {
    long response = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &response);
    const QString curlText =
        QString::fromUtf8(t.errorText[0] ? t.errorText : curl_easy_strerror(code));
    const QString reply = withoutControlCharacters(QString::fromUtf8(t.refusal)).trimmed();
    const QString detail = QStringLiteral("libcurl error %1: %2; last refusal \"%3\"")
                               .arg(int(code))
                               .arg(curlText, reply);
    // The server's own words where it said something, for the user to act on or pass on.
    const QString saying =
        reply.isEmpty() ? QString() : QStringLiteral(" It said: \"%1\".").arg(reply);
    const auto fail = [&](int number, const QString& message) {
        return MailStep::failure(number, message.arg(t.server) + saying, detail);
    };
    using namespace MailErrorNumber;
    switch (code) {
    case CURLE_ABORTED_BY_CALLBACK:
        return MailStep::cancelled(detail);
    case CURLE_LOGIN_DENIED:
        // Only a lasting refusal (5xx) means the user name or password is wrong; a temporary
        // one (4xx, such as 454) says nothing about them.
        if (response >= 500 && response < 600)
            return fail(LoginFailure,
                        QStringLiteral("The mail server %1 refused the user name or password."));
        return fail(Failure, QStringLiteral("The mail server %1 could not check the login just "
                                            "now. Try again later."));
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return fail(Failure, QStringLiteral("The mail server %1 cannot be reached. Check the "
                                            "server and port of the mail account."));
    case CURLE_OPERATION_TIMEDOUT:
        return fail(Failure,
                    QStringLiteral("The mail server %1 did not answer in time (timed out)."));
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return fail(Failure,
                    QStringLiteral("The certificate of the mail server %1 is not trusted. For a "
                                   "private server, name its certificate authority file as "
                                   "\"CAFile\" in section [Mail] of settings.ini."));
    case CURLE_SSL_CONNECT_ERROR:
        return fail(Failure, QStringLiteral("No secure connection to the mail server %1 could "
                                            "be made. Check the security of the mail account."));
    case CURLE_USE_SSL_FAILED:
        return fail(Failure,
                    QStringLiteral("The mail server %1 does not offer STARTTLS. Choose TLS, or no "
                                   "encryption if you trust the network, in the mail account."));
    default:
        break;
    }
    // libcurl says which command the server refused: "RCPT failed: 550".
    if (curlText.startsWith(QLatin1String("RCPT")))
        return fail(UnknownRecipient,
                    QStringLiteral("The mail server %1 refused the recipient. Check the address."));
    if (code == CURLE_GOT_NOTHING || code == CURLE_RECV_ERROR || code == CURLE_SEND_ERROR ||
        code == CURLE_WEIRD_SERVER_REPLY)
        return fail(Failure, QStringLiteral("The mail server %1 broke off the connection."));
    return fail(Failure, QStringLiteral("Sending through the mail server %1 failed."));
}

// Sets libcurl options one after the other until one is refused; the first refusal is kept.
class Options {
public:
    explicit Options(CURL* easy) : m_easy(easy) {}
    template <typename Value> Options& set(CURLoption option, Value value) {
        if (m_code == CURLE_OK) {
            m_code = curl_easy_setopt(m_easy, option, value);
            m_option = option;
        }
        return *this;
    }
    /// Also for curl_mime_* calls, which answer the same way.
    Options& check(CURLcode code) {
        if (m_code == CURLE_OK)
            m_code = code;
        return *this;
    }
    MailStep outcome() const {
        if (m_code == CURLE_OUT_OF_MEMORY)
            return MailStep::failure(MailErrorNumber::Failure,
                                     QStringLiteral("Not enough memory to send mail."));
        if (m_code != CURLE_OK)
            return MailStep::failure(
                MailErrorNumber::Failure,
                QStringLiteral("This system's libcurl cannot send mail the way Chimora needs. "
                               "Update the libcurl package."),
                QStringLiteral("libcurl refused option %1: %2")
                    .arg(int(m_option))
                    .arg(QString::fromUtf8(curl_easy_strerror(m_code))));
        return {};
    }

private:
    CURL* m_easy;
    CURLcode m_code = CURLE_OK;
    CURLoption m_option = CURLOPT_URL;
};

// The options shared by the login check and the send: server, security, login, limits and
// cancelling. `messageBytes` gives a large message the time it needs on a slow line.
MailStep prepare(Transfer& t, const SmtpConnection& c, const Cancellation* cancel,
                 qint64 messageBytes) {
    ensureCurlReady();
    t.easy.reset(curl_easy_init());
    if (!t.easy)
        return MailStep::failure(MailErrorNumber::Failure,
                                 QStringLiteral("Not enough memory to send mail."));
    t.server = serverName(c.url);
    t.cancel = cancel;
    const SmtpLimits& l = c.limits;
    const qint64 attemptMs = l.attemptMs + messageBytes * 1000 / std::max(1, l.bytesPerSecond);
    Options o(t.easy.get());
    o.set(CURLOPT_ERRORBUFFER, t.errorText)
        .set(CURLOPT_URL, c.url.toUtf8().constData())
        .set(CURLOPT_PROTOCOLS_STR, "smtp,smtps")
        .set(CURLOPT_NOSIGNAL, 1L) // we run on a worker thread
        .set(CURLOPT_USE_SSL,
             long(c.security == MailSecurity::None ? CURLUSESSL_NONE : CURLUSESSL_ALL))
        .set(CURLOPT_SSL_VERIFYPEER, 1L)
        .set(CURLOPT_SSL_VERIFYHOST, 2L)
        .set(CURLOPT_CONNECTTIMEOUT_MS, long(l.connectMs))
        .set(CURLOPT_SERVER_RESPONSE_TIMEOUT, long(l.replySeconds))
        .set(CURLOPT_LOW_SPEED_LIMIT, 1L)
        .set(CURLOPT_LOW_SPEED_TIME, long(l.stallSeconds))
        .set(CURLOPT_TIMEOUT_MS, long(std::min<qint64>(attemptMs, LONG_MAX)))
        // libcurl calls this at least once a second, also while it waits for the server.
        .set(CURLOPT_XFERINFOFUNCTION, &abortWhenCancelled)
        .set(CURLOPT_XFERINFODATA, &t)
        .set(CURLOPT_NOPROGRESS, 0L)
        .set(CURLOPT_DEBUGFUNCTION, &keepServerRefusal)
        .set(CURLOPT_DEBUGDATA, &t)
        .set(CURLOPT_VERBOSE, 1L);
    if (!c.user.isEmpty())
        o.set(CURLOPT_USERNAME, c.user.toUtf8().constData())
            .set(CURLOPT_PASSWORD, c.password.toUtf8().constData());
    if (!c.caFile.isEmpty()) {
        // CURLOPT_CAINFO would replace the system's authorities; the extra file is added to
        // them instead, so a private server and public ones both verify.
        bool ok = false;
        QByteArray bundle = readWhole(c.caFile, &ok);
        if (!ok)
            return MailStep::failure(
                MailErrorNumber::Failure,
                QStringLiteral("The certificate authority file %1 (\"CAFile\" in section [Mail] "
                               "of settings.ini) cannot be read.")
                    .arg(c.caFile));
        char* systemBundle = nullptr;
        if (curl_easy_getinfo(t.easy.get(), CURLINFO_CAINFO, &systemBundle) == CURLE_OK &&
            systemBundle) {
            bool systemOk = false;
            const QByteArray system = readWhole(QString::fromLocal8Bit(systemBundle), &systemOk);
            if (systemOk)
                bundle = system + '\n' + bundle;
        }
        curl_blob blob{bundle.data(), size_t(bundle.size()), CURL_BLOB_COPY};
        o.set(CURLOPT_CAINFO_BLOB, &blob);
    }
    return o.outcome();
}

} // namespace

QList<QByteArray> messageHeaderLines(const OutgoingMessage& message, const QDateTime& date) {
    QByteArray to;
    for (const Mailbox& recipient : message.to)
        to += (to.isEmpty() ? "" : ", ") + mailboxHeaderValue(recipient);
    return {
        headerField("From", mailboxHeaderValue(message.from)),
        headerField("To", to),
        headerField("Subject", unstructuredHeaderValue(message.subject, 8)),
        headerField("Date", dateHeaderValue(date)),
        headerField("Message-ID", newMessageId(message.from.address)),
        "MIME-Version: 1.0",
    };
}

MailStep checkSmtpLogin(const SmtpConnection& connection, const Cancellation* cancel) {
    if (connection.user.isEmpty())
        return {};
    Transfer t;
    if (MailStep step = prepare(t, connection, cancel, 0); !step)
        return step;
    // libcurl's connect phase for SMTP runs the greeting, EHLO, STARTTLS and AUTH.
    if (MailStep step = Options(t.easy.get()).set(CURLOPT_CONNECT_ONLY, 1L).outcome(); !step)
        return step;
    const CURLcode code = curl_easy_perform(t.easy.get());
    if (code != CURLE_OK)
        return failureOf(code, t);
    return {};
}

MailStep sendSmtpMessage(const SmtpConnection& connection, const OutgoingMessage& message,
                         const Cancellation* cancel) {
    const bool hasAttachment = !message.attachmentPath.isEmpty();
    const QString attachmentName = QFileInfo(message.attachmentPath).fileName();
    if (hasAttachment && !QFileInfo(message.attachmentPath).isFile())
        return MailStep::failure(MailErrorNumber::AttachmentNotFound,
                                 QStringLiteral("The ringtone %1 is not there to be attached.")
                                     .arg(message.attachmentPath));
    bool readOk = true;
    const QByteArray attachment =
        hasAttachment ? readWhole(message.attachmentPath, &readOk) : QByteArray();
    if (!readOk)
        return MailStep::failure(
            MailErrorNumber::AttachmentOpenFailure,
            QStringLiteral("The ringtone %1 cannot be read.").arg(message.attachmentPath));
    const QByteArray body = withCrlfLineEnds(message.body);

    Transfer t;
    // Base64 makes the attachment a third larger.
    const qint64 bytes = body.size() + attachment.size() * 4 / 3;
    if (MailStep step = prepare(t, connection, cancel, bytes); !step)
        return step;
    CURL* e = t.easy.get();
    const MailStep noMemory = MailStep::failure(MailErrorNumber::Failure,
                                                QStringLiteral("Not enough memory to send mail."));

    for (const Mailbox& recipient : message.to) {
        if (!appendToCurlList(t.recipients, ('<' + recipient.address.toLatin1() + '>').data()))
            return noMemory;
    }
    for (const QByteArray& line : messageHeaderLines(message, QDateTime::currentDateTime())) {
        if (!appendToCurlList(t.headers, line.constData()))
            return noMemory;
    }
    t.mime.reset(curl_mime_init(e));
    curl_mimepart* text = t.mime ? curl_mime_addpart(t.mime.get()) : nullptr;
    if (!text)
        return noMemory;
    Options o(e);
    o.set(CURLOPT_MAIL_FROM, ('<' + message.from.address.toLatin1() + '>').constData())
        .set(CURLOPT_MAIL_RCPT, t.recipients.get())
        .set(CURLOPT_HTTPHEADER, t.headers.get())
        .check(curl_mime_data(text, body.constData(), size_t(body.size())))
        .check(curl_mime_type(text, "text/plain; charset=UTF-8"))
        .check(curl_mime_encoder(text, "quoted-printable"));
    if (hasAttachment) {
        curl_mimepart* file = curl_mime_addpart(t.mime.get());
        CurlListPtr fileHeaders;
        if (!file ||
            !appendToCurlList(fileHeaders, headerField("Content-Disposition",
                                                       attachmentDisposition(attachmentName))
                                               .constData()))
            return noMemory;
        o.check(curl_mime_data(file, attachment.constData(), size_t(attachment.size())))
            .check(curl_mime_type(file, attachmentMediaType(attachmentName).constData()))
            .check(curl_mime_encoder(file, "base64"));
        // The part owns the list only once it took it.
        const CURLcode taken = curl_mime_headers(file, fileHeaders.get(), 1);
        if (taken == CURLE_OK)
            fileHeaders.release();
        o.check(taken);
    }
    o.set(CURLOPT_MIMEPOST, t.mime.get()).set(CURLOPT_UPLOAD, 1L);
    if (MailStep step = o.outcome(); !step)
        return step;

    const CURLcode code = curl_easy_perform(e);
    if (code != CURLE_OK)
        return failureOf(code, t);
    return {};
}

} // namespace chimora
