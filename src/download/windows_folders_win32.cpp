#include "download/windows_folders.h"

#include <windows.h>
// After windows.h:
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <memory>
#include <string>
#include <system_error>

#include "text/codepage.h"

namespace notepics {
namespace {

constexpr const wchar_t* kPicturesSubfolder = L"notepics";

struct TaskMemoryFree {
    void operator()(wchar_t* memory) const { CoTaskMemFree(memory); }
};

// GBK text of a wide path.
Text to_gbk(const std::filesystem::path& path) {
    const std::wstring& wide = path.native();
    ByteBuffer units;
    units.reserve(2 * wide.size());
    for (const wchar_t unit : wide) {
        units.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        units.push_back(static_cast<std::uint8_t>((unit >> 8) & 0xFF));
    }
    return utf16_to_ansi(units);
}

}  // namespace

bool can_create_file_in(const std::filesystem::path& folder) {
    if (folder.empty()) {
        return false;
    }
    const std::filesystem::path probe =
        folder / (L".notepics-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                  std::to_wstring(GetTickCount64()));
    const HANDLE file = CreateFileW(
        probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
        FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

std::filesystem::path user_pictures_folder() {
    wchar_t* raw = nullptr;
    const HRESULT result = SHGetKnownFolderPath(FOLDERID_Pictures, 0, nullptr, &raw);
    const std::unique_ptr<wchar_t, TaskMemoryFree> folder(raw);
    if (FAILED(result) || folder == nullptr) {
        return {};
    }
    return std::filesystem::path(folder.get());
}

PictureFolder choose_picture_folder(const std::filesystem::path& program_folder) {
    if (can_create_file_in(program_folder)) {
        return {program_folder, Text()};
    }
    const std::filesystem::path pictures = user_pictures_folder();
    if (pictures.empty()) {
        return {program_folder, Text()};
    }
    const std::filesystem::path folder = pictures / kPicturesSubfolder;
    // A folder that cannot be made shows up as failed pictures, with the
    // caption naming where they were meant to go.
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return {folder, to_gbk(folder)};
}

}  // namespace notepics
