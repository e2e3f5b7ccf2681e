#pragma once
// Owners of libcurl's handles: one unique_ptr alias per kind, freed with curl's own function.

#include <curl/curl.h>

#include <memory>

namespace chimora {

struct CurlEasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMimeDeleter {
    void operator()(curl_mime* mime) const { curl_mime_free(mime); }
};
struct CurlListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

using CurlEasyPtr = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMimePtr = std::unique_ptr<curl_mime, CurlMimeDeleter>;
using CurlListPtr = std::unique_ptr<curl_slist, CurlListDeleter>;

/// Appends `text` (copied) to a list owned by `list`. False when out of memory; the list is
/// unchanged then.
inline bool appendToCurlList(CurlListPtr& list, const char* text) {
    curl_slist* grown = curl_slist_append(list.get(), text);
    if (!grown)
        return false;
    list.release();
    list.reset(grown);
    return true;
}

} // namespace chimora
