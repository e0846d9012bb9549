#include "regex/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <memory>
#include <utility>

#include "text/codepage.h"

namespace notepics {
namespace {

// "#引号": stands for a double quote in a pattern written with quote escape.
constexpr std::string_view kQuoteEscape = "#\xD2\xFD\xBA\xC5";

constexpr std::size_t kUnset = PCRE2_UNSET;
static_assert(kUnset == SIZE_MAX);

// The JIT stack grows from this size, doubling after each overflow, up to
// the limit.
constexpr std::size_t kFirstJitStack = std::size_t{1} << 20;
constexpr std::size_t kMaxJitStack = std::size_t{1} << 30;

// Move-only owners of the PCRE2 handles.
struct CodeFree {
    void operator()(pcre2_code* p) const noexcept { pcre2_code_free(p); }
};
struct CompileContextFree {
    void operator()(pcre2_compile_context* p) const noexcept { pcre2_compile_context_free(p); }
};
struct MatchContextFree {
    void operator()(pcre2_match_context* p) const noexcept { pcre2_match_context_free(p); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data* p) const noexcept { pcre2_match_data_free(p); }
};
struct JitStackFree {
    void operator()(pcre2_jit_stack* p) const noexcept { pcre2_jit_stack_free(p); }
};
using Code = std::unique_ptr<pcre2_code, CodeFree>;
using CompileContext = std::unique_ptr<pcre2_compile_context, CompileContextFree>;
using MatchContext = std::unique_ptr<pcre2_match_context, MatchContextFree>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataFree>;
using JitStack = std::unique_ptr<pcre2_jit_stack, JitStackFree>;

// PCRE2 reads the UTF-16 code units through its own unit type.
PCRE2_SPTR as_pcre2(const char16_t* units) {
    static_assert(sizeof(char16_t) == sizeof(PCRE2_UCHAR));
    return reinterpret_cast<PCRE2_SPTR>(units);
}

// PCRE2 wants a valid pointer even for an empty pattern or subject.
PCRE2_SPTR data_or_empty(std::u16string_view units) {
    static constexpr char16_t kEmpty[1] = {0};
    return as_pcre2(units.empty() ? kEmpty : units.data());
}

Code compile(std::u16string_view pattern, bool case_sensitive, bool multi_line, int& error_code) {
    CompileContext context(pcre2_compile_context_create(nullptr));
    if (!context) {
        error_code = PCRE2_ERROR_NOMEMORY;
        return nullptr;
    }
    // Lines end at a line feed only, so "." matches a CR.
    pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
    // Plain code units: no UTF validity check (lone surrogates are fine) and
    // no Unicode properties, so \w, \d and case folding stay ASCII.
    std::uint32_t options = PCRE2_NEVER_UTF | PCRE2_NEVER_UCP | PCRE2_ALT_BSUX |
                            PCRE2_MATCH_UNSET_BACKREF | PCRE2_ALLOW_EMPTY_CLASS;
    if (!case_sensitive) {
        options |= PCRE2_CASELESS;
    }
    // In multi-line mode "^" also matches after a line feed that ends the
    // subject, as in script engines.
    options |= multi_line ? PCRE2_MULTILINE | PCRE2_ALT_CIRCUMFLEX : PCRE2_DOLLAR_ENDONLY;

    int error = 0;
    PCRE2_SIZE error_offset = 0;
    Code code(pcre2_compile(data_or_empty(pattern), pattern.size(), options, &error, &error_offset,
                            context.get()));
    if (!code) {
        error_code = error;
        return nullptr;
    }
    // Without JIT support the interpreter runs the pattern instead.
    pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);
    return code;
}

// Runs a compiled pattern, growing the JIT stack when a large subject needs
// more than the default one.
class Matcher {
  public:
    explicit Matcher(const pcre2_code* code)
        : code_(code), data_(pcre2_match_data_create_from_pattern(code, nullptr)) {}

    bool ready() const { return data_ != nullptr; }
    const PCRE2_SIZE* ovector() const { return pcre2_get_ovector_pointer(data_.get()); }

    // PCRE2's result code: > 0 on a match, PCRE2_ERROR_NOMATCH, or an error.
    int match(PCRE2_SPTR subject, std::size_t length, std::size_t start) {
        for (;;) {
            const int rc =
                pcre2_match(code_, subject, length, start, 0, data_.get(), context_.get());
            if (rc == PCRE2_ERROR_JIT_STACKLIMIT && grow_jit_stack()) {
                continue;
            }
            return rc;
        }
    }

  private:
    bool grow_jit_stack() {
        const std::size_t size = jit_stack_size_ == 0 ? kFirstJitStack : jit_stack_size_ * 2;
        if (size > kMaxJitStack) {
            return false;
        }
        if (!context_) {
            context_.reset(pcre2_match_context_create(nullptr));
            if (!context_) {
                return false;
            }
        }
        JitStack stack(pcre2_jit_stack_create(32 * 1024, size, nullptr));
        if (!stack) {
            return false;
        }
        pcre2_jit_stack_assign(context_.get(), nullptr, stack.get());
        jit_stack_ = std::move(stack);  // the old stack is freed after the switch
        jit_stack_size_ = size;
        return true;
    }

