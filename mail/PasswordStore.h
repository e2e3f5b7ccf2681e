#pragma once
// Where the mail password lives: never in the settings file. Within a run it is kept in
// memory; across runs only in the desktop keyring (the Secret Service, through libsecret),
// when one runs and the user asked for it. UI thread only.

#include <QString>

#include <optional>

namespace chimora {

/// True when a keyring answers on the session bus now. Never starts one.
bool keyringAvailable();

/// The password for `user` at `server`: the one kept for this run, else the keyring's.
std::optional<QString> findMailPassword(const QString& server, const QString& user);

/// Keeps `password` for this run. With `remember`, also stores it in the keyring (when one
/// runs); without, removes any stored one, so an unticked "Remember password" forgets it.
void keepMailPassword(const QString& server, const QString& user, const QString& password,
                      bool remember);

/// Forgets the password for this run (a refused login); the keyring's entry is removed too.
void forgetMailPassword(const QString& server, const QString& user);

/// Forgets every password kept for this run (tests start each case afresh).
void forgetMailPasswordsOfThisRun();

} // namespace chimora
