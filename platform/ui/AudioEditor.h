#pragma once
// Temporary stand-in with the editor's interface; replaced by the real editor widget.
#include "platform/Result.h"
#include <QWidget>
namespace chimora {
class EditorFormat {
public:
    void setFormat(int, int, int) {}
};
class EditorOption {
public:
    void setValue(int) {}
};
class AudioEditor : public QWidget {

public:
    explicit AudioEditor(QWidget* parent = nullptr) : QWidget(parent) {}
    void load(const QString&) {}
    Result<void> save(const QString&, bool, int) { return Error::internal(QStringLiteral("no editor")); }
    EditorFormat* format() { return &m_format; }
    EditorOption* displayOption() { return &m_a; }
    EditorOption* behaviourOption() { return &m_b; }
    bool invoke(int) { return false; }
private:
    EditorFormat m_format;
    EditorOption m_a, m_b;
};
}
