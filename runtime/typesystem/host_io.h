// The host I/O services that the file! and url! actions hand their work
// to. The host I/O layer (files, directories, HTTP) sits above the datatypes
// and installs its entries here; the natives install the URL parser (which
// calls the language-level one).
#pragma once
#include "runtime/core/cell.h"

namespace zan {

// Plug-in point: installed by host_io_init and natives_init; tests install a
// stand-in host.
struct HostIoServices {
    // The content of a file (string!, binary! with binary, a block of lines
    // with lines; a block of entries for a directory), pushed on the data
    // stack. part and seek are the /part and /seek arguments or null. File
    // errors are raised by the service.
    ValueCell* (*io_read)(ValueCell* file, ValueCell* part, ValueCell* seek, bool binary,
                          bool lines) = nullptr;
    // Writes or appends data to the file; the value that write returns,
    // pushed. File errors are raised by the service.
    ValueCell* (*io_write)(ValueCell* file, ValueCell* data, ValueCell* part, ValueCell* seek,
                           bool binary, bool append, bool lines) = nullptr;
    // Removes the file (or the directory, for a path ending in "/"); true on
    // success. Raises nothing.
    bool (*io_delete)(ValueCell* file) = nullptr;
    // The file's last-write time as a date! pushed on the data stack, or a
    // pushed none when it cannot be read.
    ValueCell* (*io_query)(ValueCell* file) = nullptr;
    // Renames from to to; true on success.
    bool (*io_rename)(ValueCell* from, ValueCell* to) = nullptr;
    // An HTTP request: method is a word! (sent upper-cased), headers a block
    // of names and values or none, body none, block!, string! or binary!.
    // The result (the body as string!, or binary! with binary; with info a
    // block of status, headers and body) is pushed; null when the request
    // could not be made.
    ValueCell* (*http_request)(ValueCell* method, ValueCell* url, ValueCell* headers,
                               ValueCell* body, bool binary, bool lines, bool info) = nullptr;
    // Why the last http_request returned null, in plain words ("connection
    // refused", "host not found", "timeout", ...).
    const char* (*http_failure)() = nullptr;
    // The language-level URL parser: an object! describing the URL, or any
    // other value when it cannot be parsed; pushed.
    ValueCell* (*parse_url)(ValueCell* url) = nullptr;
};

extern HostIoServices g_host_io;

}  // namespace zan
