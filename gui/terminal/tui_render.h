// How each kind of widget draws its face and reacts on its own: the kind
// comes from the face's type when the view is made.
#pragma once
#include "gui/terminal/tui_dispatch.h"
#include "gui/terminal/tui_text.h"
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

// The widget kind of a face's type word.
WidgetKind widget_kind_of(const ValueCell* type);

// Draws a face: its background colour, the widget's ui text, unless
// flags hold PEN_NO_TEXT the face's text (or its hint, dim; a rich text's
// laid-out cells) aligned by the face's para, then its draw block, all
// within clip. col and row are the widget's top left.
void render_face(TuiScreen& screen, int col, int row, const TuiWidget& w, const TuiRect& clip, u32 flags);

// The alignment flags of a face's para (ALIGN_...).
u32 para_align(const ValueCell* para);

// The renderer of a widget kind (empty for a window: it draws nothing).
RenderFn renderer_of(WidgetKind kind);

// A field's editing state at creation: the caret after the characters of
// its text that fit its width.
void field_start(TuiWidget& w);

// The widget's own reaction to an event it received; send hands a further
// event (a button's click) to the language.
void widget_react(TuiBackend& b, int type, const TuiMessage& m,
                  const std::function<bool(int type, const TuiMessage&)>& send);

}  // namespace zan::gui
