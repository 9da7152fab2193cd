// Text on its way to a terminal. File names and matched text are data: a control character in
// them (an escape sequence, a carriage return, a bell) would move the cursor, retitle the window
// or clear the screen. They are shown as escapes instead; files keep the bytes as found.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gleanery::cli {

// `text` (UTF-8, possibly with bytes that are not) with every C0 and C1 control character and DEL
// written as \xHH or \uHHHH, and every byte outside a well-formed UTF-8 sequence as \xHH. A
// surrogate U+DC80..U+DCFF, the form a name's stray byte takes in UTF-16, shows as that byte.
// With LineBreaks::Keep line feeds, CR LF pairs and tabs stay as they are.
enum class LineBreaks { Escape, Keep };
std::string Printable(std::string_view text, LineBreaks lineBreaks = LineBreaks::Escape);
// The length of `text` without an incomplete UTF-8 sequence at its end, so that text printed in
// pieces is escaped as a whole.
size_t CompletePrefix(std::string_view text);

} // namespace gleanery::cli
