#include "download/service_config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace notepics {
namespace {

// One pair of the note cookie: its name and the form of its value.
struct CookiePairForm {
    std::string_view name;
    std::string_view value_pattern;  // ECMAScript, matched against the whole value
};

constexpr std::string_view kUrlSafe43 = "[A-Za-z0-9_-]{43}";
constexpr std::string_view kUuid = "[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}";

const CookiePairForm kCookiePairs[] = {
    {"timestamp2", "1[5-9][0-9]{11}[0-9a-f]{50}"},  // 13 digits of milliseconds since 2017
    {"timestamp2.sig", kUrlSafe43},
    // year, month, day, hour, minute, second, then hex
    {"smidV2",
     "20[0-9]{2}(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])([01][0-9]|2[0-3])[0-5][0-9][0-5][0-9]"
     "[0-9a-f]{49}"},
    {"gid.ss", "[A-Za-z0-9+/]{64}"},
    {"xhsTrackerId", kUuid},
    {"xhsTrackerId.sig", kUrlSafe43},
    {"xsecappid", "xhs-pc-web"},
    {"a1", "[a-z0-9]{52}"},
    {"webId", "[0-9a-f]{32}"},
    {"gid", "[A-Za-z0-9]{72}"},
    {"gid.sign", "[A-Za-z0-9+/]{27}="},
    {"xhsTracker", "url=explore&xhsshare=CopyLink"},
    {"xhsTracker.sig", kUrlSafe43},
    {"webBuild", "1\\.2\\.3"},
    {"extra_exp_ids",
     "h5_230301_origin,h5_1208_clt,h5_1130_exp1,ios_wx_launch_open_app_exp,h5_video_ui_exp3,"
     "wx_launch_open_app_duration_origin,ques_exp2"},
    {"extra_exp_ids.sig", kUrlSafe43},
    {"websectiga", "[0-9a-f]{64}"},
    {"sec_poison_id", kUuid},
    {"web_session", "[0-9a-f]{38}"},
};

std::vector<std::string> split_pairs(std::string_view text) {
    std::vector<std::string> pairs;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find("; ", start);
        pairs.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pairs;
        }
        start = end + 2;
    }
}

TEST(NoteCookie, HoldsTheNineteenPairsInOrderEachInItsForm) {
    const std::vector<std::string> pairs = split_pairs(note_cookie_text);
    ASSERT_EQ(pairs.size(), std::size(kCookiePairs));
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        SCOPED_TRACE(pairs[i]);
        const std::size_t equals = pairs[i].find('=');
        ASSERT_NE(equals, std::string::npos);
        EXPECT_EQ(pairs[i].substr(0, equals), kCookiePairs[i].name);
        EXPECT_TRUE(std::regex_match(pairs[i].substr(equals + 1),
                                     std::regex(std::string(kCookiePairs[i].value_pattern))));
    }
}

TEST(NoteCookie, IsOneLineOf1136AsciiCharacters) {
    EXPECT_EQ(note_cookie_text.size(), 1136u);
    for (const char c : note_cookie_text) {
        EXPECT_TRUE(c >= 0x20 && c < 0x7F) << static_cast<int>(c);
    }
}

TEST(ServiceOrigins, AreTheBuildsValues) {
    EXPECT_EQ(web_origin, NOTEPICS_EXPECTED_WEB_ORIGIN);
    EXPECT_EQ(picture_origin, NOTEPICS_EXPECTED_PICTURE_ORIGIN);
    for (const std::string_view origin : {web_origin, picture_origin}) {
        EXPECT_TRUE(std::regex_match(std::string(origin), std::regex("https?://[^/]+/"))) << origin;
    }
}

}  // namespace
}  // namespace notepics
