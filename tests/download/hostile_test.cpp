// The whole workflow against a service that misbehaves on purpose: names
// that try to leave the picture folder, bodies too large, silent servers,
// untrusted certificates, redirects elsewhere, control characters in
// addresses, huge pages. Every run must end without a crash, with no file
// written outside the picture folder, no older file lost and a caption that
// counts the pictures that were not saved.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "download/workflow.h"
#include "recording_window.h"
#include "sample_service.h"

namespace notepics {
namespace {

using sample::read_file;
using sample::SampleService;
using sample::ScratchFolder;
using sample::write_file;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

constexpr std::string_view kQuery = "?imageView2/2/w/1200/format/webp";
constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kGiB = std::size_t{1} << 30;

// Every file under `folder`, by its path relative to `folder`, with its bytes.
std::map<std::string, std::string> files_under(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) {
            files[std::filesystem::relative(entry.path(), folder).string()] =
                read_file(entry.path());
        }
    }
    return files;
}

// How two trees of files differ, at most a few lines of it.
std::vector<std::string> differences(const std::map<std::string, std::string>& expected,
                                     const std::map<std::string, std::string>& actual) {
    constexpr std::size_t kShown = 10;
    std::vector<std::string> lines;
    for (const auto& [name, bytes] : expected) {
        const auto found = actual.find(name);
        if (found == actual.end()) {
            lines.push_back("missing: " + name);
        } else if (found->second != bytes) {
            lines.push_back("changed: " + name + " holds \"" + found->second.substr(0, 80) + "\"");
        }
        if (lines.size() == kShown) {
            return lines;
        }
    }
    for (const auto& [name, bytes] : actual) {
        if (!expected.contains(name)) {
            lines.push_back("unexpected: " + name);
        }
        if (lines.size() == kShown) {
            break;
        }
    }
    return lines;
}

// A figure of /proc/self/status given in kB ("VmHWM", "VmRSS"), in bytes.
std::size_t memory_status(std::string_view name) {
    std::ifstream status("/proc/self/status");
    const std::string key = text_concat({name, ":"});
    std::string word;
    while (status >> word) {
        if (word == key) {
            std::size_t kibibytes = 0;
            status >> kibibytes;
            return kibibytes * 1024;
        }
    }
    return 0;
}

std::size_t resident_bytes() {
    return memory_status("VmRSS");
}

// The most memory this process has held at once since the last reset.
std::size_t peak_resident_bytes() {
    return memory_status("VmHWM");
}

// Starts a new peak from the memory held now; false when the system does
// not let the process do that.
bool reset_peak_resident() {
    std::ofstream clear_refs("/proc/self/clear_refs");
    clear_refs << "5";
    clear_refs.close();
    return !clear_refs.fail();
}

// The log of a run that found `count` pictures, `failed` of them not saved.
std::vector<std::string> saving_run_log(const std::string& box, int count, int failed) {
    const std::string n = std::to_string(count);
    std::vector<std::string> log = {"run: " + box, "caption: 开始下载：0/" + n};
    for (int i = 1; i <= count; ++i) {
        log.push_back("caption: 正在下载：" + std::to_string(i) + "/" + n);
    }
    log.push_back(failed == 0 ? "caption: 下载完成"
                              : "caption: 下载完成，失败 " + std::to_string(failed) + "/" + n);
    log.insert(log.end(), {"box: ", "run: ", "end", "end"});
    return log;
}

// The log of a run that found no picture at all.
std::vector<std::string> nothing_found_log(const std::string& box) {
    return {"run: " + box, "message: 地址错误或软件失效", "end"};
}

// A note page in the service's form, naming each identifier verbatim.
std::string note_page(const std::vector<std::string>& identifiers) {
    std::string page =
        "<!DOCTYPE html>\n<html><head><title>note</title></head>\n<body><script>"
        "window.__INITIAL_STATE__={\"note\":{\"imageList\":[";
    for (const std::string& identifier : identifiers) {
        page += "{\"width\":1200,\"height\":900,\"traceId\":\"" + identifier + "\"},";
    }
    page += "]}}</script>\n</body></html>\n";
    return page;
}

// A picture as the service serves it with --echo-pictures: "picture " and the
// request's target.
std::string echoed(std::string_view identifier) {
    return text_concat({"picture /", identifier, kQuery});
}