    const pcre2_code* code_;
    MatchData data_;
    MatchContext context_;
    JitStack jit_stack_;
    std::size_t jit_stack_size_ = 0;
};

// One piece of a replacement text: literal units, or what a "$" token
// stands for.
struct ReplacementToken {
    enum class Kind { literal, group, before_match, after_match };
    Kind kind = Kind::literal;
    std::u16string_view literal;  // Kind::literal
    int group = 0;                // Kind::group; 0 is the whole match
};

bool is_digit(char16_t unit) {
    return unit >= u'0' && unit <= u'9';
}

// The "$" token at the start of `text` (which begins with "$"): the token
// and how many units it takes. "$1".."$99" name a group when the pattern
// has one of that number (two digits first, then one); "$&", "$`", "$'"
// and "$$" as in script engines; any other "$" is literal.
std::pair<ReplacementToken, std::size_t> read_dollar(std::u16string_view text, int group_count) {
    using Kind = ReplacementToken::Kind;
    const char16_t next = text.size() > 1 ? text[1] : u'\0';
    switch (next) {
        case u'$':
            return {{Kind::literal, text.substr(1, 1), 0}, 2};
        case u'&':
            return {{Kind::group, {}, 0}, 2};
        case u'`':
            return {{Kind::before_match, {}, 0}, 2};
        case u'\'':
            return {{Kind::after_match, {}, 0}, 2};
        default:
            break;
    }
    if (is_digit(next)) {
        const int one = next - u'0';
        if (text.size() > 2 && is_digit(text[2])) {
            const int two = one * 10 + (text[2] - u'0');
            if (two >= 1 && two <= group_count) {
                return {{Kind::group, {}, two}, 3};
            }
        }
        if (one >= 1 && one <= group_count) {
            return {{Kind::group, {}, one}, 2};
        }
    }
    return {{Kind::literal, text.substr(0, 1), 0}, 1};
}

// The replacement text as tokens, literal runs kept whole.
std::vector<ReplacementToken> read_replacement(std::u16string_view replacement, int group_count) {
    std::vector<ReplacementToken> tokens;
    while (!replacement.empty()) {
        const std::size_t dollar = replacement.find(u'$');
        if (dollar != 0) {
            tokens.push_back({ReplacementToken::Kind::literal, replacement.substr(0, dollar), 0});
            replacement.remove_prefix(std::min(dollar, replacement.size()));
            continue;
        }
        const auto [token, length] = read_dollar(replacement, group_count);
        tokens.push_back(token);
        replacement.remove_prefix(length);
    }
    return tokens;
}

// Appends the replacement for one match: `groups` holds its (group count +
// 1) pairs of unit offsets, the whole match first, kUnset for a group that
// took no part.
void append_replacement(std::u16string& out, const std::vector<ReplacementToken>& tokens,
                        std::u16string_view subject, const std::size_t* groups) {
    for (const ReplacementToken& token : tokens) {
        switch (token.kind) {
            case ReplacementToken::Kind::literal:
                out += token.literal;
                break;
            case ReplacementToken::Kind::group: {
                const std::size_t from = groups[2 * token.group];
                const std::size_t to = groups[2 * token.group + 1];
                if (from != kUnset && to != kUnset && from <= to) {
                    out += subject.substr(from, to - from);
                }
                break;
            }
            case ReplacementToken::Kind::before_match:
                out += subject.substr(0, groups[0]);
                break;
            case ReplacementToken::Kind::after_match:
                out += subject.substr(groups[1]);
                break;
        }
    }
}

}  // namespace

