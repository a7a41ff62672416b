// Whole-file writes that leave either the old content or the new one, never
// a part of the new one.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

enum class WriteStatus { ok, cannot_open, write_failed };

struct WriteOutcome {
    WriteStatus status;
    int error;  // errno of the failure, 0 on success
};

// Replaces the named file's content with the bytes. The user's own
// regular file (one name, writable, in a directory the user may write) is
// replaced by a new file written beside it and renamed over it once
// complete, so a failure leaves the old content whole; the replacement
// keeps the old file's permissions. A symbolic link is followed and kept.
// Any other target is written in place as open(2) allows: a read-only
// file is refused, someone else's file keeps its owner and inode, a
// device or pipe is written to. A name that reaches a descriptor of this
// process (/dev/stdout, /dev/fd/N, /proc/self/fd/N) is written at that
// descriptor's position, as printing does. On failure no temporary file is
// left behind.
WriteOutcome io_replace_file(const char* name, const void* bytes, u64 count);
// Writes into an existing file (created when absent) without truncating
// it: at the offset seek (>= 0) or, with append, at its end. An append that
// fails part way is cut back to the old size. Without seek, a name that
// reaches a descriptor of this process is written at its position.
WriteOutcome io_extend_file(const char* name, const void* bytes, u64 count, i64 seek,
                            bool append);

}  // namespace zan
