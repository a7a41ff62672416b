// Console output: the file road through pipes and files, the screen road on
// a grid, typed print, and the terminal back end.
#include "runtime/terminal/console_out.h"
#include "runtime/terminal/console_out_internal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "runtime/terminal/ansi.h"
#include "runtime/terminal/console_screen.h"
#include "runtime/terminal/print_hooks.h"
#include "terminal/console_grid.h"

namespace zan {
namespace {

const std::string kEsc = "\x1b";

std::string read_available(int fd) {
    std::string out;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

std::string raw_seen;
void record_raw(const u8* bytes, u32 size, bool new_line) {
    raw_seen.append(reinterpret_cast<const char*>(bytes), size);
    if (new_line) raw_seen += '\n';
}

class ConsoleOutTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(fds), 0);
        fcntl(fds[0], F_SETFL, O_NONBLOCK);
        print_hooks_free();
        console_output_start(fds[1]);
    }
    void TearDown() override {
        platform_console_init();
        print_hooks_free();
        close(fds[0]);
        close(fds[1]);
    }
    std::string output() { return read_available(fds[0]); }

    int fds[2] = {-1, -1};
};

TEST_F(ConsoleOutTest, FileRoadPassesEscapesThroughAndEndsLinesWithLf) {
    const std::string text = "a" + kEsc + "[31mb" + kEsc + "[0m";
    EXPECT_EQ(platform_write_units(text.data(), text.size(), 1, true), 0);
    EXPECT_EQ(output(), text + "\n");
    EXPECT_EQ(platform_write_units(text.data(), text.size(), 1, false), 0);
    EXPECT_EQ(output(), text);
    EXPECT_FALSE(g_console_output.is_console);
}

