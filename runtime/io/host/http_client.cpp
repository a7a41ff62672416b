#include "runtime/io/host/http_client.h"

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "runtime/core/errors.h"
#include "runtime/core/interrupt.h"
#include "runtime/core/stack.h"
#include "runtime/typesystem/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/scalars_basic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/host/curl_library.h"
#include "runtime/io/host/os_env.h"
#include "runtime/io/host/simple_io.h"
#include "runtime/io/lexer/lexer.h"

namespace zan {

namespace {

constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 30;
// The default agent names the system this runs on, Linux, not another.
constexpr const char* kUserAgent = "Mozilla/5.0 (X11; Linux x86_64)";

std::string g_last_failure = "timeout";

// The loaded library; only called once curl_library() has answered.
const CurlLibrary& curl() { return *curl_library(); }

struct CurlHandle {
    CURL* h = curl().easy_init();
    curl_slist* headers = nullptr;
    ~CurlHandle() {
        curl().slist_free_all(headers);
        if (h) curl().easy_cleanup(h);
    }
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t on_header(char* data, size_t size, size_t count, void* user) {
    static_cast<HttpHeaders*>(user)->take_line(std::string(data, size * count));
    return size * count;
}

// Called by the library while a transfer runs (about once a second when
// nothing moves): a Ctrl-C ends the transfer.
int on_progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return g_interrupt_pending ? 1 : 0;
}

bool tls_failure_q(CURLcode c) {
    return c == CURLE_SSL_CONNECT_ERROR || c == CURLE_PEER_FAILED_VERIFICATION ||
           c == CURLE_SSL_CERTPROBLEM || c == CURLE_SSL_CIPHER || c == CURLE_SSL_CACERT_BADFILE ||
           c == CURLE_SSL_ISSUER_ERROR || c == CURLE_SSL_PINNEDPUBKEYNOTMATCH ||
           c == CURLE_SSL_INVALIDCERTSTATUS || c == CURLE_SSL_ENGINE_INITFAILED;
}

// The reason a transfer brought no answer, in plain words.
std::string failure_reason(CURL* h, CURLcode c, const char* detail) {
    switch (c) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: return "host not found";
        case CURLE_OPERATION_TIMEDOUT: return "timeout";
        default: break;
    }
    if (tls_failure_q(c)) return std::string("TLS failure: ") + (*detail ? detail : curl().easy_strerror(c));
    if (c == CURLE_COULDNT_CONNECT) {
        long os_errno = 0;
        curl().easy_getinfo(h, CURLINFO_OS_ERRNO, &os_errno);
        if (os_errno == ECONNREFUSED) return "connection refused";
        if (os_errno == ETIMEDOUT) return "timeout";
        if (os_errno != 0) {
            std::string s = std::strerror(static_cast<int>(os_errno));
            if (!s.empty()) s[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[0])));
            return s;
        }
    }
    return *detail ? detail : curl().easy_strerror(c);
}

// The text of a header name or value: a word's spelling, a string's text,
// any other value formed.
std::string header_text(const ValueCell* v) {
    u32 t = v->type();
    if (t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD)
        return symbol_to_cstr(word_symbol(v));
    ValueCell c = *v;
    ValueCell* held = stack_push(&c);
    std::string out;
    io_value_bytes(out, held, -1);
    g_stack.top = held;
    return out;
}

}  // namespace

std::string url_wire_text(ValueCell* url) {
    ValueCell u = *url;
    ValueCell* held = stack_push(&u);
    std::string raw;
    cell_set_type(held, TYPE_STRING);
    io_value_bytes(raw, held, -1);
    g_stack.top = held;
    std::string out;
    for (unsigned char b : raw) {
        u32 n;
        bool keep = b == '[' || b == ']' || b == ';' || b == '%';
        out += keep ? std::string(1, static_cast<char>(b)) : url_encode_char(URL_FILE_SAFE, b, &n);
    }
    return out;
}

