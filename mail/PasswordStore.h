#pragma once
// Where the mail password lives: never in the settings file. Within a run it is kept in
// memory (user-interface thread only); across runs only in the desktop keyring (the Secret
// Service, through libsecret), when one runs and the user asked for it.
//
// The keyring calls may wait a long time (the keyring asks the user to unlock it): call them
// off the user-interface thread. Each ends early, with nothing found or done, once `cancel` is
// cancelled.

#include "mail/Cancellation.h"

#include <QString>

#include <optional>

namespace chimora {

/// True when a keyring answers on the session bus now. Never starts one. Any thread.
bool keyringAvailable(const Cancellation* cancel = nullptr);

/// The password the keyring holds for `user` at `server`; none when it holds none, or when no
/// keyring runs. Any thread.
std::optional<QString> storedMailPassword(const QString& server, const QString& user,
                                          const Cancellation* cancel = nullptr);

/// Stores `password` in the keyring (when one runs). Any thread.
void storeMailPassword(const QString& server, const QString& user, const QString& password,
                       const Cancellation* cancel = nullptr);

/// Removes the keyring's password for `user` at `server`. Any thread.
void removeStoredMailPassword(const QString& server, const QString& user,
                              const Cancellation* cancel = nullptr);

/// The password kept for this run, if any. UI thread.
std::optional<QString> passwordOfThisRun(const QString& server, const QString& user);

/// Keeps `password` for this run. UI thread.
void keepPasswordForThisRun(const QString& server, const QString& user, const QString& password);

/// Forgets the password kept for this run (a refused login); the keyring keeps its own. UI
/// thread.
void forgetPasswordOfThisRun(const QString& server, const QString& user);

/// Forgets every password kept for this run (tests start each case afresh). UI thread.
void forgetMailPasswordsOfThisRun();

} // namespace chimora
