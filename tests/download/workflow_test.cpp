#include "download/workflow.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "download/service_config.h"
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
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

constexpr std::string_view kQuery = "?imageView2/2/w/1200/format/webp";

// Bytes that survive only an exact copy: zero bytes, high bytes, the name.
std::string picture_bytes(std::string_view name) {
    return text_concat({std::string_view("\x89PNG\r\n\x1a\n\0\0\0\x0D", 12), "picture ", name,
                        std::string_view("\xFF\xD8\x00\x7F", 4)});
}

std::vector<std::string> files_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The log of one run that saved `count` pictures, `failed` of them not.
std::vector<std::string> saving_run_log(const std::string& box, int count, int failed = 0) {
    const std::string n = std::to_string(count);
    std::vector<std::string> log = {"run: " + box, text_concat({"caption: 开始下载：0/", n})};
    for (int i = 1; i <= count; ++i) {
        log.push_back(text_concat({"caption: 正在下载：", std::to_string(i), "/", n}));
    }
    log.push_back(failed == 0
                      ? "caption: 下载完成"
                      : text_concat({"caption: 下载完成，失败 ", std::to_string(failed), "/", n}));
    // The box is cleared, and the run that clearing starts ends at once.
    log.insert(log.end(), {"box: ", "run: ", "end", "end"});
    return log;
}

// Each test starts a sample service of its own, serving the files of
// `served_` as pictures, and runs the workflow into `folder_`.
class Workflow : public ::testing::Test {
  protected:
    void serve(const std::string& identifier) {
        ASSERT_TRUE(write_file(served_.path() / identifier, picture_bytes(identifier)));
    }
    void start(std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--pictures", served_.path().string()});
        std::string error;
        service_ = SampleService::start(arguments, &error);
        ASSERT_TRUE(service_) << error;
        settings_.web_origin = service_->web_origin();
        settings_.picture_origin = service_->picture_origin();
        settings_.picture_folder = folder_;
    }
    void SetUp() override { ASSERT_TRUE(std::filesystem::create_directory(folder_)); }

    std::string note_address(std::string_view note) const {
        return text_concat({service_->web_origin(), "explore/", note});
    }
    std::string picture_target(std::string_view identifier) const {
        return text_concat({"/", identifier, kQuery});
    }
    void expect_saved(const std::vector<std::string>& identifiers) const {
        std::vector<std::string> names;
        for (const std::string& identifier : identifiers) {
            names.push_back(identifier + ".jpg");
            EXPECT_EQ(read_file(folder_ / (identifier + ".jpg")), picture_bytes(identifier))
                << identifier;
        }
        EXPECT_THAT(files_in(folder_), UnorderedElementsAreArray(names));
    }

    ScratchFolder served_;
    ScratchFolder scratch_;
    const std::filesystem::path folder_ = scratch_.path() / "program";
    std::unique_ptr<SampleService> service_;
    WorkflowSettings settings_;
    RecordingWindow window_{[this](NoteWindow& w) { on_link_changed(w, settings_); }};
};

// What the user pastes, and the pages that are asked for on the way.
struct PastedText {
    std::string_view label;
    std::function<std::string(const SampleService&)> text;  // UTF-8
    std::vector<std::string> web_targets;
};