namespace {

// Whether text may go into a request line or header as it is: no CR, LF
// or NUL, which would end the line and let the text add lines of its own.
bool header_safe(const std::string& text) {
    static const char kLineBreakers[] = {'\r', '\n', '\0'};
    return text.find_first_of(kLineBreakers, 0, sizeof kLineBreakers) == std::string::npos;
}

std::string method_text(ValueCell* method) {
    std::string m = symbol_to_cstr(word_symbol(method));
    for (char& c : m) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return m;
}

// The key of a response header, pushed: the name decoded leniently (as
// the values are), a word when the lexer reads that text as exactly one
// word, else a string! (a name such as [x] or 1234), so that the map molds
// into text that loads back.
ValueCell* push_header_key(const std::string& name) {
    ValueCell* key = string_load_lenient_push(name.data(), name.size());
    std::string text;
    io_value_bytes(text, key, -1);
    ValueCell* scanned = stack_push_cell();
    i32 consumed = 0;
    i32 type = lexer_transcode(scanned, reinterpret_cast<const u8*>(text.data()),
                               static_cast<u32>(text.size()), true, true, false, 0, &consumed,
                               nullptr, nullptr, nullptr);
    g_stack.top = key + 1;
    if (type == TYPE_WORD && static_cast<size_t>(consumed) == text.size())
        word_make_at(symbol_make(text.c_str()), key);
    return key;
}

// Pushes the header map: each name a key (push_header_key), a repeated
// name a block of its values.
ValueCell* push_header_map(const HttpHeaders& headers) {
    ValueCell* blk = block_push_new(static_cast<u32>(headers.fields.size() * 2 + 2));
    for (const auto& [name, values] : headers.fields) {
        ValueCell* key = push_header_key(name);
        block_append_cell(blk, key);
        if (values.size() == 1) {
            ValueCell* v = string_load_lenient_push(values[0].data(), values[0].size());
            block_append_cell(blk, v);
        } else {
            ValueCell* all = block_push_new(static_cast<u32>(values.size()));
            for (const std::string& s : values) {
                ValueCell* v = string_load_lenient_push(s.data(), s.size());
                block_append_cell(all, v);
                stack_pop(1);
            }
            block_append_cell(blk, all);
        }
        g_stack.top = blk + 1;
    }
    ValueCell* map = stack_push_cell();
    map_make_at(map, blk, 0);
    ValueCell r = *map;
    *blk = r;
    g_stack.top = blk + 1;
    return blk;
}

}  // namespace

void HttpHeaders::take_line(const std::string& raw) {
    std::string line = raw;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        fields.clear();
        return;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return;
    std::string name = line.substr(0, colon);
    size_t start = colon + 1;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) start++;
    size_t end = line.size();
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t')) end--;
    std::string value = line.substr(start, end - start);
    for (auto& [n, values] : fields) {
        if (strcasecmp(n.c_str(), name.c_str()) == 0) {
            values.push_back(value);
            return;
        }
    }
    fields.push_back({name, {value}});
}

bool http_global_init() { return curl_library() != nullptr; }

