#pragma once
// The wizard's second page: the waveform editor with its toolbar, and the choice between the
// whole song and the selected section.

#include <QIcon>
#include <QList>
#include <QWidget>

class QComboBox;
class QToolBar;
class QToolButton;

namespace chimora {

class AudioEditor;

class EditingPage : public QWidget {
    Q_OBJECT
public:
    explicit EditingPage(QWidget* parent);

    /// Fills Combo1 with its two entries and selects the whole song.
    void fillSectionChoice();

    /// The editor's display and behaviour settings the wizard starts with.
    void applyEditorStartSettings();

    /// Editor command sent by the toolbar button at `index` (1 to 14); 0 for separators and
    /// indexes outside the toolbar.
    static int toolbarCommand(int index);

    QToolBar* Toolbar1 = nullptr;         // editor commands
    QComboBox* Combo1 = nullptr;          // whole song or selected section
    AudioEditor* AE = nullptr;            // the waveform editor
    QToolButton* SuggestButton = nullptr; // selects a suggested section (AE's action)

    QList<QIcon> ImageList2; // editor toolbar

public slots:
    void Toolbar1_ButtonClick(int index);
};

} // namespace chimora