TEST_F(Workflow, EveryKindOfPastedTextSavesThePictures) {
    for (const char* identifier : {"a", "b", "c"}) {
        serve(identifier);
    }
    start({"--note", "n1=a,b,c"});
    const std::vector<std::string> via_short_link = {
        "/s/n1", "/discovery/item/n1?app_platform=android", "/explore/n1?xsec_source=app_share"};
    const PastedText cases[] = {
        {"share text", [](const SampleService& s) { return s.share_text("n1"); }, via_short_link},
        {"bare short link", [](const SampleService& s) { return s.short_link("n1"); },
         via_short_link},
        {"share text with the link alone",
         [](const SampleService& s) { return s.short_link("n1") + "，复制本条信息"; },
         via_short_link},
        {"note address",
         [](const SampleService& s) { return s.web_origin() + "explore/n1"; },
         {"/explore/n1"}},
    };
    for (const PastedText& c : cases) {
        SCOPED_TRACE(c.label);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        const std::size_t asked_before = service_->requests().size();
        RecordingWindow window([this](NoteWindow& w) { on_link_changed(w, settings_); });
        const std::string text = c.text(*service_);

        window.paste(gbk(text));

        EXPECT_THAT(window.log(), ElementsAreArray(saving_run_log(text, 3)));
        EXPECT_EQ(window.box(), "");
        expect_saved({"a", "b", "c"});
        const auto requests = service_->requests();
        std::vector<std::string> web, pictures;
        for (std::size_t i = asked_before; i < requests.size(); ++i) {
            (requests[i].server == "web" ? web : pictures).push_back(requests[i].target());
        }
        EXPECT_THAT(web, ElementsAreArray(c.web_targets));
        EXPECT_THAT(pictures,
                    ElementsAre(picture_target("a"), picture_target("b"), picture_target("c")));
    }
}

TEST_F(Workflow, AnHttpsShareLinkKeepsItsScheme) {
    if (sample::runs_under_wine()) {
        GTEST_SKIP() << "wine's Schannel accepts a certificate nobody trusts; Windows refuses it";
    }
    serve("a");
    // Both servers speak https with a certificate nobody trusts: pages are
    // fetched regardless, pictures are not.
    start({"--note", "n1=a", "--tls"});
    const std::string text = service_->share_text("n1");
    ASSERT_THAT(text, ::testing::HasSubstr(" https://"));

    window_.paste(gbk(text));

    EXPECT_THAT(window_.log(), ElementsAreArray(saving_run_log(text, 1, 1)));
    EXPECT_THAT(service_->targets("web"),
                ElementsAre("/s/n1", "/discovery/item/n1?app_platform=android",
                            "/explore/n1?xsec_source=app_share"));
    EXPECT_THAT(files_in(folder_), IsEmpty());
}

TEST_F(Workflow, CaptionsAreGbk) {
    serve("a");
    start({"--note", "n1=a"});
    window_.paste(note_address("n1"));
    EXPECT_THAT(window_.captions(),
                ElementsAre("\xBF\xAA\xCA\xBC\xCF\xC2\xD4\xD8\xA3\xBA"
                            "0/1",  // 开始下载：0/1
                            "\xD5\xFD\xD4\xDA\xCF\xC2\xD4\xD8\xA3\xBA"
                            "1/1",                                 // 正在下载：1/1
                            "\xCF\xC2\xD4\xD8\xCD\xEA\xB3\xC9"));  // 下载完成
}

TEST(WorkflowEndCaption, NamesTheFolderAfterTheCountWhenGiven) {
    const struct {
        int failed;
        int count;
        std::string folder;
        std::string expected;
    } cases[] = {
        {0, 4, "", "下载完成"},
        {1, 4, "", "下载完成，失败 1/4"},
        {0, 4, "~/Pictures/notepics", "下载完成 → ~/Pictures/notepics"},
        {4, 4, "~/图片/notepics", "下载完成，失败 4/4 → ~/图片/notepics"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8(end_caption(c.failed, c.count, gbk(c.folder))), c.expected);
    }
}

// Every run that has pictures to save asks for its folder once, after the
// page and before the first picture, and saves there.
TEST_F(Workflow, EachRunChoosesItsFolderBeforeTheFirstPicture) {
    serve("a");
    serve("b");
    start({"--note", "n1=a,b", "--note", "bare="});
    const std::filesystem::path named = scratch_.path() / "named";
    ASSERT_TRUE(std::filesystem::create_directory(named));
    std::vector<PictureFolder> answers = {{named, gbk("~/图片/notepics")}, {folder_, ""}};
    std::vector<std::size_t> pictures_fetched_when_asked;
    settings_.choose_picture_folder = [&] {
        pictures_fetched_when_asked.push_back(service_->targets("picture").size());
        PictureFolder answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    };

    window_.paste(note_address("n1"));
    window_.paste(note_address("bare"));  // nothing to save: nothing asked
    EXPECT_THAT(files_in(named), ElementsAre("a.jpg", "b.jpg"));
    EXPECT_THAT(files_in(folder_), IsEmpty());
    EXPECT_EQ(utf8(window_.captions().back()), "下载完成 → ~/图片/notepics");

    std::filesystem::remove(named / "a.jpg");
    std::filesystem::remove(named / "b.jpg");
    window_.paste(note_address("n1"));
    expect_saved({"a", "b"});
    EXPECT_THAT(files_in(named), IsEmpty());
    EXPECT_EQ(utf8(window_.captions().back()), "下载完成");
    EXPECT_THAT(pictures_fetched_when_asked, ElementsAre(0u, 2u));
}

