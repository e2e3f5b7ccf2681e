// libsecret's headers come first: GLib's use of the name "signals" clashes with Qt's keyword.
#include <libsecret/secret.h>

#include "mail/PasswordStore.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace chimora {

namespace {

const SecretSchema* passwordSchema() {
    static const SecretSchema schema = {
        "org.chimora.MailPassword",
        SECRET_SCHEMA_NONE,
        {
            {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
    };
    return &schema;
}

QHash<QString, QString>& passwordsOfThisRun() {
    static QHash<QString, QString> passwords;
    return passwords;
}

QString runKey(const QString& server, const QString& user) {
    return server + QChar(0) + user;
}

// A GCancellable that follows a Cancellation for as long as one keyring call runs.
class CallCancellable {
public:
    explicit CallCancellable(const Cancellation* cancel) : m_cancellable(g_cancellable_new()) {
        if (cancel) {
            GCancellable* c = m_cancellable;
            m_hook = cancel->onCancel([c] { g_cancellable_cancel(c); });
        }
    }
    ~CallCancellable() {
        m_hook.reset(); // no hook runs past here
        g_object_unref(m_cancellable);
    }
    CallCancellable(const CallCancellable&) = delete;
    CallCancellable& operator=(const CallCancellable&) = delete;
    GCancellable* get() const { return m_cancellable; }

private:
    GCancellable* m_cancellable;
    std::shared_ptr<void> m_hook;
};

// Logs a keyring failure other than a cancel, and frees it.
void reportKeyringError(GError* error, const char* what) {
    if (!error)
        return;
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED))
        qWarning("%s the mail password in the keyring failed: %s", what, error->message);
    g_error_free(error);
}

} // namespace

bool keyringAvailable(const Cancellation* cancel) {
    // Without a session bus address GLib would try to autolaunch a bus; don't.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty() &&
        (runtime.isEmpty() ||
         !QFileInfo::exists(QDir(QString::fromLocal8Bit(runtime)).filePath(QStringLiteral("bus")))))
        return false;
    const CallCancellable cancellable(cancel);
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, cancellable.get(), &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    // Asking only whether the name has an owner never activates a keyring service.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 1000, cancellable.get(), &error);
    bool owned = false;
    if (reply) {
        gboolean value = FALSE;
        g_variant_get(reply, "(b)", &value);
        owned = value;
        g_variant_unref(reply);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return owned;
}

std::optional<QString> storedMailPassword(const QString& server, const QString& user,
                                          const Cancellation* cancel) {
    if (!keyringAvailable(cancel))
        return std::nullopt;
    const CallCancellable cancellable(cancel);
    GError* error = nullptr;
    gchar* stored = secret_password_lookup_sync(passwordSchema(), cancellable.get(), &error,
                                                "server", server.toUtf8().constData(), "user",
                                                user.toUtf8().constData(), nullptr);
    reportKeyringError(error, "Reading");
    if (!stored)
        return std::nullopt;
    const QString password = QString::fromUtf8(stored);
    secret_password_free(stored);
    return password;
}

void storeMailPassword(const QString& server, const QString& user, const QString& password,
                       const Cancellation* cancel) {
    if (!keyringAvailable(cancel))
        return;
    const CallCancellable cancellable(cancel);
    GError* error = nullptr;
    const QByteArray serverUtf8 = server.toUtf8(), userUtf8 = user.toUtf8();
    const QByteArray label = "Chimora mail password for " + userUtf8 + " at " + serverUtf8;
    secret_password_store_sync(passwordSchema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                               password.toUtf8().constData(), cancellable.get(), &error, "server",
                               serverUtf8.constData(), "user", userUtf8.constData(), nullptr);
    reportKeyringError(error, "Storing");
}

void removeStoredMailPassword(const QString& server, const QString& user,
                              const Cancellation* cancel) {
    if (!keyringAvailable(cancel))
        return;
    const CallCancellable cancellable(cancel);
    GError* error = nullptr;
    secret_password_clear_sync(passwordSchema(), cancellable.get(), &error, "server",
                               server.toUtf8().constData(), "user", user.toUtf8().constData(),
                               nullptr);
    reportKeyringError(error, "Removing");
}

std::optional<QString> passwordOfThisRun(const QString& server, const QString& user) {
    const auto kept = passwordsOfThisRun().constFind(runKey(server, user));
    if (kept == passwordsOfThisRun().constEnd())
        return std::nullopt;
    return *kept;
}

void keepPasswordForThisRun(const QString& server, const QString& user, const QString& password) {
    passwordsOfThisRun().insert(runKey(server, user), password);
}

void forgetPasswordOfThisRun(const QString& server, const QString& user) {
    passwordsOfThisRun().remove(runKey(server, user));
}

void forgetMailPasswordsOfThisRun() {
    passwordsOfThisRun().clear();
}

} // namespace chimora
