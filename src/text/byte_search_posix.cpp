#include "text/byte_search.h"

#include <cstring>

namespace notepics::detail {

std::size_t find_bytes(std::string_view text, std::string_view needle) {
    const void* hit = memmem(text.data(), text.size(), needle.data(), needle.size());
    return hit == nullptr ? std::string_view::npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
}

}  // namespace notepics::detail
