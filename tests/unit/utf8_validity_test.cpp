#include <gtest/gtest.h>

#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <utf8.h>
#include <vector>

#include "engine/detect_encoding.h"
#include "engine/utf8_validity.h"
#include "platform/unicode.h"

namespace gleanery {
namespace {

bool Valid(const std::string& s) {
    return IsValidUtf8(reinterpret_cast<const unsigned char*>(s.data()), s.size());
}

TEST(Utf8Validity, AgreesWithTheUtfLibraryOnEverySequenceOfBoundaryBytes) {
    // Every byte where a rule of well-formed UTF-8 changes, in every combination of four, whole
    // or cut after two: after an eight-byte step of the scalar skip (too short for a
    // vector block), across the edge of the first 16-byte block and the first 32-byte one with
    // more blocks after them, and ending the first 32-byte block. ASCII around the four bytes
    // does not change the library's verdict, which is asked once.
    const unsigned char edges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                   0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE,
                                   0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF};
    const std::pair<size_t, size_t> around[] = {{8, 0}, {14, 20}, {30, 40}, {28, 0}};
    size_t disagreements = 0;
    size_t valid = 0;
    for (unsigned char a : edges)
        for (unsigned char b : edges)
            for (unsigned char c : edges)
                for (unsigned char d : edges)
                    for (size_t keep : {4, 2}) {
                        const std::string s =
                            std::string{static_cast<char>(a), static_cast<char>(b),
                                        static_cast<char>(c), static_cast<char>(d)}
                                .substr(0, keep);
                        const bool expected = utf8::is_valid(s.begin(), s.end());
                        valid += expected;
                        for (const auto& [before, after] : around) {
                            const std::string t =
                                std::string(before, 'x') + s + std::string(after, 'y');
                            if (Valid(t) != expected && ++disagreements <= 5)
                                ADD_FAILURE()
                                    << "disagrees on " << keep << " of the bytes " << std::hex
                                    << int(a) << ' ' << int(b) << ' ' << int(c) << ' ' << int(d)
                                    << std::dec << " after " << before << " ASCII bytes";
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

using detail::Utf8Scan;

std::vector<Utf8Scan> AvailableScans() {
    std::vector<Utf8Scan> scans;
    for (Utf8Scan scan : {Utf8Scan::Scalar, Utf8Scan::Ssse3, Utf8Scan::Avx2, Utf8Scan::Avx512})
        if (detail::Utf8ScanAvailable(scan)) scans.push_back(scan);
    return scans;
}

// Every scan this machine can run gives the scalar scan's answers.
size_t ScansDisagreeing(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const bool valid = detail::IsValidUtf8On(Utf8Scan::Scalar, p, text.size());
    const size_t ascii = detail::AsciiPrefixLengthOn(Utf8Scan::Scalar, p, text.size());
    size_t disagreeing = 0;
    for (Utf8Scan scan : AvailableScans())
        if (detail::IsValidUtf8On(scan, p, text.size()) != valid ||
            detail::AsciiPrefixLengthOn(scan, p, text.size()) != ascii)
            ++disagreeing;
    return disagreeing;
}

TEST(Utf8Validity, EveryScanJudgesEdgeSequencesAtEveryPlaceOfABlock) {
    // A sequence at each offset around the first 16-byte, 32-byte and 64-byte block edges and
    // through the first two 256-byte steps, whole or cut short, at the end of the text or before
    // more ASCII (300 bytes: a whole step of it after a cut sequence): the verdict is known.
    const std::pair<std::string, bool> sequences[] = {
        {"\xC2\x80", true},          {"\xC1\xBF", false},         {"\xE0\xA0\x80", true},
        {"\xE0\x9F\xBF", false},     {"\xED\x9F\xBF", true},      {"\xED\xA0\x80", false},
        {"\xF0\x90\x80\x80", true},  {"\xF0\x8F\xBF\xBF", false}, {"\xF4\x8F\xBF\xBF", true},
        {"\xF4\x90\x80\x80", false}, {"\xF5\x80\x80\x80", false}, {"\xBF", false}};
    for (Utf8Scan scan : AvailableScans())
        for (const auto& [sequence, whole] : sequences)
            for (size_t offset = 0; offset <= 600; ++offset)
                for (size_t keep = 1; keep <= sequence.size(); ++keep)
                    for (size_t after : {0, 1, 40, 300}) {
                        const std::string text = std::string(offset, 'a') +
                                                 sequence.substr(0, keep) + std::string(after, 'z');
                        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
                        EXPECT_EQ(detail::IsValidUtf8On(scan, p, text.size()),
                                  whole && keep == sequence.size())
                            << "scan " << int(scan) << ", " << keep << " bytes of a sequence at "
                            << offset << ", " << after << " after";
                        EXPECT_EQ(detail::AsciiPrefixLengthOn(scan, p, text.size()), offset);
                    }
}

TEST(Utf8Validity, EveryScanAgreesWithTheScalarOneOnRandomTexts) {
    // Texts of ASCII runs, well-formed sequences at the edges of the rules, ill-formed ones just
    // past them and single bytes from 80 to FF (every continuation and lead byte), cut at every
    // length up to 160, so sequences break off at every place relative to the block edges, and
    // at lengths around the 256-byte steps, where runs of ASCII may fill a step.
    const std::vector<std::string> wellFormed = {
        "\xC2\x80",         "\xDF\xBF",         "\xC3\xB6",        "\xE0\xA0\x80",
        "\xED\x9F\xBF",     "\xEE\x80\x80",     "\xEF\xBF\xBF",    "\xE2\x82\xAC",
        "\xF0\x90\x80\x80", "\xF3\xBF\xBF\xBF", "\xF4\x8F\xBF\xBF"};
    const std::vector<std::string> illFormed = {
        "\xC0\x80",         "\xC1\xBF",         "\xE0\x9F\xBF",     "\xED\xA0\x80",
        "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80", "\xC2\x80\x80",
        "\xBF\xBF",         "\xE2\x82",         "\xF0\x90\x80",     "\xFF\x80"};
    std::mt19937 random(20261208);
    size_t valid = 0, invalid = 0, disagreements = 0;
    std::vector<size_t> lengths(161);
    std::iota(lengths.begin(), lengths.end(), 0);
    lengths.insert(lengths.end(), {287, 288, 289, 320, 543, 544, 545, 600, 1000});
    for (size_t length : lengths)
        for (int round = 0; round < 300; ++round) {
            // A third of the texts are well-formed but for where the length cuts them.
            const unsigned kind = random() % 3;
            std::string text;
            while (text.size() < length) {
                const unsigned pick = random() % 8;
                if (pick < 3) {
                    text += std::string(random() % (length > 160 && pick == 0 ? 400 : 24), 'a');
                } else if (kind == 0 || pick < 7) {
                    text += wellFormed[random() % wellFormed.size()];
                } else if (kind == 1) {
                    text += illFormed[random() % illFormed.size()];
                } else {
                    text += static_cast<char>(0x80 + random() % 0x80);
                }
            }
            text.resize(length);
            if (IsValidUtf8(reinterpret_cast<const unsigned char*>(text.data()), length))
                ++valid;
            else
                ++invalid;
            if (ScansDisagreeing(text) != 0 && ++disagreements <= 5)
                ADD_FAILURE() << "scans disagree on a text of " << length << " bytes";
        }
    EXPECT_EQ(disagreements, 0u);
    // Both verdicts are common, so a scan that always answered one way would be caught.
    EXPECT_GT(valid, 4000u);
    EXPECT_GT(invalid, 4000u);
}

TEST(Utf16Validity, SurrogateFreeStepsStopBeforeTheStepOfTheFirstSurrogate) {
    // Any surrogate at any place of the first steps: the run reported holds none, and with
    // vectors it reaches every whole step before the one that holds it.
    const size_t step = detail::ChosenUtf8Scan() >= Utf8Scan::Avx2 ? 128 : 0;
    for (size_t count : {0, 127, 128, 300, 520})
        for (size_t place = 0; place <= count; ++place)
            for (char16_t surrogate : {u'\xD800', u'\xDBFF', u'\xDC00', u'\xDFFF'}) {
                std::u16string units(count, u'\xD7FF');
                if (place < count) units[place] = surrogate;
                const size_t run = SurrogateFreeSteps(units.data(), count);
                ASSERT_LE(run, place) << count << " " << place;
                if (step != 0) {
                    ASSERT_EQ(run, std::min(place, count) / step * step) << place;
                }
                if (place == count) break; // no surrogate: once is enough
            }
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
