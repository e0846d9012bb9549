#include "web/web_request.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text/codepage.h"
#include "web/charset.h"
#include "web/curl_handles.h"
#include "web/request_headers.h"
#include "web/response_head.h"

namespace notepics {
namespace {

// The routine's failure messages, GBK.
// 700 当前系统不支持WinHttp服务!
constexpr std::string_view kClientUnavailable =
    "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
// 701 解析URL地址失败!
constexpr std::string_view kAddressInvalid =
    "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
// 702 创建WinHttp会话失败!
constexpr std::string_view kSessionFailed =
    "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
// 703 创建WinHttp连接失败!
constexpr std::string_view kConnectionFailed =
    "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
// 704 创建WinHttp请求失败!
constexpr std::string_view kRequestFailed =
    "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// 705 设置超时时间失败!
constexpr std::string_view kTimeoutFailed =
    "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
// 707 设置代理凭证失败!
constexpr std::string_view kCredentialsFailed =
    "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
// 忽略错误/证书错误  失败！
constexpr std::string_view kCertificateOptionFailed =
    "\xBA\xF6\xC2\xD4\xB4\xED\xCE\xF3/\xD6\xA4\xCA\xE9\xB4\xED\xCE\xF3  \xCA\xA7\xB0\xDC\xA3\xA1";
// 709 重定向设置失败!
constexpr std::string_view kRedirectOptionFailed =
    "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
// 710 设置协议头失败!
constexpr std::string_view kHeadersFailed =
    "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
// 711 发送请求失败!
constexpr std::string_view kSendFailed = "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
// 712 服务器未响应!
constexpr std::string_view kNoResponse = "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
// 713 读取数据失败!
constexpr std::string_view kReadFailed = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

constexpr std::size_t kDefaultMaxBodyBytes = std::size_t{256} << 20;
constexpr long long kDefaultTimeoutMs = 30000;
constexpr int kMaxRedirects = 10;
constexpr long kReceiveBufferBytes = 128 * 1024;

bool client_available() {
    static const bool available = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return available;
}

std::string_view method_word(int method) {
    static constexpr std::string_view kWords[] = {"GET",     "POST",   "HEAD",  "PUT",
                                                  "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    return method >= 0 && method < 8 ? kWords[method] : kWords[0];
}

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// The address as the client takes it: GBK characters as UTF-8 and, like
// blanks, percent-encoded.
std::string client_address_text(std::string_view url) {
    const bool ascii = std::all_of(url.begin(), url.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const std::string utf8 =
        ascii ? std::string(url) : utf16_to_code_page(ansi_to_utf16(url), 65001, true);
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 || byte == ' ') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

// True when the address has nothing between its authority and its query
// or fragment, as in "http://host?x=1".
bool has_empty_path(std::string_view address) {
    const std::size_t scheme_end = address.find("://");
    if (scheme_end == std::string_view::npos) {
        return false;
    }
    const std::size_t authority_end = address.find_first_of("/?#", scheme_end + 3);
    return authority_end == std::string_view::npos || address[authority_end] != '/';
}

// An http or https address, without credentials or fragment.
struct Address {
    std::string text;  // the whole address, as the client is given it
    std::string scheme;
    std::string origin;  // scheme, host and port
};

// The address `parsed` holds once its credentials and fragment are dropped;
// nothing unless it is http or https.
std::optional<Address> make_address(CURLU* parsed) {
    const std::string scheme = curl::url_part(parsed, CURLUPART_SCHEME);
    if (scheme != "http" && scheme != "https") {
        return std::nullopt;
    }
    for (const CURLUPart part :
         {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS, CURLUPART_FRAGMENT}) {
        curl_url_set(parsed, part, nullptr, 0);
    }
    Address address;
    address.text = curl::url_part(parsed, CURLUPART_URL);
    address.scheme = scheme;
    address.origin = scheme + "://" + curl::url_part(parsed, CURLUPART_HOST) + ":" +
                     curl::url_part(parsed, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (address.text.empty()) {
        return std::nullopt;
    }
    return address;
}

// The caller's address. A missing path gives "/" and drops the query.
std::optional<Address> parse_address(std::string_view url) {
    if (url.empty()) {
        return std::nullopt;
    }
    const std::string text = client_address_text(url);
    curl::Url parsed(curl_url());
    if (!parsed ||
        curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
        return std::nullopt;
    }
    if (has_empty_path(text)) {
        curl_url_set(parsed.get(), CURLUPART_PATH, "/", 0);
        curl_url_set(parsed.get(), CURLUPART_QUERY, nullptr, 0);
    }
    return make_address(parsed.get());
}

// Where a redirect response leads, when it may be followed: http or https,
// and never from https down to http.
std::optional<Address> redirect_target(CURL* easy, const Address& current) {
    char* target = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &target) != CURLE_OK || target == nullptr) {
        return std::nullopt;
    }
    curl::Url parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, target, 0) != CURLUE_OK) {
        return std::nullopt;
    }
    std::optional<Address> next = make_address(parsed.get());
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
std::string_view redirected_method(std::string_view method, int status) {
    if (status == 303 && method != "GET" && method != "HEAD") {
        return "GET";
    }
    if ((status == 301 || status == 302) && method == "POST") {
        return "GET";
    }
    return method;
}

// Collects what one transfer delivers, and when anything last moved.
struct Transfer {
    using Clock = std::chrono::steady_clock;

