// Picture buttons drawn by the themed painter, rendered to images under two of Qt's styles and
// compared: the looks differ where they should, the picture sits centred above its caption,
// a style change repaints with the new style, and nothing but picture buttons is touched.
#include "theme/ui/ThemeSupport.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFrame>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleFactory>
#include <QToolButton>
#include <QtTest>

using namespace chimora;

namespace {

QPixmap square(QColor colour, int size = 20)
{
    QPixmap p(size, size);
    p.fill(colour);
    return p;
}

void setHot(QWidget* w, bool hot)
{
    if (hot) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
        QApplication::sendEvent(w, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w, &leave);
    }
}

QImage shot(QWidget* w)
{
    return w->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Bounding box of the pixels of one colour.
QRect inkOf(const QImage& image, QRgb colour)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF))
                box |= QRect(x, y, 1, 1);
    return box;
}

// A shown window with a picture button the size of the wizard's, and a plain button to take the
// focus away.
struct Window {
    QWidget window;
    QPushButton* button = new QPushButton(QStringLiteral("Save as file"), &window);
    QPushButton* other = new QPushButton(QStringLiteral("Other"), &window);

    Window()
    {
        window.resize(300, 200);
        button->setGeometry(10, 10, 97, 97);
        button->setIconSize(QSize(48, 48));
        button->setIcon(QIcon(square(Qt::red)));
        other->setGeometry(150, 10, 80, 25);
    }
    bool show()
    {
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

    void looksDifferWhereTheyShould_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("look");
        QTest::addColumn<QString>("reference");
        QTest::addColumn<bool>("same");
        for (const char* style : {"fusion", "windows"}) {
            const QString s = QString::fromLatin1(style);
            auto row = [&](const char* name) -> QTestData& {
                return QTest::addRow("%s: %s", style, name) << s;
            };
            row("disabled") << "disabled" << "normal" << false;
            row("pressed") << "pressed" << "normal" << false;
            // The windows style has no hover look of its own; fusion has one.
            row("hot") << "hot" << "normal" << (s == "windows");
            row("pressed under the pointer") << "hot pressed" << "pressed" << true;
            row("default without focus") << "default" << "normal" << true;
            row("default with focus") << "default focused" << "normal" << false;
        }
    }

    void looksDifferWhereTheyShould()
    {
        QFETCH(QString, style);
        QFETCH(QString, look);
        QFETCH(QString, reference);
        QFETCH(bool, same);
        QApplication::setStyle(style);
        Window w;
        QVERIFY(FixThemeSupport({w.button, w.other}));
        QVERIFY(w.show());
        auto render = [&](const QString& states) {
            // Focus first: a button losing the focus is released.
            if (states.contains("focused"))
                w.button->setFocus();
            else
                w.other->setFocus();
            w.button->setEnabled(!states.contains("disabled"));
            w.button->setDown(states.contains("pressed"));
            w.button->setDefault(states.contains("default"));
            setHot(w.button, states.contains("hot"));
            return shot(w.button);
        };
        const QImage a = render(look);
        const QImage b = render(reference);
        QCOMPARE(a == b, same);
    }

    void disabledPictureIsEmbossed()
    {
        Window w;
        FixThemeSupport({w.button});
        QVERIFY(w.show());
        w.button->setEnabled(false);
        const QImage image = shot(w.button);
        QVERIFY(inkOf(image, qRgb(255, 0, 0)).isEmpty());
        const QRect shadow = inkOf(image, w.button->palette().color(QPalette::Active, QPalette::Dark).rgb());
        QCOMPARE(shadow.size(), QSize(20, 20));
    }

    void selectedOptionUnderPointerShowsHotLookAndDownPicture_data()
    {
        QTest::addColumn<bool>("hasDownPicture");
        QTest::newRow("down picture") << true;
        QTest::newRow("no down picture") << false;
    }

