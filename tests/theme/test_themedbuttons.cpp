// Picture buttons drawn by the themed painter, rendered to images under two of Qt's styles and
// compared: the looks differ where they should, the picture sits centred above its caption and
// embossed when disabled, a style change repaints with the new style, and nothing but picture
// buttons is touched.
#include "theme/ui/ThemeSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>

using namespace chimora;

namespace {

QIcon square(QColor colour) {
    QPixmap p(20, 20);
    p.fill(colour);
    return QIcon(p);
}

void setHot(QWidget* w, bool hot) {
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(w, hot ? static_cast<QEvent*>(&enter) : &leave);
}

QImage shot(QWidget* w) {
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels of one colour.
QRect inkOf(const QImage& image, QRgb colour) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) == (colour | 0xFF000000))
                box |= QRect(x, y, 1, 1);
    return box;
}

// A shown, active window with a red picture button the size of the wizard's, and a plain
// button to take the focus away.
struct Window {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("Save as file"), &window);
    QPushButton* other = new QPushButton(QStringLiteral("Other"), &window);

    Window() {
        window.resize(300, 200);
        button->setGeometry(10, 10, 97, 97);
        button->setIconSize(QSize(48, 48));
        button->setIcon(square(Qt::red));
        other->setGeometry(150, 10, 80, 25);
    }
    bool show() {
        FixThemeSupport({button, other});
        window.show();
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
};

} // namespace

