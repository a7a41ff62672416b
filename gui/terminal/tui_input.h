// Terminal input of the text-mode back end: the bytes read from standard
// input become keys, mouse reports and cursor position reports. The bytes
// are kept until an item is complete, so a sequence or a UTF-8 character
// split across two reads is decoded once, when its last byte arrives.
//
// Keys use the line editor's tables (runtime/terminal/terminal_keys.h): the common
// alternate forms of a key (ESC [ 1 ~ and ESC [ H for Home, ESC O A and
// ESC [ A for Up) and modified keys (ESC [ 1 ; 5 A) arrive as the keys
// they are, the modifiers as flags. Mouse reports come in the SGR form
// (ESC [ < b ; x ; y M or m) and the 1015 form (ESC [ b ; x ; y M, where a
// release names no button: it releases the button pressed last).
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan::gui {

struct TuiInput {
    enum Kind { KEY, MOUSE, CURSOR_REPORT } kind = KEY;
    // KEY: the character (Enter 0Dh, Backspace 7Fh, Escape 1Bh, Tab 9), or
    // 0 with a special key's negative code in `code`.
    u32 ch = 0;
    i32 code = 0;
    // Event flag bits (event.h): control, shift, alt.
    u32 flags = 0;
    // MOUSE: 0 left, 1 middle, 2 right, 3 none (a move), 4 wheel up,
    // 5 wheel down; the 1-based column and row as reported.
    int button = 0;
    bool release = false;
    bool motion = false;
    // MOUSE: column and row; CURSOR_REPORT: the 1-based row and column.
    int col = 0;
    int row = 0;
};

class TuiInputDecoder {
public:
    void feed(const char* bytes, size_t n) { buf_.append(bytes, n); }
    void feed(const std::string& bytes) { buf_ += bytes; }
    // Every complete item of the bytes fed so far; an incomplete one at the
    // end stays for the next feed. Unknown sequences are dropped.
    std::vector<TuiInput> decode();
    // Forgets the bytes not decoded yet.
    void clear() { buf_.clear(); }
    size_t pending() const { return buf_.size(); }

private:
    // Decodes the item at buf_[pos]; returns the bytes it took, 0 when it
    // is not complete yet.
    size_t item(size_t pos, std::vector<TuiInput>& out);
    size_t escape(size_t pos, std::vector<TuiInput>& out);
    size_t control_sequence(size_t pos, std::vector<TuiInput>& out);
    void mouse(int b, int col, int row, bool release, bool sgr, std::vector<TuiInput>& out);

    std::string buf_;
    int last_pressed_ = 0;
};

}  // namespace zan::gui
