// What the sample service's client does alike on every system; starting and
// stopping the service is in sample_service_posix.cpp and
// sample_service_win32.cpp.
#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "sample_service.h"

namespace notepics::sample {
namespace {

// "word rest of line" -> {"word", "rest of line"}.
std::pair<std::string, std::string> split_first_word(const std::string& line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) {
        return {line, ""};
    }
    return {line.substr(0, blank), line.substr(blank + 1)};
}

}  // namespace

ScratchFolder::~ScratchFolder() {
    if (!path_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
}

bool write_file(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file.flush());
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string RecordedRequest::target() const {
    const std::size_t first = head.find(' ');
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t second = head.find(' ', first + 1);
    return head.substr(first + 1,
                       second == std::string::npos ? std::string::npos : second - first - 1);
}

bool SampleService::take_start_line(const std::string& line) {
    auto [word, rest] = split_first_word(line);
    if (word == "web_origin") {
        web_origin_ = rest;
    } else if (word == "picture_origin") {
        picture_origin_ = rest;
    } else if (word == "short_link" || word == "share_text") {
        auto [note, value] = split_first_word(rest);
        (word == "short_link" ? short_links_ : share_texts_)[note] = value;
    }
    return word == "ready";
}

std::string SampleService::short_link(const std::string& note) const {
    const auto found = short_links_.find(note);
    return found == short_links_.end() ? std::string() : found->second;
}

std::string SampleService::share_text(const std::string& note) const {
    const auto found = share_texts_.find(note);
    return found == share_texts_.end() ? std::string() : found->second;
}

std::vector<RecordedRequest> SampleService::requests() const {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(records_.path(), error)) {
        if (entry.path().extension() == ".http") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<RecordedRequest> requests;
    for (const auto& file : files) {
        // "0007-picture.http"
        const std::string stem = file.stem().string();
        requests.push_back({.server = stem.substr(stem.find('-') + 1), .head = read_file(file)});
    }
    return requests;
}

std::vector<std::string> SampleService::targets(std::string_view server) const {
    std::vector<std::string> result;
    for (const RecordedRequest& request : requests()) {
        if (request.server == server) {
            result.push_back(request.target());
        }
    }
    return result;
}

}  // namespace notepics::sample
