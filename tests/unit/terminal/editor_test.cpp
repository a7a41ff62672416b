// The line editor on a screen grid: what the terminal shows for its output,
// key by key.
#include <gtest/gtest.h>

#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

#include "runtime/terminal/terminal_editor.h"
#include "runtime/terminal/terminal_keys.h"
#include "runtime/terminal/ansi.h"
#include "runtime/terminal/console_screen.h"
#include "runtime/core/unicode.h"
#include "terminal/console_grid.h"

namespace zan::console {
namespace {

// A terminal of a given size: the editor's output is carried out on a grid,
// keys come from a queue (KEY_END_OF_INPUT when it is empty).
class GridTerminal : public EditorTerminal {
public:
    GridTerminal(int width, int height) : screen_(console_grid_new(width, height)), width_(width) {}
    ~GridTerminal() override { console_screen_destroy(screen_); }

    void keys(std::initializer_list<i32> ks) { keys_.insert(keys_.end(), ks); }
    void type(const std::u32string& text) {
        for (u32 cp : text) keys_.push_back(static_cast<i32>(cp));
    }
    i32 read_key() override {
        if (keys_.empty()) return KEY_END_OF_INPUT;
        i32 k = keys_.front();
        keys_.pop_front();
        if (k == KEY_RESIZE) {
            width_ = next_width_;
            console_grid_resize(screen_, width_, screen_->height);
        }
        writes_.emplace_back();
        return k;
    }
    void write(const std::string& bytes) override {
        if (writes_.empty()) writes_.emplace_back();
        writes_.back() += bytes;
        std::u32string units;
        const u8* p = reinterpret_cast<const u8*>(bytes.data());
        const u8* end = p + bytes.size();
        while (p < end) {
            i32 cp;
            p = utf8_decode_char(p, end, &cp);
            units.push_back(static_cast<u32>(cp));
        }
        ansi_write(screen_, units.data(), units.size() * 4, 4, false);
    }
    int columns() override { return width_; }
    // The grid keeps its rows as they are when its width changes (it clips
    // them, it does not wrap them again), and says where its cursor is.
    int cursor_column() override {
        asked_column_ = true;
        return screen_->cursor_x < width_ ? screen_->cursor_x : width_ - 1;
    }
    bool asked_column() const { return asked_column_; }

    std::string row(int y) const { return console_grid_row_text(screen_, y); }
    int cursor_x() const { return screen_->cursor_x; }
    int cursor_y() const { return screen_->cursor_y; }
    // What was written after the last key read.
    const std::string& last_write() const { return writes_.back(); }
    void resize_on_next(int width) {
        next_width_ = width;
        keys_.push_back(KEY_RESIZE);
    }
    ConsoleScreen* screen() { return screen_; }

private:
    ConsoleScreen* screen_;
    int width_;
    int next_width_ = 0;
    bool asked_column_ = false;
    std::deque<i32> keys_;
    std::vector<std::string> writes_;
};

class FakeContext : public EditorContext {
public:
    std::vector<std::u32string> history;   // newest first
    std::vector<Completion> completions;
    std::u32string asked_line;
    size_t asked_cursor = 0;