TEST_F(ConsoleOutTest, FileRoadEncodesEveryUnitWidthAsUtf8) {
    struct Case { u32 width; std::vector<u32> units; std::string want; };
    const Case cases[] = {
        {1, {0x41, 0xE9, 0xFF}, "A\xC3\xA9\xC3\xBF"},
        {2, {0x20AC, 0x7FF, 0x800}, "\xE2\x82\xAC\xDF\xBF\xE0\xA0\x80"},
        {2, {0xDC00}, "\xEF\xBF\xBD"},                     // a lone surrogate is no character
        {4, {0x1F600, 0x10FFFF}, "\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {4, {0xD800, 0x110000}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        std::vector<u8> bytes(c.units.size() * c.width);
        for (size_t i = 0; i < c.units.size(); i++) {
            u32 u = c.units[i];
            if (c.width == 1) bytes[i] = static_cast<u8>(u);
            if (c.width == 2) { u16 v = static_cast<u16>(u); std::memcpy(&bytes[i * 2], &v, 2); }
            if (c.width == 4) std::memcpy(&bytes[i * 4], &u, 4);
        }
        EXPECT_EQ(platform_write_units(bytes.data(), bytes.size(), c.width, false), 0);
        EXPECT_EQ(output(), c.want) << "width " << c.width;
    }
}

TEST_F(ConsoleOutTest, LargeTextToAFileArrivesWholeAndInOrder) {
    char path[] = "/tmp/zan-console-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    unlink(path);
    console_output_start(fd);
    std::u16string text;
    std::string want;
    const char16_t cycle[] = {u'a', u'\u00e9', u'\u20ac', u'z'};
    const char* enc[] = {"a", "\xC3\xA9", "\xE2\x82\xAC", "z"};
    for (int i = 0; i < 100000; i++) {
        text.push_back(cycle[i % 4]);
        want += enc[i % 4];
    }
    EXPECT_EQ(platform_write_units(text.data(), text.size() * 2, 2, true), 0);
    want += "\n";
    lseek(fd, 0, SEEK_SET);
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(fd);
    EXPECT_EQ(got.size(), want.size());
    EXPECT_TRUE(got == want);
}

TEST_F(ConsoleOutTest, FullNonBlockingPipeIsWaitedForWithoutLoss) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    fcntl(p[1], F_SETFL, O_NONBLOCK);
    console_output_start(p[1]);
    std::string text;
    for (int i = 0; i < 300000; i++) text += static_cast<char>('a' + i % 26);
    std::string got;
    std::thread reader([&] {
        char buf[4096];
        while (got.size() < text.size()) {
            ssize_t n = read(p[0], buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
            usleep(200);  // slower than the writer: the pipe fills up
        }
    });
    int err = platform_write_units(text.data(), text.size(), 1, false);
    reader.join();
    close(p[0]);
    close(p[1]);
    EXPECT_EQ(err, 0);
    EXPECT_TRUE(got == text) << got.size() << " of " << text.size() << " bytes";
}

TEST_F(ConsoleOutTest, FailedWriteIsReportedNotDropped) {
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    console_output_start(full);
    const char text[] = "lost";
    EXPECT_EQ(platform_write_units(text, 4, 1, true), ENOSPC);
    EXPECT_EQ(g_console_output.error, ENOSPC);
    EXPECT_EQ(platform_print_cstring("x"), ENOSPC);
    EXPECT_EQ(platform_print_int(5), ENOSPC);
    close(full);

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    close(p[1]);
    console_output_start(p[1]);  // a closed descriptor
    EXPECT_EQ(platform_write_units(text, 4, 1, false), EBADF);
    EXPECT_EQ(g_console_output.error, EBADF);
    close(p[0]);
}

TEST_F(ConsoleOutTest, ScreenRoadCarriesOutSequences) {
    ConsoleScreen* grid = console_grid_new(20, 4);
    g_console_output.screen = grid;
    const std::string text = "a" + kEsc + "[31mb" + kEsc + "[0m";
    EXPECT_EQ(platform_write_units(text.data(), text.size(), 1, true), 0);
    EXPECT_EQ(console_grid_row_text(grid, 0), "ab");
    EXPECT_EQ(console_grid_attribute_at(grid, 1, 0), 0x04);
    EXPECT_EQ(grid->attribute, CONSOLE_DEFAULT_ATTRIBUTE);
    EXPECT_EQ(grid->cursor_x, 0);
    EXPECT_EQ(grid->cursor_y, 1);
    EXPECT_EQ(output(), "");
    // 4-byte text is shown as it is: the escape is a character.
    std::u32string wide = U"\x1b[31m";
    EXPECT_EQ(platform_print_ucs4_line(wide.data(), wide.size() * 4), 0);
    EXPECT_EQ(console_grid_char_at(grid, 0, 1), 27u);
    EXPECT_EQ(console_grid_row_text(grid, 1).substr(1), "[31m");
    EXPECT_EQ(grid->cursor_y, 2);
    EXPECT_EQ(platform_console_put_char(0x263A), 0);
    EXPECT_EQ(console_grid_char_at(grid, 0, 2), 0x263Au);
    console_screen_destroy(grid);
}

TEST_F(ConsoleOutTest, ConsoleOperationsActOnTheAttachedScreen) {
    ConsoleScreen* grid = console_grid_new(10, 3);
    g_console_output.screen = grid;
    EXPECT_EQ(platform_console_sgr(-1, 31), 0x04);
    EXPECT_EQ(platform_console_sgr(0x1F, 0), CONSOLE_DEFAULT_ATTRIBUTE);
    platform_console_set_attribute(0x1E);
    platform_console_save_attribute();
    EXPECT_EQ(grid->default_attribute, 0x1E);
    EXPECT_EQ(platform_console_sgr(0x04, 0), 0x1E);
    const std::string fill = "0123456789abcdefghij";
    platform_write_units(fill.data(), fill.size(), 1, false);
    platform_console_set_cursor(4, 1);
    platform_console_erase(ERASE_TO_ROW_END);
    EXPECT_EQ(console_grid_row_text(grid, 1), "abcd");
    EXPECT_EQ(console_grid_attribute_at(grid, 6, 1), 0x1E);
    const std::string seq = kEsc + "[2;1Hrest";
    EXPECT_EQ(platform_console_ansi_sequence(seq.data(), seq.size(), 1), 6u);
    EXPECT_EQ(grid->cursor_x, 0);
    EXPECT_EQ(grid->cursor_y, 1);
    console_screen_destroy(grid);
}

TEST_F(ConsoleOutTest, WithoutAConsoleTheSequencesAreLeftToTheReader) {
    const std::string seq = kEsc + "[2J";
    EXPECT_EQ(platform_console_screen(), nullptr);
    EXPECT_EQ(platform_console_ansi_sequence(seq.data(), seq.size(), 1), 0u);
    EXPECT_EQ(platform_write_console_ansi(seq.data(), seq.size(), 1, false), 0);
    EXPECT_EQ(output(), seq);
}

TEST_F(ConsoleOutTest, TypedPrintWritesAndPassesTheTextToRawHooks) {
    print_hooks_init();
    print_hooks_add(nullptr, record_raw);
    struct Case { int (*print)(); std::string want; };
    const Case cases[] = {
        {[] { return platform_print_int(-42); }, "-42"},
        {[] { return platform_print_hex2(10); }, "0A"},
        {[] { return platform_print_hex(0xBEEF); }, "0000BEEF"},
        {[] { return platform_print_float(0.1); }, "0.1"},
        {[] { return platform_print_float(1.0 / 3); }, "0.3333333333333333"},
        {[] { return platform_print_float32(0.1f); }, "0.1"},
        {[] { return platform_print_float32(1.0f / 3); }, "0.3333333"},
        // Bytes are written as they are, not re-encoded.
        {[] { return platform_print_cstring("\x1b[1mraw\xff"); }, "\x1b[1mraw\xff"},
    };
    for (const auto& c : cases) {
        raw_seen.clear();
        EXPECT_EQ(c.print(), 0);
        EXPECT_EQ(output(), c.want);
        EXPECT_EQ(raw_seen, c.want);
    }
}

// ---- terminal back end --------------------------------------------------------------

TEST_F(ConsoleOutTest, TerminalBackEndEmitsPositionedColouredText) {
    ConsoleScreen* t = console_terminal_new(fds[1]);
    EXPECT_EQ(t->width, 80);  // a pipe has no size: the usual one
    EXPECT_EQ(t->height, 24);
    console_screen_set_attribute(t, 0x04);
    const char text[] = "ab";
    console_screen_write_utf8(t, text, 2);
    EXPECT_EQ(console_screen_flush(t), 0);
    EXPECT_EQ(output(), kEsc + "[1;1H" + kEsc + "[0;31mab");
    console_screen_set_attribute(t, 0x8F | ATTR_UNDERSCORE);
    console_screen_set_cursor(t, 5, 2);
    console_screen_put_char(t, 0x1B);  // a control character is shown, not obeyed
    console_screen_flush(t);
    EXPECT_EQ(output(), kEsc + "[3;6H" + kEsc + "[0;97;100;4m\xE2\x90\x9B");
    console_screen_destroy(t);
}

TEST_F(ConsoleOutTest, TerminalBackEndOutputShowsWhatTheGridShows) {
    // The same text on a grid and on the terminal back end; the terminal's
    // bytes are then replayed on a second grid.
    ConsoleScreen* direct = console_grid_new(80, 24);
    ConsoleScreen* term = console_terminal_new(fds[1]);
    std::string text = "Hello " + kEsc + "[1;33;44mWorld" + kEsc + "[0m\r\nline two" + kEsc +
                       "[3;5HX" + kEsc + "[4mund" + kEsc + "[24m" + kEsc + "[K" + kEsc + "[10;70H";
    for (int i = 0; i < 300; i++) text += static_cast<char>('A' + i % 26);
    text += kEsc + "[91;104m";
    for (int i = 0; i < 30; i++) text += "row " + std::to_string(i) + "\n";
    text += kEsc + "[2;2H" + kEsc + "[1J" + kEsc + "[7mrev" + kEsc + "[0m" + kEsc + "[20;40H" +
            kEsc + "[1K" + kEsc + "[s" + kEsc + "[5;5H" + kEsc + "[u!" + kEsc + "[23;1H" + kEsc + "[J";
    text += std::string(80, '=');
    for (ConsoleScreen* s : {direct, term}) {
        ansi_write(s, text.data(), text.size(), 1, true);
        console_screen_flush(s);
    }
    const std::string bytes = output();
    ConsoleScreen* replay = console_grid_new(80, 24);
    ansi_write(replay, bytes.data(), bytes.size(), 1, false);
    for (int y = 0; y < 24; y++) {
        EXPECT_EQ(console_grid_row_text(replay, y), console_grid_row_text(direct, y)) << "row " << y;
        for (int x = 0; x < 80; x++)
            ASSERT_EQ(console_grid_attribute_at(replay, x, y), console_grid_attribute_at(direct, x, y))
                << x << "," << y;
    }
    EXPECT_EQ(replay->cursor_x, direct->cursor_x);
    EXPECT_EQ(replay->cursor_y, direct->cursor_y);
    console_screen_destroy(direct);
    console_screen_destroy(term);
    console_screen_destroy(replay);
}

struct Pty {
    int master = -1, slave = -1;
    Pty(int cols, int rows) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        winsize ws{};
        ws.ws_col = static_cast<unsigned short>(cols);
        ws.ws_row = static_cast<unsigned short>(rows);
        ioctl(master, TIOCSWINSZ, &ws);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
};

TEST_F(ConsoleOutTest, TerminalSizeComesFromTheTerminal) {
    Pty pty(100, 30);
    if (pty.slave < 0) GTEST_SKIP() << "no pseudo-terminal on this machine";
    console_output_start(pty.slave);
    EXPECT_TRUE(g_console_output.is_console);
    // The writers' own terminal screen, made on the output on first use.
    ConsoleScreen* t = platform_console_screen();
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t, g_console_output.terminal);
    EXPECT_EQ(t->width, 100);
    EXPECT_EQ(t->height, 30);

    // Resized: the next cursor move reads the size again and is sent as a
    // position on the terminal.
    winsize ws{};
    ws.ws_col = 120;
    ws.ws_row = 40;
    ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &ws), 0);
    platform_console_set_cursor(11, 6);
    EXPECT_EQ(t->width, 120);
    EXPECT_EQ(t->height, 40);
    EXPECT_NE(read_available(pty.master).find(kEsc + "[7;12H"), std::string::npos);

    // Pass-through on a terminal: the text goes out unchanged, LF included.
    const std::string text = kEsc + "[32mok" + kEsc + "[0m";
    EXPECT_EQ(platform_write_units(text.data(), text.size(), 1, true), 0);
    EXPECT_EQ(read_available(pty.master), text + "\n");
}

TEST(ConsoleInit, DetectsTheConsoleOnStandardOutput) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    console_output_start(p[1]);  // a redirection start-up must undo
    platform_console_init();
    close(p[0]);
    close(p[1]);
    EXPECT_EQ(g_console_output.is_console, isatty(STDOUT_FILENO) == 1);
    EXPECT_EQ(g_console_output.fd, STDOUT_FILENO);
}

}  // namespace
}  // namespace zan
