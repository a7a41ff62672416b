// The terminal on Linux: standard input as a stream of bytes, raw mode for
// the line editor, the window size, and the signals around them.
//
// Raw mode (for one edit at a time): canonical input, echo, signal keys,
// extended input processing, flow control and CR-to-LF translation off,
// reads return as soon as one byte is there; output processing stays on.
// Modes are switched with TCSANOW, never flushing, so that type-ahead and
// pasted lines survive between edits. The saved mode comes back on every
// way out: the end of the edit, process exit, SIGTERM, SIGHUP, SIGQUIT,
// SIGINT and the fatal signals (whose earlier handlers then run as before);
// on exit and on those signals the restore bytes a view left are written
// too, so that no mode it switched on outlives the process.
//
// SIGWINCH writes a byte into a pipe that the byte reader watches, so an
// edit waiting for a key learns of the new size whichever thread the
// signal reached.
#pragma once
#include <string>

#include "runtime/terminal/terminal_keys.h"

namespace zan::console {

// Bytes of a file descriptor (standard input), read in blocks and handed
// out one by one; the same reader serves the line editor and the line
// reader of pipes and files, so that nothing read ahead is lost between
// them. The end of input (end of file, a read error such as EIO on a
// hung-up terminal) is final: every later read answers BYTE_END at once.
class FdBytes : public ByteInput {
public:
    explicit FdBytes(int fd) : fd_(fd) {}
    int next_byte(int timeout_ms) override;
    void unread(u8 byte) override;
    // Gives bytes back in front of what is buffered (in their order).
    void push_front(const std::string& bytes);
    // Up to n bytes: what is buffered, else one read (waiting for at least
    // one byte). 0 at the end of input.
    size_t read_some(u8* out, size_t n);
    bool ended() const { return ended_ && head_ >= queue_.size(); }
    bool buffered() const { return head_ < queue_.size(); }
    int fd() const { return fd_; }
    // A descriptor whose readability stops a wait with BYTE_WAKE (-1: none).
    void set_wake_fd(int fd) { wake_fd_ = fd; }
    int wake_fd() const { return wake_fd_; }

private:
    // Reads more bytes into the queue: 1 got some, 0 timeout, BYTE_END,
    // BYTE_WAKE.
    int fill(int timeout_ms);

    int fd_;
    int wake_fd_ = -1;
    bool ended_ = false;
    std::string queue_;
    size_t head_ = 0;
};

// The reader of standard input.
FdBytes& stdin_bytes();

// ---- modes ----------------------------------------------------------------------------------
// Saves the mode of fd and enters raw mode; false when fd is not a
// terminal or refuses. Without wait_for_a_byte a read returns at once
// with what is there (the view's event loop polls before it reads).
//
// Raw mode nests: entering it again while it is on (a line edited by ask
// inside a view's event loop) takes the terminal from the holder, with
// its own wait_for_a_byte, and the lend hook runs first; the matching
// tty_restore gives it back as the holder had it and then runs the return
// hook. Only the outermost tty_restore puts the saved mode back.
bool tty_enter_raw(int fd, bool wait_for_a_byte = true);
// Leaves one level of raw mode (nothing when raw mode is not on).
void tty_restore();
// Leaves every level at once: the saved mode back, and the restore bytes
// written. Async-signal safe; the signal handlers and the exit handler
// call it.
void tty_restore_all();
bool tty_raw_on();
// What the holder of the terminal does when a nested raw mode takes it
// (lend) and gives it back (back); null for nothing.
void tty_set_lend_hooks(void (*lend)(), void (*back)());

// Bytes that undo the terminal modes a holder switched on (mouse reports,
// the alternate screen, a hidden cursor), written to fd by tty_restore_all
// when a signal or the exit ends the process with them on. An empty text
// (the default) writes nothing. Not for use from a signal handler.
void tty_set_restore_bytes(int fd, const std::string& bytes);

// Drops the input that has arrived on fd and was not read yet (a
// terminal's late answers must not reach whoever reads next).
void tty_discard_input(int fd);

// Installs the signal handlers (once): the restoring ones and the size
// change pipe, and an exit handler that restores the mode.
void tty_install_handlers();
// The read end of the size change pipe (-1 before tty_install_handlers).
int tty_resize_fd();
// Empties the size change pipe; true when a change was signalled.
bool tty_take_resize();

// The size of the terminal behind fd; false when it is not a terminal or
// reports zero columns.
bool tty_window_size(int fd, int* columns, int* rows);

// Asks the terminal for its cursor position (writing the request to
// out_fd, reading the answer from in) and answers the 0-based column, or
// -1 when no answer came within timeout_ms. Bytes that arrived before the
// answer stay in the reader.
int tty_query_cursor_column(FdBytes& in, int out_fd, int timeout_ms);

// Writes all the bytes to fd (retrying); false on failure.
bool tty_write(int fd, const std::string& bytes);

}  // namespace zan::console
