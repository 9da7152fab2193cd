// Shared pieces of the fuzz targets: a reader over the fuzzer's bytes, a private scratch
// directory, and the process-wide state the engine expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>

#include <unistd.h>

#include <utf8.h>

#include "host/process_state.h"
#include "platform/codepage.h"
#include "settings/settings.h"

namespace gleanery::fuzz {

// Takes option bytes from the front of the input; the rest is the payload.
struct Input {
    const uint8_t* data;
    size_t size;

    uint8_t Byte() {
        if (size == 0) return 0;
        const uint8_t b = *data++;
        --size;
        return b;
    }
    template <size_t N, class T>
    T Pick(const T (&choices)[N]) {
        return choices[Byte() % N];
    }
    // Up to `count` bytes (all that is left when fewer).
    std::string Bytes(size_t count) {
        if (count > size) count = size;
        std::string out(reinterpret_cast<const char*>(data), count);
        data += count;
        size -= count;
        return out;
    }
    std::string Rest() { return Bytes(size); }
    // The rest as 16-bit units, little-endian pairs; an odd last byte is dropped.
    std::u16string RestAsWide() {
        std::u16string out;
        while (size >= 2) {
            out.push_back(static_cast<char16_t>(data[0] | (data[1] << 8)));
            data += 2;
            size -= 2;
        }
        size = 0;
        return out;
    }
};

// A scratch directory of this process, with a trailing separator; made once.
inline const std::string& ScratchDirectory() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/gleanery-fuzz-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        return pattern + "/";
    }();
    static const bool cleanup = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        });
        return true;
    }();
    (void)cleanup;
    return dir;
}

// No unpaired surrogate (checked with UTF8-CPP, not with the engine's own checks under test).
inline bool IsValidUtf16(std::u16string_view units) {
    try {
        std::string ignored;
        utf8::utf16to8(units.begin(), units.end(), std::back_inserter(ignored));
        return true;
    } catch (const utf8::exception&) {
        return false;
    }
}

inline std::u16string Wide(const std::string& utf8) {
    return platform::Utf8ToWide(utf8);
}

// Creates the process-wide state once, with the plug-in directory in the scratch directory.
inline void EnsureState() {
    static const bool made = [] {
        CreateProcessState();
        State().PluginDirectory = Wide(ScratchDirectory());
        return true;
    }();
    (void)made;
}

// Option flags from one byte each; values stay inside the ranges the settings file accepts.
// Bytes made printable, for a report of a finding.
inline std::string Escaped(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            out += c;
        } else {
            static const char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

inline void FillSettings(Input& in, Settings& s) {
    const uint8_t a = in.Byte();
    s.CaseSensitive = a & 1;
    s.Dotall = a & 2;
    s.Multiline = a & 4;
    s.UnicodeProperties = a & 8;
    s.EmptyValid = a & 16;
    s.NoDuplicates = a & 32;
    s.SearchAndReplace = a & 64;
    s.LineMode = a & 128;
    const uint8_t b = in.Byte();
    s.BinaryMode = b & 1;
    s.WriteBom = b & 2;
    s.WriteStats = b & 4;
    static const int32_t kCodePages[] = {1252, 65001, 437, 1251, 932, 936, 1250};
    s.CodePage = kCodePages[(b >> 3) % 7];
    s.DefaultCharacter = (b & 0x80) ? static_cast<int8_t>(32 + (b & 63)) : -1;
    s.CopyClip = 0; // never the desktop clipboard from a fuzzer
    s.EncodingCheck = kMinEncodingCheck << (in.Byte() % 8);
}

} // namespace gleanery::fuzz
