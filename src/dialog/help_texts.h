// The two built-in help texts of the help pane. Each is kept as pieces that are joined, in order
// and without separators, when it is shown. They are never translated.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace gleanery::dialog {

// The expression syntax summary: the PCRE syntax summary of the linked library version, from its
// section QUOTING through its section CALLOUTS, with CR LF line ends. Generated at build time from
// the library's own documentation (cmake/HelpTexts.cmake).
std::span<const std::u16string_view> ExpressionHelpPieces();
// The replace-string syntax summary.
std::span<const std::u16string_view> ReplacementHelpPieces();

std::u16string JoinHelpPieces(std::span<const std::u16string_view> pieces);

} // namespace gleanery::dialog
