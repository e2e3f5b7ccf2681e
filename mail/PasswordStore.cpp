// libsecret's headers come first: GLib's use of the name "signals" clashes with Qt's keyword.
#include <libsecret/secret.h>

#include "mail/PasswordStore.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QDebug>

namespace chimora {

namespace {

const SecretSchema* passwordSchema()
{
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

QHash<QString, QString>& passwordsOfThisRun()
{
    static QHash<QString, QString> passwords;
    return passwords;
}

QString runKey(const QString& server, const QString& user)
{
    return server + QChar(0) + user;
}

} // namespace

bool keyringAvailable()
{
    // Without a session bus address GLib would try to autolaunch a bus; don't.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty() &&
        (runtime.isEmpty() || !QFileInfo::exists(QDir(QString::fromLocal8Bit(runtime))
                                                     .filePath(QStringLiteral("bus")))))
        return false;
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus) {
        g_clear_error(&error);
        return false;
    }
    // Asking only whether the name has an owner never activates a keyring service.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", "org.freedesktop.secrets"), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 1000, nullptr, &error);
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

std::optional<QString> findMailPassword(const QString& server, const QString& user)
{
    const auto kept = passwordsOfThisRun().constFind(runKey(server, user));
    if (kept != passwordsOfThisRun().constEnd())
        return *kept;
    if (!keyringAvailable())
        return std::nullopt;
    GError* error = nullptr;
    gchar* stored = secret_password_lookup_sync(passwordSchema(), nullptr, &error, "server",
                                                server.toUtf8().constData(), "user",
                                                user.toUtf8().constData(), nullptr);
    if (error) {
        qWarning("Reading the mail password from the keyring failed: %s", error->message);
        g_error_free(error);
    }
    if (!stored)
        return std::nullopt;
    const QString password = QString::fromUtf8(stored);
    secret_password_free(stored);
    passwordsOfThisRun().insert(runKey(server, user), password);
    return password;
}

void keepMailPassword(const QString& server, const QString& user, const QString& password,
                      bool remember)
{
    passwordsOfThisRun().insert(runKey(server, user), password);
    if (!keyringAvailable())
        return;
    GError* error = nullptr;
    const QByteArray serverUtf8 = server.toUtf8(), userUtf8 = user.toUtf8();
    if (remember) {
        const QByteArray label = "Chimora mail password for " + userUtf8 + " at " + serverUtf8;
        secret_password_store_sync(passwordSchema(), SECRET_COLLECTION_DEFAULT, label.constData(),
                                   password.toUtf8().constData(), nullptr, &error, "server",
                                   serverUtf8.constData(), "user", userUtf8.constData(), nullptr);
    } else {
        secret_password_clear_sync(passwordSchema(), nullptr, &error, "server",
                                   serverUtf8.constData(), "user", userUtf8.constData(), nullptr);
    }
    if (error) {
        qWarning("Updating the mail password in the keyring failed: %s", error->message);
        g_error_free(error);
    }
}

void forgetMailPassword(const QString& server, const QString& user)
{
    passwordsOfThisRun().remove(runKey(server, user));
    if (!keyringAvailable())
        return;
    GError* error = nullptr;
    secret_password_clear_sync(passwordSchema(), nullptr, &error, "server",
                               server.toUtf8().constData(), "user", user.toUtf8().constData(),
                               nullptr);
    if (error)
        g_error_free(error);
}

void forgetMailPasswordsOfThisRun()
{
    passwordsOfThisRun().clear();
}

} // namespace chimora
