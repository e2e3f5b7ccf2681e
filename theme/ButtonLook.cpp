#include "theme/ButtonLook.h"

namespace chimora::theme {

LookChoice chooseButtonLook(const ButtonFacts& f) {
    if (!f.enabled)
        return {ButtonLook::Disabled, PictureKind::DisabledPicture};
    if (f.hot && !f.pushed)
        return {ButtonLook::Hot, f.selected ? PictureKind::DownPicture : PictureKind::Picture};
    if (f.selected || f.pushed)
        return {ButtonLook::Pressed, PictureKind::DownPicture};
    if (f.focused || f.defaulted)
        return {ButtonLook::Defaulted, PictureKind::Picture};
    return {ButtonLook::Normal, PictureKind::Picture};
}

int halfRoundedToEven(int n) {
    // Floor division, so negative odd values round the same way as positive ones.
    const int floorHalf = n >= 0 ? n / 2 : -((-n + 1) / 2);
    if (n % 2 == 0)
        return floorHalf;
    return floorHalf % 2 == 0 ? floorHalf : floorHalf + 1;
}

CaptionPlace placeCaption(const Edges& content, int textHeight, bool withPicture) {
    // The measured box starts at the content's top, so its bottom is content.top + height;
    // the placement below works from that bottom, as the button themes' own layout does.
    const int measuredBottom = content.top + textHeight;
    Edges caption{content.left, 0, content.right, 0};
    if (withPicture) {
        caption.top = content.bottom - measuredBottom + 1;
        caption.bottom = content.bottom;
    } else {
        caption.top = halfRoundedToEven(content.bottom - measuredBottom) + 2;
        caption.bottom = caption.top + measuredBottom;
    }
    Edges pictureArea = content;
    pictureArea.bottom = caption.top;
    return {caption, pictureArea};
}

Point centrePicture(const Edges& area, int width, int height) {
    return {halfRoundedToEven(area.right - area.left - width) + area.left,
            halfRoundedToEven(area.bottom - area.top - height) + area.top};
}

} // namespace chimora::theme
