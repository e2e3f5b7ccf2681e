#pragma once
// Makers for the controls the wizard's pages share in kind: each control gets its given name as
// its objectName.

#include <QPixmap>
#include <QSize>
#include <QString>

class QComboBox;
class QLabel;
class QWidget;

namespace chimora {

class PictureButton;

/// The SVG resource drawn at `size` pixels on a transparent background.
QPixmap renderSvg(const QString& resource, QSize size);

QLabel* makeLabel(QWidget* page, const char* name, const QString& text, bool bold = false);
PictureButton* makePictureButton(QWidget* page, const char* name, const QString& caption);
/// A non-editable list; `accessibleName` is what screen readers call it.
QComboBox* makeList(QWidget* page, const char* name, const QString& accessibleName);

} // namespace chimora
