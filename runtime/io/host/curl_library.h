// The HTTP client library, loaded on the first request rather than linked,
// so that a program that makes no request does not load it at start-up.
#pragma once
#include <curl/curl.h>

namespace zan {

struct CurlLibrary {
    CURLcode (*global_init)(long flags);
    CURL* (*easy_init)();
    void (*easy_cleanup)(CURL* h);
    CURLcode (*easy_setopt)(CURL* h, CURLoption option, ...);
    CURLcode (*easy_perform)(CURL* h);
    CURLcode (*easy_getinfo)(CURL* h, CURLINFO info, ...);
    const char* (*easy_strerror)(CURLcode code);
    curl_slist* (*slist_append)(curl_slist* list, const char* text);
    void (*slist_free_all)(curl_slist* list);
};

// The library with its global set-up done, or null when it cannot be
// loaded (the request then fails with a plain reason).
const CurlLibrary* curl_library();

}  // namespace zan
