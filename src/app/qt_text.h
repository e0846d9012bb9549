// Crossing between the program's GBK texts and the toolkit's UTF-16
// strings. Both directions go through the program's own code-page layer, so
// the window shows exactly the characters the rest of the program means.
//
//   to_qstring("\xC1\xB4") == QString(u"链")
//   to_text(QString(u"链")) == "\xC1\xB4"
#pragma once

#include <QString>

#include <string_view>

#include "text/text.h"

namespace notepics {

// The UTF-16 string of a GBK text; bytes invalid in GBK decode to the
// substitute character.
QString to_qstring(std::string_view gbk);

// The GBK text of a string up to its first NUL character; characters GBK
// lacks become "?".
Text to_text(const QString& text);

}  // namespace notepics