    CURL* easy = nullptr;
    std::size_t max_body_bytes = kDefaultMaxBodyBytes;
    Clock::duration idle_limit = std::chrono::milliseconds(kDefaultTimeoutMs);
    ResponseHeadCollector head;
    ByteBuffer body;
    Clock::time_point last_activity;
    curl_off_t bytes_sent = 0;
    curl_off_t bytes_received = 0;

    void restart() {
        head = ResponseHeadCollector();
        body.clear();
        last_activity = Clock::now();
        bytes_sent = 0;
        bytes_received = 0;
    }
};

std::size_t on_header_line(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->head.add_line(std::string_view(data, size * count));
    transfer->last_activity = Transfer::Clock::now();
    return size * count;
}

// Ends the transfer once no byte has moved either way for the idle limit.
int on_progress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
    auto* transfer = static_cast<Transfer*>(user);
    const Transfer::Clock::time_point now = Transfer::Clock::now();
    if (received != transfer->bytes_received || sent != transfer->bytes_sent) {
        transfer->bytes_received = received;
        transfer->bytes_sent = sent;
        transfer->last_activity = now;
        return 0;
    }
    return now - transfer->last_activity >= transfer->idle_limit ? 1 : 0;
}

std::size_t on_body_bytes(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    transfer->last_activity = Transfer::Clock::now();
    const std::size_t length = size * count;
    ByteBuffer& body = transfer->body;
    if (body.empty()) {
        curl_off_t announced = -1;
        curl_easy_getinfo(transfer->easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > 0) {
            body.reserve(std::min(static_cast<std::size_t>(announced), transfer->max_body_bytes));
        }
    }
    const std::size_t room = transfer->max_body_bytes - body.size();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data);
    if (length > room) {
        body.insert(body.end(), bytes, bytes + room);
        return 0;  // stops the transfer as a failed write
    }
    body.insert(body.end(), bytes, bytes + length);
    return length;
}

// Sets options in order and remembers the message of the first that fails.
class OptionSetter {
  public:
    explicit OptionSetter(CURL* easy) : easy_(easy) {}

    template <typename Value>
    void set(CURLoption option, Value value, std::string_view message) {
        if (!failure_ && curl_easy_setopt(easy_, option, value) != CURLE_OK) {
            failure_ = message;
        }
    }
    void fail(std::string_view message) {
        if (!failure_) {
            failure_ = message;
        }
    }
    const std::optional<std::string_view>& failure() const { return failure_; }

  private:
    CURL* easy_;
    std::optional<std::string_view> failure_;
};

// The request line's method and the body. Methods without a request word
// of their own in the client go as custom words; POST and PUT always carry
// a Content-Length, other methods only with a body.
void set_method(OptionSetter& options, std::string_view method, std::string_view body,
                std::string_view message) {
    options.set(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr), message);
    options.set(CURLOPT_HTTPGET, 1L, message);
    if (method == "HEAD") {
        options.set(CURLOPT_NOBODY, 1L, message);
    }
    const bool with_body = !body.empty() || method == "POST" || method == "PUT";
    if (with_body) {
        static constexpr char kNoBytes[] = "";
        options.set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()), message);
        options.set(CURLOPT_POSTFIELDS, body.empty() ? kNoBytes : body.data(), message);
    }
    const bool own_word = method == "GET" || method == "HEAD" || method == "POST";
    if (!own_word || (with_body && method != "POST")) {
        const std::string word(method);
        options.set(CURLOPT_CUSTOMREQUEST, word.c_str(), message);
    }
}

