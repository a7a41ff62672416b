// Rich text in cells: the layout of a rich-text face (one cell per
// character of its text, styled by the ranges of its data), writing the
// laid-out cells, and the text metrics of the platform object.
//   text-box-metrics  box [object!] arg0 type [integer!]
#pragma once
#include <vector>

#include "gui/terminal/tui_screen.h"

namespace zan::gui {

// One cell per character of the face's text: the face's colour as
// background, then the attributes of every range of its data (bold,
// italic, underline, strike, a text colour, backdrop and a colour) over
// the characters it covers. Empty when the text is not a string.
std::vector<TuiCell> rich_layout(const ValueCell* face);

// Writes laid-out cells in box, moved by the alignment flags, within clip.
// Cells with the default foreground take default_fg.
void write_rich(TuiScreen& screen, const TuiRect& box, const std::vector<TuiCell>& cells, u32 align,
                const TuiRect& clip, u32 default_fg = 0);

void tui_rich_register();

}  // namespace zan::gui
