// Where the note service lives, and the browser cookie its note pages are
// requested with. Fixed when the program is built: the CMake cache variables
// NOTEPICS_WEB_ORIGIN and NOTEPICS_PICTURE_ORIGIN replace the two origins
// (for the demo and for tests of the built program); nothing at run time
// changes them.
//
//   Text note = text_concat({web_origin, "explore/64f0c0de000000001f03a1b2"});
//   Text picture = text_concat({picture_origin, identifier, picture_query});
#pragma once

#include <string_view>

namespace notepics {

// The note service's web site: scheme, host (and port), then "/".
extern const std::string_view web_origin;

// The service's picture server, in the same form.
extern const std::string_view picture_origin;

// The Cookie header value sent with every note page request: 19 name=value
// pairs joined by "; ", 1136 ASCII characters.
extern const std::string_view note_cookie_text;

}  // namespace notepics
