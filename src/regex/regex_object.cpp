#include "regex/regex_object.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>

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

std::vector<std::uint16_t> to_units(std::string_view text) {
    const ByteBuffer bytes = ansi_to_utf16(text, true);
    std::vector<std::uint16_t> units(bytes.size() / 2);
    if (units.empty()) {
        return units;
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(units.data(), bytes.data(), units.size() * 2);
    } else {
        for (std::size_t i = 0; i < units.size(); ++i) {
            units[i] = static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        }
    }
    return units;
}

Text to_text(const std::uint16_t* units, std::size_t count) {
    if (count == 0) {
        return {};
    }
    ByteBuffer bytes(count * 2);
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(bytes.data(), units, bytes.size());
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            bytes[2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
            bytes[2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
        }
    }
    return utf16_to_ansi(bytes);
}

// PCRE2 wants a valid pointer even for an empty pattern or subject.
PCRE2_SPTR data_or_empty(const std::vector<std::uint16_t>& units) {
    static constexpr PCRE2_UCHAR kEmpty[1] = {0};
    return units.empty() ? kEmpty : units.data();
}

Code compile(const std::vector<std::uint16_t>& pattern, bool case_sensitive, bool multi_line,
             int& error_code) {
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
    options |= multi_line ? PCRE2_MULTILINE : PCRE2_DOLLAR_ENDONLY;

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

bool is_digit(std::uint16_t unit) {
    return unit >= '0' && unit <= '9';
}

}  // namespace

bool RegexObject::search(std::string_view pattern, std::string_view subject, bool case_sensitive,
                         bool multi_line, bool global, bool quote_escape) {
    pattern_ = quote_escape ? text_replace(pattern, kQuoteEscape, "\"") : Text(pattern);
    subject_text_ = Text(subject);
    ignore_case_ = !case_sensitive;
    subject_ = to_units(subject);
    offsets_.clear();
    group_count_ = 0;
    matched_ = false;
    error_code_ = 0;

    const Code code = compile(to_units(pattern_), case_sensitive, multi_line, error_code_);
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
    const PCRE2_SPTR subject_units = data_or_empty(subject_);
    std::size_t start = 0;
    while (start <= subject_.size()) {
        const int rc = matcher.match(subject_units, subject_.size(), start);
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
    return start != kUnset && end != kUnset && start <= end && end <= subject_.size();
}

Text RegexObject::units_to_text(std::size_t start, std::size_t end) const {
    return to_text(subject_.data() + start, end - start);
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
    std::size_t match_start = 0;
    std::size_t match_end = 0;
    if (!group_range(i, 0, match_start, match_end)) {
        return -2;
    }
    const int first_index =
        static_cast<int>(std::min<std::size_t>(match_start, static_cast<std::size_t>(INT32_MAX)));
    return text_find(subject_text_, text, first_index, ignore_case_) - 1;
}

Text RegexObject::match_text(int i, int* position) const {
    return range_text(i, 0, position);
}

Text RegexObject::submatch_text(int i, int j, int* position) const {
    return j >= 1 ? range_text(i, j, position) : range_text(0, 0, position);
}

Text RegexObject::range_text(int i, int j, int* position) const {
    std::size_t start = 0;
    std::size_t end = 0;
    if (!group_range(i, j, start, end)) {
        if (position != nullptr) {
            *position = -2;
        }
        return {};
    }
    Text text = units_to_text(start, end);
    if (position != nullptr) {
        *position = reported_position(i, text);
    }
    return text;
}

Text RegexObject::replace_matches(std::string_view replacement) {
    if (!matched_) {
        return {};
    }
    const std::vector<std::uint16_t> with = to_units(replacement);
    const int count = match_count();
    std::vector<std::uint16_t> out;
    out.reserve(subject_.size());
    const auto append_range = [&](std::size_t from, std::size_t to) {
        out.insert(out.end(), subject_.begin() + static_cast<std::ptrdiff_t>(from),
                   subject_.begin() + static_cast<std::ptrdiff_t>(to));
    };
    const auto append_group = [&](int i, int j) {
        std::size_t from = 0;
        std::size_t to = 0;
        if (group_range(i, j, from, to)) {
            append_range(from, to);
        }
    };

    std::size_t copied = 0;  // subject units already in `out`
    for (int i = 1; i <= count; ++i) {
        std::size_t match_start = 0;
        std::size_t match_end = 0;
        group_range(i, 0, match_start, match_end);
        append_range(copied, match_start);
        for (std::size_t k = 0; k < with.size(); ++k) {
            const std::uint16_t unit = with[k];
            const std::uint16_t next = k + 1 < with.size() ? with[k + 1] : 0;
            if (unit != '$' || next == 0) {
                out.push_back(unit);
                continue;
            }
            if (next == '$') {
                out.push_back('$');
                ++k;
            } else if (next == '&') {
                append_range(match_start, match_end);
                ++k;
            } else if (next == '`') {
                append_range(0, match_start);
                ++k;
            } else if (next == '\'') {
                append_range(match_end, subject_.size());
                ++k;
            } else if (is_digit(next)) {
                // Two digits when they name a group, else one digit when it
                // does, else the "$" is literal.
                const int one = next - '0';
                const std::uint16_t after = k + 2 < with.size() ? with[k + 2] : 0;
                const int two = is_digit(after) ? one * 10 + (after - '0') : 0;
                if (two >= 1 && two <= group_count_) {
                    append_group(i, two);
                    k += 2;
                } else if (one >= 1 && one <= group_count_) {
                    append_group(i, one);
                    k += 1;
                } else {
                    out.push_back(unit);
                }
            } else {
                out.push_back(unit);
            }
        }
        copied = match_end;
    }
    append_range(copied, subject_.size());
    return to_text(out.data(), out.size());
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
    return to_text(buffer.data(), static_cast<std::size_t>(length));
}

}  // namespace notepics