bool http_perform(const HttpRequest& rq, HttpResponse* rs, std::string* reason) {
    if (!http_global_init()) {
        *reason = "cannot start the HTTP client";
        return false;
    }
    CurlHandle c;
    if (!c.h) {
        *reason = "cannot start the HTTP client";
        return false;
    }
    char detail[CURL_ERROR_SIZE] = {};
    CURL* h = c.h;
    curl().easy_setopt(h, CURLOPT_URL, rq.url.c_str());
    curl().easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
    curl().easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl().easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl().easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl().easy_setopt(h, CURLOPT_MAXREDIRS, 20L);
    curl().easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl().easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    curl().easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl().easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl().easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
    curl().easy_setopt(h, CURLOPT_WRITEDATA, &rs->body);
    curl().easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
    curl().easy_setopt(h, CURLOPT_HEADERDATA, &rs->headers);
    curl().easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
    curl().easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    if (rq.method == "GET") {
        curl().easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (rq.method == "HEAD") {
        curl().easy_setopt(h, CURLOPT_NOBODY, 1L);
    } else {
        if (rq.method != "POST") curl().easy_setopt(h, CURLOPT_CUSTOMREQUEST, rq.method.c_str());
        if (rq.has_body || rq.method == "POST") {
            curl().easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                               static_cast<curl_off_t>(rq.body.size()));
            curl().easy_setopt(h, CURLOPT_POSTFIELDS, rq.body.data());
        }
    }
    for (const auto& [name, value] : rq.headers) {
        // "Name;" is how an empty value is sent; "Name:" would remove it.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        c.headers = curl().slist_append(c.headers, line.c_str());
    }
    // Only what the caller gave is sent (with Host): the library adds no
    // Content-Type, Accept or Expect of its own.
    for (const char* own : {"Content-Type", "Accept"}) {
        bool given = false;
        for (const auto& hv : rq.headers) given = given || strcasecmp(hv.first.c_str(), own) == 0;
        if (!given) c.headers = curl().slist_append(c.headers, (std::string(own) + ":").c_str());
    }
    c.headers = curl().slist_append(c.headers, "Expect:");
    curl().easy_setopt(h, CURLOPT_HTTPHEADER, c.headers);
    CURLcode r = curl().easy_perform(h);
    if (r != CURLE_OK) {
        *reason = failure_reason(h, r, detail);
        return false;
    }
    curl().easy_getinfo(h, CURLINFO_RESPONSE_CODE, &rs->status);
    return true;
}

const char* http_last_failure() { return g_last_failure.c_str(); }

ValueCell* http_request(ValueCell* method, ValueCell* url, ValueCell* headers, ValueCell* body,
                        bool binary, bool lines, bool info) {
    HttpRequest rq;
    rq.method = method_text(method);
    rq.url = url_wire_text(url);
    if (headers->type() == TYPE_BLOCK) {
        i32 n = block_length(headers);
        i32 at = series_index(headers) < 0 ? 0 : series_index(headers);
        for (i32 i = 0; i + 1 < n; i += 2) {
            std::string name = header_text(block_cell_at(headers, static_cast<u32>(at + i)));
            std::string value = header_text(block_cell_at(headers, static_cast<u32>(at + i + 1)));
            // A header that would break its line is refused before anything
            // is sent: the error names it (name and value).
            if (!header_safe(name) || !header_safe(value)) {
                ValueCell both[2] = {*block_cell_at(headers, static_cast<u32>(at + i)),
                                     *block_cell_at(headers, static_cast<u32>(at + i + 1))};
                ValueCell* pair = block_push_new(2);
                block_append_cell(pair, &both[0]);
                block_append_cell(pair, &both[1]);
                fire(Err::script_invalid_arg, pair);
            }
            rq.headers.push_back({name, value});
        }
    } else {
        rq.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                      {"Accept-Charset", "UTF-8"},
                      {"User-Agent", kUserAgent}};
    }
    if (body->type() != TYPE_NONE && rq.method != "GET" && rq.method != "HEAD") {
        rq.has_body = true;
        io_value_bytes(rq.body, body, -1);
    }
    HttpResponse rs;
    std::string reason;
    if (!http_perform(rq, &rs, &reason)) {
        // Ended by a Ctrl-C: the evaluation stops here, not as a failure
        // to connect.
        interrupt_take_pending();
        g_last_failure = reason;
        return nullptr;
    }
    ValueCell* mark = g_stack.top;
    if (!info) {
        ValueCell* b = io_push_content(reinterpret_cast<const u8*>(rs.body.data()), rs.body.size(),
                                       binary, lines, false);
        ValueCell r = *b;
        g_stack.top = mark;
        return stack_push(&r);
    }
    ValueCell* out = block_push_new(3);
    ValueCell status;
    integer_box(&status, static_cast<i32>(rs.status));
    block_append_cell(out, &status);
    ValueCell* map = push_header_map(rs.headers);
    block_append_cell(out, map);
    ValueCell* b = io_push_content(reinterpret_cast<const u8*>(rs.body.data()), rs.body.size(),
                                   binary, lines, false);
    block_append_cell(out, b);
    ValueCell r = *out;
    g_stack.top = mark;
    return stack_push(&r);
}

}  // namespace zan
