// Decoding terminal bytes into keys, mouse reports and cursor positions.
#include "gui/terminal/tui_input.h"

#include "runtime/terminal/terminal_keys.h"
#include "gui/terminal/tui_screen.h"
#include "runtime/datatypes/event.h"

namespace zan::gui {

namespace {
TuiInput key_input(u32 ch, i32 code, u32 flags) {
    TuiInput k;
    k.kind = TuiInput::KEY;
    k.ch = ch;
    k.code = code;
    k.flags = flags;
    return k;
}

// The flags of an xterm modifier parameter (1 + shift 1, alt 2, control 4).
u32 modifier_flags(int m) {
    if (m < 2) return 0;
    u32 bits = static_cast<u32>(m - 1), flags = 0;
    if (bits & 1) flags |= EVENT_FLAG_SHIFT;
    if (bits & 2) flags |= EVENT_FLAG_ALT;
    if (bits & 4) flags |= EVENT_FLAG_CONTROL;
    return flags;
}

// Bytes a UTF-8 character with this lead byte takes (1 for a bad lead).
size_t utf8_length(u8 b) {
    if (b >= 0xC2 && b <= 0xDF) return 2;
    if (b >= 0xE0 && b <= 0xEF) return 3;
    if (b >= 0xF0 && b <= 0xF4) return 4;
    return 1;
}
}  // namespace

std::vector<TuiInput> TuiInputDecoder::decode() {
    std::vector<TuiInput> out;
    size_t pos = 0;
    while (pos < buf_.size()) {
        size_t n = item(pos, out);
        if (n == 0) break;
        pos += n;
    }
    buf_.erase(0, pos);
    return out;
}

size_t TuiInputDecoder::item(size_t pos, std::vector<TuiInput>& out) {
    u8 b = static_cast<u8>(buf_[pos]);
    if (b == 0x1B) {
        // Escape as the last byte read is the Escape key.
        if (pos + 1 == buf_.size()) {
            out.push_back(key_input(0x1B, 0, 0));
            return 1;
        }
        return escape(pos, out);
    }
    if (b < 0x20 || b == 0x7F) {
        u32 ch = b == 8 ? 0x7F : b == 0x0A ? 0x0D : b;
        out.push_back(key_input(ch, 0, 0));
        return 1;
    }
    size_t len = utf8_length(b);
    if (pos + len > buf_.size()) {
        // Wait for the rest, unless a byte that cannot continue it came.
        for (size_t k = pos + 1; k < buf_.size(); k++)
            if ((static_cast<u8>(buf_[k]) & 0xC0) != 0x80) len = 1;
        if (len > 1) return 0;
    }
    size_t i = pos;
    u32 cp = utf8_next(buf_, i);
    out.push_back(key_input(cp, 0, 0));
    return i - pos;
}

size_t TuiInputDecoder::escape(size_t pos, std::vector<TuiInput>& out) {
    u8 next = static_cast<u8>(buf_[pos + 1]);
    if (next == '[') return control_sequence(pos, out);
    if (next == 'P' || next == ']') {
        // A device control string or an operating system command: skipped
        // up to its terminator (ESC \).
        size_t end = buf_.find("\x1b\\", pos + 2);
        return end == std::string::npos ? 0 : end + 2 - pos;
    }
    if (next == 'O') {
        if (pos + 2 >= buf_.size()) return 0;
        int f = static_cast<u8>(buf_[pos + 2]);
        i32 code = console::ss3_key(f);
        if (code == console::KEY_NONE) code = console::ss3_function_key(f);
        if (code != console::KEY_NONE) out.push_back(key_input(0, code, EVENT_SPECIAL_KEY));
        return 3;
    }
    if (next == 0x1B) {
        // Escape pressed twice: the first stands alone.
        out.push_back(key_input(0x1B, 0, 0));
        return 1;
    }
    // Alt with a key: dropped with its character.
    size_t len = next < 0x80 ? 1 : utf8_length(next);
    if (pos + 1 + len > buf_.size()) return 0;
    return 1 + len;
}

size_t TuiInputDecoder::control_sequence(size_t pos, std::vector<TuiInput>& out) {
    bool sgr = false;
    int params[4] = {0, 0, 0, 0};
    int count = 0, current = 0;
    bool has_digits = false;
    for (size_t i = pos + 2; i < buf_.size(); i++) {
        u8 c = static_cast<u8>(buf_[i]);
        if (c == 0x1B) return i - pos;  // abandoned: the new ESC starts afresh
        if (c == '[' && i == pos + 2) {
            // Linux console function keys (ESC [ [ A ...): one more letter,
            // dropped as the line editor drops them.
            return i + 1 < buf_.size() ? i + 2 - pos : 0;
        }
        if (c == '<' && i == pos + 2) {
            sgr = true;
            continue;
        }
        if (c >= '0' && c <= '9') {
            if (current < 100000) current = current * 10 + (c - '0');
            has_digits = true;
            continue;
        }
        if (c == ';') {
            if (count < 4) params[count++] = current;
            current = 0;
            continue;
        }
        if (c < 0x40 || c > 0x7E) continue;
        // The final byte.
        if (has_digits || count > 0) {
            if (count < 4) params[count++] = current;
        }
        size_t used = i + 1 - pos;
        if ((c == 'M' || c == 'm') && count == 3 && (sgr || c == 'M')) {
            mouse(params[0], params[1], params[2], c == 'm', sgr, out);
            return used;
        }
        if (c == 'R' && count == 2 && !sgr) {
            TuiInput r;
            r.kind = TuiInput::CURSOR_REPORT;
            r.row = params[0];
            r.col = params[1];
            out.push_back(r);
            return used;
        }
        if (c == 'Z' && !sgr) {
            out.push_back(key_input(9, 0, EVENT_FLAG_SHIFT));
            return used;
        }
        int first = count > 0 ? params[0] : -1;
        i32 code = console::csi_key(c, first);
        if (code == console::KEY_NONE) code = console::csi_function_key(c, first);
        if (code != console::KEY_NONE && !sgr)
            out.push_back(key_input(0, code, EVENT_SPECIAL_KEY | modifier_flags(count > 1 ? params[1] : 0)));
        return used;
    }
    return 0;
}

void TuiInputDecoder::mouse(int b, int col, int row, bool release, bool sgr, std::vector<TuiInput>& out) {
    if (!sgr) {
        // The 1015 form adds 32 to the button code and reports a release
        // as button 3 without the motion bit.
        b -= 32;
        if (b < 0) return;
        if ((b & 3) == 3 && !(b & 32) && !(b & 64)) {
            release = true;
            b = (b & ~3) | last_pressed_;
        }
    }
    TuiInput m;
    m.kind = TuiInput::MOUSE;
    m.button = (b & 3) + ((b & 0x40) >> 4);
    m.motion = (b & 32) != 0;
    m.release = release;
    m.col = col;
    m.row = row;
    if (b & 4) m.flags |= EVENT_FLAG_SHIFT;
    if (b & 8) m.flags |= EVENT_FLAG_ALT;
    if (b & 16) m.flags |= EVENT_FLAG_CONTROL;
    if (!release && !m.motion && m.button <= 2) last_pressed_ = m.button;
    out.push_back(m);
}

}  // namespace zan::gui
