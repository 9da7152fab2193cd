// Encoding detection: how a file is searched (code page, UTF-8, UTF-16 in either byte order),
// from its byte-order mark or a look at its start, and the UTF-16 checks behind it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/files.h"

namespace gleanery {

struct FileState;
struct Settings;

enum class Utf16Guess { Neither, LittleEndian, BigEndian };

// Decides how the open `input` is searched; leaves its position at the first byte to search. The
// check buffer is the `roomBytes` at `room` when they are enough, memory of its own otherwise.
// With `kept`, check bytes read into the room stay there for the search: `*kept` says how many
// of the file's first bytes the room holds (0: none), and the position is then behind them.
bool DetectEncoding(int64_t size, uint32_t& bomLength, platform::File& input, FileState& file,
                    const Settings& settings, unsigned char* room = nullptr, size_t roomBytes = 0,
                    size_t* kept = nullptr);
// The same decision over bytes read already: `start` holds the first `arrived` bytes of a file of
// `size` bytes. False when they are fewer than the check buffer's (a read that failed or came
// short), or a byte-swapped copy could not be allocated.
bool DetectEncodingOf(const unsigned char* start, size_t arrived, int64_t size, uint32_t& bomLength,
                      FileState& file, const Settings& settings);
// How many of a file's first bytes the detection looks at: the check buffer's length.
size_t EncodingCheckLength(int64_t size, const Settings& settings);
Utf16Guess GuessUtf16(const unsigned char* bytes, size_t n);
// Whether some of the `count` units (in the machine's byte order) is a surrogate (0xD800 to
// 0xDFFF): the library's UTF-16 check is about those alone, so a text without any passes it.
bool HoldsSurrogates(const char16_t* units, size_t count);
// Whether the UTF-16 check also rejects the non-character U+FFFF.
enum class NonCharacterScan { Off, On };
// `ok` is cleared only when a byte-swapped copy could not be allocated.
bool CheckUtf16(const unsigned char* bytes, size_t length, bool bigEndian, NonCharacterScan scan,
                bool& ok);

} // namespace gleanery
