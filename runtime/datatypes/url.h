// url!: a resource locator, a text value with the string! layout (type id
// 9, parent string!; the parent of file!). Its own actions: make and to
// from a block, the percent-escaped mold, path access that adds a segment,
// and open, read and write, handed to the host I/O services (HTTP) or to a
// port made from the parsed URL.
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// The class selector of url_encode_char for the strict (unreserved) set;
// any other selector picks the file-safe set.
constexpr u32 URL_UNRESERVED = 254;
constexpr u32 URL_FILE_SAFE = 0;

// Character classes (code points below 127 only).
bool url_file_safe_q(u32 cp);
bool url_unreserved_q(u32 cp);

// The byte itself (*count 1) when it is in the selected class, else its
// escape "%XX" with upper-case digits (*count 3). The text is in a static
// buffer valid until the next call.
const char* url_encode_char(u32 selector, u8 byte, u32* count);
// The escape "%XX" of a byte, upper-case digits, in a static buffer.
const char* url_escape_text(u8 byte);
// The byte of the escape at p when a url! keeps it escaped, else -1: the
// escape of a delimiter that molds plainly (: / ? # @ ! $ & ' ( ) * + , =),
// and the escape of a "%" that two hexadecimal digits follow (plain or
// escaped).
// Decoding either would change what the URL names.
i32 url_kept_escape(const u8* p, const u8* end);
// Appends the UTF-8 bytes of the text (from its head) to target, each
// through url_encode_char.
void url_encode(const ValueCell* text, ValueCell* target, u32 selector);
// Appends the text (from its head) to target with percent escapes decoded:
// an escaped UTF-8 sequence gives one code point; an escape that does not
// decode to a character is kept as it is written.
void url_decode(const ValueCell* text, ValueCell* target);
// The port of a URL: the URL parser's object made a port! (make port!);
// with open, the port is opened with the refinements of open. A parser
// result that is not an object raises invalid-arg with the URL. Pushed.
ValueCell* url_to_port(ValueCell* url, bool open, bool new_, bool read, bool write, bool seek,
                       ValueCell* allow);

// ---- actions ------------------------------------------------------------------------------------
ValueCell* url_make(ValueCell* proto, ValueCell* spec, u32 type);
ValueCell* url_to(ValueCell* proto, ValueCell* spec, u32 type);
i32 url_mold(ValueCell* url, ValueCell* out, bool only, bool all, bool flat,
             ValueCell* arg_limit, i32 limit, i32 indent);
// file! and url!: a path extends the value by one segment (a new value);
// setting through a path raises bad-path-set.
ValueCell* url_eval_path(ValueCell* parent, ValueCell* element, ValueCell* value,
                         ValueCell* path, ValueCell* holder, ValueCell* holder_item, i32 index,
                         bool case_sensitive, bool flag1, bool flag2, bool flag3);
ValueCell* url_open(ValueCell* url, bool new_, bool read, bool write, bool seek,
                    ValueCell* allow);
ValueCell* url_read(ValueCell* url, ValueCell* part, ValueCell* seek, bool binary, bool lines,
                    bool info, ValueCell* as);
ValueCell* url_write(ValueCell* url, ValueCell* data, bool binary, bool lines, bool info,
                     bool append, ValueCell* part, ValueCell* seek, ValueCell* allow,
                     ValueCell* as);

void url_init();

}  // namespace zan
