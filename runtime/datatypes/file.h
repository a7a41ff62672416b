// file!: a path in the system's own notation, a text value with the
// string! layout (type id 8, parent url!). On Linux the platform notation
// is POSIX, so a Zan file name and a local file name are the same text:
// "/" separates the segments, and ":" and "\" are ordinary characters that
// survive the conversions both ways. The local name is UTF-8.
#pragma once
#include <string>

#include "runtime/core/cell.h"

namespace zan {

// ---- conversions with local names ----------------------------------------------------------
// Appends the local form of the path (from its head) to the target string;
// with current_dir a relative path is prefixed with the current directory.
void file_to_local(const ValueCell* file, ValueCell* target, bool current_dir);
// The local form as NUL-terminated UTF-8, without the current-directory
// prefix; a code point U+DC80-U+DCFF (a byte of a local name that is not
// UTF-8, see file_load_local) gives back that byte. A name holding a NUL
// code point, which no local file name can hold, raises access error
// cannot-open with the file.
std::string file_to_local_cstr(const ValueCell* file);
// The current directory with one "/" added when it does not end with one,
// as a new string! pushed on the data stack (empty when the directory
// cannot be read: a relative path then stays relative).
ValueCell* file_current_dir_prefix();
// A file! from UTF-8 bytes (a local name, or source text), pushed.
ValueCell* file_load(const u8* bytes, u32 length);
// A file! from a name the system gave (a directory entry, the current
// directory), pushed. Bytes that are not UTF-8 cannot be refused there:
// each byte of such a part becomes the code point U+DC00 plus the byte
// (U+DC80-U+DCFF, which no UTF-8 text decodes to), and file_to_local_cstr
// turns it back into the byte, so the name opens the same file.
ValueCell* file_load_local(const u8* bytes, u32 length);
// The same two conversions for any text the system hands over as bytes
// (an environment variable, a command line): local_text_load pushes a
// string! with the escapes above, local_text_bytes gives the bytes back
// from a string-like value's index (false, out unspecified, when it holds
// a NUL, which no such text can hold).
ValueCell* local_text_load(const u8* bytes, u32 length);
bool local_text_bytes(const ValueCell* text, std::string* out);

// ---- actions ------------------------------------------------------------------------------------
i32 file_mold(ValueCell* file, ValueCell* out, bool only, bool all, bool flat,
              ValueCell* arg_limit, i32 limit, i32 indent);
ValueCell* file_read(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary, bool lines,
                     bool info, ValueCell* as);
ValueCell* file_write(ValueCell* file, ValueCell* data, bool binary, bool lines, bool info,
                      bool append, ValueCell* part, ValueCell* seek, ValueCell* allow,
                      ValueCell* as);
ValueCell* file_delete(ValueCell* file);
ValueCell* file_query(ValueCell* file);
ValueCell* file_rename(ValueCell* from, ValueCell* to);

void file_init();

}  // namespace zan
