#pragma once
// The settings the options page shows: RingtoneName in Text1, FormatCode in Option1..3,
// SampleRateIndex, BitrateIndex and ChannelsIndex as positions in Combo2, Combo3 and Combo4;
// and the render's fades and loudness, kept in their own section "Render" of the settings file
// (keys FadeIn, FadeOut and EvenLoudness 0 or 1, FadeSeconds a number of seconds).

namespace chimora {

class OptionsPage;

/// Shows the saved values on the page, whose lists are already filled. A FormatCode other than
/// 0, 1 or 2 leaves the format options as they are; an index outside its list leaves the list
/// without a selection. The fades and loudness are read from their section of the settings
/// file: missing keys leave them off, and a fade length outside 0.1 to 5 s is brought inside.
void showSavedChoices(OptionsPage& page);

/// Copies the page's choices into the settings values (without writing them to the settings
/// file). With no format option set, FormatCode keeps its value. The fades and loudness, which
/// have no settings value, are written straight to their section of the settings file, leaving
/// every other section and key as it is; nothing is written while SettingsFile is empty.
void keepChoices(const OptionsPage& page);

} // namespace chimora
