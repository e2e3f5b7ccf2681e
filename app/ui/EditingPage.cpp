#include "app/ui/EditingPage.h"

#include "app/ui/Twips.h"
#include "app/ui/WidgetMakers.h"
#include "platform/editor/ui/AudioEditor.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QToolBar>
#include <QToolButton>

#include <array>

namespace chimora {

namespace {

struct ToolbarEntry {
    const char* toolTip; // nullptr for a separator
    const char* image;
    int command;
};

// Index 1 to 14 of the editor toolbar.
constexpr std::array<ToolbarEntry, 14> ToolbarEntries = {{
    {"Play", "play", 10},
    {"Pause", "pause", 13},
    {"Stop", "stop", 12},
    {nullptr, nullptr, 0},
    {"Undo", "undo", 30},
    {"Redo", "redo", 31},
    {nullptr, nullptr, 0},
    {"Copy", "copy", 40},
    {"Cut", "cut", 41},
    {"Paste", "paste", 42},
    {"Remove", "remove", 48},
    {nullptr, nullptr, 0},
    {"Zoom in", "zoom-in", 20},
    {"Zoom out", "zoom-out", 21},
}};

} // namespace

EditingPage::EditingPage(QWidget* parent) : QWidget(parent) {
    for (const ToolbarEntry& e : ToolbarEntries) {
        if (e.image)
            ImageList2.append(
                QIcon(QStringLiteral(":/toolbar/%1.svg").arg(QLatin1String(e.image))));
    }

    Toolbar1 = new QToolBar(this);
    Toolbar1->setObjectName(QStringLiteral("Toolbar1"));
    Toolbar1->setIconSize(QSize(22, 22));
    place(Toolbar1, 120, 360, 5895, 510);
    int image = 0;
    for (int index = 1; index <= int(ToolbarEntries.size()); ++index) {
        const ToolbarEntry& e = ToolbarEntries[index - 1];
        if (!e.toolTip) {
            Toolbar1->addSeparator();
            continue;
        }
        QAction* action =
            Toolbar1->addAction(ImageList2.value(image++), QString::fromLatin1(e.toolTip));
        action->setToolTip(QString::fromLatin1(e.toolTip));
        action->setObjectName(QStringLiteral("Toolbar1_%1").arg(index));
        connect(action, &QAction::triggered, this, [this, index] { Toolbar1_ButtonClick(index); });
    }
    for (QToolButton* b : Toolbar1->findChildren<QToolButton*>())
        b->setFocusPolicy(Qt::TabFocus);

    Combo1 = makeList(this, "Combo1", QStringLiteral("Part of the song to use"));
    place(Combo1, 6240, 460, 2895, 315);

    AE = new AudioEditor(this);
    AE->setObjectName(QStringLiteral("AE"));
    place(AE, 120, 960, 9015, 4335);

    // In the free strip above the section choice, so no control of the page moves.
    SuggestButton = new QToolButton(this);
    SuggestButton->setObjectName(QStringLiteral("SuggestButton"));
    SuggestButton->setDefaultAction(AE->suggestAction());
    SuggestButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    SuggestButton->setAccessibleName(QStringLiteral("Suggest a section"));
    SuggestButton->setFocusPolicy(Qt::TabFocus);
    place(SuggestButton, 6240, 60, 2895, 315);
}

void EditingPage::fillSectionChoice() {
    Combo1->addItems({QStringLiteral("Use the entire song as ringtone"),
                      QStringLiteral("Use just the following song section:")});
    Combo1->setCurrentIndex(0);
    // The open list is as wide as its longest entry, even where the box is narrower.
    Combo1->view()->setMinimumWidth(Combo1->view()->sizeHintForColumn(0) + 8);
}

void EditingPage::applyEditorStartSettings() {
    AE->displayOption()->setValue(2);
    AE->behaviourOption()->setValue(3);
}

int EditingPage::toolbarCommand(int index) {
    if (index < 1 || index > int(ToolbarEntries.size()))
        return 0;
    return ToolbarEntries[index - 1].command;
}

void EditingPage::Toolbar1_ButtonClick(int index) {
    if (const int command = toolbarCommand(index))
        AE->invoke(command);
}

} // namespace chimora