    void selectedOptionUnderPointerShowsHotLookAndDownPicture()
    {
        QFETCH(bool, hasDownPicture);
        QWidget window;
        auto* selected = new QRadioButton(QStringLiteral("MP3"), &window);
        auto* reference = new QRadioButton(QStringLiteral("MP3"), &window);
        QIcon icon(square(Qt::red));
        if (hasDownPicture)
            icon.addPixmap(square(Qt::blue), QIcon::Normal, QIcon::On);
        selected->setIcon(icon);
        // The same button unselected, whose everyday picture is what the selected one shows.
        reference->setIcon(QIcon(square(hasDownPicture ? Qt::blue : Qt::red)));
        reference->setAutoExclusive(false);
        for (QRadioButton* b : {selected, reference}) {
            b->setIconSize(QSize(48, 48));
            b->resize(97, 97);
        }
        reference->move(100, 0);
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

    void pictureCentredAboveCaption_data()
    {
        QTest::addColumn<QString>("style");
        QTest::addColumn<QString>("caption");
        for (const char* style : {"fusion", "windows"}) {
            QTest::addRow("%s: no caption", style) << QString::fromLatin1(style) << QString();
            QTest::addRow("%s: caption", style) << QString::fromLatin1(style)
                                                 << QStringLiteral("ActiveSync transfer");
        }
    }

    void pictureCentredAboveCaption()
    {
        QFETCH(QString, style);
        QFETCH(QString, caption);
        QApplication::setStyle(style);
        Window w;
        w.button->setText(caption);
        FixThemeSupport({w.button});
        QVERIFY(w.show());
        const QImage image = shot(w.button);
        const QRect picture = inkOf(image, qRgb(255, 0, 0));
        QCOMPARE(picture.size(), QSize(20, 20));
        const int left = picture.left(), right = image.width() - 1 - picture.right();
        QVERIFY2(qAbs(left - right) <= 1, qPrintable(QString("%1 vs %2").arg(left).arg(right)));
        const int above = picture.top(), below = image.height() - 1 - picture.bottom();
        if (caption.isEmpty()) {
            QVERIFY2(qAbs(above - below) <= 1, qPrintable(QString("%1 vs %2").arg(above).arg(below)));
            return;
        }
        // The caption's dark ink lies entirely below the picture, inside the panel's border.
        int firstInk = -1, lastInk = -1;
        for (int y = 6; y < image.height() - 6; ++y)
            for (int x = 10; x < image.width() - 10; ++x)
                if (qGray(image.pixel(x, y)) < 100 && !picture.contains(x, y)) {
                    if (firstInk < 0)
                        firstInk = y;
                    lastInk = y;
                }
        QVERIFY(firstInk > picture.bottom());
        QVERIFY(lastInk < image.height() - 3);
    }

    void styleChangeRepaintsWithNewStyle()
    {
        QApplication::setStyle(QStringLiteral("fusion"));
        Window w;
        FixThemeSupport({w.button});
        QVERIFY(w.show());
        const QImage fusion = shot(w.button);
        int paints = 0;
        struct Counter : QObject {
            int* n;
            explicit Counter(int* count) : n(count) {}
            bool eventFilter(QObject*, QEvent* e) override
            {
                if (e->type() == QEvent::Paint)
                    ++*n;
                return false;
            }
        } counter(&paints);
        w.button->installEventFilter(&counter);

        QApplication::setStyle(QStringLiteral("windows"));
        QTRY_VERIFY(paints > 0);
        const QImage windows = shot(w.button);
        w.button->removeEventFilter(&counter);
        QVERIFY(windows != fusion);
        // The same as a button made under the new style.
        Window fresh;
        FixThemeSupport({fresh.button});
        QVERIFY(fresh.show());
        QCOMPARE(windows, shot(fresh.button));
    }

    void otherControlsUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("same");
        QTest::newRow("button without a picture") << "plain" << true;
        QTest::newRow("tool button with a picture") << "tool" << true;
        QTest::newRow("frame holding a plain button") << "frame" << true;
        QTest::newRow("picture button under a style sheet") << "sheet" << true;
        // The check itself: a picture button does change.
        QTest::newRow("picture button") << "picture" << false;
    }

    void otherControlsUntouched()
    {
        QFETCH(QString, kind);
        QFETCH(bool, same);
        QWidget window;
        QWidget* control = nullptr;
        if (kind == "tool") {
            auto* tool = new QToolButton(&window);
            tool->setIcon(QIcon(square(Qt::red)));
            control = tool;
        } else if (kind == "frame") {
            auto* frame = new QFrame(&window);
            frame->setFrameShape(QFrame::Box);
            new QPushButton(QStringLiteral("Cancel"), frame);
            control = frame;
        } else {
            auto* button = new QPushButton(QStringLiteral("Open audio file"), &window);
            if (kind != "plain")
                button->setIcon(QIcon(square(Qt::red)));
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

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("fusion"));
    TestThemedButtons test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_themedbuttons.moc"