    size_t history_count() override { return history.size(); }
    std::u32string history_entry(size_t i) override { return history.at(i); }
    std::vector<Completion> complete(const std::u32string& line, size_t cursor) override {
        asked_line = line;
        asked_cursor = cursor;
        return completions;
    }
};

class EditorTest : public ::testing::Test {
protected:
    EditOutcome run(const std::u32string& prompt = U">> ", bool hidden = false, int origin = 0) {
        return editor.edit(term, ctx, prompt, hidden, origin);
    }
    GridTerminal term{20, 6};
    FakeContext ctx;
    LineEditor editor;
};

TEST_F(EditorTest, TypingAndEnter) {
    term.type(U"1 + 2");
    term.keys({KEY_ENTER});
    EditOutcome o = run();
    EXPECT_EQ(o.line, U"1 + 2");
    EXPECT_EQ(o.end, EditEnd::enter);
    EXPECT_EQ(term.row(0), ">> 1 + 2");
    // The cursor is at the start of the next row.
    EXPECT_EQ(term.cursor_y(), 1);
    EXPECT_EQ(term.cursor_x(), 0);
}

TEST_F(EditorTest, TypingAtTheEndWritesOnlyTheNewCharacter) {
    struct Spy : GridTerminal {
        using GridTerminal::GridTerminal;
        std::vector<std::string> seen;
        void write(const std::string& b) override {
            seen.push_back(b);
            GridTerminal::write(b);
        }
    } spy(20, 4);
    spy.type(U"ab");
    spy.keys({KEY_ENTER});
    editor.edit(spy, ctx, U">> ", false, 0);
    ASSERT_GE(spy.seen.size(), 3u);
    EXPECT_EQ(spy.seen[0], ">> ");
    EXPECT_EQ(spy.seen[1], "a");
    EXPECT_EQ(spy.seen[2], "b");
}

TEST_F(EditorTest, InsertingInTheMiddleRedrawsTheLine) {
    term.type(U"ac");
    term.keys({KEY_LEFT, 'b', KEY_ENTER});
    EXPECT_EQ(run().line, U"abc");
    EXPECT_EQ(term.row(0), ">> abc");
}

TEST_F(EditorTest, CursorKeysPlaceTheCursor) {
    term.type(U"hello");
    term.keys({KEY_HOME});
    EditOutcome o;
    // Stop after Home: the input ends there (the line is dropped).
    o = run();
    EXPECT_EQ(o.end, EditEnd::input_ended);
    EXPECT_EQ(term.cursor_x(), 3);
    EXPECT_EQ(term.cursor_y(), 0);
}

struct EditCase {
    const char* name;
    std::u32string typed;
    std::vector<i32> keys;   // then Enter
    std::u32string line;
    int cursor_col;          // where the cursor stood before Enter
};

class EditKeys : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditKeys, GiveTheLine) {
    const EditCase& c = GetParam();
    GridTerminal term(30, 4);
    FakeContext ctx;
    LineEditor editor;
    term.type(c.typed);
    for (i32 k : c.keys) term.keys({k});
    EditOutcome before = editor.edit(term, ctx, U">> ", false, 0);
    EXPECT_EQ(before.end, EditEnd::input_ended);
    EXPECT_EQ(term.cursor_x(), c.cursor_col);
    // The same keys with Enter give the line, and the screen shows it.
    GridTerminal again(30, 4);
    again.type(c.typed);
    for (i32 k : c.keys) again.keys({k});
    again.keys({KEY_ENTER});
    EditOutcome o = editor.edit(again, ctx, U">> ", false, 0);
    EXPECT_EQ(o.line, c.line);
    std::string shown = ">> ";
    for (u32 cp : c.line) shown += static_cast<char>(cp);
    EXPECT_EQ(again.row(0), shown);
}

const EditCase kEdits[] = {
    {"backspace_at_end", U"abc", {127}, U"ab", 5},
    {"backspace_ctrl_h", U"abc", {8, 8}, U"a", 4},
    {"backspace_in_middle", U"abc", {KEY_LEFT, 127}, U"ac", 4},
    {"backspace_at_start", U"abc", {KEY_HOME, 127}, U"abc", 3},
    {"delete", U"abc", {KEY_HOME, KEY_DELETE}, U"bc", 3},
    {"delete_at_end", U"abc", {KEY_DELETE}, U"abc", 6},
    {"ctrl_k", U"abcdef", {KEY_LEFT, KEY_LEFT, KEY_LEFT, 11}, U"abc", 6},
    {"ctrl_a_ctrl_e", U"abc", {1, 'x', 5, 'y'}, U"xabcy", 8},
    {"ctrl_b_ctrl_f", U"abc", {2, 2, 6, 'x'}, U"abxc", 6},
    {"ctrl_d_deletes_in_the_line", U"abc", {KEY_LEFT, 4}, U"ab", 5},
    {"ctrl_d_at_end_does_nothing", U"abc", {4}, U"abc", 6},
    {"right_at_end_stays", U"ab", {KEY_RIGHT}, U"ab", 5},
    {"ignored_keys", U"ab", {KEY_INSERT, KEY_PAGE_UP, KEY_PAGE_DOWN, 0, 7, 31}, U"ab", 5},
};
INSTANTIATE_TEST_SUITE_P(Keys, EditKeys, ::testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(EditorTest, CtrlDOnAnEmptyLineAndCtrlCGiveQ) {
    term.keys({4});
    EditOutcome o = run();
    EXPECT_EQ(o.line, U"q");
    EXPECT_EQ(o.end, EditEnd::quit);

    GridTerminal t2(20, 4);
    t2.type(U"abc");
    t2.keys({3});
    o = editor.edit(t2, ctx, U">> ", false, 0);
    EXPECT_EQ(o.line, U"q");
    EXPECT_EQ(o.end, EditEnd::quit);
}

TEST_F(EditorTest, EscapeEndsTheLineWithTheEscapeCharacter) {
    term.type(U"[1 2");
    term.keys({KEY_ESCAPE});
    EditOutcome o = run();
    EXPECT_EQ(o.line, U"[1 2\x1b");
    EXPECT_EQ(o.end, EditEnd::escape);
    EXPECT_EQ(term.cursor_y(), 1);
}

TEST_F(EditorTest, HistoryUpAndDown) {
    ctx.history = {U"newest", U"older", U"oldest"};
    // Up, Up: the older entry.
    term.keys({KEY_UP, KEY_UP, KEY_ENTER});
    EXPECT_EQ(run().line, U"older");
    // Up past the oldest entry empties the line.
    GridTerminal t2(20, 4);
    t2.keys({16, 16, 16, 16, KEY_ENTER});
    EXPECT_EQ(editor.edit(t2, ctx, U">> ", false, 0).line, U"");
    // Down after one Up shows the newest entry again, then the line empties.
    GridTerminal t3(20, 4);
    t3.keys({KEY_UP, KEY_DOWN, KEY_ENTER});
    EXPECT_EQ(editor.edit(t3, ctx, U">> ", false, 0).line, U"newest");
    GridTerminal t4(20, 4);
    t4.keys({KEY_UP, KEY_DOWN, 14, KEY_ENTER});
    EXPECT_EQ(editor.edit(t4, ctx, U">> ", false, 0).line, U"");
    EXPECT_EQ(t4.row(0), ">>");
}

TEST_F(EditorTest, UpOnAnEmptyHistoryEmptiesTheLine) {
    term.type(U"abc");
    term.keys({KEY_UP, KEY_ENTER});
    EXPECT_EQ(run().line, U"");
}

TEST_F(EditorTest, RecalledEntriesCanBeEdited) {
    ctx.history = {U"print 1"};
    term.keys({KEY_UP, 127, '2', KEY_ENTER});
    EXPECT_EQ(run().line, U"print 2");
    EXPECT_EQ(term.row(0), ">> print 2");
}

TEST_F(EditorTest, LongLinesWrapAndTheCursorFollows) {
    GridTerminal t(10, 6);
    t.type(U"abcdefghijkl");   // ">> " + 12: 7 on row 0, 5 on row 1
    t.keys({KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_LEFT, KEY_LEFT});
    EditOutcome o = editor.edit(t, ctx, U">> ", false, 0);
    EXPECT_EQ(o.end, EditEnd::input_ended);
    EXPECT_EQ(t.row(0), ">> abcdefg");
    EXPECT_EQ(t.row(1), "hijkl");
    // Six left from the end (row 1, column 5): row 0, column 9.
    EXPECT_EQ(t.cursor_y(), 0);
    EXPECT_EQ(t.cursor_x(), 9);
}

TEST_F(EditorTest, InsertingIntoAWrappedLineRedrawsEveryRow) {
    GridTerminal t(10, 6);
    t.type(U"abcdefghijkl");
    t.keys({KEY_HOME, 'X', KEY_END, 'Y', KEY_ENTER});
    EXPECT_EQ(editor.edit(t, ctx, U">> ", false, 0).line, U"XabcdefghijklY");
    EXPECT_EQ(t.row(0), ">> Xabcdef");
    EXPECT_EQ(t.row(1), "ghijklY");
    EXPECT_EQ(t.cursor_y(), 2);
    EXPECT_EQ(t.cursor_x(), 0);
}

TEST_F(EditorTest, ALineEndingAtTheRightEdgePutsTheCursorOnTheNextRow) {
    // ">> " and 7 characters fill row 0 of 10 columns exactly.
    GridTerminal t2(10, 6);
    t2.type(U"abcdefgh");
    t2.keys({127, 127, 'Z', KEY_ENTER});
    EXPECT_EQ(editor.edit(t2, ctx, U">> ", false, 0).line, U"abcdefZ");
    EXPECT_EQ(t2.row(0), ">> abcdefZ");
    EXPECT_EQ(t2.row(1), "");
    // Enter moved to the row after the text, not one more.
    EXPECT_EQ(t2.cursor_y(), 1);
}

TEST_F(EditorTest, BackspaceAcrossARowBoundary) {
    GridTerminal t(10, 6);
    t.type(U"abcdefghi");   // row 1 holds "hi"
    t.keys({127, 127, 127, KEY_ENTER});
    EXPECT_EQ(editor.edit(t, ctx, U">> ", false, 0).line, U"abcdef");
    EXPECT_EQ(t.row(0), ">> abcdef");
    EXPECT_EQ(t.row(1), "");
}

TEST_F(EditorTest, HiddenInputShowsStars) {
    term.type(U"secret");
    term.keys({KEY_LEFT, 'X', KEY_ENTER});
    EditOutcome o = run(U"Password: ", true);
    EXPECT_EQ(o.line, U"secreXt");
    EXPECT_EQ(term.row(0), "Password: *******");
}

TEST_F(EditorTest, APromptWithColoursTakesOnlyItsVisibleColumns) {
    term.type(U"ab");
    term.keys({KEY_LEFT});
    run(U"\x1b[32m>>\x1b[0m ");
    EXPECT_EQ(term.row(0), ">> ab");
    EXPECT_EQ(term.cursor_x(), 4);
}

TEST_F(EditorTest, TheOriginColumnIsRespected) {
    GridTerminal t(10, 6);
    console_screen_set_cursor(t.screen(), 5, 0);
    t.type(U"abcdef");   // "? " at 5-6, a-c at 7-9, d-f on row 1
    t.keys({KEY_HOME, 'X'});
    editor.edit(t, ctx, U"? ", false, 5);
    EXPECT_EQ(t.row(0), "     ? Xab");
    EXPECT_EQ(t.row(1), "cdef");
    EXPECT_EQ(t.cursor_y(), 0);
    EXPECT_EQ(t.cursor_x(), 8);
}

TEST_F(EditorTest, TabWithoutCandidatesInsertsATab) {
    term.type(U"a");
    term.keys({'\t', 'b', KEY_ENTER});
    EXPECT_EQ(run().line, U"a\tb");
    EXPECT_EQ(term.row(0), ">> a    b");
    EXPECT_EQ(ctx.asked_line, U"a");
    EXPECT_EQ(ctx.asked_cursor, 1u);
}

TEST_F(EditorTest, TabWithOneCandidateReplacesTheLine) {
    ctx.completions = {{U"print x", 5}};
    term.type(U"pri x");
    term.keys({KEY_LEFT, KEY_LEFT, '\t', 'Z', KEY_ENTER});
    EXPECT_EQ(run().line, U"printZ x");
    EXPECT_EQ(ctx.asked_cursor, 3u);
}

TEST_F(EditorTest, TabWithSeveralCandidatesListsThemAndEditingGoesOn) {
    ctx.completions = {{U"pr", 2}, {U"print", 0}, {U"probe", 0}};
    term.type(U"p");
    term.keys({'\t', 'o', KEY_ENTER});
    EditOutcome o = run();
    // The candidates take the line's place after the prompt; the next row
    // brings the prompt back with the completed line, which is edited on
    // (never an empty line).
    EXPECT_EQ(o.line, U"pro");
    EXPECT_EQ(term.row(0), ">> print probe");
    EXPECT_EQ(term.row(1), ">> pro");
    EXPECT_EQ(term.row(2), "");
}

TEST_F(EditorTest, ManyCandidatesWrapAfterThePromptAndThePromptComesBack) {
    ctx.completions = {{U"x a", 3}, {U"aaaa", 0}, {U"abbbb", 0}, {U"acccccc", 0}};
    term.type(U"x a");
    term.keys({'\t', KEY_ENTER});
    EditOutcome o = run();
    EXPECT_EQ(o.line, U"x a");
    // After the prompt, over two rows of 20 columns.
    EXPECT_EQ(term.row(0), ">> aaaa abbbb accccc");
    EXPECT_EQ(term.row(1), "c");
    EXPECT_EQ(term.row(2), ">> x a");
    EXPECT_EQ(term.cursor_y(), 3);
}

TEST_F(EditorTest, HiddenInputIsNotCompleted) {
    ctx.completions = {{U"print", 5}};
    term.type(U"p");
    term.keys({'\t', KEY_ENTER});
    EXPECT_EQ(run(U"? ", true).line, U"p\t");
}

TEST_F(EditorTest, TheEndOfInputDropsThePartialLine) {
    term.type(U"abc");
    EditOutcome o = run();
    EXPECT_EQ(o.end, EditEnd::input_ended);
    EXPECT_EQ(o.line, U"");
}

TEST_F(EditorTest, ASizeChangeRedrawsWithTheNewWidth) {
    GridTerminal t(20, 6);
    t.type(U"abcdefghij");
    t.resize_on_next(8);
    t.keys({KEY_ENTER});
    EXPECT_EQ(editor.edit(t, ctx, U">> ", false, 0).line, U"abcdefghij");
    EXPECT_EQ(t.row(0), ">> abcde");
    EXPECT_EQ(t.row(1), "fghij");
    EXPECT_TRUE(t.asked_column());
}

// A terminal that records what the editor writes after a size change and
// reports a given column for its cursor.
class RewrappingTerminal : public EditorTerminal {
public:
    std::deque<i32> keys;
    std::string written;
    int width = 20;
    int next_width = 20;
    int reported_column = -1;
    i32 read_key() override {
        if (keys.empty()) return KEY_END_OF_INPUT;
        i32 k = keys.front();
        keys.pop_front();
        if (k == KEY_RESIZE) {
            width = next_width;
            written.clear();
        }
        return k;
    }
    void write(const std::string& bytes) override { written += bytes; }
    int columns() override { return width; }
    int cursor_column() override { return reported_column; }
};

TEST_F(EditorTest, ANarrowerTerminalIsRedrawnFromThePromptsRow) {
    // (characters typed, Left presses, new width, column reported, the move
    // to the prompt's row that starts the redraw)
    // 39 characters after ">> " at 20 columns: the cursor ends on row 2,
    // column 2. At 12 columns a rewrapping terminal shows it on row 3,
    // column 6; a clipping one keeps it on row 2, column 2.
    // 30 characters, 10 Left: the cursor on row 1, column 3; at 8 columns
    // row 2, column 7 when rewrapped.
    struct Case {
        int typed, lefts, width, reported;
        const char* up;
    };
    for (Case c : {Case{39, 0, 12, 6, "\r\x1b[3A\x1b[J"}, Case{39, 0, 12, 2, "\r\x1b[2A\x1b[J"},
                   Case{39, 0, 12, -1, "\r\x1b[3A\x1b[J"}, Case{30, 10, 8, 7, "\r\x1b[2A\x1b[J"},
                   Case{30, 10, 8, 3, "\r\x1b[1A\x1b[J"}}) {
        RewrappingTerminal t;
        for (int k = 0; k < c.typed; k++) t.keys.push_back('x');
        for (int k = 0; k < c.lefts; k++) t.keys.push_back(KEY_LEFT);
        t.next_width = c.width;
        t.reported_column = c.reported;
        t.keys.push_back(KEY_RESIZE);
        t.keys.push_back(KEY_ENTER);
        LineEditor e;
        e.edit(t, ctx, U">> ", false, 0);
        EXPECT_EQ(t.written.rfind(c.up, 0), 0u)
            << c.typed << " " << c.width << " " << c.reported << ": " << t.written;
    }
}

TEST_F(EditorTest, WideCharactersMoveTheCursorByTheirWidth) {
    // (The grid keeps one cell per character, so the movement itself is
    // checked.)
    term.type(U"x\u4E2D");
    term.keys({KEY_LEFT});
    run();
    EXPECT_EQ(term.last_write(), "\x1b[2D");
}

// ---- the output buffer ----------------------------------------------------------------------

TEST(OutputBuffer, SizedForTheLineAndThePrompt) {
    OutputBuffer b;
    b.size_for(10, 3, 1);   // unit at least 2: (10 + 3) * 2 * 4 = 104 fits in 128
    EXPECT_EQ(b.capacity(), 128u);
    b.size_for(30, 3, 2);   // 264 needed: twice that
    EXPECT_EQ(b.capacity(), 528u);
    b.size_for(10, 3, 4);   // smaller needs keep the capacity
    EXPECT_EQ(b.capacity(), 528u);
    b.append(std::string(600, 'x'));
    EXPECT_EQ(b.size(), 600u);
    EXPECT_GE(b.capacity(), 600u);
}

TEST(OutputBuffer, LineUnit) {
    EXPECT_EQ(line_unit(U"abc\u00e9"), 1u);
    EXPECT_EQ(line_unit(U"a\u20ac"), 2u);
    EXPECT_EQ(line_unit(U"a\U0001F600"), 4u);
}

TEST(OutputBufferDeathTest, AFailedAllocationEndsTheProcess) {
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            g_output_buffer_alloc = [](size_t) -> void* { return nullptr; };
            OutputBuffer b;
            b.size_for(100, 3, 2);
        },
        ::testing::ExitedWithCode(EXIT_NO_MEMORY), "Cannot allocate memory: init-buffer: 824");
}

}  // namespace
}  // namespace zan::console
