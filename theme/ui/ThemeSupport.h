#pragma once
// Picture buttons that follow the application's style. FixThemeSupport hands every picture
// button of a window to a painter that draws it as the current style draws a push button (hot
// under the pointer, pressed, defaulted while focused, disabled with its picture embossed) with
// the picture centred above the caption. Everything else is left as it is.

#include <QList>

class QWidget;

namespace chimora {

/// Gives the themed painter to each picture button among `controls`: a push button, option
/// button or check box that carries an icon. Tool buttons, frames, buttons without an icon and
/// every other control are left alone; so is a button that already has the painter. The
/// painter asks afresh at every paint whether themed drawing applies and otherwise leaves the
/// button to paint itself. Returns false, changing nothing, when no widget application with a
/// style runs. UI thread only. The painter lives as long as its button.
bool FixThemeSupport(const QList<QWidget*>& controls);

/// True when a widget application runs whose style can draw push-button panels.
bool IsComCtl6Loaded();

} // namespace chimora
