#include "app/qt_text.h"

#include <string_view>

#include "text/codepage.h"

namespace notepics {

QString to_qstring(std::string_view gbk) {
    // A GBK byte gives at most one unit: convert straight into the string.
    QString result(static_cast<qsizetype>(gbk.size()), Qt::Uninitialized);
    const std::size_t count = gbk_to_utf16_units(gbk, reinterpret_cast<char16_t*>(result.data()));
    result.truncate(static_cast<qsizetype>(count));
    return result;
}

Text to_text(const QString& text) {
    return utf16_units_to_gbk(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                  static_cast<std::size_t>(text.size())));
}

}  // namespace notepics