TEST_F(Workflow, APageWithoutIdentifiersOnlyShowsTheMessage) {
    serve("a");
    start({"--note", "bare="});
    const struct {
        std::string_view label;
        std::string text;
    } cases[] = {
        {"note without pictures", note_address("bare")},
        {"unknown note", note_address("unknown")},
        {"words before the address", text_concat({"see ", note_address("bare")})},
        {"short link that leads nowhere", service_->web_origin() + "s-nowhere"},
        {"not a link", "a"},
        {"note server unreachable", sample::unreachable_origin() + "explore/bare"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RecordingWindow window([this](NoteWindow& w) { on_link_changed(w, settings_); });
        window.paste(gbk(c.text));
        EXPECT_THAT(window.log(),
                    ElementsAre("run: " + c.text, "message: 地址错误或软件失效", "end"));
        EXPECT_EQ(window.box(), gbk(c.text));
    }
    EXPECT_THAT(files_in(folder_), IsEmpty());
    EXPECT_THAT(service_->targets("picture"), IsEmpty());
}

TEST_F(Workflow, AnEmptyBoxDoesNothing) {
    start({"--note", "n1=a"});
    window_.paste("");
    EXPECT_THAT(window_.log(), ElementsAre("run: ", "end"));
    EXPECT_THAT(service_->requests(), IsEmpty());
}

TEST_F(Workflow, UnreachablePictureServerSavesNothingAndSaysSo) {
    start({"--note", "n1=a,b,c"});
    settings_.picture_origin = sample::unreachable_origin();
    ASSERT_TRUE(write_file(folder_ / "b.jpg", "older b"));

    window_.paste(note_address("n1"));

    EXPECT_THAT(window_.log(), ElementsAreArray(saving_run_log(note_address("n1"), 3, 3)));
    EXPECT_THAT(files_in(folder_), ElementsAre("b.jpg"));
    EXPECT_EQ(read_file(folder_ / "b.jpg"), "older b");
}

TEST_F(Workflow, AFailedDownloadLeavesTheOlderFileAndCountsAsFailed) {
    for (const char* identifier : {"a", "b", "c"}) {
        serve(identifier);
    }
    // Each case is a service of its own; "gone" is a picture it does not have.
    const struct {
        std::string_view fault;
        std::string failing;
    } cases[] = {{"404", "b"}, {"500", "b"}, {"cut", "b"}, {"drop", "b"}, {"", "gone"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        std::vector<std::string> arguments = {"--note", "n=a," + c.failing + ",c"};
        if (!c.fault.empty()) {
            arguments.insert(arguments.end(), {"--fault", text_concat({c.failing, "=", c.fault})});
        }
        start(arguments);
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        ASSERT_TRUE(write_file(folder_ / (c.failing + ".jpg"), "older picture"));
        RecordingWindow window([this](NoteWindow& w) { on_link_changed(w, settings_); });

        window.paste(note_address("n"));

        EXPECT_THAT(window.log(), ElementsAreArray(saving_run_log(note_address("n"), 3, 1)));
        EXPECT_EQ(read_file(folder_ / (c.failing + ".jpg")), "older picture");
        EXPECT_EQ(read_file(folder_ / "a.jpg"), picture_bytes("a"));
        EXPECT_EQ(read_file(folder_ / "c.jpg"), picture_bytes("c"));
        EXPECT_THAT(files_in(folder_), UnorderedElementsAre("a.jpg", c.failing + ".jpg", "c.jpg"));
    }
}

TEST_F(Workflow, IdentifiersThatNamePathsAreNeitherFetchedNorWritten) {
    serve("a");
    start({"--note", "n1=../x,..,.,a\\b,/tmp/y,a"});

    window_.paste(note_address("n1"));

    EXPECT_THAT(window_.log(), ElementsAreArray(saving_run_log(note_address("n1"), 6, 5)));
    EXPECT_THAT(service_->targets("picture"), ElementsAre(picture_target("a")));
    expect_saved({"a"});
    EXPECT_THAT(files_in(scratch_.path()), ElementsAre("program"));
}

TEST_F(Workflow, ARepeatedIdentifierIsDownloadedEachTime) {
    serve("a");
    serve("b");
    start({"--note", "n1=a,b,a"});

    window_.paste(note_address("n1"));

    EXPECT_THAT(window_.log(), ElementsAreArray(saving_run_log(note_address("n1"), 3)));
    EXPECT_THAT(service_->targets("picture"),
                ElementsAre(picture_target("a"), picture_target("b"), picture_target("a")));
    expect_saved({"a", "b"});
}

TEST_F(Workflow, AnEmptyIdentifierIsNeitherFetchedNorWritten) {
    const std::filesystem::path empty_picture = served_.path() / "empty";
    ASSERT_TRUE(write_file(empty_picture, picture_bytes("")));
    serve("a");
    // "n2=,a," names an empty identifier, "a" and another empty one; the
    // service would even answer the empty one with a picture.
    start({"--note", "n2=,a,", "--picture", text_concat({"=", empty_picture.string()})});

    window_.paste(note_address("n2"));

    EXPECT_THAT(window_.log(), ElementsAreArray(saving_run_log(note_address("n2"), 3, 2)));
    EXPECT_THAT(service_->targets("picture"), ElementsAre(picture_target("a")));
    expect_saved({"a"});
}

TEST_F(Workflow, TheNoteRequestCarriesTheCookieAndFollowsNoRedirect) {
    serve("a");
    // The note page answers 302 elsewhere; its own body still names "a".
    start({"--note", "n1=a", "--moved", "n1=/explore/elsewhere"});

    window_.paste(note_address("n1"));

    const auto requests = service_->requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string host = service_->web_origin().substr(7, service_->web_origin().size() - 8);
    EXPECT_EQ(requests[0].server, "web");
    EXPECT_EQ(requests[0].head,
              text_concat({"GET /explore/n1 HTTP/1.1\r\n"
                           "Host: ",
                           host,
                           "\r\n"
                           "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; "
                           "Trident/5.0)\r\n"
                           "Accept: text/html, application/xhtml+xml, */*\r\n"
                           "Accept-Encoding: identity\r\n"
                           "Accept-Language: zh-cn\r\n"
                           "Cache-Control: no-cache\r\n"
                           "Cookie: ",
                           note_cookie_text,
                           "\r\n"
                           "\r\n"}));
    EXPECT_EQ(requests[1].target(), picture_target("a"));
    expect_saved({"a"});
}

TEST_F(Workflow, ARunStartedWhileThePageLoadsGoesToItsEndFirst) {
    for (const char* identifier : {"a", "b", "c"}) {
        serve(identifier);
    }
    start({"--note", "n1=a,b", "--note", "n2=c"});
    // The user pastes the second note while the first one's page loads.
    window_.at_next_pump([this](RecordingWindow& w) { w.paste(note_address("n2")); });

    window_.paste(note_address("n1"));

    std::vector<std::string> expected = {text_concat({"run: ", note_address("n1")})};
    const std::vector<std::string> nested = saving_run_log(note_address("n2"), 1);
    expected.insert(expected.end(), nested.begin(), nested.end());
    const std::vector<std::string> outer = saving_run_log(note_address("n1"), 2);
    expected.insert(expected.end(), outer.begin() + 1, outer.end());
    EXPECT_THAT(window_.log(), ElementsAreArray(expected));
    EXPECT_THAT(service_->targets("picture"),
                ElementsAre(picture_target("c"), picture_target("a"), picture_target("b")));
    expect_saved({"a", "b", "c"});
}

}  // namespace
}  // namespace notepics
