// A fixture for tests that realise faces through the back end's routines:
// the routines registered, every window destroyed and the event loop's
// level back at 0 afterwards.
#pragma once
#include "datatypes/fn_test_support.h"
#include "gui/terminal/tui_routines.h"
#include "runtime/datatypes/pair.h"

namespace zan::test {

class TuiFaceTest : public FnTest {
protected:
    void SetUp() override {
        FnTest::SetUp();
        gui::tui_routines_register();
    }
    void TearDown() override {
        gui::TuiBackend& b = gui::tui_backend();
        for (gui::WidgetId w : std::vector<gui::WidgetId>(b.windows())) b.destroy(w);
        while (b.loop_level() > 0) b.post_quit();
        FnTest::TearDown();
    }
    static ValueCell run(const char* name, std::initializer_list<ValueCell> args) {
        return call(args, routine_table_entry(routine_table_find(name)));
    }
    static ValueCell pair(i32 x, i32 y) {
        ValueCell p;
        pair_make_at(&p, x, y);
        return p;
    }
    // A face object with the facets the back end reads, all none but these.
    ValueCell* face(const char* type, ValueCell offset, ValueCell size) {
        ValueCell* f = make_object(
            "[type: none offset: none size: none text: none image: none data: none selected: none color: none font: none "
            "para: none options: none flags: none visible?: true enabled?: true rate: none state: none]");
        set_field(f, "type", word(type));
        set_field(f, "offset", offset);
        set_field(f, "size", size);
        return f;
    }
    // Realises f under parent and gives its state a block holding the handle.
    ValueCell realise(ValueCell* f, ValueCell parent) {
        ValueCell h = run("make-view", {*f, parent});
        ValueCell none;
        none_box(&none);
        set_field(f, "state", *blk({h, integer(0), none}));
        return h;
    }
};

}  // namespace zan::test
