#include "settings/code_pages.h"

#include <algorithm>
#include <map>
#include <string>

#include "platform/codepage.h"

namespace gleanery {

const std::vector<uint32_t>& CodePageTable() {
    static const std::vector<uint32_t> table = {
        437,   708,   709,   710,   720,   737,   775,   850,   852,   855,   857,   858,   860,
        861,   862,   863,   864,   865,   866,   869,   874,   932,   936,   949,   950,   1250,
        1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  1361,  10000, 10001, 10002, 10003,
        10004, 10005, 10006, 10007, 10008, 10010, 10017, 10021, 10029, 10079, 10081, 10082, 20000,
        20001, 20002, 20003, 20004, 20005, 20127, 20269, 20866, 20932, 20936, 20949, 21866, 28591,
        28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 29001, 38598, 50220,
        50221, 50222, 50225, 50227, 50229, 51932, 51936, 51949, 51950, 52936, 54936, 57002, 57003,
        57004, 57005, 57006, 57007, 57008, 57009, 57010, 57011};
    return table;
}

namespace {

bool Converts(uint32_t codePage) {
    std::string printable;
    for (char c = 0x20; c <= 0x7E; ++c) printable.push_back(c);
    std::u16string wide;
    return platform::AppendCodePageAsWide(codePage, printable, wide) && wide.size() == 95;
}

} // namespace

std::vector<uint32_t> ProbeUsableCodePages() {
    std::vector<uint32_t> usable;
    for (uint32_t codePage : CodePageTable())
        if (ProbeCodePage(codePage)) usable.push_back(codePage);
    return usable;
}

bool ProbeCodePage(uint32_t codePage) {
    static std::map<uint32_t, bool> answers;
    const auto known = answers.find(codePage);
    if (known != answers.end()) return known->second;
    const std::vector<uint32_t>& table = CodePageTable();
    const bool usable =
        std::find(table.begin(), table.end(), codePage) != table.end() && Converts(codePage);
    answers.emplace(codePage, usable);
    return usable;
}

} // namespace gleanery
