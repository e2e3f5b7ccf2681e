#pragma once
// Helpers for the wizard tests: whole-file reads and writes, and answering the modal dialogs
// the wizard opens, as a user would.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QLabel;

namespace wizardtest {

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

/// Answers the next file dialog: types `answer` into its name field and presses Enter, or
/// cancels when `answer` is empty. Records what the dialog showed.
struct FileDialogAnswer {
    QString answer;
    bool seen = false;
    QString title;
    QStringList filters;
    QString prefilled; ///< the name field's text when the dialog opened

    void arm(const QString& path);

private:
    void poll();
    QObject m_context; ///< pending polls end with the answerer
};

/// The text a label shows (as a screen reader gets it): markup in a rich-text label is gone.
QString shownText(const QLabel* label);

/// Accepts the next message box and records its title and text, as given and as shown.
struct MessageBoxAnswer {
    QString title;
    QString text;
    QString shown;

    void arm();

private:
    void poll();
    QObject m_context; ///< pending polls end with the answerer
};

} // namespace wizardtest
