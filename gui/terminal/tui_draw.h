// The draw dialect in the cell buffer. A command block is walked command
// by command; boxes, lines, triangles, circles, ellipses and text are
// drawn into the cells, every other command of the dialect is read with
// its arguments and changes nothing. Every shape is placed relative to the
// face's origin and clipped to the face.
//   draw-image  image [image!] cmds [block!]   reads the commands; the pixels stay
//   draw-face   face [object!] cmds [block!]   nothing in the terminal
#pragma once
#include "gui/terminal/tui_screen.h"

namespace zan::gui {

struct DrawTarget {
    TuiScreen* screen;  // null: the commands are read, nothing is drawn
    int col, row;       // the origin: the face's absolute position
    TuiRect clip;       // the visible part of the face
};

// Runs a command block. A bad command raises draw-invalid, a block that
// holds itself draw-infinite; with system/view/silent? set the command is
// skipped instead.
void draw_commands(const DrawTarget& target, ValueCell block);

void tui_draw_register();

}  // namespace zan::gui
