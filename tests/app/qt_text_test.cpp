#include "app/qt_text.h"

#include <QString>

#include <gtest/gtest.h>

#include <vector>

namespace notepics {
namespace {

TEST(QtText, RoundTripsGbkTexts) {
    struct Case {
        Text gbk;
        QString utf16;
    };
    const std::vector<Case> cases = {
        {"", QString()},
        {"http://a.b/c?d=e", QStringLiteral("http://a.b/c?d=e")},
        {"by\xA3\xBATuvelko", QStringLiteral("by：Tuvelko")},
        {"\xC1\xB4  \xBD\xD3\xA3\xBA", QStringLiteral("链  接：")},
        {"a\nb\tc", QStringLiteral("a\nb\tc")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gbk);
        EXPECT_EQ(to_qstring(c.gbk), c.utf16);
        EXPECT_EQ(to_text(c.utf16), c.gbk);
    }
}

TEST(QtText, CharacterWithoutGbkFormBecomesQuestionMark) {
    EXPECT_EQ(to_text(QStringLiteral("a\uD55Cb")), "a?b");  // a Hangul syllable
}

TEST(QtText, StopsAtFirstNulCharacter) {
    EXPECT_EQ(to_text(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")), "ab");
}

TEST(QtText, InvalidGbkBytesDecodeToSubstitute) {
    const QString decoded = to_qstring(
        "a\xFF"
        "b");
    ASSERT_GE(decoded.size(), 3);
    EXPECT_EQ(decoded.front(), QChar(u'a'));
    EXPECT_EQ(decoded.back(), QChar(u'b'));
    EXPECT_FALSE(decoded.contains(QChar(0xFF)));
}

}  // namespace
}  // namespace notepics
