// Files and directories on POSIX: the operations behind the read, write,
// delete, query and rename actions of file!, and the small services that the
// routines create-dir, exists? and write-stdout and the console's standard
// input reader use.
//
// Local names are UTF-8 POSIX paths, made from file! values by
// file_to_local_cstr. Text read from a file is decoded as UTF-8 and text
// written is encoded as UTF-8; lines are ended by LF.
//
// Levels. The io_* primitives report failure by their return value (-1, a
// null result, false); the dispatchers io_read and io_write, which the
// file! actions reach through g_host_io, turn those failures into access
// errors (cannot-open with the file).
#pragma once
#include <string>

#include "runtime/core/cell.h"

namespace zan {

// Open modes, as a bit set.
constexpr u32 IO_MODE_READ = 1;
constexpr u32 IO_MODE_WRITE = 2;
constexpr u32 IO_MODE_APPEND = 4;  // write: keep the content, write at its end
constexpr u32 IO_MODE_SEEK = 8;    // write: keep the content, write at a position

// Size of the steps in which a file of unknown size (a pipe, a character
// device, a /proc file) is read to its end.
constexpr u32 IO_CHUNK_SIZE = 65536;

// ---- primitives --------------------------------------------------------------------------
// A file descriptor, or -1. Read opens an existing file; write creates the
// file when absent (mode 0666 less the umask) and truncates it unless
// append or seek is asked for.
int io_open_file(const char* name, u32 mode);
// Bytes read (0 at the end of the file), or -1 on failure. Interrupted
// calls are retried; a short count is returned as it comes.
i64 io_read_data(int fd, void* buffer, u64 count);
// Writes every byte (retrying short writes); the count, or -1 on failure.
i64 io_write_data(int fd, const void* buffer, u64 count);
// The size the system reports for a regular file; 0 for anything else (a
// pipe, a terminal, a device), whose content is measured by reading it; -1
// when the descriptor cannot be examined.
i64 io_file_size(int fd);
// Moves to a byte offset from the start of the file; false on failure.
bool io_seek(int fd, i64 offset);
void io_close_file(int fd);

// Creates one directory; false on failure.
bool io_make_dir(const char* name);
// The test behind io_is_dir: whether the name is taken.
bool io_file_exists(const char* name);
// Whether the path leads to a file or directory: a symbolic link is
// followed, so a dangling one leads nowhere (the test of exists?).
bool io_path_exists(const char* name);

// True for a directory name: ends in "/" or "\", is "." or "..", or ends
// in "/." "\." "/.." or "\..".
bool io_dir_path_q(const std::string& name);
bool io_dir_path_q(const ValueCell* file);

// ---- whole-file operations --------------------------------------------------------------
// Reads a file and pushes its content: a binary! (binary), a block! of line
// strings (lines), or a string! decoded from UTF-8. part: the most bytes to
// take (-1: no limit); seek: the bytes to skip first (-1 or 0: none). A file
// of unknown size is read to its end (or until seek + part bytes are there)
// and nothing read is lost. Null, with nothing pushed and errno telling
// why, when the file cannot be opened or read, or names a directory
// (EISDIR).
ValueCell* io_read_file(const char* name, i64 part, i64 seek, bool binary, bool lines);
// Writes bytes to the named file, or to standard output when name is null
// (which is not closed). seek >= 0: write from that offset without
// truncating; append: write at the end. Returns the bytes written, -1 when
// the file cannot be opened, -2 when the write fails.
i64 io_write_file(const char* name, const void* bytes, u64 count, i64 seek, bool append);

// Pushes bytes as a binary! (binary), a block! of lines split at LF with a
// CR before it dropped (lines), or a string! decoded from UTF-8 (invalid
// UTF-8 raises access error invalid-utf8 unless may_cut allows a character
// cut at the end).
ValueCell* io_push_content(const u8* data, size_t n, bool binary, bool lines, bool may_cut);
// Appends the bytes a value is written as: a binary!'s bytes (at most limit),
// a string!'s UTF-8 (at most limit characters), any other value formed.
// limit -1: all.
void io_value_bytes(std::string& out, ValueCell* value, i32 limit);

// ---- dispatchers of the file! actions -----------------------------------------------------
// read: a directory name is listed (io_read_dir); otherwise the file is
// read with /part and /seek (integer! cells or null; another type raises
// invalid-refine-arg). A failure raises access error cannot-open with the
// file and the system's reason. The result is pushed.
ValueCell* io_read(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary, bool lines);
// write: the data (string! as UTF-8 limited to /part characters, binary! as
// its bytes limited to /part bytes, any other value formed; with lines a
// block! is written one element per line, each followed by LF) to the file,
// or to standard output when file is null. A negative /part writes nothing.
// Failure to open raises cannot-open, failure to write write-failed, with
// the file and the system's reason. Pushes unset!.
ValueCell* io_write(ValueCell* file, ValueCell* data, ValueCell* part, ValueCell* seek,
                    bool binary, bool append, bool lines);
// The entries of a directory as file! values (directories with a trailing
// "/"), "." and ".." left out, in the order the system gives; pushed. A
// directory that cannot be opened raises cannot-open with the reason.
ValueCell* io_read_dir(ValueCell* dir);
// Removes the directory (for a directory name) or the file; true on success.
bool io_delete(ValueCell* file);
// Pushes the last-modification time (UTC) as a date!, or none when it
// cannot be read or a directory name names something else.
ValueCell* io_query(ValueCell* file);
// Renames; never replaces an existing target. True on success.
bool io_rename(ValueCell* from, ValueCell* to);

// Installs the dispatchers into the file! actions' host services
// (g_host_io). Run once at start-up; safe to run again.
void host_io_init();

}  // namespace zan