void set_server_credentials(OptionSetter& options, const WebRequestParams& params, bool send) {
    if (params.user_name.empty() || params.password.empty()) {
        return;
    }
    const char* no_text = nullptr;
    options.set(CURLOPT_HTTPAUTH, static_cast<unsigned long>(CURLAUTH_BASIC), kCredentialsFailed);
    options.set(CURLOPT_USERNAME, send ? params.user_name.c_str() : no_text, kCredentialsFailed);
    options.set(CURLOPT_PASSWORD, send ? params.password.c_str() : no_text, kCredentialsFailed);
}

// The message for a transfer that ended without a complete response head:
// the request did not go out, or it went out and no head came back.
std::string_view failure_before_head(CURLcode code, CURL* easy, const Transfer& transfer) {
    if (transfer.head.received_any()) {
        return kNoResponse;
    }
    if (code == CURLE_SEND_ERROR) {
        return kSendFailed;
    }
    // Bytes of a request count only once the connection was ready for it:
    // a proxy's refused tunnel request does not.
    long request_bytes = 0;
    curl_off_t ready_after = 0;
    curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &request_bytes);
    curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &ready_after);
    return request_bytes > 0 && ready_after > 0 ? kNoResponse : kSendFailed;
}

struct Outcome {
    Text body_text;
    bool pump_before_return = true;
};

Outcome failed(WebRequestParams& params, std::string_view message, bool pump = true) {
    params.status_text = Text(message);
    return {Text(), pump};
}

