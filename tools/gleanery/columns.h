// How wide text stands on a terminal, for marks placed under it (the caret under a compile
// error). Fixed tables rather than the locale's wcwidth: the answer must not depend on the
// environment a run happens to have.
#pragma once

#include <cstddef>
#include <string_view>

namespace gleanery::cli {

// The columns `utf8` takes: two for each East Asian Wide or Fullwidth character (CJK, Hangul,
// fullwidth forms, most emoji), none for combining marks, zero-width spaces and joiners, and
// variation selectors, one for everything else (a byte outside a UTF-8 sequence too).
size_t TerminalColumns(std::string_view utf8);

} // namespace gleanery::cli
