#include "engine/deep_search.h"

#include <mutex>

#include "platform/system.h"

namespace gleanery {

namespace {

// The stack for kDeepSearchLevels levels of the library's matching recursion, with room for the
// frames around it.
size_t DeepStackBytes(LibraryWidth width) {
    const size_t frame = kSearchStackBudget / SearchRecursionLimit(width);
    return kDeepSearchLevels * frame / 2 * 3 + (size_t{1} << 20);
}

template <class Code, class Extra, class Text>
struct DeepCall {
    int (*exec)(const Code*, const Extra*, Text, int, int, int, int*, int);
    const Code* code;
    Extra extra;
    Text text;
    int length;
    int start;
    int options;
    int* ovector;
    int ovectorSize;
    int rc;

    static void Run(void* context) {
        auto* call = static_cast<DeepCall*>(context);
        call->rc = call->exec(call->code, &call->extra, call->text, call->length, call->start,
                              call->options, call->ovector, call->ovectorSize);
    }
};

// The workers of a parallel job may each retry a search at once. A 64-bit process has room for
// a large stack per worker; a 32-bit one, whose 2 GiB also hold the read memory and the JIT
// stacks, runs its retries one at a time.
std::mutex g_deepTurn;

template <class Code, class Extra, class Text>
int Deep(LibraryWidth width, DeepCall<Code, Extra, Text> call) {
    // A copy of the study data shares everything the study made; only the limit differs.
    call.extra.flags |= PCRE_EXTRA_MATCH_LIMIT_RECURSION;
    call.extra.match_limit_recursion = kDeepSearchLevels;
    call.rc = PCRE_ERROR_RECURSIONLIMIT;
    std::unique_lock turn(g_deepTurn, std::defer_lock);
    if constexpr (sizeof(void*) < 8) turn.lock();
    platform::RunOnLargeStack(DeepStackBytes(width), &DeepCall<Code, Extra, Text>::Run, &call);
    return call.rc;
}

} // namespace

int ExecDeep(const pcre* code, const pcre_extra* extra, const char* text, int length, int start,
             int options, int* ovector, int ovectorSize) {
    if (extra == nullptr) return PCRE_ERROR_RECURSIONLIMIT;
    return Deep(LibraryWidth::Bytes,
                DeepCall<pcre, pcre_extra, const char*>{&pcre_exec, code, *extra, text, length,
                                                        start, options, ovector, ovectorSize, 0});
}

int ExecDeep(const pcre16* code, const pcre16_extra* extra, PCRE_SPTR16 text, int length, int start,
             int options, int* ovector, int ovectorSize) {
    if (extra == nullptr) return PCRE_ERROR_RECURSIONLIMIT;
    return Deep(LibraryWidth::Units, DeepCall<pcre16, pcre16_extra, PCRE_SPTR16>{
                                         &pcre16_exec, code, *extra, text, length, start, options,
                                         ovector, ovectorSize, 0});
}

} // namespace gleanery