Outcome perform(WebRequestParams& params, const std::function<void()>& process_pending_messages,
                std::size_t max_body_bytes) {
    if (!client_available()) {
        return failed(params, kClientUnavailable, false);
    }
    std::optional<Address> address = parse_address(params.url);
    if (!address) {
        return failed(params, kAddressInvalid);
    }
    const curl::Easy easy(curl_easy_init());
    if (!easy) {
        return failed(params, kSessionFailed);
    }
    Transfer transfer;
    transfer.easy = easy.get();
    transfer.max_body_bytes = max_body_bytes;
    OptionSetter options(easy.get());

    // Session: http and https only, the caller's proxy or none at all.
    std::string proxy;
    if (!params.proxy.empty()) {
        proxy = starts_with_ignoring_case(params.proxy, "http://") ? params.proxy
                                                                   : "http://" + params.proxy;
    }
    options.set(CURLOPT_PROTOCOLS_STR, "http,https", kSessionFailed);
    options.set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https", kSessionFailed);
    options.set(CURLOPT_NOSIGNAL, 1L, kSessionFailed);
    options.set(CURLOPT_PROXY, proxy.c_str(), kSessionFailed);
    options.set(CURLOPT_NOPROXY, "", kSessionFailed);
    options.set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L, kSessionFailed);

    // Time-outs: connecting within t, and no stretch of t without a byte
    // moving while the request is sent and the response read.
    const long long timeout_ms = params.timeout_seconds > 0
                                     ? static_cast<long long>(params.timeout_seconds) * 1000
                                     : kDefaultTimeoutMs;
    transfer.idle_limit = std::chrono::milliseconds(timeout_ms);
    options.set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms), kTimeoutFailed);
    options.set(CURLOPT_XFERINFOFUNCTION, on_progress, kTimeoutFailed);
    options.set(CURLOPT_XFERINFODATA, &transfer, kTimeoutFailed);
    options.set(CURLOPT_NOPROGRESS, 0L, kTimeoutFailed);

    options.set(CURLOPT_URL, address->text.c_str(), kConnectionFailed);
    options.set(CURLOPT_PATH_AS_IS, 1L, kConnectionFailed);

    // The request.
    std::string_view method = method_word(params.method);
    const std::string_view body =
        params.body_bytes.empty()
            ? std::string_view(params.body_text)
            : std::string_view(reinterpret_cast<const char*>(params.body_bytes.data()),
                               params.body_bytes.size());
    options.set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1), kRequestFailed);
    options.set(CURLOPT_HEADERFUNCTION, on_header_line, kRequestFailed);
    options.set(CURLOPT_HEADERDATA, &transfer, kRequestFailed);
    options.set(CURLOPT_WRITEFUNCTION, on_body_bytes, kRequestFailed);
    options.set(CURLOPT_WRITEDATA, &transfer, kRequestFailed);
    options.set(CURLOPT_BUFFERSIZE, kReceiveBufferBytes, kRequestFailed);
    set_method(options, method, body, kRequestFailed);
    if (options.failure()) {
        return failed(params, *options.failure());
    }

    // Credentials and options: a failure here returns at once.
    set_server_credentials(options, params, true);
    if (!params.proxy_user_name.empty() && !params.proxy_password.empty()) {
        options.set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC),
                    kCredentialsFailed);
        options.set(CURLOPT_PROXYUSERNAME, params.proxy_user_name.c_str(), kCredentialsFailed);
        options.set(CURLOPT_PROXYPASSWORD, params.proxy_password.c_str(), kCredentialsFailed);
    }
    options.set(CURLOPT_SSL_VERIFYPEER, 0L, kCertificateOptionFailed);
    options.set(CURLOPT_SSL_VERIFYHOST, 0L, kCertificateOptionFailed);
    // The client's cookie engine stays off: no cookie file or jar is set.
    options.set(CURLOPT_FOLLOWLOCATION, 0L, kRedirectOptionFailed);
    if (options.failure()) {
        return failed(params, *options.failure(), false);
    }

    // The header block, line by line.
    curl::HeaderList header_list;
    for (const std::string& line : client_header_lines(request_header_block(params))) {
        if (!header_list.append(line)) {
            options.fail(kHeadersFailed);
        }
    }
    options.set(CURLOPT_HTTPHEADER, header_list.get(), kHeadersFailed);
    if (options.failure()) {
        return failed(params, *options.failure());
    }

    // The exchange, following redirects unless told not to.
    CURLcode code = CURLE_OK;
    for (int redirects = 0;; ++redirects) {
        transfer.restart();
        code = curl_easy_perform(easy.get());
        const int status = transfer.head.status_code();
        if (code != CURLE_OK || params.no_redirect || !is_followed_redirect(status)) {
            break;
        }
        std::optional<Address> next = redirect_target(easy.get(), *address);
        if (!next) {
            break;
        }
        if (redirects == kMaxRedirects) {
            return failed(params, kNoResponse);
        }
        const std::string_view next_method = redirected_method(method, status);
        options.set(CURLOPT_URL, next->text.c_str(), kRequestFailed);
        set_method(options, next_method, next_method == method ? body : std::string_view(),
                   kRequestFailed);
        // Server credentials go only to the address they were given for.
        set_server_credentials(options, params, next->origin == address->origin);
        if (options.failure()) {
            return failed(params, *options.failure());
        }
        method = next_method;
        address = std::move(next);
    }
    // A connection closed inside the head can still end the transfer
    // without an error.
    const bool read_failed = code != CURLE_OK;
    if (!transfer.head.complete()) {
        return failed(params, failure_before_head(code, easy.get(), transfer));
    }

    // The response: head, body bytes, body text in GBK.
    apply_response_head(transfer.head.head(), params, process_pending_messages);
    params.response_bytes = std::move(transfer.body);
    Text body_text = convert_declared_charset(bytes_to_text(params.response_bytes),
                                              params.response_bytes, process_pending_messages);
    if (read_failed) {
        // The body was cut short: say so even though the head was read.
        params.status_text = Text(kReadFailed);
    }
    return {std::move(body_text)};
}

}  // namespace

Text web_request(WebRequestParams& params, const std::function<void()>& process_pending_messages) {
    return web_request(params, process_pending_messages, kDefaultMaxBodyBytes);
}

Text web_request(WebRequestParams& params, const std::function<void()>& process_pending_messages,
                 std::size_t max_body_bytes) {
    Outcome outcome = perform(params, process_pending_messages, max_body_bytes);
    if (outcome.pump_before_return && process_pending_messages) {
        process_pending_messages();
    }
    return std::move(outcome.body_text);
}

}  // namespace notepics
