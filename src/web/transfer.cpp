#include "web/transfer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <new>
#include <utility>

#include "web/curl_handles.h"
#include "web/response_head.h"

namespace notepics {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kReceiveBufferBytes = 128 * 1024;
constexpr long kDefaultProxyPort = 80;
constexpr std::size_t kFirstBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kLargestBlockBytes = std::size_t{8} << 20;
// The longest single wait for socket activity; the watchdog is checked after
// every wait, so this only bounds how long a wait can overshoot nothing.
constexpr int kLongestWaitMs = 1000;

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

std::string_view trimmed(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The name of a header line: what stands before its first ":", trimmed.
std::string_view line_name(std::string_view line) {
    const std::size_t colon = line.find_first_of(":;");
    return trimmed(line.substr(0, colon));
}

// The address `parsed` holds once its credentials and fragment are dropped;
// nothing unless it is http or https.
std::optional<WebAddress> make_address(CURLU* parsed) {
    WebAddress address;
    address.scheme = curl::url_part(parsed, CURLUPART_SCHEME);
    if (address.scheme != "http" && address.scheme != "https") {
        return std::nullopt;
    }
    for (const CURLUPart part :
         {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS, CURLUPART_FRAGMENT}) {
        curl_url_set(parsed, part, nullptr, 0);
    }
    address.text = curl::url_part(parsed, CURLUPART_URL);
    address.host = curl::url_part(parsed, CURLUPART_HOST);
    address.port = curl::url_part(parsed, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (address.text.empty() || address.host.empty()) {
        return std::nullopt;
    }
    return address;
}

// Where a redirect response leads, when it may be followed: http or https,
// and never from https down to http.
std::optional<WebAddress> redirect_target(CURL* easy, const WebAddress& current) {
    char* target = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr) {
        return std::nullopt;
    }
    const curl::Url parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, target, 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::optional<WebAddress> next = make_address(parsed.get());
    if (next && current.scheme == "https" && next->scheme == "http") {
        return std::nullopt;
    }
    return next;
}

bool is_followed_redirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The method a redirect is followed with: POST becomes GET after 301 and
// 302, everything but HEAD becomes GET after 303.
std::string redirected_method(const std::string& method, int status) {
    if (status == 303 && method != "GET" && method != "HEAD") {
        return "GET";
    }
    if ((status == 301 || status == 302) && method == "POST") {
        return "GET";
    }
    return method;
}

// The value of the head's first Content-Type line, trimmed.
std::string content_type_of(std::string_view head) {
    std::size_t start = head.find("\r\n");
    while (start != std::string_view::npos && start + 2 < head.size()) {
        start += 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string_view line = head.substr(start, end - start);
        const std::size_t colon = line.find(':');
        if (colon != std::string_view::npos &&
            equal_ignoring_case(trimmed(line.substr(0, colon)), "Content-Type")) {
            return std::string(trimmed(line.substr(colon + 1)));
        }
        start = end;
    }
    return {};
}

// A body of unknown length, collected in blocks that are never moved, so that
// growing it costs no copy and a body stopped at its limit never held more
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

    void clear() {
        blocks_.clear();
        size_ = 0;
        next_block_ = kFirstBlockBytes;
    }

    // The whole body in one buffer, the blocks gone; nothing when memory
    // for joining the blocks ran out.
    std::optional<ByteBuffer> take() noexcept {
        try {
            if (blocks_.size() == 1) {
                ByteBuffer whole = std::move(blocks_.front());
                clear();
                return whole;
            }
            ByteBuffer whole;
            whole.reserve(size_);
            for (ByteBuffer& block : blocks_) {
                whole.insert(whole.end(), block.begin(), block.end());
                ByteBuffer().swap(block);
            }
            clear();
            return whole;
        } catch (...) {
            clear();
            return std::nullopt;
        }
    }

  private:
    std::vector<ByteBuffer> blocks_;
    std::size_t size_ = 0;
    std::size_t next_block_ = kFirstBlockBytes;
};

}  // namespace

bool http_client_available() {
    static const bool available = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return available;
}

