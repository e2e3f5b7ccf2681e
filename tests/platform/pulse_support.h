#pragma once
// For tests that must show that something does not happen while the audio server runs on:
// instead of sleeping, they wait until the server has played a short sound of its own.

namespace pulsetest {

/// Plays a quarter second of silence on a player of its own and returns once the server has
/// played and drained it (false when it could not). Everything the server does for other
/// streams in that time has happened when this returns.
bool letServerPlayBriefly();

} // namespace pulsetest
