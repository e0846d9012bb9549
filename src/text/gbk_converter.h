// The converter behind code page 936 (GBK), inside the text library.
#pragma once

namespace notepics {

inline constexpr const char* kGbkConverter = "windows-936-2000";

}  // namespace notepics
