// A failed allocation while a body is collected ends the read like a broken
// connection, for a page and for a picture. This program replaces the
// global operator new so that large allocations can be made to fail.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "../support/loopback_server.h"
#include "web/transfer.h"
#include "web/web_request.h"

namespace {

// Allocations of at least this many bytes fail while it is below the maximum.
std::atomic<std::size_t> failing_size{std::numeric_limits<std::size_t>::max()};

void* allocate(std::size_t size) {
    if (size >= failing_size.load()) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) {
    return allocate(size);
}
void* operator new[](std::size_t size) {
    return allocate(size);
}
void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete[](void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace notepics {
namespace {

using notepics::testing::LoopbackRoute;
using notepics::testing::LoopbackServer;
using ::testing::StartsWith;

// 713 读取数据失败!
const Text kReadFailed = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";
constexpr std::size_t kBodyBytes = std::size_t{2} << 20;
constexpr std::size_t kFailingBytes = std::size_t{1} << 20;

// Makes allocations of a megabyte or more fail for one scope.
class FailingLargeAllocations {
  public:
    FailingLargeAllocations() { failing_size = kFailingBytes; }
    ~FailingLargeAllocations() { failing_size = std::numeric_limits<std::size_t>::max(); }
};

LoopbackServer& server() {
    static LoopbackServer instance({
        LoopbackRoute::reply("/announced", "200 OK", {}, std::string(kBodyBytes, 'a')),
        LoopbackRoute::raw("/until-close",
                           "HTTP/1.0 200 OK\r\n\r\n" + std::string(kBodyBytes, 'u')),
    });
    return instance;
}

struct AllocationCase {
    const char* target;
    std::size_t at_most_kept;  // the body collected before memory ran out
};

TEST(TransferAllocation, AFailedAllocationEndsAPageLikeABrokenConnection) {
    ASSERT_TRUE(server().running()) << server().error();
    const AllocationCase cases[] = {{"/announced", 0}, {"/until-close", kFailingBytes}};
    for (const AllocationCase& c : cases) {
        SCOPED_TRACE(c.target);
        WebRequestParams p{.url = server().http_url(c.target)};
        {
            const FailingLargeAllocations failing;
            web_request(p);
        }
        EXPECT_EQ(p.status_text, kReadFailed);
        EXPECT_THAT(p.response_headers, StartsWith("HTTP/1."));
        EXPECT_LT(p.response_bytes.size(), kBodyBytes);
        EXPECT_LE(p.response_bytes.size(), c.at_most_kept);
    }
}

TEST(TransferAllocation, AFailedAllocationEndsAPictureAsCut) {
    ASSERT_TRUE(server().running()) << server().error();
    for (const char* target : {"/announced", "/until-close"}) {
        SCOPED_TRACE(target);
        const std::optional<WebAddress> address = parse_web_address(server().http_url(target));
        ASSERT_TRUE(address.has_value());
        Transfer transfer;
        ASSERT_TRUE(transfer.ready() && transfer.open_session("") &&
                    transfer.limit_time(std::chrono::seconds(5)) && transfer.aim_at(*address) &&
                    transfer.set_request({.method = "GET",
                                          .body = {},
                                          .version = HttpVersion::v1_0,
                                          .max_body_bytes = kMaxBodyBytes,
                                          .over_limit = OverLimit::give_up}) &&
                    transfer.set_header_lines({"Accept: */*"}, {"Accept: */*"}));
        TransferResult result;
        {
            const FailingLargeAllocations failing;
            result = transfer.perform();
        }
        EXPECT_EQ(result.end, TransferEnd::body_cut);
        EXPECT_EQ(result.status, 200);
    }
}

}  // namespace
}  // namespace notepics
