// The line editor's keys, redrawing and output buffer.
#include "runtime/terminal/terminal_editor.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/terminal/terminal_keys.h"
#include "runtime/terminal/terminal_tty.h"

namespace zan::console {

// ---- output buffer ----------------------------------------------------------------------------

BufferAlloc g_output_buffer_alloc = std::malloc;

void output_buffer_fatal(size_t need) {
    tty_restore_all();
    std::fflush(stdout);
    std::string msg = "Cannot allocate memory: init-buffer: " + std::to_string(need) + "\n";
    ssize_t ignored = ::write(STDOUT_FILENO, msg.data(), msg.size());
    (void)ignored;
    std::_Exit(EXIT_NO_MEMORY);
}

OutputBuffer::~OutputBuffer() { release(); }

void OutputBuffer::release() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

void OutputBuffer::grow(size_t need) {
    size_t capacity = capacity_;
    if (!data_ || capacity < need) capacity = capacity < need ? need * 2 : capacity;
    void* fresh = g_output_buffer_alloc(capacity);
    if (!fresh) output_buffer_fatal(need);
    if (data_ && size_) std::memcpy(fresh, data_, size_);
    std::free(data_);
    data_ = static_cast<char*>(fresh);
    capacity_ = capacity;
}

void OutputBuffer::size_for(size_t line_length, size_t prompt_length, u32 unit) {
    if (unit < 2) unit = 2;
    size_t need = (line_length + prompt_length) * unit * 4;
    if (!data_ || capacity_ < need) {
        size_ = 0;
        grow(need);
    }
}

void OutputBuffer::append(const std::string& bytes) {
    if (!data_ || size_ + bytes.size() > capacity_) grow(size_ + bytes.size());
    std::memcpy(data_ + size_, bytes.data(), bytes.size());
    size_ += bytes.size();
}

u32 line_unit(const std::u32string& line) {
    u32 unit = 1;
    for (u32 cp : line) {
        if (cp > 0xFFFF) return 4;
        if (cp > 0xFF) unit = 2;
    }
    return unit;
}

// ---- the editor ---------------------------------------------------------------------------------

void LineEditor::flush() {
    if (out_.size()) term_->write(std::string(out_.data(), out_.size()));
    out_.clear();
}

LineLayout LineEditor::layout() const {
    return layout_line(prompt_, line_, hidden_, columns_, origin_col_);
}

void LineEditor::place(const TermPos& target) {
    if (at_ == target && !at_.pending) return;
    emit(move_cursor(at_, target));
    at_ = TermPos{target.row, target.col, false};
}

void LineEditor::place_cursor() { place(layout().at(cursor_)); }

// Writes prompt and line again from the origin and puts the cursor back.
void LineEditor::refresh(bool first) {
    out_.size_for(line_.size(), prompt_text_.size(), line_unit(line_));
    if (!first) {
        place(TermPos{0, origin_col_, false});
        emit("\x1b[J");
    }
    for (const Glyph& g : prompt_) emit(g.bytes);
    for (u32 cp : line_) emit(line_glyph(cp, hidden_).bytes);
    LineLayout l = layout();
    at_ = l.end;
    place(l.at(cursor_));
}

void LineEditor::insert(u32 cp) {
    if (cursor_ == line_.size()) {
        // At the end: only the new character is written.
        line_.push_back(cp);
        cursor_++;
        emit(line_glyph(cp, hidden_).bytes);
        at_ = layout().end;
        return;
    }
    line_.insert(line_.begin() + static_cast<std::ptrdiff_t>(cursor_), cp);
    cursor_++;
    refresh();
}

// To column 0 of the last row the text takes.
void LineEditor::move_to_last_row() {
    TermPos end = layout().end;
    place(TermPos{physical_row(end), 0, false});
}

// The candidates take the line's place after the prompt, each followed by
// one space; then, on the next row, the prompt comes again with the line
// (its common part filled in) to edit on.
void LineEditor::show_candidates(const std::vector<Completion>& found) {
    std::u32string list;
    for (size_t k = 1; k < found.size(); k++) {
        list += found[k].text;
        list += U' ';
    }
    line_ = list;
    cursor_ = line_.size();
    refresh();
    move_to_last_row();
    emit("\n");
    // The prompt starts again on a row of its own.
    origin_col_ = 0;
    at_ = TermPos{};
    line_ = found[0].text;
    cursor_ = found[0].cursor <= line_.size() ? found[0].cursor : line_.size();
    refresh(true);
}

// Where the cursor is after the terminal changed its width, relative to
// the origin. Terminals differ: most wrap the rows of a long line again for
// the new width, and the cursor moves with the character it was on; others
// keep every row as it was and only clip it. The terminal is asked for the
// cursor's column to tell them apart; when its answer fits both, or none
// comes, the rows are taken as wrapped again, as most terminals do.
TermPos LineEditor::cursor_after_resize(int old_columns) {
    TermPos kept{physical_row(at_), at_.pending ? old_columns - 1 : at_.col, false};
    if (kept.col > columns_ - 1) kept.col = columns_ - 1;
    // The character cell the cursor is on (the end of the text counts as
    // one), and the column within it.
    LineLayout before = layout_line(prompt_, line_, hidden_, old_columns, origin_col_);
    size_t cell = line_.size();
    int within = 0;
    if (at_.pending && !line_.empty()) {
        cell = line_.size() - 1;
        within = old_columns - 1 - before.at(cell).col;
    } else if (!(at_.row == before.end.row && at_.col == before.end.col)) {
        cell = line_.size() + 1;
        for (size_t k = 0; k < line_.size(); k++)
            if (before.starts[k].row == at_.row && before.starts[k].col == at_.col) cell = k;
        if (cell > line_.size()) return kept;   // not on the text: nothing moved it
    }
    LineLayout after = layout();
    TermPos wrapped = after.at(cell);
    wrapped.row = physical_row(wrapped);
    if (after.at(cell).pending) wrapped.col = columns_ - 1;
    wrapped.col += within;
    wrapped.pending = false;
    if (wrapped.col > columns_ - 1) wrapped.col = columns_ - 1;
    if (wrapped == kept) return kept;
    flush();
    int col = term_->cursor_column();
    if (col == kept.col && col != wrapped.col) return kept;
    return wrapped;
}

void LineEditor::recall(int entry) {
    line_ = entry < 0 ? std::u32string() : ctx_->history_entry(static_cast<size_t>(entry));
    cursor_ = line_.size();
    refresh();
}

EditOutcome LineEditor::edit(EditorTerminal& term, EditorContext& ctx,
                             const std::u32string& prompt, bool hidden, int origin_col) {
    term_ = &term;
    ctx_ = &ctx;
    prompt_text_ = prompt;
    prompt_ = prompt_glyphs(prompt);
    line_.clear();
    cursor_ = 0;
    hidden_ = hidden;
    columns_ = term.columns();
    if (columns_ < 1) columns_ = 1;
    origin_col_ = origin_col < 0 ? 0 : origin_col % columns_;
    at_ = TermPos{0, origin_col_, false};
    history_pos_ = -1;
    history_len_ = static_cast<int>(ctx.history_count());
    refresh(true);
    flush();

    EditOutcome outcome{{}, EditEnd::enter};
    bool done = false;
    while (!done) {
        i32 key = term.read_key();
        switch (key) {
            case KEY_END_OF_INPUT:
                line_.clear();
                outcome.end = EditEnd::input_ended;
                done = true;
                break;
            case KEY_RESIZE: {
                int old_columns = columns_;
                term.measure();
                columns_ = term.columns();
                if (columns_ < 1) columns_ = 1;
                if (columns_ != old_columns) at_ = cursor_after_resize(old_columns);
                refresh();
                break;
            }
            case '\t': {
                std::vector<Completion> found;
                if (!hidden_) found = ctx.complete(line_, cursor_);
                if (found.empty()) {
                    insert('\t');
                } else if (found.size() == 1) {
                    line_ = found[0].text;
                    cursor_ = found[0].cursor <= line_.size() ? found[0].cursor : line_.size();
                    refresh();
                } else {
                    show_candidates(found);
                }
                break;
            }
            case KEY_ENTER:
                move_to_last_row();
                emit("\n");
                outcome.end = EditEnd::enter;
                done = true;
                break;
            case 8:
            case 127:
                if (cursor_ > 0) {
                    cursor_--;
                    line_.erase(cursor_, 1);
                    if (cursor_ == line_.size()) {
                        place_cursor();
                        emit("\x1b[J");
                    } else {
                        refresh();
                    }
                }
                break;
            case 2:
            case KEY_LEFT:
                if (cursor_ > 0) {
                    cursor_--;
                    place_cursor();
                }
                break;
            case 6:
            case KEY_RIGHT:
                if (cursor_ < line_.size()) {
                    cursor_++;
                    place_cursor();
                }
                break;
            case 14:
            case KEY_DOWN:
                if (history_pos_ < 0) {
                    recall(-1);
                } else {
                    int entry = history_pos_--;
                    recall(entry);
                }
                break;
            case 16:
            case KEY_UP:
                if (history_pos_ >= history_len_ - 1) {
                    recall(-1);
                } else {
                    recall(++history_pos_);
                }
                break;
            case 1:
            case KEY_HOME:
                cursor_ = 0;
                place_cursor();
                break;
            case 5:
            case KEY_END:
                cursor_ = line_.size();
                place_cursor();
                break;
            case KEY_DELETE:
                if (cursor_ < line_.size()) {
                    line_.erase(cursor_, 1);
                    refresh();
                }
                break;
            case 11:
                if (cursor_ < line_.size()) {
                    line_.erase(cursor_);
                    place_cursor();
                    emit("\x1b[J");
                }
                break;
            case 4:
                if (line_.empty()) {
                    move_to_last_row();
                    emit("\n");
                    line_ = U"q";
                    outcome.end = EditEnd::quit;
                    done = true;
                } else if (cursor_ < line_.size()) {
                    line_.erase(cursor_, 1);
                    refresh();
                }
                break;
            case 3:
                move_to_last_row();
                emit("\n");
                line_ = U"q";
                outcome.end = EditEnd::quit;
                done = true;
                break;
            case KEY_ESCAPE:
                move_to_last_row();
                emit("\n");
                line_.push_back(27);
                outcome.end = EditEnd::escape;
                done = true;
                break;
            default:
                if (key > 31 && key != 127) insert(static_cast<u32>(key));
                break;
        }
        flush();
    }
    outcome.line = line_;
    return outcome;
}

}  // namespace zan::console
