// The picture button's look rules and layout, with known answers: first match wins among the
// looks, and the caption and picture positions round halves to even.
#include "theme/ButtonLook.h"

#include <QtTest>

using namespace chimora::theme;

Q_DECLARE_METATYPE(ButtonLook)
Q_DECLARE_METATYPE(PictureKind)

class TestButtonLook : public QObject {
    Q_OBJECT
private slots:
    void firstMatchWins_data() {
        QTest::addColumn<QString>("facts"); // letters: e enabled, h hot, p pushed, s selected,
                                            // f focused, d defaulted
        QTest::addColumn<ButtonLook>("look");
        QTest::addColumn<PictureKind>("picture");
        QTest::newRow("disabled beats all")
            << "hpsfd" << ButtonLook::Disabled << PictureKind::DisabledPicture;
        QTest::newRow("hot beats focus") << "ehf" << ButtonLook::Hot << PictureKind::Picture;
        QTest::newRow("hot selected") << "ehs" << ButtonLook::Hot << PictureKind::DownPicture;
        QTest::newRow("pushed under pointer")
            << "ehp" << ButtonLook::Pressed << PictureKind::DownPicture;
        QTest::newRow("selected beats focus")
            << "esf" << ButtonLook::Pressed << PictureKind::DownPicture;
        QTest::newRow("focused") << "ef" << ButtonLook::Defaulted << PictureKind::Picture;
        QTest::newRow("defaulted") << "ed" << ButtonLook::Defaulted << PictureKind::Picture;
        QTest::newRow("nothing") << "e" << ButtonLook::Normal << PictureKind::Picture;
    }

    void firstMatchWins() {
        QFETCH(QString, facts);
        QFETCH(ButtonLook, look);
        QFETCH(PictureKind, picture);
        ButtonFacts f;
        f.enabled = facts.contains('e');
        f.hot = facts.contains('h');
        f.pushed = facts.contains('p');
        f.selected = facts.contains('s');
        f.focused = facts.contains('f');
        f.defaulted = facts.contains('d');
        const LookChoice choice = chooseButtonLook(f);
        QCOMPARE(choice.look, look);
        QCOMPARE(choice.picture, picture);
    }

    void captionBox_data() {
        QTest::addColumn<int>("contentTop");
        QTest::addColumn<int>("contentBottom");
        QTest::addColumn<int>("textHeight");
        QTest::addColumn<bool>("withPicture");
        QTest::addColumn<int>("top");
        QTest::addColumn<int>("bottom");
        // Measured bottom 16 inside 3..20: the caption box runs from 4 to 20.
        QTest::newRow("example") << 3 << 20 << 13 << false << 4 << 20;
        QTest::newRow("half rounds down to even") << 3 << 20 << 12 << false << 4 << 19;
        QTest::newRow("half rounds up to even") << 3 << 20 << 14 << false << 4 << 21;
        QTest::newRow("with picture") << 3 << 90 << 13 << true << 75 << 90;
    }

    void captionBox() {
        QFETCH(int, contentTop);
        QFETCH(int, contentBottom);
        QFETCH(int, textHeight);
        QFETCH(bool, withPicture);
        QFETCH(int, top);
        QFETCH(int, bottom);
        const Edges content{3, contentTop, 60, contentBottom};
        const CaptionPlace place = placeCaption(content, textHeight, withPicture);
        QCOMPARE(place.caption, (Edges{3, top, 60, bottom}));
        // The picture gets what lies above the caption.
        QCOMPARE(place.pictureArea, (Edges{3, contentTop, 60, top}));
    }

    void pictureCentred_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("x");
        QTest::addColumn<int>("y");
        // In a 10 x 10 area at (4, 3).
        QTest::newRow("even margin") << 4 << 7 << 6;
        QTest::newRow("2.5 rounds to 2") << 5 << 6 << 5;
        QTest::newRow("1.5 rounds to 2") << 7 << 6 << 5;
        QTest::newRow("larger than the area") << 12 << 3 << 2;
    }

    void pictureCentred() {
        QFETCH(int, size);
        QFETCH(int, x);
        QFETCH(int, y);
        QCOMPARE(centrePicture(Edges{4, 3, 14, 13}, size, size), (Point{x, y}));
    }
};

QTEST_APPLESS_MAIN(TestButtonLook)
#include "test_buttonlook.moc"