class TestThemedButtons : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QApplication::setStyle(QStringLiteral("fusion")); }

    void looksDifferWhereTheyShould_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("look");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("same");
        for (const char* style : {"fusion", "windows"}) {
            const QString s = QString::fromLatin1(style);
            auto row = [&](const char* look, const char* reference, bool same) {
                QTest::addRow("%s: %s", style, look) << s << look << reference << same;
            };
            row("disabled", "normal", false);
            row("pressed", "normal", false);
            row("hot", "normal", s == "windows"); // the windows style has no hover look
            row("hot pressed", "pressed", true);  // held down wins over hot
            row("default", "normal", true);       // defaulted only while focused
            row("default focused", "normal", false);
        }
    }

    void looksDifferWhereTheyShould() {
        QFETCH(QString, style);
        QFETCH(QString, look);
        QFETCH(QString, reference);
        QFETCH(bool, same);
        QApplication::setStyle(style);
        Window w;
        QVERIFY(w.show());
        auto render = [&](const QString& states) {
            // Focus first: a button losing the focus is released.
            (states.contains("focused") ? w.button : w.other)->setFocus();
            w.button->setEnabled(!states.contains("disabled"));
            w.button->setDown(states.contains("pressed"));
            w.button->setDefault(states.contains("default"));
            setHot(w.button, states.contains("hot"));
            return shot(w.button);
        };
        QCOMPARE(render(look) == render(reference), same);
    }

    void selectedOptionUnderPointerShowsHotLookAndDownPicture_data() {
        QTest::addColumn<bool>("hasDownPicture");
        QTest::newRow("down picture") << true;
        QTest::newRow("no down picture") << false;
    }

    void selectedOptionUnderPointerShowsHotLookAndDownPicture() {
        QFETCH(bool, hasDownPicture);
        QWidget window;
        auto* selected = new QRadioButton(QStringLiteral("MP3"), &window);
        auto* reference = new QRadioButton(QStringLiteral("MP3"), &window);
        QIcon icon = square(Qt::red);
        if (hasDownPicture)
            icon.addPixmap(square(Qt::blue).pixmap(20, 20), QIcon::Normal, QIcon::On);
        selected->setIcon(icon);
        // Unselected, with the picture the selected one should show as its everyday one.
        reference->setIcon(square(hasDownPicture ? Qt::blue : Qt::red));
        reference->setAutoExclusive(false);
        reference->move(100, 0);
        for (QRadioButton* b : {selected, reference})
            b->resize(97, 97);
        selected->setChecked(true);
        FixThemeSupport({selected, reference});
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        setHot(selected, false); // whatever the pointer did while the window appeared
        const QImage pressedLook = shot(selected);
        setHot(selected, true);
        setHot(reference, true);
        QCOMPARE(shot(selected), shot(reference));
        QVERIFY(shot(selected) != pressedLook);
    }

    void pictureCentredAboveCaption_data() {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("enabled");
        const QString caption = QStringLiteral("ActiveSync transfer");
        for (const char* style : {"fusion", "windows"}) {
            const QString s = QString::fromLatin1(style);
            QTest::addRow("%s: no caption", style) << s << QString() << true;
            QTest::addRow("%s: caption", style) << s << caption << true;
            QTest::addRow("%s: disabled", style) << s << caption << false;
        }
    }

    // The picture is found by its colour: red, or the shadow colour once embossed.
    void pictureCentredAboveCaption() {
        QFETCH(QString, style);
        QFETCH(QString, caption);
        QFETCH(bool, enabled);
        QApplication::setStyle(style);
        Window w;
        w.button->setText(caption);
        w.button->setEnabled(enabled);
        QVERIFY(w.show());
        const QImage image = shot(w.button);
        const QRgb shadow = w.button->palette().color(QPalette::Active, QPalette::Dark).rgb();
        const QRect picture = inkOf(image, enabled ? qRgb(255, 0, 0) : shadow);
        QCOMPARE(picture.size(), QSize(20, 20));
        QCOMPARE(inkOf(image, qRgb(255, 0, 0)).isEmpty(), !enabled);
        const int left = picture.left(), right = image.width() - 1 - picture.right();
        QVERIFY2(qAbs(left - right) <= 1, qPrintable(QString("%1 vs %2").arg(left).arg(right)));
        // Centred in the whole panel without a caption, in the space above it with one.
        const int above = picture.top(), below = image.height() - 1 - picture.bottom();
        QVERIFY2(caption.isEmpty() ? qAbs(above - below) <= 1 : below > above + 10,
                 qPrintable(QString("%1 vs %2").arg(above).arg(below)));
    }

    void styleChangeRepaintsWithNewStyle() {
        Window w;
        QVERIFY(w.show());
        const QImage fusion = shot(w.button);
        struct PaintCounter : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override {
                paints += e->type() == QEvent::Paint;
                return false;
            }
        } counter;
        w.button->installEventFilter(&counter);
        QApplication::setStyle(QStringLiteral("windows"));
        QTRY_VERIFY(counter.paints > 0);
        w.button->removeEventFilter(&counter);
        const QImage windows = shot(w.button);
        QVERIFY(windows != fusion);
        Window fresh; // made under the new style
        QVERIFY(fresh.show());
        QCOMPARE(windows, shot(fresh.button));
    }

    void otherControlsUntouched_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("same");
        QTest::newRow("button without a picture") << "plain" << true;
        QTest::newRow("tool button with a picture") << "tool" << true;
        QTest::newRow("frame holding a plain button") << "frame" << true;
        QTest::newRow("picture button under a style sheet") << "sheet" << true;
        QTest::newRow("picture button, which does change") << "picture" << false;
    }

    void otherControlsUntouched() {
        QFETCH(QString, kind);
        QFETCH(bool, same);
        QWidget window;
        QWidget* control = nullptr;
        if (kind == "tool") {
            auto* tool = new QToolButton(&window);
            tool->setIcon(square(Qt::red));
            control = tool;
        } else if (kind == "frame") {
            auto* frame = new QFrame(&window);
            frame->setFrameShape(QFrame::Box);
            new QPushButton(QStringLiteral("Cancel"), frame);
            control = frame;
        } else {
            auto* button = new QPushButton(QStringLiteral("Open audio file"), &window);
            if (kind != "plain")
                button->setIcon(square(Qt::red));
            if (kind == "sheet")
                button->setStyleSheet(QStringLiteral("QPushButton { color: navy; }"));
            control = button;
        }
        control->resize(97, 97);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QImage before = shot(control);
        QVERIFY(FixThemeSupport(window.findChildren<QWidget*>()));
        for (QWidget* w : window.findChildren<QWidget*>())
            setHot(w, true);
        QCOMPARE(shot(control) == before, same);
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("fusion"));
    TestThemedButtons test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_themedbuttons.moc"
