// The record of every user option of one extraction run, and the text-box font record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace gleanery {

struct Settings {
    bool WriteBom = false;
    bool LineMode = false;
    bool BinaryMode = false;
    bool NoDuplicates = false;
    bool SearchAndReplace = false;
    bool WriteStats = false;
    bool CaseSensitive = false;
    bool Dotall = false;
    bool Multiline = false;
    bool UnicodeProperties = true;
    bool EmptyValid = false;
    // Searches run on the library's JIT compiler where it is available; off runs the interpreter
    // (for comparison, and as a fallback should a JIT build misbehave).
    bool Jit = true;
    int8_t CopyClip = 0;            // 0 none, 1 copy, 2 copy and delete the output file
    int32_t Memory = 10;            // read memory in MiB, 5 to 500
    int32_t EncodingCheck = 262144; // bytes, 131072 << 0..7
    int32_t CodePage = 0;           // 0 system ANSI, 1 system OEM, else a code page number
    int8_t DefaultCharacter = -1;   // -1 system default, else 32 to 126
    int8_t OutfileExtension = 0;    // 0 ".txt", 1 first file's, 2 as typed in the pack dialog
    // Workers that search the files of a job side by side: 0 one per processor core, 1 none (all
    // on the host's thread), 2 to 64 that many.
    int32_t Threads = 0;
    std::u16string regex = u".*";
    std::u16string replace = u"$0";
    std::u16string teststring;

    bool operator==(const Settings&) const = default;
};

// A Windows logical-font record (LOGFONTW) for the dialog's text boxes.
struct TextBoxFont {
    int32_t Height = 0;
    int32_t Width = 0;
    int32_t Escapement = 0;
    int32_t Orientation = 0;
    int32_t Weight = 0;
    uint8_t Italic = 0;
    uint8_t Underline = 0;
    uint8_t StrikeOut = 0;
    uint8_t CharSet = 0;
    uint8_t OutPrecision = 0;
    uint8_t ClipPrecision = 0;
    uint8_t Quality = 0;
    uint8_t PitchAndFamily = 0;
    std::array<char16_t, 32> FaceName{}; // at most 31 characters and a terminating zero

    bool operator==(const TextBoxFont&) const = default;
};

inline constexpr int32_t kMinEncodingCheck = 131072;
inline constexpr int32_t kMaxEncodingCheck = 16777216;

} // namespace gleanery
