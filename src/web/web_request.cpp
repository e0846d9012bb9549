#include "web/web_request.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text/codepage.h"
#include "web/charset.h"
#include "web/request_headers.h"
#include "web/response_head.h"
#include "web/transfer.h"

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

std::string method_word(int method) {
    static constexpr std::string_view kWords[] = {"GET",     "POST",   "HEAD",  "PUT",
                                                  "OPTIONS", "DELETE", "TRACE", "CONNECT"};
    return std::string(method >= 0 && method < 8 ? kWords[method] : kWords[0]);
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

// The address with an empty path ("http://host?x=1") as "http://host/":
// such an address is requested as "/" without its query.
std::string with_path(std::string address) {
    const std::size_t scheme_end = address.find("://");
    if (scheme_end == std::string::npos) {
        return address;
    }
    const std::size_t authority_end = address.find_first_of("/?#", scheme_end + 3);
    if (authority_end == std::string::npos) {
        return address + "/";
    }
    if (address[authority_end] != '/') {
        address.resize(authority_end);
        address += '/';
    }
    return address;
}

// Whether a failure lets pending window messages through before the
// routine returns.
enum class Pump { before_return, skipped };

// How one step ended: nothing when it went through, else the message the
// routine ends with.
struct Failure {
    std::string_view message;
    Pump pump = Pump::before_return;
};
using StepResult = std::optional<Failure>;

StepResult fails_unless(bool done, std::string_view message, Pump pump = Pump::before_return) {
    return done ? StepResult() : StepResult(Failure{message, pump});
}

// Session: http and https only, the caller's proxy or none at all.
StepResult open_session(Transfer& transfer, const WebRequestParams& params) {
    return fails_unless(transfer.ready() && transfer.open_session(params.proxy), kSessionFailed);
}

// Time-outs: connecting within t, and no stretch of t without a byte
// moving while the request is sent and the response read.
StepResult limit_time(Transfer& transfer, const WebRequestParams& params) {
    return fails_unless(transfer.limit_time(time_limit_of(params.timeout_seconds)), kTimeoutFailed);
}

StepResult make_request(Transfer& transfer, const WebRequestParams& params,
                        const WebAddress& address, std::size_t max_body_bytes) {
    if (!transfer.aim_at(address)) {
        return Failure{kConnectionFailed};
    }
    const std::string body = params.body_bytes.empty()
                                 ? std::string(params.body_text)
                                 : std::string(params.body_bytes.begin(), params.body_bytes.end());
    return fails_unless(transfer.set_request({.method = method_word(params.method),
                                              .body = body,
                                              .version = HttpVersion::v1_1,
                                              .max_body_bytes = max_body_bytes,
                                              .over_limit = OverLimit::keep_first_bytes}),
                        kRequestFailed);
}

// Credentials and options: a failure here returns at once, without letting
// window messages through.
StepResult set_credentials(Transfer& transfer, const WebRequestParams& params) {
    if (!transfer.set_server_credentials(params.user_name, params.password) ||
        !transfer.set_proxy_credentials(params.proxy_user_name, params.proxy_password)) {
        return Failure{kCredentialsFailed, Pump::skipped};
    }
    if (!transfer.set_certificates(Certificates::accept_any)) {
        return Failure{kCertificateOptionFailed, Pump::skipped};
    }
    // The client's cookie engine stays off: no cookie file or jar is set.
    const Redirects redirects = params.no_redirect ? Redirects::hand_back : Redirects::follow;
    return fails_unless(transfer.set_redirects(redirects), kRedirectOptionFailed, Pump::skipped);
}

// The header block line by line. Hops to another origin than the caller's
// get it without the caller's cookies and Authorization line.
StepResult set_header_list(Transfer& transfer, const WebRequestParams& params) {
    const WebRequestParams without_cookies{.method = params.method,
                                           .request_headers = params.request_headers,
                                           .add_default_headers = params.add_default_headers,
                                           .normalize_headers = params.normalize_headers};
    WebRequestParams with_cookies = without_cookies;
    with_cookies.request_cookies = params.request_cookies;
    return fails_unless(
        transfer.set_header_lines(
            client_header_lines(request_header_block(with_cookies)),
            without_credential_lines(client_header_lines(request_header_block(without_cookies)))),
        kHeadersFailed);
}

// The response: head, body bytes, body text in GBK.
Text read_response(TransferResult& exchange, WebRequestParams& params,
                   const std::function<void()>& process_pending_messages) {
    apply_response_head(std::string_view(exchange.head), params, process_pending_messages);
    params.response_bytes = std::move(exchange.body);
    Text body_text = convert_declared_charset(bytes_to_text(params.response_bytes),
                                              params.response_bytes, process_pending_messages);
    if (exchange.end == TransferEnd::body_cut) {
        // The body was cut short: say so even though the head was read.
        params.status_text = Text(kReadFailed);
    }
    return body_text;
}

std::string_view message_of(TransferEnd end) {
    return end == TransferEnd::not_sent ? kSendFailed : kNoResponse;
}

struct Outcome {
    Text body_text;
    Pump pump = Pump::before_return;
};

Outcome failed(WebRequestParams& params, const Failure& failure) {
    params.status_text = Text(failure.message);
    return {Text(), failure.pump};
}

Outcome perform(WebRequestParams& params, const std::function<void()>& process_pending_messages,
                std::size_t max_body_bytes) noexcept {
    try {
        if (!http_client_available()) {
            return failed(params, {kClientUnavailable, Pump::skipped});
        }
        const std::optional<WebAddress> address =
            parse_web_address(with_path(client_address_text(params.url)), PathForm::as_given);
        if (params.url.empty() || !address) {
            return failed(params, {kAddressInvalid});
        }
        Transfer transfer;
        const std::function<StepResult()> steps[] = {
            [&] { return open_session(transfer, params); },
            [&] { return limit_time(transfer, params); },
            [&] { return make_request(transfer, params, *address, max_body_bytes); },
            [&] { return set_credentials(transfer, params); },
            [&] { return set_header_list(transfer, params); },
        };
        for (const std::function<StepResult()>& step : steps) {
            if (const StepResult failure = step()) {
                return failed(params, *failure);
            }
        }
        // The exchange, following redirects unless told not to.
        TransferResult exchange = transfer.perform();
        if (exchange.end != TransferEnd::complete && exchange.end != TransferEnd::body_cut) {
            return failed(params, {message_of(exchange.end)});
        }
        return {read_response(exchange, params, process_pending_messages)};
    } catch (...) {
        // Memory ran out outside the transfer itself.
        return failed(params, {kReadFailed});
    }
}

}  // namespace

Text web_request(WebRequestParams& params, const std::function<void()>& process_pending_messages) {
    return web_request(params, process_pending_messages, kMaxBodyBytes);
}

Text web_request(WebRequestParams& params, const std::function<void()>& process_pending_messages,
                 std::size_t max_body_bytes) {
    Outcome outcome = perform(params, process_pending_messages, max_body_bytes);
    if (outcome.pump == Pump::before_return && process_pending_messages) {
        process_pending_messages();
    }
    return std::move(outcome.body_text);
}

}  // namespace notepics
