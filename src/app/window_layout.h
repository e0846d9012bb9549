// What the program's window is, whatever draws it: its outer size, its
// texts (GBK) and the places of its two children in the client area. The Qt
// window on Linux and the Win32 window on Windows both build from these.
//
//   QRect label(kLinkLabelPlace.x, kLinkLabelPlace.y, kLinkLabelPlace.width,
//               kLinkLabelPlace.height);
#pragma once

#include <string_view>
#include <utility>

namespace notepics {

// The window's outer size, frame included.
inline constexpr int kWindowWidth = 331;
inline constexpr int kWindowHeight = 84;

// "by：Tuvelko"
inline constexpr std::string_view kInitialCaption = "by\xA3\xBATuvelko";
// "链  接："
inline constexpr std::string_view kLinkLabelText = "\xC1\xB4  \xBD\xD3\xA3\xBA";
// "信息：", the message box's caption
inline constexpr std::string_view kMessageCaption = "\xD0\xC5\xCF\xA2\xA3\xBA";

// A child's place in the client area.
struct ChildPlace {
    int x;
    int y;
    int width;
    int height;
};

inline constexpr ChildPlace kLinkLabelPlace{8, 8, 56, 24};
inline constexpr ChildPlace kLinkBoxPlace{64, 8, 256, 40};
// The link box's character height in pixels.
inline constexpr int kLinkBoxPixelSize = 12;

// Sets a flag for the scope and restores its old value however the scope
// ends.
//   { FlagGuard writing(writing_box_); /* writing_box_ == true here */ }
class FlagGuard {
  public:
    explicit FlagGuard(bool& flag) : flag_(flag), saved_(std::exchange(flag, true)) {}
    ~FlagGuard() { flag_ = saved_; }
    FlagGuard(const FlagGuard&) = delete;
    FlagGuard& operator=(const FlagGuard&) = delete;

  private:
    bool& flag_;
    bool saved_;
};

}  // namespace notepics
