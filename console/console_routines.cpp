// The terminal module: routines of the language around the line editor and
// the line reader of pipes and files.
#include "console/console_routines.h"

#include <unistd.h>

#include <algorithm>
#include <vector>

#include "runtime/terminal/terminal_keys.h"
#include "runtime/terminal/terminal_layout.h"
#include "runtime/core/collector.h"
#include "runtime/terminal/console_screen.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/stack.h"
#include "runtime/core/unicode.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/eval/interp/interp.h"
#include "runtime/eval/interp/natives.h"
#include "runtime/io/lexer/lexer.h"

namespace zan::console {

namespace {

bool g_console = false;
// The last read found the input at its end with nothing read.
bool g_input_ended = false;
// The columns and rows of the terminal (-1 until measured).
int g_columns = -1;
int g_rows = -1;

// The line and history of the current edit (collector roots).
ValueCell g_line;
ValueCell g_hist;
bool g_roots = false;

LineEditor& editor() {
    static LineEditor e;
    return e;
}

void ensure_roots() {
    if (g_roots) return;
    g_roots = true;
    none_box(&g_line);
    none_box(&g_hist);
    gc_add_root(&g_line);
    gc_add_root(&g_hist);
}

// Where the echo goes: standard output when it is a terminal, else
// standard error when that is one; -1: no echo at all.
int echo_fd() {
    if (::isatty(STDOUT_FILENO)) return STDOUT_FILENO;
    if (::isatty(STDERR_FILENO)) return STDERR_FILENO;
    return -1;
}

// ---- values ------------------------------------------------------------------------------------

std::u32string text_of(const ValueCell* s) {
    std::u32string out;
    if (!type_string_like(s->type())) return out;
    i32 n = string_length(s);
    i32 start = series_index(s);
    if (start < 0) start = 0;
    out.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (i32 k = 0; k < n; k++) out.push_back(string_char_at(s, static_cast<u32>(start + k)));
    return out;
}

// The whole text of a string (from its buffer's head) and its index.
std::u32string whole_text_of(const ValueCell* s, size_t* index) {
    ValueCell head = *s;
    i32 idx = series_index(s);
    series_set_index(&head, 0);
    std::u32string text = text_of(&head);
    *index = idx < 0 ? 0 : std::min(static_cast<size_t>(idx), text.size());
    return text;
}

std::string utf8_of(const std::u32string& text) {
    std::string out;
    char buf[4];
    for (u32 cp : text) out.append(buf, static_cast<size_t>(console_utf8_encode(cp, buf)));
    return out;
}

// The string cell's text from its index is replaced by text.
void set_text(ValueCell* s, const std::u32string& text) {
    i32 idx = series_index(s);
    string_clip_length(s, static_cast<u32>(idx < 0 ? 0 : idx));
    for (u32 cp : text) string_append_char(s, cp);
}

// A field of the system/console object, or null.
ValueCell* console_field(const char* name) {
    // The symbols first: making one may allocate and so move the values.
    u32 system_sym = symbol_make("system"), console_sym = symbol_make("console");
    u32 field_sym = symbol_make(name);
    const ValueCell* sys = global_value_ptr(system_sym);
    if (!sys || sys->type() != TYPE_OBJECT) return nullptr;
    i32 i = context_find_word(context_cell(context_of(sys)), console_sym, true);
    if (i < 0) return nullptr;
    ValueCell* con = context_values_head(context_cell(context_of(sys))) + i;
    if (con->type() != TYPE_OBJECT) return nullptr;
    i32 k = context_find_word(context_cell(context_of(con)), field_sym, true);
    if (k < 0) return nullptr;
    return context_values_head(context_cell(context_of(con))) + k;
}

void set_console_size(int x, int y) {
    if (ValueCell* size = console_field("size")) pair_make_at(size, x, y);
}

// Columns and rows: those of system/console/size, then the terminal's
// when it answers; a width that is not above 0 becomes 80.
void measure() {
    if (ValueCell* size = console_field("size"); size && size->type() == TYPE_PAIR) {
        g_columns = pair_x(size);
        g_rows = pair_y(size);
    }
    int fd = echo_fd();
    int c, r;
    if (tty_window_size(fd >= 0 ? fd : STDIN_FILENO, &c, &r) ||
        tty_window_size(STDIN_FILENO, &c, &r)) {
        g_columns = c;
        g_rows = r;
        set_console_size(c, r);
    }
    if (g_columns <= 0) {
        g_columns = 80;
        if (ValueCell* size = console_field("size"); size && size->type() == TYPE_PAIR)
            pair_make_at(size, 80, pair_y(size));
    }
}

// ---- the editor's surroundings ---------------------------------------------------------------

class TtyTerminal : public EditorTerminal {
public:
    i32 read_key() override { return console::read_key(stdin_bytes()); }
    void write(const std::string& bytes) override {
        int fd = echo_fd();
        if (fd >= 0) tty_write(fd, bytes);
    }
    int columns() override { return g_columns > 0 ? g_columns : 80; }
    void measure() override {
        tty_take_resize();
        console::measure();
    }
    int cursor_column() override {
        int fd = echo_fd();
        return fd == STDOUT_FILENO ? tty_query_cursor_column(stdin_bytes(), fd, 300) : -1;
    }
};

class ZanContext : public EditorContext {
public:
    size_t history_count() override {
        if (!type_block_like(g_hist.type())) return 0;
        return static_cast<size_t>(block_length(&g_hist));
    }
    std::u32string history_entry(size_t index) override {
        if (index >= history_count()) return {};
        return text_of(block_head_ptr(&g_hist) + index);
    }
    std::vector<Completion> complete(const std::u32string& line, size_t cursor) override;
};

// Asks the console's completion for candidates:
//   attempt [zan-complete-ctx/complete-input <line at the cursor> true]
// Anything but a block of strings (no completion object, an error) gives
// no candidates.
std::vector<Completion> ZanContext::complete(const std::u32string& line, size_t cursor) {
    std::vector<Completion> out;
    static const char kCall[] = "attempt [zan-complete-ctx/complete-input line true]";
    ValueCell* mark = g_stack.top;
    ValueCell* code = none_push();
    lexer_transcode(code, reinterpret_cast<const u8*>(kCall), sizeof kCall - 1, false, true, true,
                    0, nullptr, nullptr, nullptr, nullptr);
    ValueCell* text = string_push_new(static_cast<u32>(line.size()) + 1);
    for (u32 cp : line) string_append_char(text, cp);
    series_set_index(text, static_cast<i32>(cursor));
    ValueCell* inner = block_head_ptr(code) + 1;
    *(block_head_ptr(inner) + 1) = *text;
    interp_eval_block(code, false);
    ValueCell result = *stack_top_value();
    if (type_block_like(result.type())) {
        ValueCell* held = stack_push(&result);
        i32 n = block_length(held);
        for (i32 k = 0; k < n; k++) {
            ValueCell* item = block_head_ptr(held) + k;
            if (!type_string_like(item->type())) {
                out.clear();
                break;
            }
            Completion c;
            c.text = whole_text_of(item, &c.cursor);
            out.push_back(std::move(c));
        }
    }
    g_stack.top = mark;
    return out;
}

// Raw mode for the length of one edit, whatever way the edit ends.
class RawMode {
public:
    explicit RawMode(int fd) : on_(tty_enter_raw(fd)) {}
    ~RawMode() { tty_restore(); }
    bool on() const { return on_; }

private:
    bool on_;
};

// Reads a line from standard input into the line string (pipes and files).
bool read_piped_line(ValueCell* line) {
    std::u32string text;
    bool got = read_line_utf8(stdin_bytes(), text);
    set_text(line, text);
    return got;
}

// The history takes a copy of the entered line (so that changing the
// string ask returned leaves the history alone).
void add_history(const std::u32string& line, bool hidden) {
    if (!type_block_like(g_hist.type())) return;
    bool has_newest = block_length(&g_hist) > 0;
    std::u32string newest = has_newest ? text_of(block_head_ptr(&g_hist)) : std::u32string();
    if (!history_takes(line, hidden, has_newest, newest)) return;
    ValueCell* mark = g_stack.top;
    ValueCell* copy = string_push_new(static_cast<u32>(line.size()) + 1);
    for (u32 cp : line) string_append_char(copy, cp);
    block_insert_value(&g_hist, copy, false, false);
    g_stack.top = mark;
}

// ---- routines -------------------------------------------------------------------------------------

// console-init str [string!]
void r_console_init() {
    ensure_roots();
    std::u32string title = text_of(stack_arg(0));
    if (::isatty(STDOUT_FILENO)) {
        // The terminal's title sequence; a title it refuses changes nothing.
        std::u32string clean;
        for (u32 cp : title)
            if (cp >= 32 && cp != 127 && !(cp >= 128 && cp < 160)) clean.push_back(cp);
        tty_write(STDOUT_FILENO, "\x1b]0;" + utf8_of(clean) + "\x07");
    }
    g_console = ::isatty(STDIN_FILENO) != 0;
    if (g_console) {
        tty_install_handlers();
        measure();
    }
    if (ValueCell* size = console_field("size")) {
        if (size->type() != TYPE_PAIR || pair_x(size) == 0 || pair_y(size) == 0)
            pair_make_at(size, 80, 50);
    }
    unset_box(stack_result());
}

// _set-buffer-history line [string!] hist [block!]
void r_set_buffer_history() {
    ensure_roots();
    g_line = *stack_arg(0);
    g_hist = *stack_arg(1);
    unset_box(stack_result());
}

// _read-input prompt [string!] hidden? [logic!]
void r_read_input() {
    ensure_roots();
    g_input_ended = false;
    bool got = true;
    if (!type_string_like(g_line.type())) {
        logic_box(stack_result(), false);
        return;
    }
    if (!g_console) {
        got = read_piped_line(&g_line);
    } else {
        std::u32string prompt = text_of(stack_arg(0));
        bool hidden = logic_get(stack_arg(1));
        RawMode raw(STDIN_FILENO);
        // A Ctrl-C that came before the terminal was switched to raw mode
        // is the key pressed at this prompt: the editor takes it as such.
        if (raw.on() && g_interrupt_pending) {
            g_interrupt_pending = 0;
            stdin_bytes().push_front("\x03");
        }
        if (!raw.on()) {
            // The terminal refuses raw mode: its own line editing serves.
            got = read_piped_line(&g_line);
        } else {
            // Where the prompt starts: after a line end, column 0; after
            // printed text that did not end a line, the terminal is asked.
            int out = echo_fd();
            int origin = 0;
            if (!g_print_last_newline && out == STDOUT_FILENO)
                origin = std::max(0, tty_query_cursor_column(stdin_bytes(), out, 300));
            // A size change between edits is seen by the measure below.
            tty_take_resize();
            measure();
            TtyTerminal term;
            ZanContext ctx;
            stdin_bytes().set_wake_fd(tty_resize_fd());
            EditOutcome done;
            try {
                done = editor().edit(term, ctx, prompt, hidden, origin);
            } catch (...) {
                stdin_bytes().set_wake_fd(-1);
                throw;
            }
            stdin_bytes().set_wake_fd(-1);
            editor().buffer().release();
            set_text(&g_line, done.line);
            if (done.end == EditEnd::enter) add_history(done.line, hidden);
            got = done.end != EditEnd::input_ended;
            if (out == STDOUT_FILENO) g_print_last_newline = true;
        }
    }
    g_input_ended = !got;
    logic_box(stack_result(), got);
}

// _report-error text [string!]: the text and a line end on standard error,
// for what the console must say even when standard output is redirected.
void r_report_error() {
    std::string line = utf8_of(text_of(stack_arg(0))) + "\n";
    tty_write(STDERR_FILENO, line);
    unset_box(stack_result());
}

// _fit-width text [string!] columns [integer!]: how many characters of the
// text fit in that many columns of the terminal.
void r_fit_width() {
    size_t n = chars_within_width(text_of(stack_arg(0)), integer_get(stack_arg(1)));
    integer_box(stack_result(), static_cast<i32>(n));
}

// _terminal-input?: standard input is a terminal.
void r_terminal_input_q() { logic_box(stack_result(), g_console); }

// _end-of-input?
void r_end_of_input_q() { logic_box(stack_result(), g_input_ended); }

// _terminate-console: nothing to give back on this system.
void r_terminate_console() { unset_box(stack_result()); }

// input-stdin: one line of standard input in a new string.
void r_input_stdin() {
    string_set_result(256);
    std::u32string text;
    read_line_utf8(stdin_bytes(), text);
    for (u32 cp : text) string_append_char(stack_result(), cp);
}

// read-stdin buffer [binary!] buflen [integer!]: the bytes are written
// from the binary's head, which grows when they pass its tail.
void r_read_stdin() {
    i32 want = integer_get(stack_arg(1));
    if (want <= 0) return;
    std::vector<u8> bytes(std::min<size_t>(static_cast<size_t>(want), 65536));
    size_t got = stdin_bytes().read_some(bytes.data(), bytes.size());
    if (got == 0) return;
    binary_overwrite_bytes(stack_arg(0), 0, zan::ByteSource(bytes.data()),
                           static_cast<u32>(got));
}

}  // namespace

bool read_line_utf8(ByteInput& in, std::u32string& out) {
    out.clear();
    bool any = false;
    for (;;) {
        i32 cp = read_utf8_char(in);
        if (cp < 0) return any;
        any = true;
        if (cp == '\n') return true;
        out.push_back(static_cast<u32>(cp));
    }
}

bool history_takes(const std::u32string& line, bool hidden, bool has_newest,
                   const std::u32string& newest) {
    if (hidden || line.empty()) return false;
    return !(has_newest && newest == line);
}

}  // namespace zan::console

namespace zan {

void console_routines_register() {
    using namespace console;
    routine_table_register("console-init", r_console_init);
    routine_table_register("_set-buffer-history", r_set_buffer_history);
    routine_table_register("_read-input", r_read_input);
    routine_table_register("_end-of-input?", r_end_of_input_q);
    routine_table_register("_report-error", r_report_error);
    routine_table_register("_terminal-input?", r_terminal_input_q);
    routine_table_register("_fit-width", r_fit_width);
    routine_table_register("_terminate-console", r_terminate_console);
    routine_table_register("input-stdin", r_input_stdin);
    routine_table_register("read-stdin", r_read_stdin);
}

}  // namespace zan