bool RegexObject::search(std::string_view pattern, std::string_view subject, bool case_sensitive,
                         bool multi_line, bool global, bool quote_escape) {
    pattern_ = quote_escape ? text_replace(pattern, kQuoteEscape, "\"") : Text(pattern);
    ignore_case_ = !case_sensitive;
    store_subject(subject);
    offsets_.clear();
    group_count_ = 0;
    matched_ = false;
    error_code_ = 0;

    const Code code =
        compile(gbk_to_utf16_units(pattern_), case_sensitive, multi_line, error_code_);
    if (!code) {
        return false;
    }
    std::uint32_t captures = 0;
    pcre2_pattern_info(code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    Matcher matcher(code.get());
    if (!matcher.ready()) {
        error_code_ = PCRE2_ERROR_NOMEMORY;
        return false;
    }

    const std::size_t pairs = captures + 1;
    const PCRE2_SPTR subject_units = data_or_empty(subject_units_view());
    std::size_t start = 0;
    while (start <= subject_size_) {
        const int rc = matcher.match(subject_units, subject_size_, start);
        if (rc == PCRE2_ERROR_NOMATCH) {
            break;
        }
        if (rc < 0) {
            error_code_ = rc;
            offsets_.clear();
            return false;
        }
        const PCRE2_SIZE* ovector = matcher.ovector();
        offsets_.insert(offsets_.end(), ovector, ovector + 2 * pairs);
        if (!global) {
            break;
        }
        // After an empty match the next attempt starts one unit further on.
        start = ovector[1] > ovector[0] ? ovector[1] : ovector[1] + 1;
    }
    group_count_ = static_cast<int>(captures);
    matched_ = true;
    return true;
}

void RegexObject::store_subject(std::string_view subject) {
    subject_read_back_.reset();
    // A GBK byte gives at most one unit; the units are written once, with
    // no zero fill before them.
    if (!subject_units_ || subject.size() > subject_capacity_ ||
        subject.size() < subject_capacity_ / 4) {
        subject_units_ = std::make_unique_for_overwrite<char16_t[]>(subject.size());
        subject_capacity_ = subject.size();
    }
    subject_size_ = gbk_to_utf16_units(subject, subject_units_.get());
}

std::u16string_view RegexObject::subject_units_view() const {
    if (!subject_units_) {
        return {};  // moved from
    }
    return {subject_units_.get(), subject_size_};
}

const Text& RegexObject::subject_read_back() const {
    if (!subject_read_back_) {
        subject_read_back_ = utf16_units_to_gbk(subject_units_view());
    }
    return *subject_read_back_;
}

Text RegexObject::pattern_text() const {
    return pattern_;
}

int RegexObject::match_count() const {
    if (!matched_) {
        return 0;
    }
    const std::size_t per_match = 2 * (static_cast<std::size_t>(group_count_) + 1);
    return static_cast<int>(offsets_.size() / per_match);
}

int RegexObject::submatch_count() const {
    return match_count() > 0 ? group_count_ : 0;
}

bool RegexObject::group_range(int i, int j, std::size_t& start, std::size_t& end) const {
    if (i < 1 || i > match_count() || j < 0 || j > group_count_) {
        return false;
    }
    const std::size_t at = (static_cast<std::size_t>(i - 1) * (group_count_ + 1) + j) * 2;
    start = offsets_[at];
    end = offsets_[at + 1];
    return start != kUnset && end != kUnset && start <= end && end <= subject_size_;
}

Text RegexObject::units_to_text(std::size_t start, std::size_t end) const {
    return utf16_units_to_gbk(subject_units_view().substr(start, end - start));
}

int RegexObject::byte_offset(std::size_t unit_offset) const {
    return text_len(units_to_text(0, unit_offset));
}

int RegexObject::match_offset(int i, int j) const {
    std::size_t start = 0;
    std::size_t end = 0;
    return group_range(i, j, start, end) ? byte_offset(start) : -2;
}

int RegexObject::reported_position(int i, std::string_view text) const {
    // The start index of match i, 0 when there is no such match.
    std::size_t match_start = 0;
    std::size_t match_end = 0;
    if (!group_range(i, 0, match_start, match_end)) {
        match_start = 0;
    }
    const int first_index =
        static_cast<int>(std::min<std::size_t>(match_start, static_cast<std::size_t>(INT32_MAX)));
    return text_find(subject_read_back(), text, first_index, ignore_case_) - 1;
}

Text RegexObject::match_text(int i, int* position) const {
    return range_text(i, 0, position);
}

Text RegexObject::submatch_text(int i, int j, int* position) const {
    if (j < 1) {
        // Group numbers start at 1: no text, but a position all the same.
        if (position != nullptr) {
            *position = reported_position(i, {});
        }
        return {};
    }
    return range_text(i, j, position);
}

Text RegexObject::range_text(int i, int j, int* position) const {
    std::size_t start = 0;
    std::size_t end = 0;
    Text text = group_range(i, j, start, end) ? units_to_text(start, end) : Text();
    if (position != nullptr) {
        *position = reported_position(i, text);
    }
    return text;
}

Text RegexObject::replace_matches(std::string_view replacement) {
    if (!matched_) {
        return {};
    }
    const std::u16string with = gbk_to_utf16_units(replacement);
    const std::vector<ReplacementToken> tokens = read_replacement(with, group_count_);
    const std::u16string_view subject = subject_units_view();
    std::u16string out;
    out.reserve(subject.size());
    const std::size_t per_match = 2 * (static_cast<std::size_t>(group_count_) + 1);
    std::size_t copied = 0;  // subject units already in `out`
    for (std::size_t at = 0; at < offsets_.size(); at += per_match) {
        const std::size_t* groups = offsets_.data() + at;
        out += subject.substr(copied, groups[0] - copied);
        append_replacement(out, tokens, subject, groups);
        copied = groups[1];
    }
    out += subject.substr(copied);
    return utf16_units_to_gbk(out);
}

Text RegexObject::error_message() const {
    if (error_code_ == 0) {
        return {};
    }
    std::array<PCRE2_UCHAR, 256> buffer{};
    const int length = pcre2_get_error_message(error_code_, buffer.data(), buffer.size());
    if (length < 0) {
        return {};
    }
    // The message is ASCII.
    return Text(buffer.begin(), buffer.begin() + length);
}

}  // namespace notepics
