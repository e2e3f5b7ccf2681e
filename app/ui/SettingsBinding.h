#pragma once
// The settings the options page shows: RingtoneName in Text1, FormatCode in Option1..3,
// SampleRateIndex, BitrateIndex and ChannelsIndex as positions in Combo2, Combo3 and Combo4.

namespace chimora {

class OptionsPage;

/// Shows the saved values on the page, whose lists are already filled. A FormatCode other than
/// 0, 1 or 2 leaves the format options as they are; an index outside its list leaves the list
/// without a selection.
void showSavedChoices(OptionsPage& page);

/// Copies the page's choices into the settings values (without writing the settings file).
/// With no format option set, FormatCode keeps its value.
void keepChoices(const OptionsPage& page);

} // namespace chimora
