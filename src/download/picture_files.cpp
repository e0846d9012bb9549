#include "download/picture_files.h"

#include <string>

#include "text/codepage.h"
#include "text/text.h"

namespace notepics {
namespace {

constexpr int kUtf8CodePage = 65001;
constexpr std::string_view kPictureExtension = ".jpg";

// Neither "." nor "..", and no "/" or zero byte.
bool is_plain_name(std::string_view name) {
    return name != "." && name != ".." && name.find('/') == std::string_view::npos &&
           name.find('\0') == std::string_view::npos;
}

}  // namespace

std::optional<std::filesystem::path> picture_file_path(const std::filesystem::path& folder,
                                                       std::string_view identifier) {
    // In the GBK identifier a backslash is looked for as a character, so the second
    // byte of a two-byte character does not count; the UTF-8 name is checked
    // byte by byte, which catches what the converter still makes a backslash.
    if (folder.empty() || identifier.empty() || !is_plain_name(identifier) ||
        text_find(identifier, "\\") != -1) {
        return std::nullopt;
    }
    const Text utf8_identifier = utf16_to_code_page(ansi_to_utf16(identifier, /*strip=*/true),
                                                    kUtf8CodePage, /*use_code_page=*/true);
    if (utf8_identifier.empty() || !is_plain_name(utf8_identifier) ||
        utf8_identifier.find('\\') != std::string::npos) {
        return std::nullopt;
    }
    // The name goes in as UTF-8 text (char8_t): the same bytes on POSIX
    // systems, a wide name on Windows.
    const std::string name = utf8_identifier + std::string(kPictureExtension);
    return folder / std::filesystem::path(std::u8string(name.begin(), name.end()));
}

}  // namespace notepics