// A file the run is expected to have saved, by its name in the picture
// folder (UTF-8).
struct Saved {
    std::string file;
    std::string bytes;
};

Saved saved(std::string_view identifier) {
    return {text_concat({identifier, ".jpg"}), echoed(identifier)};
}

// The folder tree of each test:
//   scratch/outside.jpg    an older file where "../outside" would land
//   scratch/program/       the picture folder, holding older.jpg
// Each case starts a sample service of its own, which serves every
// identifier it has no other answer for as echoed(identifier).
class HostileService : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::create_directory(folder_));
        ASSERT_TRUE(write_file(scratch_.path() / "outside.jpg", "older file outside"));
        ASSERT_TRUE(write_file(folder_ / "older.jpg", "older picture"));
    }

    // Arguments that make the web server answer `path` with `bytes`.
    std::vector<std::string> page(std::string_view path, std::string_view bytes) {
        const std::filesystem::path file = served_.path() / ("page" + std::to_string(++pages_));
        EXPECT_TRUE(write_file(file, bytes));
        return {"--page", text_concat({path, "=", file.string()})};
    }

    void start(std::vector<std::string> arguments) {
        arguments.push_back("--echo-pictures");
        std::string error;
        service_ = SampleService::start(arguments, &error);
        ASSERT_TRUE(service_) << error;
        settings_.web_origin = service_->web_origin();
        settings_.picture_origin = service_->picture_origin();
        settings_.picture_folder = folder_;
    }

    // Starts a service serving `page_bytes` as the note page /explore/n,
    // with more arguments, and pastes the page's address.
    void run_note(std::string_view page_bytes, std::vector<std::string> arguments = {}) {
        const std::vector<std::string> serve_page = page("/explore/n", page_bytes);
        arguments.insert(arguments.end(), serve_page.begin(), serve_page.end());
        start(arguments);
        if (service_) {
            paste(note_address());
        }
    }

    // Pastes `box` into a fresh window, remembering the files beforehand.
    void paste(const std::string& box) {
        before_ = files_under(scratch_.path());
        window_ = std::make_unique<RecordingWindow>(
            [this](NoteWindow& w) { on_link_changed(w, settings_); });
        window_->paste(box);
    }

    std::string note_address() const { return service_->web_origin() + "explore/n"; }

    // The run saved `files` into the picture folder, and changed nothing
    // else: every other file is as it was, and no file was added.
    void expect_only_saved(const std::vector<Saved>& files) const {
        std::map<std::string, std::string> expected = before_;
        for (const Saved& file : files) {
            expected[(std::filesystem::path("program") / file.file).string()] = file.bytes;
        }
        EXPECT_THAT(differences(expected, files_under(scratch_.path())), IsEmpty());
    }

    // No request that reached the service holds a line beginning with
    // `name`: nothing was smuggled into a request head.
    void expect_no_line(std::string_view name) const {
        for (const sample::RecordedRequest& request : service_->requests()) {
            for (const char* line_break : {"\n", "\r"}) {
                EXPECT_THAT(request.head, Not(HasSubstr(text_concat({line_break, name}))));
            }
        }
    }

    ScratchFolder served_;
    ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path() / "program";
    std::unique_ptr<SampleService> service_;
    WorkflowSettings settings_;
    std::unique_ptr<RecordingWindow> window_;
    std::map<std::string, std::string> before_;
    int pages_ = 0;
};

TEST_F(HostileService, IdentifiersThatNamePathsAreNeitherFetchedNorWritten) {
    const std::string absolute = (scratch_.path() / "absolute").string();
    // "a\u0000b" is the escape as the page holds it: six characters, one of
    // them a backslash.
    const std::vector<std::string> identifiers = {
        "../outside", absolute, "..\\outside", "a\\u0000b", "..", ".", "sub/../../outside",
        // A fine file name, but not a fine address: nothing is sent.
        "cr\rX-Injected:yes", "older", "ok"};
    ASSERT_NO_FATAL_FAILURE(run_note(note_page(identifiers)));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 10, 8)));
    EXPECT_THAT(service_->targets("picture"),
                ElementsAre(text_concat({"/older", kQuery}), text_concat({"/ok", kQuery})));
    expect_no_line("X-Injected");
    expect_only_saved({saved("older"), saved("ok")});
}

