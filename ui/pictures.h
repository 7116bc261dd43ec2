#pragma once

// The pictures of the windows: our own SVG drawings, in the palette's colours
// and sharp at any scale, or the desktop theme's icon where a standard name
// fits.

#include <QIcon>
#include <QRectF>

#include "rules/evaluate.h"

class QPainter;

namespace kelvane::ui {

enum class Picture {
    Up,        // the list has rows
    Down,      // the list is empty
    Settings,  // the drop-down of settings and more
    Goodbye,
    Door,
    Stop,
    Hammer,
    Mark,
    Delete,
    Remark,
    Reset,
    Launch,
    Help,
    About,
    Envelope,  // the progress window's animation, the tray's still picture
    Anim1,     // the tray in automatic mode, two frames
    Anim2,
};

QIcon Icon(Picture picture);
// Ours only, never the theme's.
QIcon OwnIcon(Picture picture);

// The state picture of a message row; a null icon for mmNone.
QIcon MarkIcon(MessageMark mark);

// The application's own icon, for the windows and the tray.
QIcon ApplicationIcon();

// A transparent picture of the given size, to keep a picture's room.
QIcon BlankIcon(int size);

// Draws one of our pictures into a rectangle.
void PaintPicture(QPainter& painter, Picture picture, const QRectF& rect);

}  // namespace kelvane::ui
