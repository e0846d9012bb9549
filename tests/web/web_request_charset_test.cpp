// Re-decoding a page from the charset its meta tag declares, and the same
// through a real exchange on 127.0.0.1.
#include <gtest/gtest.h>

#include <string>

#include "../support/loopback_server.h"
#include "web/charset.h"
#include "web/web_request.h"

namespace notepics {
namespace {

// 中文 in three encodings.
constexpr std::string_view kUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";
constexpr std::string_view kGbk = "\xD6\xD0\xCE\xC4";
constexpr std::string_view kBig5 = "\xA4\xA4\xA4\xE5";

std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) {
        out += part;
    }
    return out;
}

ByteBuffer bytes_of(std::string_view text) {
    return ByteBuffer(text.begin(), text.end());
}

struct DeclaredCase {
    const char* name;
    std::string body;
    Text charset;
};

TEST(DeclaredCharset, FindsTheLabelInTheFirst1024Bytes) {
    const DeclaredCase cases[] = {
        {"quoted", "<html><meta charset=\"utf-8\">", "utf-8"},
        {"bare", "<meta charset=utf-8 />", "utf-8"},
        {"capitals as written", "<META CHARSET=UTF-8>", "UTF-8"},
        {"in a content attribute",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">", "gb2312"},
        {"first of two tags", "<meta charset=big5><meta charset=utf-8>", "big5"},
        {"no tag", "<p>charset=utf-8</p>", ""},
        {"tag and label on two lines", "<meta\ncharset=utf-8>", ""},
        {"label past byte 1024",
         std::string(1000, ' ') + "<meta name=x " + std::string(20, 'y') + " charset=utf-8>", ""},
        {"label cut at byte 1024", std::string(1008, ' ') + "<meta charset=utf-8>", "ut"},
    };
    for (const DeclaredCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(declared_charset(c.body), c.charset);
    }
}

struct ConvertCase {
    const char* name;
    std::string body;
    std::string text;  // the body text to return
};

TEST(ConvertDeclaredCharset, DecodesTheWholeBodyFromTheDeclaredCharset) {
    const std::string padding(2000, '.');
    const ConvertCase cases[] = {
        {"utf-8 quoted", cat({"<meta charset=\"utf-8\">", kUtf8}),
         cat({"<meta charset=\"utf-8\">", kGbk})},
        {"utf-8 bare", cat({"<meta charset=utf-8>", kUtf8}), cat({"<meta charset=utf-8>", kGbk})},
        {"UTF-8 in capitals", cat({"<META CHARSET=UTF-8>", kUtf8}),
         cat({"<META CHARSET=UTF-8>", kGbk})},
        {"the whole body, not only the head", cat({"<meta charset=utf-8>", padding, kUtf8}),
         cat({"<meta charset=utf-8>", padding, kGbk})},
        {"big5", cat({"<meta charset=big5>", kBig5}), cat({"<meta charset=big5>", kGbk})},
        {"byte-order mark dropped", cat({"\xEF\xBB\xBF<meta charset=utf-8>", kUtf8}),
         cat({"<meta charset=utf-8>", kGbk})},
        {"character GBK lacks", "<meta charset=utf-8>\xE0\xB8\x81!", "<meta charset=utf-8>?!"},
        {"text ends at a decoded NUL",
         cat({"<meta charset=utf-8>", kUtf8, std::string(1, '\0'), "x"}),
         cat({"<meta charset=utf-8>", kGbk})},
        {"gbk stays", cat({"<meta charset=gbk>", kGbk, "\x81"}),
         cat({"<meta charset=gbk>", kGbk, "\x81"})},
        {"gb2312 stays", "<meta charset=gb2312>\x81", "<meta charset=gb2312>\x81"},
        // A lead byte without its second byte is kept as it is, or becomes
        // "?" when the body is decoded.
        {"GBK in capitals is decoded again", cat({"<meta charset=GBK>", kGbk, "\x81"}),
         cat({"<meta charset=GBK>", kGbk, "?"})},
        {"unknown label", cat({"<meta charset=no-such-set>", kUtf8}),
         cat({"<meta charset=no-such-set>", kUtf8})},
        {"tag past byte 1024", cat({padding, "<meta charset=utf-8>", kUtf8}),
         cat({padding, "<meta charset=utf-8>", kUtf8})},
        {"tag across a line break", cat({"<meta\r\ncharset=utf-8>", kUtf8}),
         cat({"<meta\r\ncharset=utf-8>", kUtf8})},
        {"zero byte before the tag", cat({"ab", std::string(1, '\0'), "<meta charset=utf-8>"}),
         "ab"},
    };
    for (const ConvertCase& c : cases) {
        SCOPED_TRACE(c.name);
        const ByteBuffer bytes = bytes_of(c.body);
        EXPECT_EQ(convert_declared_charset(bytes_to_text(bytes), bytes), c.text);
    }
}

TEST(ConvertDeclaredCharset, PumpsOnceWhenTheSearchRan) {
    int pumped = 0;
    const ByteBuffer page = bytes_of("<meta charset=utf-8>");
    convert_declared_charset(bytes_to_text(page), page, [&] { ++pumped; });
    convert_declared_charset("", {}, [&] { ++pumped; });
    EXPECT_EQ(pumped, 2);
}

TEST(DecodeToGbk, KnowsLabelsWithoutRegardToCase) {
    EXPECT_EQ(decode_to_gbk(bytes_of(kUtf8), "Utf8"), Text(kGbk));
    EXPECT_EQ(decode_to_gbk(bytes_of(kBig5), "BIG5"), Text(kGbk));
    // é is in GBK as A8 A6.
    EXPECT_EQ(decode_to_gbk(bytes_of("caf\xE9"), "iso-8859-1"), "caf\xA8\xA6");
    EXPECT_EQ(decode_to_gbk(bytes_of("x"), "x-no-such-charset"), std::nullopt);
    EXPECT_EQ(decode_to_gbk(bytes_of("x"), ""), std::nullopt);
}

TEST(WebRequestCharset, ReturnsGbkAndKeepsTheUndecodedBytes) {
    using notepics::testing::LoopbackRoute;
    using notepics::testing::LoopbackServer;
    const std::string utf8_page = cat({"<html><meta charset=\"utf-8\"><p>", kUtf8, "</p>"});
    const std::string header_only = cat({"<p>", kUtf8, "</p>"});
    LoopbackServer server({
        LoopbackRoute::reply("/utf8", "200 OK", {"Content-Type: text/html"}, utf8_page),
        LoopbackRoute::reply("/header-only", "200 OK", {"Content-Type: text/html; charset=utf-8"},
                             header_only),
    });
    ASSERT_TRUE(server.running()) << server.error();

    WebRequestParams page{.url = server.http_url("/utf8")};
    EXPECT_EQ(web_request(page), cat({"<html><meta charset=\"utf-8\"><p>", kGbk, "</p>"}));
    EXPECT_EQ(page.response_bytes, bytes_of(utf8_page));

    WebRequestParams header{.url = server.http_url("/header-only")};
    EXPECT_EQ(web_request(header), header_only);
}

}  // namespace
}  // namespace notepics
