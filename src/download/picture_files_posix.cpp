// Files on POSIX systems: the program's folder from /proc/self/exe, and the
// picture written through a new file (O_EXCL) renamed over the old one.
#include "download/picture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <system_error>
#include <utility>

namespace notepics {
namespace {

// A file descriptor that is closed when it goes out of scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

    // Closes now and tells whether the close succeeded (a delayed write
    // error shows up here).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    void reset() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
        }
    }

    int fd_ = -1;
};

// A file that is deleted when it goes out of scope, unless kept.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

    const std::filesystem::path& path() const { return path_; }
    void keep() { path_.clear(); }

  private:
    std::filesystem::path path_;
};

// A name no other writer uses at the same moment: the process id, a counter
// and the clock; O_EXCL settles any remaining clash.
std::string temporary_name() {
    static std::atomic<unsigned long> counter{0};
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return ".notepics-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
           std::to_string(ticks) + ".part";
}

// Creates a new, empty file beside `path`, readable by whoever the umask
// allows, as a plain open(O_CREAT) would.
std::pair<FileDescriptor, std::filesystem::path> create_temporary_beside(
    const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::filesystem::path candidate = folder / temporary_name();
        FileDescriptor fd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.valid()) {
            return {std::move(fd), std::move(candidate)};
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return {FileDescriptor(-1), std::filesystem::path()};
}

bool write_all(int fd, const ByteBuffer& bytes) {
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::filesystem::path run_directory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return program.parent_path();
}

bool write_bytes_to_file(const std::filesystem::path& path, const ByteBuffer& bytes) {
    if (path.empty() || !path.has_filename()) {
        return false;
    }
    auto [fd, temporary_path] = create_temporary_beside(path);
    if (!fd.valid()) {
        return false;
    }
    TemporaryFile temporary(std::move(temporary_path));
    if (!write_all(fd.get(), bytes) || !fd.close()) {
        return false;
    }
    if (::rename(temporary.path().c_str(), path.c_str()) != 0) {
        return false;
    }
    temporary.keep();
    return true;
}

}  // namespace notepics
