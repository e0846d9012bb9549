// Conversion between GBK text (code page 936) and UTF-16LE byte buffers.
//
// Code page numbers are Windows numbers: 936 is GBK, 0 the system code page
// (936 for this program), 65001 UTF-8; others map to the converter of that
// Windows code page. Bytes invalid in a code page decode to the converter's
// substitute; characters a code page lacks encode as "?" (0x3F). Nothing
// reports an error: a failed conversion gives the empty result.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace notepics {

// UTF-16LE units of `text`, followed by one NUL unit unless `strip` is set.
// The empty text gives the empty buffer either way.
//   ansi_to_utf16("GET") == {47 00 45 00 54 00 00 00}
ByteBuffer ansi_to_utf16(std::string_view text, bool strip = false);

// GBK text of the UTF-16LE units up to the first NUL unit.
//   utf16_to_ansi({41 00 00 00 42 00}) == "A"
Text utf16_to_ansi(const ByteBuffer& bytes);

// UTF-16LE units of the bytes up to the first zero byte, then one NUL unit;
// empty when the input is empty or starts with a zero byte.
ByteBuffer code_page_to_utf16(const ByteBuffer& bytes, int code_page);

// The whole units before the first NUL unit (a trailing odd byte dropped),
// followed by 00 00 when `keep_terminator` is set; empty when nothing
// precedes the NUL unit.   cut_utf16_at_nul({41 00 42}, false) == {41 00}
ByteBuffer cut_utf16_at_nul(const ByteBuffer& bytes, bool keep_terminator);

// Text in `code_page` (the system code page when `use_code_page` is clear)
// of the UTF-16LE units up to the first NUL unit.
Text utf16_to_code_page(const ByteBuffer& bytes, int code_page, bool use_code_page);

// UTF-16 code units of GBK `text` up to its first zero byte, in the same
// mapping as ansi_to_utf16; empty when nothing converts.
//   gbk_to_utf16_units("\xD6\xD0x") == u"\u4E2Dx"
std::u16string gbk_to_utf16_units(std::string_view text);

// The same units written to `out`, which must have room for text.size()
// units (a GBK byte never gives more than one); returns how many it wrote.
// Units past that count may have been overwritten as scratch.
std::size_t gbk_to_utf16_units(std::string_view text, char16_t* out);

// GBK text of `units` up to the first NUL unit, in the same mapping as
// utf16_to_ansi (characters GBK lacks become "?").
//   utf16_units_to_gbk(u"\u4E2Dx") == "\xD6\xD0x"
Text utf16_units_to_gbk(std::u16string_view units);

// UTF-16LE units (no NUL unit added) of all of `bytes` decoded from the
// charset that `label` names (a converter name or alias such as "utf-8",
// "Big5", "windows-1252", compared without regard to case and punctuation),
// up to the first NUL character; a byte-order mark at the start of UTF-8 is
// dropped. Nothing when the label names no charset the converter knows.
//   charset_to_utf16({E4 B8 AD}, "utf-8") == ByteBuffer{2D 4E}
std::optional<ByteBuffer> charset_to_utf16(const ByteBuffer& bytes, std::string_view label);

// The converter (a name charset_to_utf16 takes) for the encoding that a web
// charset label names, the labels resolved as browsers resolve them: the
// web's table of encoding labels, matched without regard to ASCII case after
// trimming ASCII blanks. Every GBK-family label (gb2312, gbk, chinese,
// x-gbk, ...) and also euc-cn and x-euc-cn name code page 936; iso-8859-1,
// latin1, us-ascii and the other windows-1252 labels name windows-1252;
// euc-kr names the extended Korean code page. Empty for a label the table
// does not hold, or whose encoding the converter cannot serve.
//   charset_label_converter(" GB2312 ") == charset_label_converter("gbk")
//   charset_label_converter("latin1") == "windows-1252"
std::string_view charset_label_converter(std::string_view label);

// Every label charset_label_converter knows, in lower case.
std::vector<std::string_view> charset_labels();

// As charset_to_utf16, with the charset named by a web label resolved by
// charset_label_converter; nothing for a label it does not know.
//   web_charset_to_utf16({93 41 94}, "ISO-8859-1") == ByteBuffer{1C 20 41 00 1D 20}
std::optional<ByteBuffer> web_charset_to_utf16(const ByteBuffer& bytes, std::string_view label);

}  // namespace notepics
