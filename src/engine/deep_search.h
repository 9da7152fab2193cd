// The interpreter's second chance: a search that ran out of recursion on the host's stack runs
// again on a thread of our own, whose stack holds far more levels. The JIT keeps its backtracking
// on heap stacks and never needs this; the interpreter runs where the JIT is off or could not
// compile an expression, and for the anchored retry after an empty match.
#pragma once

#include "engine/compiled_expression.h"
#include "engine/pcre_api.h"

namespace gleanery {

// The recursion levels a search on the large stack may use.
inline constexpr unsigned long kDeepSearchLevels = 100000;

// The same call as pcre_exec / pcre16_exec with `extra`'s recursion limit raised to
// kDeepSearchLevels, run on a large stack. When no such thread can be made the answer stays
// PCRE_ERROR_RECURSIONLIMIT, which the job reports as a search ended early.
int ExecDeep(const pcre* code, const pcre_extra* extra, const char* text, int length, int start,
             int options, int* ovector, int ovectorSize);
int ExecDeep(const pcre16* code, const pcre16_extra* extra, PCRE_SPTR16 text, int length, int start,
             int options, int* ovector, int ovectorSize);

} // namespace gleanery
