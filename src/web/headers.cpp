#include "web/headers.h"

#include "text/markers.h"

namespace notepics {
namespace {

constexpr std::string_view kLineBreak = "\r\n";

// The name with each word between hyphens capitalised. A name ending in "-"
// comes back without that last hyphen (the split drops it); the caller takes
// the rest of the line by length, so the hyphen is kept there.
Text capitalize_words(std::string_view name) {
    if (text_find(name, "-") < 1) {
        return capitalize_first(name);
    }
    Text words;
    const TextArray pieces = text_split(name, "-");
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) {
            words += '-';
        }
        words += capitalize_first(pieces[i]);
    }
    return words;
}

}  // namespace

Text capitalize_first(std::string_view word) {
    return text_upper(text_head(word, 1)) + text_slice(word, 2, text_len(word));
}

Text normalize_header_names(std::string_view block) {
    Text out;
    for (const Text& line : text_split(block, kLineBreak)) {
        const int colon = text_find(line, ":");
        if (colon < 1) {
            continue;  // no header line
        }
        const Text name = capitalize_words(text_head(line, colon - 1));
        out += name;
        out += text_tail(line, text_len(line) - text_len(name));
        out += kLineBreak;
    }
    return text_head(out, text_len(out) - text_len(kLineBreak));
}

Text header_value(std::string_view block, std::string_view name) {
    for (const Text& line : text_split(block, kLineBreak)) {
        if (text_head(line, text_len(name)) == name) {
            return text_after(line, text_concat({name, ": "}));
        }
    }
    return {};
}

}  // namespace notepics
