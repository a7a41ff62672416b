// Faces realised through the back end's routines, with facets written as
// source text (pairs, tuples, nested blocks) read by the lexer.
#pragma once
#include "gui/tui_face_test_support.h"
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
};

}  // namespace zan::test
