#include "mail/SmtpTransfer.h"

#include "mail/CurlPtr.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <mutex>

namespace chimora {

namespace {

void ensureCurlReady()
{
    // curl_global_init is not safe against other threads using curl; only this file uses curl,
    // and every use passes here first.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString serverName(const QString& url)
{
    const QUrl parsed(url);
    return parsed.port() > 0 ? parsed.host() + QLatin1Char(':') + QString::number(parsed.port())
                             : parsed.host();
}

QByteArray readWhole(const QString& path, bool* ok)
{
    QFile file(path);
    *ok = file.open(QIODevice::ReadOnly);
    if (!*ok)
        return {};
    QByteArray bytes = file.readAll();
    *ok = file.error() == QFileDevice::NoError;
    return bytes;
}

QByteArray withCrlfLineEnds(const QString& text)
{
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
};

MailStep failureOf(CURLcode code, const Transfer& t)
{
    long response = 0;
    curl_easy_getinfo(t.easy.get(), CURLINFO_RESPONSE_CODE, &response);
    const QString curlText = QString::fromUtf8(t.errorText[0] ? t.errorText
                                                              : curl_easy_strerror(code));
    const QString detail = QStringLiteral("libcurl error %1: %2; last server reply code %3")
                               .arg(int(code))
                               .arg(curlText)
                               .arg(response);
    using namespace MailErrorNumber;
    switch (code) {
    case CURLE_LOGIN_DENIED:
        return MailStep::failure(
            LoginFailure,
            QStringLiteral("The mail server %1 refused the user name or password.").arg(t.server),
            detail);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return MailStep::failure(Failure,
                                 QStringLiteral("The mail server %1 cannot be reached. Check the "
                                                "server and port of the mail account.")
                                     .arg(t.server),
                                 detail);
    case CURLE_OPERATION_TIMEDOUT:
        return MailStep::failure(
            Failure, QStringLiteral("The mail server %1 did not answer in time.").arg(t.server),
            detail);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
        return MailStep::failure(
            Failure,
            QStringLiteral("The certificate of the mail server %1 could not be verified. For a "
                           "private server, name its certificate authority file as \"CAFile\" "
                           "in section [Mail] of settings.ini.")
                .arg(t.server),
            detail);
    case CURLE_USE_SSL_FAILED:
        return MailStep::failure(
            Failure,
            QStringLiteral("The mail server %1 does not offer STARTTLS. Choose TLS, or no "
                           "encryption if you trust the network, in the mail account.")
                .arg(t.server),
            detail);
    default: break;
    }
    // libcurl says which command the server refused: "RCPT failed: 550".
    if (curlText.startsWith(QLatin1String("RCPT")))
        return MailStep::failure(
            UnknownRecipient,
            QStringLiteral("The mail server %1 refused the recipient (code %2). Check the "
                           "address.")
                .arg(t.server)
                .arg(response),
            detail);
    return MailStep::failure(
        Failure, QStringLiteral("Sending through the mail server %1 failed.").arg(t.server),
        detail);
}

// The options shared by the login check and the send: server, security, login, limits.
MailStep prepare(Transfer& t, const SmtpConnection& c)
{
    ensureCurlReady();
    t.easy.reset(curl_easy_init());
    if (!t.easy)
        return MailStep::failure(MailErrorNumber::Failure,
                                 QStringLiteral("Not enough memory to send mail."));
    t.server = serverName(c.url);
    CURL* e = t.easy.get();
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.errorText);
    curl_easy_setopt(e, CURLOPT_URL, c.url.toUtf8().constData());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L); // we run on a worker thread
    curl_easy_setopt(e, CURLOPT_USE_SSL,
                     long(c.security == MailSecurity::None ? CURLUSESSL_NONE : CURLUSESSL_ALL));
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(c.limits.connectMs));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT, long(c.limits.stallSeconds));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, long(c.limits.stallSeconds));
    if (!c.user.isEmpty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, c.user.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_PASSWORD, c.password.toUtf8().constData());
    }
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
        if (curl_easy_getinfo(e, CURLINFO_CAINFO, &systemBundle) == CURLE_OK && systemBundle) {
            bool systemOk = false;
            const QByteArray system = readWhole(QString::fromLocal8Bit(systemBundle), &systemOk);
            if (systemOk)
                bundle = system + '\n' + bundle;
        }
        curl_blob blob{bundle.data(), size_t(bundle.size()), CURL_BLOB_COPY};
        curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
    }
    return {};
}

} // namespace

