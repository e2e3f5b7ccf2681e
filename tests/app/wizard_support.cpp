#include "wizard_support.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace wizardtest {

QByteArray readFile(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

void FileDialogAnswer::arm(const QString& path) {
    answer = path;
    seen = false;
    QTimer::singleShot(30, &m_context, [this] { poll(); });
}

void FileDialogAnswer::poll() {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
        QTimer::singleShot(20, &m_context, [this] { poll(); });
        return;
    }
    seen = true;
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    prefilled = name ? name->text() : QString();
    if (answer.isEmpty() || !name) {
        dialog->reject();
        return;
    }
    name->setText(answer);
    QTest::keyClick(name, Qt::Key_Return);
}

QString shownText(const QLabel* label) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(const_cast<QLabel*>(label));
    return a ? a->text(QAccessible::Name) : QString();
}

void MessageBoxAnswer::arm() {
    QTimer::singleShot(50, &m_context, [this] { poll(); });
}

void MessageBoxAnswer::poll() {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        title = box->windowTitle();
        text = box->text();
        shown = shownText(box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")));
        box->accept();
        return;
    }
    QTimer::singleShot(20, &m_context, [this] { poll(); });
}

} // namespace wizardtest