TEST_F(HostileService, EmptyIdentifiersAreNeitherFetchedNorWritten) {
    ASSERT_NO_FATAL_FAILURE(run_note(note_page({"", "ok", "", "", "older"})));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 5, 3)));
    EXPECT_THAT(service_->targets("picture"),
                ElementsAre(text_concat({"/ok", kQuery}), text_concat({"/older", kQuery})));
    // No ".jpg" anywhere, beside the program or elsewhere.
    expect_only_saved({saved("ok"), saved("older")});
}

TEST_F(HostileService, AnswersThatAreNoPictureReplaceNothing) {
    // Each not-a-picture answer meets an older file of its name.
    const std::vector<std::string> refused = {"empty", "html", "json", "problem", "plain"};
    for (const std::string& identifier : refused) {
        ASSERT_TRUE(write_file(folder_ / (identifier + ".jpg"), "older " + identifier));
    }
    ASSERT_NO_FATAL_FAILURE(run_note(
        note_page({"empty", "html", "json", "webp", "problem", "untyped", "plain", "octets"}),
        {"--fault", "empty=empty", "--fault", "html=type:text/html; charset=utf-8", "--fault",
         "json=type:application/json", "--fault", "problem=type:application/problem+json",
         "--fault", "plain=type:TEXT/plain", "--fault", "webp=type:image/webp", "--fault",
         "untyped=untyped", "--fault", "octets=type:application/octet-stream"}));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 8, 5)));
    expect_only_saved({saved("webp"), saved("untyped"), saved("octets")});
}

TEST_F(HostileService, AZeroByteEndsThePageText) {
    // The page is read as text, which ends at its first zero byte: the
    // identifier holding it and every later one are never seen.
    const std::string note = note_page({"ok", std::string("x\0/../outside", 13), "later"});
    ASSERT_NO_FATAL_FAILURE(run_note(note));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 1, 0)));
    expect_only_saved({saved("ok")});
}

TEST_F(HostileService, NamesTheFileSystemCannotHoldCountAsFailed) {
    std::string gbk_300;
    for (int i = 0; i < 300; ++i) {
        gbk_300 += "\xD6\xD0";  // 中
    }
    // 251 letters and ".jpg" make the longest name a folder can hold.
    const std::vector<std::string> identifiers = {std::string(300, 'a'), gbk_300,
                                                  std::string(252, 'b'), std::string(251, 'c')};
    ASSERT_NO_FATAL_FAILURE(run_note(note_page(identifiers)));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 4, 3)));
    EXPECT_EQ(service_->targets("picture").size(), 4u);  // each was fetched
    expect_only_saved({saved(std::string(251, 'c'))});
}

TEST_F(HostileService, InvalidGbkIdentifiersStayInsideTheFolder) {
    // The page is matched as UTF-16: a byte that starts no valid character
    // comes back as "?" (which then ends the address's path), a valid one
    // outside the usual ranges as the character the code page gives it, and
    // a lead byte keeps the quote after it.
    const std::vector<std::string> identifiers = {"\x81",   "\xFF\xFE",  "\x80",
                                                  "ab\xA1", "\xA1\x20x", "ok"};
    ASSERT_NO_FATAL_FAILURE(run_note(note_page(identifiers)));

    // "\xA1\x20x" became "? x": an address with a blank is not fetched.
#ifdef _WIN32
    // Windows file names hold no '?' and no '"': those pictures fail too.
    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 6, 5)));
    expect_only_saved({saved("ok")});
#else
    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 6, 1)));
    expect_only_saved({
        {"?.jpg", echoed("?")},                   // "\x81"
        {"\xEF\xA3\xB5?.jpg", echoed("%ff?")},    // "\xFF\xFE": U+F8F5 and "?"
        {"\xE2\x82\xAC\".jpg", echoed("%80\"")},  // "\x80": the euro sign, and the quote
        {"ab?.jpg", echoed("ab?")},               // "ab\xA1"
        saved("ok"),
    });
#endif
}

