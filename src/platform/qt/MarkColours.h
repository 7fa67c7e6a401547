#pragma once

#include <QColor>
#include <cstdint>

// The colours of a marked cell (changed, refused, fixed, or a live value out
// of its band), readable under any palette: a mark has a fixed background,
// so it gets a fixed text colour to go with it, while an unmarked cell takes
// both from the desktop's palette (a dark theme's base and text colours).
struct MarkColours
{
    QColor background;  // invalid: the palette's base colour
    QColor text;        // invalid: the palette's text colour
};

// For a cell colour in 0x00BBGGRR. White (0xFFFFFF) is the unmarked cell and
// gives two invalid colours; any other colour is the background, with black
// or white text, whichever stands out more against it.
MarkColours ColoursForMark(uint32_t bgr);

// Black or white, whichever contrasts more with background (by relative
// luminance, as screen-reading guidelines measure contrast).
QColor ReadableTextOn(const QColor& background);
