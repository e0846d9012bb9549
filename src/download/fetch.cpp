#include "download/fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "web/curl_handles.h"

namespace notepics {
namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr const char* kAcceptLine = "Accept: */*";
constexpr long kMaxRedirects = 10;
constexpr int kDefaultTimeoutSeconds = 30;
constexpr std::size_t kFirstBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kLargestBlockBytes = std::size_t{8} << 20;

// A body of unknown length, collected in blocks that are never moved, so that
// growing it costs no copy and a body stopped at the limit never held more
// than the limit and one block. A body of announced length is one block.
class BlockBuffer {
  public:
    // Makes the next block at least `bytes` large.
    void expect(std::size_t bytes) { next_block_ = std::max(next_block_, bytes); }

    void append(const std::uint8_t* data, std::size_t length) {
        while (length > 0) {
            if (blocks_.empty() || blocks_.back().size() == blocks_.back().capacity()) {
                blocks_.emplace_back().reserve(next_block_);
                next_block_ = std::min(next_block_ * 2, kLargestBlockBytes);
            }
            ByteBuffer& block = blocks_.back();
            const std::size_t taken = std::min(length, block.capacity() - block.size());
            block.insert(block.end(), data, data + taken);
            data += taken;
            length -= taken;
            size_ += taken;
        }
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // The whole body in one buffer; the blocks are gone afterwards.
    ByteBuffer take() {
        if (blocks_.size() == 1) {
            return std::move(blocks_.front());
        }
        ByteBuffer whole;
        whole.reserve(size_);
        for (ByteBuffer& block : blocks_) {
            whole.insert(whole.end(), block.begin(), block.end());
            ByteBuffer().swap(block);
        }
        return whole;
    }

  private:
    std::vector<ByteBuffer> blocks_;
    std::size_t size_ = 0;
    std::size_t next_block_ = kFirstBlockBytes;
};

// Collects the body and refuses to grow it past `limit`; knows when a byte
// last arrived.
struct BodySink {
    using Clock = std::chrono::steady_clock;

    CURL* handle = nullptr;
    BlockBuffer bytes;
    std::size_t limit = 0;
    Clock::duration idle_limit = std::chrono::seconds(kDefaultTimeoutSeconds);
    Clock::time_point last_arrival = Clock::now();
    curl_off_t received = 0;
};

// Ends the transfer once nothing has arrived for the idle limit: not the
// response head, nor a byte of the body.
int check_idle(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto& sink = *static_cast<BodySink*>(user);
    const BodySink::Clock::time_point now = BodySink::Clock::now();
    if (received != sink.received) {
        sink.received = received;
        sink.last_arrival = now;
        return 0;
    }
    return now - sink.last_arrival >= sink.idle_limit ? 1 : 0;
}

std::size_t note_header_line(char*, std::size_t size, std::size_t count, void* user) {
    static_cast<BodySink*>(user)->last_arrival = BodySink::Clock::now();
    return size * count;
}

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* user) {
    auto& sink = *static_cast<BodySink*>(user);
    sink.last_arrival = BodySink::Clock::now();
    const std::size_t length = size * count;
    if (length > sink.limit - sink.bytes.size()) {
        return 0;  // makes libcurl stop with a write error
    }
    try {
        if (sink.bytes.empty()) {
            // One allocation for a body of announced length (at most the limit).
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                    CURLE_OK &&
                announced > 0) {
                sink.bytes.expect(std::min(static_cast<std::size_t>(announced), sink.limit));
            }
        }
        sink.bytes.append(reinterpret_cast<const std::uint8_t*>(data), length);
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return length;
}

// An absolute http or https address, parsed; null for anything else.
curl::Url parse_web_address(std::string_view address) {
    curl::Url url(curl_url());
    if (!url) {
        return nullptr;
    }
    const std::string text(address);
    if (curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0) != CURLUE_OK) {
        return nullptr;
    }
    const std::string scheme = curl::url_part(url.get(), CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") {
        return nullptr;
    }
    return url;
}

bool configure(CURL* handle, CURLU* url, curl_slist* headers, BodySink& sink) {
    const auto curl_off_limit = static_cast<curl_off_t>(sink.limit);
    const auto connect_ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(sink.idle_limit).count());
    return curl_easy_setopt(handle, CURLOPT_CURLU, url) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_0}) ==
               CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_USERAGENT, kUserAgent) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headers) == CURLE_OK &&
           // An empty proxy name also overrides the *_proxy environment variables.
           curl_easy_setopt(handle, CURLOPT_PROXY, "") == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_MAXFILESIZE_LARGE, curl_off_limit) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connect_ms) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &check_idle) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &sink) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &note_header_line) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_HEADERDATA, &sink) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &append_body) == CURLE_OK &&
           curl_easy_setopt(handle, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
}

}  // namespace

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address) {
    return fetch_url_bytes(address, kMaxPictureBytes);
}

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes) {
    return fetch_url_bytes(address, max_bytes, kDefaultTimeoutSeconds);
}

std::optional<ByteBuffer> fetch_url_bytes(std::string_view address, std::size_t max_bytes,
                                          int timeout_seconds) {
    const curl::Url url = parse_web_address(address);
    if (!url) {
        return std::nullopt;
    }
    const curl::Easy handle(curl_easy_init());
    curl::HeaderList headers;
    if (!handle || !headers.append(kAcceptLine)) {
        return std::nullopt;
    }
    BodySink sink;
    sink.handle = handle.get();
    sink.limit = max_bytes;
    sink.idle_limit =
        std::chrono::seconds(timeout_seconds > 0 ? timeout_seconds : kDefaultTimeoutSeconds);
    sink.last_arrival = BodySink::Clock::now();
    if (!configure(handle.get(), url.get(), headers.get(), sink)) {
        return std::nullopt;
    }
    if (curl_easy_perform(handle.get()) != CURLE_OK) {
        return std::nullopt;  // no response, a broken-off read, or too many bytes
    }
    long status = 0;
    if (curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        status < 200 || status > 299) {
        return std::nullopt;
    }
    try {
        return sink.bytes.take();
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

}  // namespace notepics
