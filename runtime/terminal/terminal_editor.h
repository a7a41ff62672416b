// The line editor: one line of text with a cursor, shown after the prompt
// and edited key by key until Enter (or Escape, Ctrl-C, Ctrl-D on an empty
// line, or the end of the input).
//
// The editor knows nothing of the runtime: keys come from an
// EditorTerminal, which also takes its output and knows the width; the
// history entries and the Tab completions come from an EditorContext.
//
// Output. Where the prompt starts is the origin; the editor keeps the
// terminal cursor's position relative to it and moves with relative
// cursor sequences only, so a scrolling terminal needs no query. Typing at
// the end of the line writes just the new character; moving the cursor
// writes just the movement; any other change moves back to the origin,
// erases to the end of the screen and writes prompt and line again.
//
// Keys (codes of terminal_keys.h):
//   Enter                 the line is done
//   Backspace (8, 127)    removes the character before the cursor
//   Delete                removes the character at the cursor
//   Left, Ctrl-B / Right, Ctrl-F      one character
//   Home, Ctrl-A / End, Ctrl-E        start / end of the line
//   Up, Ctrl-P / Down, Ctrl-N         older / newer history entry
//   Ctrl-K                removes everything from the cursor to the end
//   Ctrl-D                removes the character at the cursor; on an
//                         empty line the line becomes "q" and is done
//   Ctrl-C                the line becomes "q" and is done
//   Escape                the line, with the Escape character at its end,
//                         is done
//   Tab                   completion: one candidate replaces the line;
//                         several are listed after the prompt in the
//                         line's place, and the next row brings the prompt
//                         back with the line, their common part filled
//                         in, to edit on; none: the Tab is inserted
//   other codes above 31  inserted at the cursor
// Every other key is ignored.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "runtime/terminal/terminal_layout.h"

namespace zan::console {

class EditorTerminal {
public:
    virtual ~EditorTerminal() = default;
    // The next key (terminal_keys.h), KEY_END_OF_INPUT or KEY_RESIZE.
    virtual i32 read_key() = 0;
    virtual void write(const std::string& bytes) = 0;
    // The width in columns (at least 1); measured again after KEY_RESIZE.
    virtual int columns() = 0;
    virtual void measure() {}
    // The column the terminal reports for its cursor (0 is the first), or
    // -1 when it does not answer.
    virtual int cursor_column() { return -1; }
};

struct Completion {
    std::u32string text;
    size_t cursor;   // where the cursor goes in text
};

class EditorContext {
public:
    virtual ~EditorContext() = default;
    // The history, entry 0 the newest.
    virtual size_t history_count() = 0;
    virtual std::u32string history_entry(size_t index) = 0;
    // Completion of the line with the cursor at `cursor`: nothing; one
    // entry (the new line); or the new line with the common part filled in
    // followed by the candidates.
    virtual std::vector<Completion> complete(const std::u32string& line, size_t cursor) {
        (void)line;
        (void)cursor;
        return {};
    }
};

enum class EditEnd {
    enter,         // Enter: the line as typed
    escape,        // Escape: the line with character 27 appended
    quit,          // Ctrl-C, or Ctrl-D on an empty line: the line is "q"
    input_ended,   // no more input: the line is empty
};

struct EditOutcome {
    std::u32string line;
    EditEnd end;
};

// The output buffer of one edit, sized for the prompt and the line: the
// bytes needed are (line length + prompt length) x the line's character
// size (1, 2 or 4 bytes, at least 2) x 4; a buffer that is too small is
// replaced by one of twice the need. The capacity lasts between edits.
class OutputBuffer {
public:
    OutputBuffer() = default;
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    void size_for(size_t line_length, size_t prompt_length, u32 unit);
    void append(const std::string& bytes);
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    void release();

private:
    void grow(size_t need);
    char* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 128;
};

// The allocator of output buffers (std::malloc; tests replace it) and what
// happens when it fails: "Cannot allocate memory: init-buffer: " and the
// bytes needed on one line, the terminal mode restored, and the process
// ends with status EXIT_NO_MEMORY.
using BufferAlloc = void* (*)(size_t);
extern BufferAlloc g_output_buffer_alloc;
constexpr int EXIT_NO_MEMORY = 94;   // the runtime's "out of memory" number
[[noreturn]] void output_buffer_fatal(size_t need);

// The character size a line needs: 1, 2 or 4 bytes.
u32 line_unit(const std::u32string& line);

class LineEditor {
public:
    // Edits one line. origin_col: the column where the prompt starts.
    EditOutcome edit(EditorTerminal& term, EditorContext& ctx, const std::u32string& prompt,
                     bool hidden, int origin_col);

    OutputBuffer& buffer() { return out_; }

private:
    void emit(const std::string& bytes) { out_.append(bytes); }
    void flush();
    LineLayout layout() const;
    void place(const TermPos& target);
    void place_cursor();
    void refresh(bool first = false);
    void insert(u32 cp);
    void move_to_last_row();
    void show_candidates(const std::vector<Completion>& found);
    void recall(int entry);
    TermPos cursor_after_resize(int old_columns);

    EditorTerminal* term_ = nullptr;
    EditorContext* ctx_ = nullptr;
    OutputBuffer out_;
    std::vector<Glyph> prompt_;
    std::u32string prompt_text_;
    std::u32string line_;
    size_t cursor_ = 0;
    bool hidden_ = false;
    int columns_ = 80;
    int origin_col_ = 0;
    TermPos at_;           // the terminal cursor, relative to the origin row
    int history_pos_ = -1;
    int history_len_ = 0;
};

}  // namespace zan::console