QList<QByteArray> messageHeaderLines(const OutgoingMessage& message, const QDateTime& date)
{
    QByteArray to;
    for (const Mailbox& recipient : message.to)
        to += (to.isEmpty() ? "" : ",\r\n ") + mailboxHeaderValue(recipient);
    return {
        "From: " + mailboxHeaderValue(message.from),
        "To: " + to,
        "Subject: " + unstructuredHeaderValue(message.subject, 8),
        "Date: " + dateHeaderValue(date),
        "Message-ID: " + newMessageId(message.from.address),
        "MIME-Version: 1.0",
    };
}

MailStep checkSmtpLogin(const SmtpConnection& connection)
{
    if (connection.user.isEmpty())
        return {};
    Transfer t;
    if (MailStep step = prepare(t, connection); !step)
        return step;
    // libcurl's connect phase for SMTP runs the greeting, EHLO, STARTTLS and AUTH.
    curl_easy_setopt(t.easy.get(), CURLOPT_CONNECT_ONLY, 1L);
    const CURLcode code = curl_easy_perform(t.easy.get());
    if (code != CURLE_OK)
        return failureOf(code, t);
    return {};
}

MailStep sendSmtpMessage(const SmtpConnection& connection, const OutgoingMessage& message)
{
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
        return MailStep::failure(MailErrorNumber::AttachmentOpenFailure,
                                 QStringLiteral("The ringtone %1 cannot be read.")
                                     .arg(message.attachmentPath));

    Transfer t;
    if (MailStep step = prepare(t, connection); !step)
        return step;
    CURL* e = t.easy.get();
    const MailStep noMemory = MailStep::failure(MailErrorNumber::Failure,
                                                QStringLiteral("Not enough memory to send mail."));

    curl_easy_setopt(e, CURLOPT_MAIL_FROM, ('<' + message.from.address.toLatin1() + '>').data());
    for (const Mailbox& recipient : message.to) {
        if (!appendToCurlList(t.recipients, ('<' + recipient.address.toLatin1() + '>').data()))
            return noMemory;
    }
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, t.recipients.get());

    for (const QByteArray& line : messageHeaderLines(message, QDateTime::currentDateTime())) {
        if (!appendToCurlList(t.headers, line.constData()))
            return noMemory;
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers.get());

    t.mime.reset(curl_mime_init(e));
    if (!t.mime)
        return noMemory;
    curl_mimepart* text = curl_mime_addpart(t.mime.get());
    if (!text)
        return noMemory;
    const QByteArray body = withCrlfLineEnds(message.body);
    curl_mime_data(text, body.constData(), size_t(body.size()));
    curl_mime_type(text, "text/plain; charset=UTF-8");
    curl_mime_encoder(text, "quoted-printable");
    if (hasAttachment) {
        curl_mimepart* file = curl_mime_addpart(t.mime.get());
        CurlListPtr fileHeaders;
        if (!file || !appendToCurlList(fileHeaders, ("Content-Disposition: " +
                                                     attachmentDisposition(attachmentName))
                                                        .constData()))
            return noMemory;
        curl_mime_data(file, attachment.constData(), size_t(attachment.size()));
        curl_mime_type(file, attachmentMediaType(attachmentName).constData());
        curl_mime_encoder(file, "base64");
        curl_mime_headers(file, fileHeaders.release(), 1);
    }
    curl_easy_setopt(e, CURLOPT_MIMEPOST, t.mime.get());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);

    const CURLcode code = curl_easy_perform(e);
    if (code != CURLE_OK)
        return failureOf(code, t);
    return {};
}

} // namespace chimora