std::chrono::milliseconds time_limit_of(int timeout_seconds) {
    return std::chrono::seconds(timeout_seconds > 0 ? timeout_seconds : kDefaultTimeoutSeconds);
}

std::string WebAddress::origin() const {
    std::string lowered_host = host;
    std::transform(lowered_host.begin(), lowered_host.end(), lowered_host.begin(), lower);
    return scheme + "://" + lowered_host + ":" + port;
}

std::optional<WebAddress> parse_web_address(std::string_view address, PathForm path_form) {
    if (address.empty() || !http_client_available()) {
        return std::nullopt;
    }
    const curl::Url parsed(curl_url());
    const std::string text(address);
    const unsigned int flags = path_form == PathForm::as_given ? CURLU_PATH_AS_IS : 0;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), flags) != CURLUE_OK) {
        return std::nullopt;
    }
    return make_address(parsed.get());
}

std::string proxy_url(std::string_view proxy) {
    if (proxy.empty()) {
        return {};
    }
    const bool named_scheme =
        proxy.size() >= 7 && equal_ignoring_case(proxy.substr(0, 7), "http://");
    return named_scheme ? std::string(proxy) : "http://" + std::string(proxy);
}

std::vector<std::string> without_credential_lines(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    for (const std::string& line : lines) {
        const std::string_view name = line_name(line);
        if (!equal_ignoring_case(name, "Authorization") && !equal_ignoring_case(name, "Cookie")) {
            kept.push_back(line);
        }
    }
    return kept;
}

// Everything one transfer holds: the settings, and what the current hop has
// collected. The libcurl callbacks see it through their user pointer.
struct Transfer::State {
    curl::Easy easy;
    curl::Multi multi;

    // Settings.
    WebAddress first_address;
    RequestSettings request;
    std::string server_user_name;
    std::string server_password;
    bool through_proxy = false;
    Redirects redirects = Redirects::follow;
    Clock::duration idle_limit = std::chrono::seconds(kDefaultTimeoutSeconds);
    curl::HeaderList first_origin_lines;
    curl::HeaderList elsewhere_lines;
    curl::HeaderList tunnel_probe_lines;

    // The current hop.
    ResponseHeadCollector head;
    BlockBuffer body;
    Clock::time_point last_activity;
    curl_off_t bytes_sent = 0;
    bool stop_after_head = false;          // a HEAD that carries a body
    bool stop_after_success_head = false;  // the proxy asked a refused tunnel again
    bool stopped_after_head = false;

    void start_hop() {
        head = ResponseHeadCollector();
        body.clear();
        last_activity = Clock::now();
        bytes_sent = 0;
        stopped_after_head = false;
    }

    template <typename Value>
    bool set(CURLoption option, Value value) {
        return curl_easy_setopt(easy.get(), option, value) == CURLE_OK;
    }

    bool apply_method(const std::string& method, const std::string& sent_body);
    bool apply_credentials(bool first_origin);
    bool aim_hop(const WebAddress& address, const std::string& method, const std::string& hop_body);
    CURLcode run_hop();
    CURLcode ask_refusing_proxy_again(const WebAddress& address);
    TransferEnd end_before_head(CURLcode code, bool earlier_head) const;
};

