// Faces realised through the back end's routines, with facets written as
// source text (pairs, tuples, nested blocks) read by the lexer.
#pragma once
#include "gui/tui_face_test_support.h"
#include "gui/tui_screen_test_support.h"
#include "runtime/io/lexer/lexer.h"

namespace zan::test {

class TuiCodeTest : public TuiFaceTest {
protected:
    void SetUp() override {
        TuiFaceTest::SetUp();
        lexer_init();
    }
    // The values of a source text, as a block (pushed).
    static ValueCell* code(const std::string& src) {
        ValueCell* out = stack_push_cell();
        lexer_transcode(out, reinterpret_cast<const u8*>(src.data()), static_cast<u32>(src.size()), false, true,
                        true, 0, nullptr, nullptr, nullptr, nullptr);
        return out;
    }
    // The first value of a source text.
    static ValueCell value(const std::string& src) { return *block_cell_at(code(src), 0); }
    // A face of the type at 0x0 with every facet the renderer reads, the
    // draw facet among them.
    ValueCell* full_face(const char* type) {
        ValueCell* f = make_object(
            "[type: none offset: none size: none text: none data: none color: none font: none para: none "
            "options: none flags: none visible?: true enabled?: true rate: none state: none draw: none]");
        set_field(f, "type", word(type));
        set_field(f, "offset", pair(0, 0));
        return f;
    }
    // The active window drawn into screen: its rows, each ended by "|".
    static std::string rows_of(gui::TuiScreen& screen) {
        gui::tui_backend().render(screen, 80, 24);
        std::string out;
        for (int y = 0; y < screen.rows(); y++) out += row_text(screen, y) + "|";
        return out;
    }
};

}  // namespace zan::test
