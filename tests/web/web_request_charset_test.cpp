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
// 丂 說 镕 喆 堃 玥: in GBK, but not in GB2312 proper.
constexpr std::string_view kGbkOnly = "\x81\x40\xD5\x66\xE9\x46\x86\xB4\x88\xD2\xAB\x68";
// “quoted” in windows-1252 and in GBK.
constexpr std::string_view kCurlyWindows1252 = "\x93quoted\x94";
constexpr std::string_view kCurlyGbk = "\xA1\xB0quoted\xA1\xB1";

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
        {"GB2312 in capitals read as GBK", cat({"<meta charset=\"GB2312\">", kGbkOnly}),
         cat({"<meta charset=\"GB2312\">", kGbkOnly})},
        {"x-euc-cn read as GBK", cat({"<meta charset=x-euc-cn>", kGbkOnly, "\x81"}),
         cat({"<meta charset=x-euc-cn>", kGbkOnly, "?"})},
        {"iso-8859-1 read as windows-1252", cat({"<meta charset=iso-8859-1>", kCurlyWindows1252}),
         cat({"<meta charset=iso-8859-1>", kCurlyGbk})},
        // 똠 (GBK lacks Hangul) exists only in the extended Korean code page.
        {"euc-kr read as the extended Korean code page", "<meta charset=euc-kr>\x8C\x63!",
         "<meta charset=euc-kr>?!"},
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
    EXPECT_EQ(decode_to_gbk(bytes_of(kGbkOnly), " Gb2312 "), Text(kGbkOnly));
    EXPECT_EQ(decode_to_gbk(bytes_of(kCurlyWindows1252), "LATIN1"), Text(kCurlyGbk));
    EXPECT_EQ(decode_to_gbk(bytes_of("x"), "x-no-such-charset"), std::nullopt);
    // Converter names the web's table does not hold name nothing.
    EXPECT_EQ(decode_to_gbk(bytes_of("x"), "ibm-1383"), std::nullopt);
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

TEST(WebRequestCharset, ReadsLabelsAsTheWebReadsThem) {
    using notepics::testing::LoopbackRoute;
    using notepics::testing::LoopbackServer;
    const std::string gb2312_page =
        cat({"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
             "charset=GB2312\"></head><p>",
             kGbkOnly, "</p>"});
    const std::string latin1_page =
        cat({"<meta charset=\"ISO-8859-1\"><p>", kCurlyWindows1252, "</p>"});
    const std::string unknown_page = cat({"<meta charset=x-no-such-set><p>", kGbk, "\x81</p>"});
    LoopbackServer server({
        LoopbackRoute::reply("/gb2312", "200 OK", {"Content-Type: text/html"}, gb2312_page),
        LoopbackRoute::reply("/latin1", "200 OK", {"Content-Type: text/html"}, latin1_page),
        LoopbackRoute::reply("/unknown", "200 OK", {"Content-Type: text/html"}, unknown_page),
    });
    ASSERT_TRUE(server.running()) << server.error();

    WebRequestParams gb2312{.url = server.http_url("/gb2312")};
    EXPECT_EQ(web_request(gb2312), gb2312_page);
    EXPECT_EQ(gb2312.response_bytes, bytes_of(gb2312_page));

    WebRequestParams latin1{.url = server.http_url("/latin1")};
    EXPECT_EQ(web_request(latin1), cat({"<meta charset=\"ISO-8859-1\"><p>", kCurlyGbk, "</p>"}));
    EXPECT_EQ(latin1.response_bytes, bytes_of(latin1_page));

    WebRequestParams unknown{.url = server.http_url("/unknown")};
    EXPECT_EQ(web_request(unknown), unknown_page);
}

}  // namespace
}  // namespace notepics
