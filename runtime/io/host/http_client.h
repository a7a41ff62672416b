// HTTP requests for read and write of http and https URLs: one synchronous
// transfer through libcurl's easy interface. Redirects are followed;
// certificates are always verified against the system's store.
#pragma once
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "runtime/core/cell.h"

namespace zan {

// Runs curl_global_init once; later calls do nothing.
void http_global_init();

// The response headers of the last answer of a transfer (the headers of
// redirect hops left out), in the order of first appearance; a name that
// occurs again (matched without regard to case) collects every value.
struct HttpHeaders {
    std::vector<std::pair<std::string, std::vector<std::string>>> fields;
    // Takes one raw header line (CR LF included or not): a status line
    // starts the map afresh; "Name: value" is split at its first colon, the
    // white space around the value dropped; anything else is ignored.
    void take_line(const std::string& line);
};

struct HttpResponse {
    long status = 0;
    HttpHeaders headers;
    std::string body;
};

struct HttpRequest {
    std::string method;  // upper-case method name
    std::string url;     // percent-encoded URL text
    std::vector<std::pair<std::string, std::string>> headers;
    bool has_body = false;
    std::string body;
};

// Runs the transfer. False with *reason set ("connection refused", "host
// not found", "timeout", "TLS failure: ...", or the library's text) when
// no answer came; an HTTP error status is an answer.
bool http_perform(const HttpRequest& request, HttpResponse* response, std::string* reason);

// The URL's text for the wire: its UTF-8 with every byte outside the
// characters a URL may carry as they are percent-encoded.
std::string url_wire_text(ValueCell* url);

// The host service behind url! read and write (see host_io.h).
ValueCell* http_request(ValueCell* method, ValueCell* url, ValueCell* headers, ValueCell* body,
                        bool binary, bool lines, bool info);
// Why the last http_request returned null.
const char* http_last_failure();

}  // namespace zan
