#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <utf8.h>

#include "engine/detect_encoding.h"
#include "engine/utf8_validity.h"
#include "platform/unicode.h"

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

TEST(Utf16Validity, AgreesWithTheUtfLibraryOnEverySequenceOfBoundaryUnits) {
    // Three units from the edges of the surrogate ranges at every place of a four-unit step of
    // the scan, in both byte orders, with and without the non-character scan; a high surrogate
    // cut off at the end of the buffer is left out.
    const char16_t edges[] = {0x0041, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFF};
    size_t valid = 0;
    for (char16_t a : edges)
        for (char16_t b : edges)
            for (char16_t c : edges)
                for (size_t place = 0; place < 8; ++place) {
                    std::u16string units = std::u16string(place % 4, u'x') +
                                           std::u16string{a, b, c} +
                                           std::u16string(place < 4 ? 0 : 5, u'y');
                    std::u16string checked = units;
                    if (platform::IsHighSurrogate(checked.back())) checked.pop_back();
                    bool expected = true;
                    try {
                        std::string sink;
                        utf8::utf16to8(checked.begin(), checked.end(), std::back_inserter(sink));
                    } catch (const utf8::exception&) {
                        expected = false;
                    }
                    for (bool bigEndian : {false, true}) {
                        std::string bytes;
                        for (char16_t u : units) {
                            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u);
                            bytes += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
                        }
                        for (bool scan : {false, true}) {
                            const bool want = expected && !(scan && units.find(u'\xFFFF') !=
                                                                        std::u16string::npos);
                            bool ok = false;
                            const bool got = CheckUtf16(
                                reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                bigEndian, scan ? NonCharacterScan::On : NonCharacterScan::Off, ok);
                            EXPECT_TRUE(ok);
                            EXPECT_EQ(got, want)
                                << std::hex << int(a) << ' ' << int(b) << ' ' << int(c)
                                << (bigEndian ? " BE" : " LE") << (scan ? " scan" : "");
                            valid += got;
                        }
                    }
                }
    EXPECT_GT(valid, 0u);
}

} // namespace
} // namespace gleanery