TEST_F(HostileService, PicturesLargerThanTheCapFailWithMemoryBounded) {
    const std::string gib = std::to_string(kGiB);
    // 1 GiB each, four times the cap: announced and sent, streamed until the
    // connection closes, and in chunks.
    const struct {
        std::string_view label;
        std::string fault;
    } cases[] = {{"announced", "flood:" + gib},
                 {"streamed", "stream:" + gib},
                 {"chunked", "chunked:" + gib}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string identifier(c.label);
        ASSERT_TRUE(write_file(folder_ / (identifier + ".jpg"), "older picture"));
        const bool measured = reset_peak_resident();
        const std::size_t resident_before = resident_bytes();

        ASSERT_NO_FATAL_FAILURE(
            run_note(note_page({identifier, "ok"}), {"--fault", identifier + "=" + c.fault}));

        EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 2, 1)));
        expect_only_saved({saved("ok")});
        // Where the system does not let the peak be reset, only the outcome
        // is checked.
        if (measured) {
            const std::size_t peak = peak_resident_bytes();
            EXPECT_LT(peak > resident_before ? peak - resident_before : 0, kGiB / 2);
        }
    }
}

TEST_F(HostileService, AServerFallingSilentIsEndedByTheTimeout) {
    settings_.timeout_seconds = 1;
    ASSERT_TRUE(write_file(folder_ / "stalled.jpg", "older picture"));
    // Half a picture, then silence with the connection held open.
    ASSERT_NO_FATAL_FAILURE(run_note(note_page({"stalled", "ok"}), {"--fault", "stalled=stall"}));
    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 2, 1)));
    expect_only_saved({saved("ok")});

    // Half the note page, then silence: the pictures of the half that
    // arrived are saved, as for any page cut short.
    const std::string first_half = note_page({"a", "b"});
    const std::string note = first_half + std::string(first_half.size(), ' ') + note_page({"c"});
    ASSERT_NO_FATAL_FAILURE(run_note(note, {"--web-fault", "/explore/n=stall"}));
    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 2, 0)));
    expect_only_saved({saved("a"), saved("b")});
}

TEST_F(HostileService, APictureHostWithAnUntrustedCertificateSavesNothing) {
    if (sample::runs_under_wine()) {
        GTEST_SKIP() << "wine's Schannel accepts a certificate nobody trusts; Windows refuses it";
    }
    ASSERT_NO_FATAL_FAILURE(run_note(note_page({"a", "older"}), {"--tls-pictures"}));

    ASSERT_THAT(service_->picture_origin(), ::testing::StartsWith("https://"));
    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 2, 2)));
    EXPECT_THAT(service_->targets("picture"), IsEmpty());  // no request went out
    expect_only_saved({});
}

TEST_F(HostileService, PictureRedirectsAreFollowedOnlyToWebAddressesAndNotForever) {
    const std::string local_file = "file://" + (scratch_.path() / "outside.jpg").string();
    ASSERT_NO_FATAL_FAILURE(run_note(note_page({"to-file", "to-ftp", "loop", "to-ok"}),
                                     {"--fault", "to-file=redirect:" + local_file, "--fault",
                                      "to-ftp=redirect:ftp://127.0.0.1:21/ok", "--fault",
                                      "loop=redirect:/loop", "--fault", "to-ok=redirect:/ok"}));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 4, 3)));
    // "to-ok" is saved under its own name with what "/ok" served.
    expect_only_saved({{"to-ok.jpg", "picture /ok"}});
    // The loop is asked once and then followed ten times.
    std::vector<std::string> expected_targets = {text_concat({"/to-file", kQuery}),
                                                 text_concat({"/to-ftp", kQuery}),
                                                 text_concat({"/loop", kQuery})};
    expected_targets.insert(expected_targets.end(), 10, "/loop");
    expected_targets.insert(expected_targets.end(), {text_concat({"/to-ok", kQuery}), "/ok"});
    EXPECT_THAT(service_->targets("picture"), ElementsAreArray(expected_targets));
}