namespace {

std::size_t on_header_line(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& state = *static_cast<Transfer::State*>(user);
    state.last_activity = Clock::now();
    const std::size_t length = size * count;
    try {
        state.head.add_line(std::string_view(data, length));
    } catch (...) {
        return 0;  // ends the read like a broken connection
    }
    const bool stop = state.stop_after_head ||
                      (state.stop_after_success_head && state.head.status_code() >= 200 &&
                       state.head.status_code() < 300);
    if (stop && state.head.complete()) {
        state.stopped_after_head = true;
        return 0;
    }
    return length;
}

std::size_t on_body_bytes(char* data, std::size_t size, std::size_t count, void* user) noexcept {
    auto& state = *static_cast<Transfer::State*>(user);
    state.last_activity = Clock::now();
    const std::size_t length = size * count;
    const std::size_t limit = state.request.max_body_bytes;
    const bool give_up = state.request.over_limit == OverLimit::give_up;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    try {
        if (state.body.empty()) {
            curl_off_t announced = -1;
            curl_easy_getinfo(state.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            if (announced > 0) {
                const auto announced_bytes = static_cast<std::size_t>(announced);
                if (give_up && announced_bytes > limit) {
                    return 0;
                }
                // Never more up front than the shared limit, whatever is announced.
                state.body.expect(std::min({announced_bytes, limit, kMaxBodyBytes}));
            }
        }
        const std::size_t room = limit - state.body.size();
        if (length > room) {
            if (!give_up) {
                state.body.append(bytes, room);
            }
            return 0;  // stops the transfer as a failed write
        }
        state.body.append(bytes, length);
    } catch (...) {
        return 0;  // a failed allocation ends the read like a broken connection
    }
    return length;
}

}  // namespace

// The request line's method and the body. Methods without a request word
// of their own in the client go as custom words; POST and PUT always carry
// a Content-Length, other methods only with a body. A HEAD with a body is
// sent as such and read up to the end of its head.
bool Transfer::State::apply_method(const std::string& method, const std::string& sent_body) {
    bool ok =
        set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr)) && set(CURLOPT_HTTPGET, 1L);
    const bool with_body = !sent_body.empty() || method == "POST" || method == "PUT";
    if (method == "HEAD" && !with_body) {
        ok = ok && set(CURLOPT_NOBODY, 1L);
    }
    if (with_body) {
        static constexpr char kNoBytes[] = "";
        ok = ok && set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(sent_body.size())) &&
             set(CURLOPT_POSTFIELDS, sent_body.empty() ? kNoBytes : sent_body.data());
    }
    const bool own_word = method == "GET" || method == "HEAD" || method == "POST";
    if (!own_word || (with_body && method != "POST")) {
        ok = ok && set(CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    stop_after_head = method == "HEAD" && with_body;
    return ok;
}

bool Transfer::State::apply_credentials(bool first_origin) {
    if (server_user_name.empty() || server_password.empty()) {
        return true;
    }
    const char* none = nullptr;
    return set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)) &&
           set(CURLOPT_USERNAME, first_origin ? server_user_name.c_str() : none) &&
           set(CURLOPT_PASSWORD, first_origin ? server_password.c_str() : none);
}

bool Transfer::State::aim_hop(const WebAddress& address, const std::string& method,
                              const std::string& hop_body) {
    const bool first_origin = address.origin() == first_address.origin();
    curl_slist* lines = first_origin ? first_origin_lines.get() : elsewhere_lines.get();
    return set(CURLOPT_URL, address.text.c_str()) && apply_method(method, hop_body) &&
           apply_credentials(first_origin) && set(CURLOPT_HTTPHEADER, lines);
}

