#pragma once
// How a picture button is drawn, decided without any widget: which panel look a button's state
// calls for, which of its pictures goes with that look, and where the caption and the picture
// lie inside the panel's content rectangle.

namespace chimora::theme {

/// Looks of a push-button panel, numbered as the desktop's button themes number their states.
enum class ButtonLook { Normal = 1, Hot = 2, Pressed = 3, Disabled = 4, Defaulted = 5 };

/// A button's pictures: the everyday one, the one for the selected or pressed button, and the
/// one for the disabled button.
enum class PictureKind { Picture, DownPicture, DisabledPicture };

/// What the painter knows of a button at paint time.
struct ButtonFacts {
    bool enabled = true;
    bool hot = false;       ///< the pointer hovers over it (or a press started on it)
    bool pushed = false;    ///< held down right now
    bool selected = false;  ///< a checked option button or check box
    bool focused = false;   ///< has the keyboard focus
    bool defaulted = false; ///< the window's default button and focused
};

/// The look to draw and the picture to prefer for it; a button without the preferred picture
/// shows its everyday one.
struct LookChoice {
    ButtonLook look = ButtonLook::Normal;
    PictureKind picture = PictureKind::Picture;
};

/// First match wins: disabled; hot and not pushed (with the down picture when selected);
/// selected or pushed; focused or defaulted; otherwise normal.
LookChoice chooseButtonLook(const ButtonFacts& facts);

/// A rectangle by its edges, in pixels; right and bottom lie just outside it.
struct Edges {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const Edges&, const Edges&) = default;
};

/// `n` / 2 rounded to the nearest integer, halves to the even one (5 / 2 gives 2, 3 / 2 gives 2).
int halfRoundedToEven(int n);

/// Where a caption goes and what is left for the picture.
struct CaptionPlace {
    Edges caption;     ///< the box the caption is drawn into, centred horizontally
    Edges pictureArea; ///< the content rectangle above the caption
};

/// Places a caption `textHeight` pixels high (measured at the content's width, word-wrapped)
/// inside the panel's content rectangle. With a picture the caption sits at the bottom and the
/// picture gets the space above it; without one the caption sits near the middle. A content
/// rectangle from 3 to 20 and a text 13 high give a caption box from 4 to 20.
CaptionPlace placeCaption(const Edges& content, int textHeight, bool withPicture);

/// Top-left corner of a `width` x `height` picture centred in `area` (halves rounded to even).
struct Point {
    int x = 0;
    int y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};
Point centrePicture(const Edges& area, int width, int height);

} // namespace chimora::theme
