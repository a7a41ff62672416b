// The back end's side of TUI-helpers: the routines it offers them
// (tui-focused?, tui-widget-data, tui-set-face-ui) and the rebuilding of
// the texts of progress bars, text lists, check boxes and radio buttons
// by the helpers' functions.
#pragma once
#include "gui/terminal/tui_widgets.h"

namespace zan::gui {

// Runs the helper that rebuilds the widget's text or ui, for the kinds
// that have one (system/view/auto-sync? is off meanwhile); a rich text is
// laid out again.
void widget_rebuild(WidgetId id);

void tui_helpers_register();

}  // namespace zan::gui
