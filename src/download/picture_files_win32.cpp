// Files on Windows: the program's folder from GetModuleFileNameW, and the
// picture written through a new file (CREATE_NEW) moved over the old one
// with MoveFileExW. Every name is a wide one.
#include "download/picture_files.h"

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

namespace notepics {
namespace {

// A file handle that is closed when it goes out of scope.
class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    FileHandle(FileHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { reset(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Closes now and tells whether the close succeeded.
    bool close() { return CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE)) != 0; }

  private:
    void reset() {
        if (valid()) {
            CloseHandle(std::exchange(handle_, INVALID_HANDLE_VALUE));
        }
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// A file that is deleted when it goes out of scope, unless kept.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            DeleteFileW(path_.c_str());
        }
    }
    const std::filesystem::path& path() const { return path_; }
    void keep() { path_.clear(); }

  private:
    std::filesystem::path path_;
};

// A name no other writer uses at the same moment: the process id, a counter
// and the tick count; CREATE_NEW settles any remaining clash.
std::wstring temporary_name() {
    static std::atomic<unsigned long> counter{0};
    return L".notepics-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64()) + L".part";
}

std::pair<FileHandle, std::filesystem::path> create_temporary_beside(
    const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = L".";
    }
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::filesystem::path candidate = folder / temporary_name();
        FileHandle file(CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.valid()) {
            return {std::move(file), std::move(candidate)};
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    return {FileHandle(INVALID_HANDLE_VALUE), std::filesystem::path()};
}

bool write_all(HANDLE file, const ByteBuffer& bytes) {
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const DWORD piece = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, next, piece, &written, nullptr) || written == 0) {
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

}  // namespace

std::filesystem::path run_directory() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
        if (length == 0) {
            return {};
        }
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        if (name.size() >= 32768) {
            return {};
        }
        name.resize(2 * name.size());
    }
}

bool write_bytes_to_file(const std::filesystem::path& path, const ByteBuffer& bytes) {
    // A colon in the file name would name a stream of another file. Windows
    // file systems hold names of up to 255 UTF-16 units; checked here too,
    // so a file system that would take a longer one gives the same result.
    constexpr std::size_t kLongestName = 255;
    if (path.empty() || !path.has_filename() ||
        path.filename().native().find(L':') != std::wstring::npos ||
        path.filename().native().size() > kLongestName) {
        return false;
    }
    auto [file, temporary_path] = create_temporary_beside(path);
    if (!file.valid()) {
        return false;
    }
    TemporaryFile temporary(std::move(temporary_path));
    if (!write_all(file.get(), bytes) || !file.close()) {
        return false;
    }
    if (!MoveFileExW(temporary.path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return false;
    }
    temporary.keep();
    return true;
}

}  // namespace notepics
