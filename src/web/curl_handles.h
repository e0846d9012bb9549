// Move-only owners of the libcurl handles one request uses. Each releases
// its handle when it goes out of scope; a default-constructed owner holds
// none.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace notepics::curl {

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct StringCleanup {
    void operator()(char* text) const { curl_free(text); }
};

using Easy = std::unique_ptr<CURL, EasyCleanup>;
using Multi = std::unique_ptr<CURLM, MultiCleanup>;
using Url = std::unique_ptr<CURLU, UrlCleanup>;
using String = std::unique_ptr<char, StringCleanup>;

// A header list built line by line; `get()` is what CURLOPT_HTTPHEADER takes.
class HeaderList {
  public:
    // False when libcurl could not store the line.
    bool append(const std::string& line) {
        curl_slist* grown = curl_slist_append(list_.get(), line.c_str());
        if (grown == nullptr) {
            return false;
        }
        list_.release();
        list_.reset(grown);
        return true;
    }
    curl_slist* get() const { return list_.get(); }

  private:
    std::unique_ptr<curl_slist, ListCleanup> list_;
};

// One part of a parsed address as an owned string; empty when absent.
inline std::string url_part(CURLU* url, CURLUPart part, unsigned int flags = 0) {
    char* raw = nullptr;
    if (curl_url_get(url, part, &raw, flags) != CURLUE_OK) {
        return {};
    }
    const String owned(raw);
    return owned ? std::string(owned.get()) : std::string();
}

}  // namespace notepics::curl
