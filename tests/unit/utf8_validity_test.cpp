#include <gtest/gtest.h>

#include <string>
#include <utf8.h>

#include "engine/utf8_validity.h"

namespace gleanery {
namespace {

bool Valid(const std::string& s) {
    return IsValidUtf8(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

TEST(Utf8Validity, AgreesWithTheUtfLibraryOnEverySequenceOfBoundaryBytes) {
    // Every byte where a rule of well-formed UTF-8 changes, in every combination of four, after
    // ASCII runs that end before, on and after an eight-byte step of the ASCII skip.
    const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                   0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                   0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    size_t disagreements = 0;
    size_t valid = 0;
    for (const std::string prefix : {"", "abcdefg", "abcdefgh", "abcdefghi"}) {
        for (unsigned char a : edges)
            for (unsigned char b : edges)
                for (unsigned char c : edges)
                    for (unsigned char d : edges) {
                        std::string s = prefix;
                        s += {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c),
                              static_cast<char>(d)};
                        for (size_t cut = 0; cut <= 4; cut += 2) {
                            const std::string t = s.substr(0, s.size() - cut);
                            const bool expected = utf8::is_valid(t.begin(), t.end());
                            valid += expected;
                            if (Valid(t) != expected && ++disagreements <= 5)
                                ADD_FAILURE() << "disagrees on a sequence of " << t.size()
                                              << " bytes ending " << std::hex << int(a) << ' '
                                              << int(b) << ' ' << int(c) << ' ' << int(d);
                        }
                    }
    }
    EXPECT_EQ(disagreements, 0u);
    EXPECT_GT(valid, 0u);
}

TEST(Utf8Validity, AsciiPrefixStopsAtTheFirstHighByte) {
    const std::string text = "0123456789abcdef\xC3\xA4xyz";
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    EXPECT_EQ(AsciiPrefixLength(p, text.size()), 16u);
    EXPECT_EQ(AsciiPrefixLength(p, 11), 11u);
    EXPECT_EQ(AsciiPrefixLength(p + 16, 4), 0u);
    EXPECT_TRUE(Valid(text));
    EXPECT_TRUE(Valid(""));
    EXPECT_FALSE(Valid(text.substr(0, 17))); // cut inside the two-byte character
    EXPECT_FALSE(Valid("\xED\xA0\x80"));     // a surrogate
    EXPECT_FALSE(Valid("\xE0\x80\x80"));     // overlong
    EXPECT_TRUE(Valid("\xF4\x8F\xBF\xBF"));  // U+10FFFF
    EXPECT_FALSE(Valid("\xF4\x90\x80\x80")); // above it
}

} // namespace
} // namespace gleanery
