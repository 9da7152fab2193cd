// The PCRE 8-bit and 16-bit libraries, with owning handles.
#pragma once

#include <memory>
#include <pcre.h>

namespace gleanery {

struct PcreFree {
    void operator()(pcre* p) const { pcre_free(p); }
};
struct Pcre16Free {
    void operator()(pcre16* p) const { pcre16_free(p); }
};
struct PcreStudyFree {
    void operator()(pcre_extra* p) const { pcre_free_study(p); }
};
struct Pcre16StudyFree {
    void operator()(pcre16_extra* p) const { pcre16_free_study(p); }
};

struct PcreJitStackFree {
    void operator()(pcre_jit_stack* p) const { pcre_jit_stack_free(p); }
};
struct Pcre16JitStackFree {
    void operator()(pcre16_jit_stack* p) const { pcre16_jit_stack_free(p); }
};

using PcreCode = std::unique_ptr<pcre, PcreFree>;
using Pcre16Code = std::unique_ptr<pcre16, Pcre16Free>;
using PcreExtra = std::unique_ptr<pcre_extra, PcreStudyFree>;
using Pcre16Extra = std::unique_ptr<pcre16_extra, Pcre16StudyFree>;
using PcreJitStack = std::unique_ptr<pcre_jit_stack, PcreJitStackFree>;
using Pcre16JitStack = std::unique_ptr<pcre16_jit_stack, Pcre16JitStackFree>;

} // namespace gleanery