// Runs one hop on the multi interface, so that the watchdog is checked when
// its limit is reached rather than on libcurl's once-a-second idle tick.
CURLcode Transfer::State::run_hop() {
    start_hop();
    if (!multi) {
        multi.reset(curl_multi_init());
    }
    if (!multi || curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) {
        return CURLE_OUT_OF_MEMORY;
    }
    CURLcode code = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0) {
            int left = 0;
            const CURLMsg* message = curl_multi_info_read(multi.get(), &left);
            code = message != nullptr && message->msg == CURLMSG_DONE ? message->data.result
                                                                      : CURLE_RECV_ERROR;
            break;
        }
        curl_off_t sent = 0;
        curl_easy_getinfo(easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
        const Clock::time_point now = Clock::now();
        if (sent != bytes_sent) {
            bytes_sent = sent;
            last_activity = now;
        }
        const Clock::duration left = last_activity + idle_limit - now;
        if (left <= Clock::duration::zero()) {
            code = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        const auto left_ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        const int wait_ms = static_cast<int>(std::min<long long>(left_ms, kLongestWaitMs));
        if (curl_multi_poll(multi.get(), nullptr, 0, wait_ms, nullptr) != CURLM_OK) {
            code = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    curl_multi_remove_handle(multi.get(), easy.get());
    return code;
}

// libcurl reads and drops the body of a proxy's refusal of a tunnel. To hand
// back the refusal as a response, the same CONNECT is asked once more as a
// plain request to the proxy, whose answer is read like any other.
CURLcode Transfer::State::ask_refusing_proxy_again(const WebAddress& address) {
    const std::string authority = address.host + ":" + address.port;
    const std::string as_plain = "http://" + authority + "/";
    const char* none = nullptr;
    const bool ready = set(CURLOPT_URL, as_plain.c_str()) && set(CURLOPT_HTTPGET, 1L) &&
                       set(CURLOPT_CUSTOMREQUEST, "CONNECT") &&
                       set(CURLOPT_REQUEST_TARGET, authority.c_str()) &&
                       set(CURLOPT_USERNAME, none) && set(CURLOPT_PASSWORD, none) &&
                       set(CURLOPT_HTTPHEADER, tunnel_probe_lines.get());
    if (!ready) {
        return CURLE_COULDNT_CONNECT;
    }
    stop_after_head = false;
    stop_after_success_head = true;
    const CURLcode code = run_hop();
    stop_after_success_head = false;
    set(CURLOPT_REQUEST_TARGET, none);
    const int status = head.status_code();
    if (stopped_after_head || (head.complete() && status < 300)) {
        head = ResponseHeadCollector();  // the proxy let the tunnel through this time
        return CURLE_COULDNT_CONNECT;
    }
    return code;
}

// The end of a hop that brought no complete head: the request did not go
// out, or it went out and no head came back.
TransferEnd Transfer::State::end_before_head(CURLcode code, bool earlier_head) const {
    if (earlier_head || head.received_any()) {
        return TransferEnd::no_response;
    }
    if (code == CURLE_SEND_ERROR) {
        return TransferEnd::not_sent;
    }
    // Bytes of a request count only once the connection was ready for it:
    // a proxy's refused tunnel request does not.
    long request_bytes = 0;
    curl_off_t ready_after = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_REQUEST_SIZE, &request_bytes);
    curl_easy_getinfo(easy.get(), CURLINFO_PRETRANSFER_TIME_T, &ready_after);
    return request_bytes > 0 && ready_after > 0 ? TransferEnd::no_response : TransferEnd::not_sent;
}

Transfer::Transfer() : state_(std::make_unique<State>()) {
    if (http_client_available()) {
        state_->easy.reset(curl_easy_init());
    }
}

Transfer::~Transfer() = default;

bool Transfer::ready() const {
    return static_cast<bool>(state_->easy);
}

bool Transfer::open_session(std::string_view proxy) {
    State& s = *state_;
    const std::string proxy_text = proxy_url(proxy);
    s.through_proxy = !proxy_text.empty();
    return s.set(CURLOPT_PROTOCOLS_STR, "http,https") &&
           s.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https") && s.set(CURLOPT_NOSIGNAL, 1L) &&
           // An empty proxy name also overrides the *_proxy environment variables.
           s.set(CURLOPT_PROXY, proxy_text.c_str()) &&
           s.set(CURLOPT_PROXYPORT, kDefaultProxyPort) && s.set(CURLOPT_NOPROXY, "") &&
           s.set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) && s.set(CURLOPT_FOLLOWLOCATION, 0L) &&
           s.tunnel_probe_lines.append("Accept:") &&
           s.tunnel_probe_lines.append("Proxy-Connection:");
}

bool Transfer::limit_time(std::chrono::milliseconds limit) {
    state_->idle_limit = limit;
    return state_->set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limit.count()));
}

bool Transfer::aim_at(const WebAddress& address) {
    state_->first_address = address;
    return state_->set(CURLOPT_URL, address.text.c_str());
}

bool Transfer::set_request(RequestSettings settings) {
    State& s = *state_;
    s.request = std::move(settings);
    const long version = s.request.version == HttpVersion::v1_0 ? long{CURL_HTTP_VERSION_1_0}
                                                                : long{CURL_HTTP_VERSION_1_1};
    return s.set(CURLOPT_HTTP_VERSION, version) && s.set(CURLOPT_PATH_AS_IS, 1L) &&
           s.set(CURLOPT_HEADERFUNCTION, on_header_line) && s.set(CURLOPT_HEADERDATA, &s) &&
           s.set(CURLOPT_WRITEFUNCTION, on_body_bytes) && s.set(CURLOPT_WRITEDATA, &s) &&
           s.set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes) &&
           s.apply_method(s.request.method, s.request.body);
}

