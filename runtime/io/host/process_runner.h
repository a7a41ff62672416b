// The process runner behind call and browse: starts a child, feeds its
// standard input and captures its output and error streams, all served
// together so that no amount of traffic in any direction can block it.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// Takes a child's output as it arrives: the reader asks for room, reads
// into it, and says how many bytes came; at the end of the stream, finish.
struct ProcessSink {
    virtual ~ProcessSink() = default;
    // Where at least want bytes may be read.
    virtual u8* room(size_t want) = 0;
    // n bytes were read into the room.
    virtual void commit(size_t n) = 0;
    virtual void finish() = 0;
};

// Where one standard stream of the child goes.
struct ProcessStream {
    enum Kind { NUL, CONSOLE, BYTES, FILE } kind = NUL;
    std::string path;   // FILE: the local path (output and error are appended)
    std::string bytes;  // BYTES: the input to send, or the output captured
    // BYTES output: when set, the output goes to the sink instead of bytes.
    ProcessSink* sink = nullptr;
};

struct ProcessRun {
    std::string command;
    std::vector<std::string> argv;  // when not empty: run as given, command unused
    bool wait = false;
    bool console = false;  // unredirected streams are Zan's own
    bool shell = false;    // run as /bin/sh -c command
    ProcessStream input, output, error;
    bool used_shell = false;  // set when the command ran through the shell
};

// Splits a command line into arguments as the POSIX shell splits words:
// blanks and line ends separate them; single quotes keep everything up to
// the next single quote; double quotes keep everything but the escapes of
// $ ` " \ and a line end; a backslash outside quotes keeps the next
// character (and joins lines). Nothing is expanded: $, globs, ~, #, ; and |
// are ordinary characters. False when a quote is not closed.
bool process_split_command(const std::string& line, std::vector<std::string>* args);
// The word between single quotes (a single quote in it written '\''), so
// that both the splitting above and the shell give it back whole.
std::string process_quote_word(const std::string& word);

// Whether an executable of that name is found on PATH.
bool process_on_path(const char* program);

// Runs the child. A command that is not found is run once more through the
// shell (which then reports status 127). Returns the exit status (128 plus
// the signal number for a child ended by a signal) when waiting, which any
// redirection or console forces; otherwise the child's process id, the
// child being reaped once it ends. -1 when the child cannot be started or a
// redirection cannot be opened. A Ctrl-C (g_interrupt_pending, left set
// for the caller to take) ends the wait: the child has a moment to end by
// the terminal's SIGINT, then it is killed; -1 then.
i64 process_run(ProcessRun& run);

// The native call: cmd [string! file!] with /wait /show /console /shell
// /input /output /error as its refinement argument cells (null when not
// given). A string! (or other) command is split into words as the shell
// splits them (a quote left open raises script error invalid-arg with the
// command); a file! is one program path. Captured output is added to
// string! and binary! targets.
i64 process_call(ValueCell* cmd, bool wait, bool console, bool shell, ValueCell* input,
                 ValueCell* output, ValueCell* error);

// Opens a URL or file in the desktop's application for it with xdg-open,
// without waiting. Raises access cannot-open when xdg-open is missing.
void process_browse(ValueCell* target);

}  // namespace zan
