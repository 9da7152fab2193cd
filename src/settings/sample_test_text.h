// The built-in sample text of the expression test panel: shown when test mode begins with an
// empty test string, and never stored (a test string equal to it is saved empty).
#pragma once

#include <string_view>

namespace gleanery {

inline constexpr std::u16string_view kSampleTestText =
    u"The quick brown fox jumps over the lazy dog!\r\n"
    u"a\u00b2 + b\u00b2 = c\u00b2    A = \u03c0 \u00b7 r\u00b2\r\n"
    u"printf(\"Hello world!\\n\");    <title>The Title</title>\r\n"
    u"<a class=\"lnk\" target=\"_blank\" href=\"https://example.com/index\">\r\n"
    u"\u4e2d\u8b6f\u70ba\u300c\u654f\u6377\u7684\u68d5\u6bdb\u72d0\u72f8\u4ece\u61f6\u72d7"
    u"\u8eab\u4e0a\u8dc3\u8fc7\u300d";

static_assert(kSampleTestText.size() == 214, "the sample text is 214 UTF-16 code units");

} // namespace gleanery
