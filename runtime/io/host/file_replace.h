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

// Replaces the named file's content with the bytes: they are written to a
// new file in the same directory, which is renamed over the target once
// complete. A symbolic link is followed and kept; the replacement keeps the
// old file's permissions. Devices, pipes and files with several hard links
// are written in place. On failure the old file is untouched and no
// temporary file is left behind.
WriteOutcome io_replace_file(const char* name, const void* bytes, u64 count);
// Writes into an existing file (created when absent) without truncating
// it: at the offset seek (>= 0) or, with append, at its end. An append that
// fails part way is cut back to the old size.
WriteOutcome io_extend_file(const char* name, const void* bytes, u64 count, i64 seek,
                            bool append);

}  // namespace zan
