// PackFilesW on arbitrary add lists: the walk over wide entries (unpaired surrogates, names that
// do not exist, directories, a FIFO, very long names), with the progress callback stopping the
// job at any call and every answer to the overwrite question. The plug-in's own sources are
// linked in, so the export runs exactly as the host calls it.
#include <sys/stat.h>

#include <fstream>

#include "fuzz_support.h"
#include "host/wcx.h"
#include "platform/message_box.h"

extern "C" int WCX_CALL PackFilesW(char16_t* packedFile, char16_t* subPath, char16_t* srcPath,
                                   char16_t* addList, int flags);
extern "C" void WCX_CALL SetProcessDataProcW(void*, gleanery::ProcessDataProc proc);

using namespace gleanery;

namespace {

int g_stopAt = 0;
int g_calls = 0;
int g_answer = platform::kIdYes;

int WCX_CALL Progress(char16_t*, int) {
    return ++g_calls == g_stopAt ? 0 : 1;
}

int Answer(void*, const std::u16string&, const std::u16string&, uint32_t) {
    return g_answer;
}

const std::string& Source() {
    static const std::string dir = [] {
        const std::string source = fuzz::ScratchDirectory() + "src/";
        ::mkdir(source.c_str(), 0700);
        ::mkdir((source + "sub").c_str(), 0700);
        std::ofstream(source + "a.txt", std::ios::binary) << "alpha beta\r\ngamma 42\n";
        std::ofstream(source + "b.log", std::ios::binary) << std::string("\xFF\xFE"
                                                                         "a\0b\0\n\0c\0",
                                                                         10);
        std::ofstream(source + "sub/c.txt", std::ios::binary) << "\xEF\xBB\xBF"
                                                                 "x\xC3\xA9y";
        std::ofstream(source + "empty", std::ios::binary);
        ::mkfifo((source + "fifo").c_str(), 0600);
        return source;
    }();
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::EnsureState();
    static const bool ready = [] {
        platform::SetMessageBoxHandler(Answer, nullptr);
        SetProcessDataProcW(nullptr, Progress);
        return true;
    }();
    (void)ready;
    fuzz::Input in{data, size};
    ProcessState& state = State();
    state.DialogX = state.DialogY = 0; // the dialog has run: no first-use load
    Settings& settings = state.CurrentSettings;
    settings = Settings{};
    fuzz::FillSettings(in, settings);
    settings.OutfileExtension = static_cast<int8_t>(in.Byte() % 3);
    settings.regex = (in.Byte() & 1) ? u"\\w+" : u"";
    g_stopAt = in.Byte() % 8;
    g_calls = 0;
    g_answer = (in.Byte() & 1) ? platform::kIdYes : platform::kIdNo;

    std::u16string list = in.RestAsWide();
    // The walk stays inside the scratch directory: no entry may climb out of it.
    if (list.find(u"..") != std::u16string::npos) return 0;
    list.push_back(u'\0');
    list.push_back(u'\0');
    std::u16string source = fuzz::Wide(Source());
    std::u16string archive = fuzz::Wide(fuzz::ScratchDirectory() + "out.zip");
    const int code = PackFilesW(archive.data(), nullptr, source.data(), list.data(), 0);
    if (code != 0 && code != 16 && code != 19 && code != 21 && code != 22) std::abort();
    return 0;
}
