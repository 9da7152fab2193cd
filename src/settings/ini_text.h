// The settings file's text form: the writer that turns the settings document into the file's
// bytes, and what a load needs of a file's text besides what SimpleIni reads from it.
#pragma once

#include <string>
#include <string_view>

#include "settings/settings_document.h"

namespace gleanery {

// The bytes of the settings file for `doc`: UTF-8 signature, CR LF line ends, "key=value" without
// spaces, one empty line between sections, sections and keys in the order the document first
// received them, and the file's leading comment on top.
std::string SerializeDocument(const SettingsDocument& doc);

// The comment block SimpleIni takes as the file's own comment: the comment lines at the very
// start of the text, up to the first line that is not a comment.
std::string LeadingComment(std::string_view data);

// The bytes of a settings file that an editor saved as UTF-16 after its byte-order mark (FF FE
// little-endian, FE FF big-endian), as the UTF-8 text the document reads. False for bytes that
// are no UTF-16 text (an odd count, an unpaired surrogate): there is nothing a save could write
// back in their place.
bool Utf16FileText(std::string_view bytes, bool bigEndian, std::string& text);

} // namespace gleanery