bool Transfer::set_server_credentials(std::string_view user_name, std::string_view password) {
    state_->server_user_name = std::string(user_name);
    state_->server_password = std::string(password);
    return state_->apply_credentials(true);
}

bool Transfer::set_proxy_credentials(std::string_view user_name, std::string_view password) {
    if (user_name.empty() || password.empty()) {
        return true;
    }
    const std::string user(user_name);
    const std::string secret(password);
    State& s = *state_;
    return s.set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC)) &&
           s.set(CURLOPT_PROXYUSERNAME, user.c_str()) &&
           s.set(CURLOPT_PROXYPASSWORD, secret.c_str());
}

bool Transfer::set_certificates(Certificates certificates) {
    const bool verify = certificates == Certificates::verify;
    return state_->set(CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L) &&
           state_->set(CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
}

bool Transfer::set_redirects(Redirects redirects) {
    state_->redirects = redirects;
    return state_->set(CURLOPT_FOLLOWLOCATION, 0L);
}

bool Transfer::set_header_lines(const std::vector<std::string>& first_origin,
                                const std::vector<std::string>& elsewhere) {
    State& s = *state_;
    for (const std::string& line : first_origin) {
        if (!s.first_origin_lines.append(line)) {
            return false;
        }
    }
    for (const std::string& line : elsewhere) {
        if (!s.elsewhere_lines.append(line)) {
            return false;
        }
    }
    return s.set(CURLOPT_HTTPHEADER, s.first_origin_lines.get());
}

TransferResult Transfer::perform() {
    State& s = *state_;
    TransferResult result;
    WebAddress address = s.first_address;
    std::string method = s.request.method;
    std::string hop_body = s.request.body;
    bool earlier_head = false;
    for (int redirects = 0;; ++redirects) {
        if (!s.aim_hop(address, method, hop_body)) {
            result.end = earlier_head ? TransferEnd::no_response : TransferEnd::not_sent;
            return result;
        }
        CURLcode code = s.run_hop();
        long tunnel_status = 0;
        curl_easy_getinfo(s.easy.get(), CURLINFO_HTTP_CONNECTCODE, &tunnel_status);
        if (code != CURLE_OK && !s.head.complete() && s.through_proxy &&
            address.scheme == "https" && tunnel_status >= 300) {
            code = s.ask_refusing_proxy_again(address);
            if (!s.head.complete()) {
                result.end = earlier_head ? TransferEnd::no_response : TransferEnd::not_sent;
                return result;
            }
        }
        if (s.stopped_after_head) {
            code = CURLE_OK;
        }
        if (!s.head.complete()) {
            result.end = s.end_before_head(code, earlier_head);
            return result;
        }
        const int status = s.head.status_code();
        if (code == CURLE_OK && s.redirects == Redirects::follow && is_followed_redirect(status)) {
            std::optional<WebAddress> next = redirect_target(s.easy.get(), address);
            if (next) {
                if (redirects == kMaxRedirects) {
                    result.end = TransferEnd::too_many_redirects;
                    return result;
                }
                const std::string next_method = redirected_method(method, status);
                if (next_method != method) {
                    hop_body.clear();
                }
                method = next_method;
                address = std::move(*next);
                earlier_head = true;
                continue;
            }
        }
        result.head = s.head.head();
        result.status = status;
        result.content_type = content_type_of(result.head);
        // A transfer that gives up on a cut body keeps none of it, and never
        // joins its blocks.
        if (code != CURLE_OK && s.request.over_limit == OverLimit::give_up) {
            s.body.clear();
        }
        std::optional<ByteBuffer> body = s.body.take();
        const bool whole = code == CURLE_OK && body.has_value();
        result.body = body ? std::move(*body) : ByteBuffer();
        result.end = whole ? TransferEnd::complete : TransferEnd::body_cut;
        return result;
    }
}

}  // namespace notepics
