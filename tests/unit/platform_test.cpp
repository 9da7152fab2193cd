// Tests of the POSIX platform layer.
#include "platform/codepage.h"
#include "platform/files.h"

#include <gtest/gtest.h>

namespace gleanery::platform {
namespace {

TEST(PlatformCodePage, Utf8RoundTrip) {
    const std::u16string text = u"a\u00e4\u20ac\U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
}

} // namespace
} // namespace gleanery::platform
