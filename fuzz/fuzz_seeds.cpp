// Writes the seed corpus of every fuzz target: fuzz_seeds OUTDIR [SAMPLE_INI]. Each target gets
// a directory OUTDIR/<target> of small inputs in that target's layout (option bytes, then the
// payload), made from texts of our own and, for the settings loader, the shipped sample file.
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Wide(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

void Write(const std::string& dir, const std::vector<std::string>& seeds) {
    ::mkdir(dir.c_str(), 0755);
    for (size_t i = 0; i < seeds.size(); ++i)
        std::ofstream(dir + "/seed-" + std::to_string(i), std::ios::binary) << seeds[i];
}

std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const std::string out = argv[1];
    ::mkdir(out.c_str(), 0755);

    Write(out + "/fuzz_template",
          {Bytes({0, 0, 3}) + Wide("$0"),
           Bytes({1, 8, 2}) + Wide("[$1|$2|\\xNn|\\xM2|\\xm0|\\x41]"),
           Bytes({0, 8, 9}) + Wide("${12}\\xPp\\xNN\\x{41}\\\\$$9\\"),
           Bytes({0, 0, 0}) + Wide("\\xm9\\xM0 $") + Bytes({0x00, 0xD8, 0x41, 0})});

    std::vector<std::string> settings = {
        Bytes({3}) + "[gleanery_last]\nregex=(\\d+)\nreplace=$1\nLineMode=true\nMemory=50\n",
        Bytes({2}) + "\xEF\xBB\xBF[gleanery]\nfont=-13,0,0,0,400,0,0,0,0,3,2,1,49,Consolas\n"
                     "[gleanery1]\nname=one\nregex=a\n[gleanery_last]\nCodePage=65001\n",
        Bytes({2}) + "[gleanery_last]\nregex=line1\\nline2\nEncodingCheck=262144\n"};
    if (argc > 2) {
        std::ifstream sample(argv[2], std::ios::binary);
        settings.push_back(Bytes({3}) + std::string(std::istreambuf_iterator<char>(sample), {}));
    }
    Write(out + "/fuzz_settings_file", settings);

    Write(out + "/fuzz_language_file",
          {Bytes({0}) + "[DEU]\n0=Einstellungen\n3=Regul\xC3\xA4rer Ausdruck\n500=?\n",
           Bytes({2}) + "\xEF\xBB\xBF[FRA]\n61=D'accord\n65535=+\n999=x\n",
           Bytes({0}) + "[deu]\n"});

    const std::string utf16 = "\xFF\xFE" + Wide("one two\r\nthree\n");
    Write(out + "/fuzz_readers",
          {Bytes({0, 0, 0, 0, 0, 0, 0}) + "alpha beta\r\ngamma\n\nend",
           Bytes({128, 8, 0, 6, 0, 2, 3}) + utf16,
           Bytes({0, 8, 0, 1, 1, 1, 0}) + "\xEF\xBB\xBF"
                                          "caf\xC3\xA9\r\nna\xC3\xAFve",
           Bytes({64, 0, 0, 2, 1, 3, 1}) + "a\rb\r\nc\nd" + std::string(40, 'x'),
           Bytes({0, 1, 0, 0, 0, 0, 0}) + std::string("\x00\x01\xFF\xFE", 4)});

    Write(out + "/fuzz_match_loop", {Bytes({0, 0, 0, 0, 0, 0}) + "abc 12-34 x\r\nfoo",
                                     Bytes({8, 8, 0, 7, 1, 1}) + "Stra\xC3\x9F"
                                                                 "e \xE2\x82\xAC",
                                     Bytes({20, 8, 0, 3, 2, 2}) + Wide("line one\r\nline two"),
                                     Bytes({0, 0, 0, 12, 0, 0}) + std::string(30, 'a') + "b",
                                     Bytes({0, 0, 0, 242, 2}) + "(a)" + "aaa"});

    // Flags, the expression's grammar choices (see fuzz_expressions.cpp), then the text's pieces:
    // [[:digit:]]+-[[:digit:]]+ (UTF-8), (\w)?@(?#c)?[^\s] (UTF-16), a+(*PRUNE)b|a (code page).
    std::string text;
    for (int i = 0; i < 24; ++i) text += Bytes({0, 10, 12, 4, 13, 16, 3, 11, 5, i % 2 ? 15 : 14});
    Write(out + "/fuzz_expressions",
          {Bytes({1, 0, 0x83, 0, 2, 2, 0x10, 4, 0x83, 0, 2, 2, 0, 0}) + text,
           Bytes({2, 0, 0x85, 0, 4, 1, 0, 0, 0, 0x10, 3, 0x87, 0, 3, 1, 9, 0, 0}) + text,
           Bytes({0, 0, 0x80, 0, 2, 0x0C, 2, 0x10, 1, 0, 1, 0x10, 0, 0, 0}) + text});

    Write(out + "/fuzz_pack_files",
          {Bytes({0, 0, 0, 1, 1, 0, 1}) + Wide("a.txt") + std::string(2, '\0') + Wide("b.log"),
           Bytes({128, 4, 0, 1, 1, 0, 1}) + Wide("sub") + std::string(2, '\0') + Wide("fifo"),
           Bytes({64, 0, 0, 2, 1, 3, 0}) + Wide("sub/c.txt") + std::string(2, '\0') + Wide("empty"),
           Bytes({0, 0, 0, 1, 0, 0, 1}) + Wide("missing") + Bytes({0, 0xD8}) + Wide(".txt")});

    // Dialog actions: op (0 click, 1 type, 2 pick, 3 select, 4 answer, 5 font), then its bytes.
    // Clicks and picks name a control by its place in the template.
    Write(out + "/fuzz_dialog",
          {Bytes({1, 0, 1, 0, 2, 5, 7, 0, 1, 0, 2, 2, 4}) + Bytes({0, 36, 1, 2, 1, 19, 4, 0, 0, 1}),
           Bytes({0, 0, 1, 1, 3, 3, 5, 9, 1, 2, 0, 11, 0, 31, 0, 32, 0, 33, 0, 0}),
           Bytes({2, 2, 5, 1, 20, 0, 0, 6, 4, 0, 1, 2, 4, 2, 4, 0, 35}),
           Bytes({1, 1, 1, 0, 3, 0, 1, 20, 3, 0, 0, 5, 0, 38, 0, 49, 0, 50, 0, 48, 1})});
    return 0;
}
