#include "app/qt_text.h"

#include <cstddef>

#include "text/codepage.h"

namespace notepics {

QString to_qstring(std::string_view gbk) {
    const ByteBuffer utf16 = ansi_to_utf16(gbk, /*strip=*/true);
    QString result(static_cast<qsizetype>(utf16.size() / 2), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        out[i / 2] = static_cast<char16_t>(utf16[i] | (utf16[i + 1] << 8));
    }
    return result;
}

Text to_text(const QString& text) {
    ByteBuffer utf16;
    utf16.reserve(static_cast<std::size_t>(text.size()) * 2 + 2);
    for (const QChar unit : text) {
        utf16.push_back(static_cast<std::uint8_t>(unit.unicode() & 0xFF));
        utf16.push_back(static_cast<std::uint8_t>(unit.unicode() >> 8));
    }
    utf16.push_back(0);
    utf16.push_back(0);
    return utf16_to_ansi(utf16);
}

}  // namespace notepics