TEST_F(HostileService, ShortLinksLeadingAstrayEndInTheMessage) {
    // The web server's origin is fixed beforehand, so that pages can name it.
    const std::string web = sample::unreachable_origin();
    const std::string port = web.substr(web.rfind(':') + 1, web.size() - web.rfind(':') - 2);
    const std::string local_file = "file://" + (scratch_.path() / "outside.jpg").string();
    // Each short link is /s/x; its redirect page names the next address.
    const struct {
        std::string_view label;
        std::string next;         // the address the redirect page names
        std::string second_page;  // served as /second, when not empty
        std::vector<std::string> web_targets;
    } cases[] = {
        {"a local file", local_file, "", {"/s/x", "/"}},
        {"an ftp address", "ftp://127.0.0.1:21/s/x", "", {"/s/x", "/"}},
        {"itself", web + "s/x", "", {"/s/x", "/s/x", "/"}},
        {"a note path that leads back to the short link",
         web + "second",
         "<a href=\"/s/x\">/explore/n</a>",
         {"/s/x", "/second", "/s/x"}},
        {"CR LF and a header line", web + "discovery/item/n\r\nX-Injected: yes", "", {"/s/x", "/"}},
        {"LF and a header line", web + "discovery/item/n\nX-Injected: yes", "", {"/s/x", "/"}},
        {"CR and a header line", web + "discovery/item/n\rX-Injected: yes", "", {"/s/x", "/"}},
        {"a note path with CR LF and a header line",
         web + "second",
         "<a href=\"/explore/n\r\nX-Injected: yes\">/explore/n</a>",
         {"/s/x", "/second"}},
        {"a note path with an escaped CR LF",
         web + "second",
         "<a href=\"/explore/n%0D%0AX-Injected:%20yes\">/explore/n</a>",
         {"/s/x", "/second", "/explore/n%0D%0AX-Injected:%20yes"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // The note the short link stands for exists: a run that got there
        // would save its picture.
        std::vector<std::string> arguments = {"--web-port", port, "--redirect-page",
                                              "/s/x=" + c.next};
        if (!c.second_page.empty()) {
            const std::vector<std::string> second = page("/second", c.second_page);
            arguments.insert(arguments.end(), second.begin(), second.end());
        }
        const std::vector<std::string> note = page("/explore/n", note_page({"ok"}));
        arguments.insert(arguments.end(), note.begin(), note.end());
        ASSERT_NO_FATAL_FAILURE(start(arguments));
        ASSERT_EQ(service_->web_origin(), web);

        paste(web + "s/x");

        EXPECT_THAT(window_->log(), ElementsAreArray(nothing_found_log(web + "s/x")));
        EXPECT_THAT(service_->targets("web"), ElementsAreArray(c.web_targets));
        EXPECT_THAT(service_->targets("picture"), IsEmpty());
        expect_no_line("X-Injected");
        expect_only_saved({});
        service_.reset();  // frees the port for the next case
    }
}

TEST_F(HostileService, ANoteAddressOfAnotherSchemeEndsInTheMessage) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    const std::string local_file = "file://" + (scratch_.path() / "outside.jpg").string();
    for (const std::string& box :
         {local_file + "?explore", std::string("ftp://127.0.0.1:21/explore/n")}) {
        SCOPED_TRACE(box);
        paste(box);
        EXPECT_THAT(window_->log(), ElementsAreArray(nothing_found_log(box)));
        expect_only_saved({});
    }
}

TEST_F(HostileService, TenThousandIdentifiersAreAllSaved) {
    std::vector<std::string> identifiers;
    std::vector<Saved> files;
    for (int i = 0; i < 10000; ++i) {
        identifiers.push_back("p" + std::to_string(100000 + i));
        files.push_back(saved(identifiers.back()));
    }
    ASSERT_NO_FATAL_FAILURE(run_note(note_page(identifiers)));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 10000, 0)));
    expect_only_saved(files);
}

TEST_F(HostileService, AFiftyMebibyteNotePageIsHarvested) {
    // Identifiers at both ends of 50 MiB of other keys, all of it declared
    // UTF-8 and so decoded once more.
    std::string note = "<meta charset=\"utf-8\">" + note_page({"a", "b"});
    const std::string filler = "{\"desc\":\"sunset over the sea\",\"likes\":12345},";
    while (note.size() < 50 * kMiB) {
        note += filler;
    }
    note += note_page({"c"});
    ASSERT_NO_FATAL_FAILURE(run_note(note));

    EXPECT_THAT(window_->log(), ElementsAreArray(saving_run_log(note_address(), 3, 0)));
    expect_only_saved({saved("a"), saved("b"), saved("c")});
}

}  // namespace
}  // namespace notepics
