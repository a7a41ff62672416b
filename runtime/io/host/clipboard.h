// The system clipboard: text, lists of files and images (as image/png).
// Under a Wayland session with wl-copy/wl-paste, or an X display with
// xclip, the desktop's clipboard is used through those programs; otherwise
// a clipboard kept in the process, so that a write and a later read
// round-trip in a plain terminal. Text keeps its LF line ends both ways.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// The text/uri-list form of local paths: file:// URIs, percent-encoded,
// each line ended by CR LF.
std::string clipboard_uri_list(const std::vector<std::string>& paths);
// The local paths of the file:// URIs of a text/uri-list (comments and
// other schemes skipped).
std::vector<std::string> clipboard_paths_of(const std::string& uri_list);

// read-clipboard: pushes a string!, a block! of file! values, an image!
// (PNG, JPEG, GIF, BMP or TIFF data; false when it does not decode), none
// when the clipboard holds nothing usable, or false when it cannot be read.
ValueCell* clipboard_read();
// write-clipboard: a string!, a block of files, an image! (offered as PNG;
// one without pixels writes nothing), or none (empties it); true
// on success. Any other value raises script invalid-arg.
bool clipboard_write(ValueCell* value);

}  // namespace zan
