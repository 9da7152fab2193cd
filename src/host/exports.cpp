// The exported WCX functions. Only packing with wide strings is real; every attempt to read a
// file as an archive of this kind fails. No exception ever leaves an export.
#include <algorithm>
#include <cstring>
#include <exception>

#include "dialog/settings_dialog.h"
#include "engine/extraction_job.h"
#include "host/pack_job.h"
#include "host/process_state.h"
#include "host/startup.h"
#include "host/wcx.h"
#include "platform/codepage.h"
#include "platform/message_box.h"
#include "settings/code_pages.h"

#if !defined(_WIN32)
#include "dialog/doublecmd/host_dialog.h"
#endif

using namespace gleanery;

namespace {

void ShowNoSupport() {
    platform::ShowMessageBox(u"No support for Windows 9x or non-Unicode!", u"Gleanery",
                             platform::kMbOk | platform::kMbIconWarning);
}

// Message boxes of a Double Commander style host, reached through its extension record.
wcx::DcMessageBoxProc g_hostMessageBox = nullptr;

int HostMessageBox(void*, const std::u16string& text, const std::u16string& title, uint32_t flags) {
    std::string utf8Text = platform::WideToUtf8(text);
    std::string utf8Title = platform::WideToUtf8(title);
    return g_hostMessageBox(utf8Text.data(), utf8Title.data(), static_cast<int32_t>(flags));
}

} // namespace

WCX_EXPORT int WCX_API GetPackerCaps() {
    return wcx::kPkCapsNew | wcx::kPkCapsModify | wcx::kPkCapsMultiple | wcx::kPkCapsOptions |
           wcx::kPkCapsHide;
}

WCX_EXPORT int WCX_API GetBackgroundFlags() {
    return wcx::kBackgroundPack;
}

WCX_EXPORT int WCX_API PackFilesW(char16_t* packedFile, char16_t* /*subPath*/, char16_t* srcPath,
                                  char16_t* addList, int /*flags*/) {
    try {
        return RunPackForHost(packedFile ? packedFile : u"", srcPath ? srcPath : u"",
                              WholeAddList(addList ? addList : u"\0"));
    } catch (...) {
        // Running out of memory has its own answer; whatever else ends a job this way leaves its
        // output unfinished, which the host learns as a failed write.
        return wcx::kEEWrite;
    }
}

// Beyond the WCX interface, for hosts that know it (the command-line host): PackFilesW with the
// names handed over in runs as the host finds them (see GleaneryMoreNamesProc), so that the search
// begins before the host has found every file. What is searched and written is what PackFilesW
// writes for all the runs' names in one list.
WCX_EXPORT int WCX_API GleaneryPackFilesStreamW(char16_t* packedFile, char16_t* srcPath,
                                                wcx::GleaneryMoreNamesProc more, void* data) {
    try {
        struct HostNames {
            wcx::GleaneryMoreNamesProc more;
            void* data;
        } host{more, data};
        AddList names;
        names.More = [](void* d) {
            const HostNames& h = *static_cast<const HostNames*>(d);
            return h.more(h.data);
        };
        names.MoreData = &host;
        names.Ended = more == nullptr;
        return RunPackForHost(packedFile ? packedFile : u"", srcPath ? srcPath : u"", names);
    } catch (...) {
        return wcx::kEEWrite;
    }
}

// Beyond the WCX interface, for hosts that know it (the command-line host): the last pack's notes
// on searches that stayed incomplete, as UTF-16 lines (empty when there are none). Copies at most
// `size` - 1 units and a terminating zero into `buffer`; returns the notes' full length.
WCX_EXPORT int WCX_API GleaneryJobNotesW(char16_t* buffer, int size) {
    try {
        const std::u16string& notes = State().LastJobNotes;
        if (buffer != nullptr && size > 0) {
            const size_t n = std::min(notes.size(), static_cast<size_t>(size - 1));
            std::memcpy(buffer, notes.data(), n * sizeof(char16_t));
            buffer[n] = 0;
        }
        return static_cast<int>(notes.size());
    } catch (...) {
        return 0;
    }
}

WCX_EXPORT int WCX_API PackFiles(char*, char*, char*, char*, int) {
    try {
        ShowNoSupport();
    } catch (...) {
    }
    return 0;
}

WCX_EXPORT void WCX_API ConfigurePacker(void* parent, void* dllInstance) {
    try {
        ProcessState& state = State();
        state.ModuleInstance = dllInstance;
        if (state.System.UsableCodePages.empty())
            state.System.UsableCodePages = ProbeUsableCodePages();
        if (ShowSettingsDialog(parent, dllInstance) <= 0) ShowNoSupport();
    } catch (...) {
    }
}

WCX_EXPORT void* WCX_API OpenArchive(wcx::OpenArchiveData* data) {
    if (data) data->OpenResult = wcx::kEUnknownFormat;
    return nullptr;
}

WCX_EXPORT void* WCX_API OpenArchiveW(wcx::OpenArchiveDataW* data) {
    if (data) data->OpenResult = wcx::kEUnknownFormat;
    return nullptr;
}

WCX_EXPORT int WCX_API ReadHeader(void*, void*) {
    return wcx::kEBadArchive;
}
WCX_EXPORT int WCX_API ReadHeaderEx(void*, void*) {
    return wcx::kEBadArchive;
}
WCX_EXPORT int WCX_API ReadHeaderExW(void*, void*) {
    return wcx::kEBadArchive;
}
WCX_EXPORT int WCX_API ProcessFile(void*, int, char*, char*) {
    return wcx::kEBadArchive;
}
WCX_EXPORT int WCX_API ProcessFileW(void*, int, char16_t*, char16_t*) {
    return wcx::kEBadArchive;
}
WCX_EXPORT int WCX_API CloseArchive(void*) {
    return 0;
}

WCX_EXPORT void WCX_API SetChangeVolProc(void*, void*) {}
WCX_EXPORT void WCX_API SetChangeVolProcW(void*, void*) {}
WCX_EXPORT void WCX_API SetProcessDataProc(void*, void*) {}

WCX_EXPORT void WCX_API SetProcessDataProcW(void*, ProcessDataProc proc) {
    State().ProcessData = proc;
}

WCX_EXPORT void WCX_API PackSetDefaultParams(wcx::PackDefaultParamStruct* params) {
    try {
        PackSetDefaultParamsImpl(params);
    } catch (...) {
    }
}

// Double Commander calls this after loading the plug-in; its message boxes are the host's, and on
// Linux the settings dialog is a form that the host shows (on Windows the plug-in's own dialog).
WCX_EXPORT void WCX_API ExtensionInitialize(void* startupInfo) {
    if (!startupInfo) return;
    const auto* bytes = static_cast<const unsigned char*>(startupInfo);
    uint32_t size = 0;
    std::memcpy(&size, bytes + wcx::kDcStructSizeOffset, sizeof size);
    if (size < wcx::kDcMessageBoxOffset + sizeof(void*)) return;
    wcx::DcMessageBoxProc proc = nullptr;
    std::memcpy(&proc, bytes + wcx::kDcMessageBoxOffset, sizeof proc);
    g_hostMessageBox = proc;
    platform::SetMessageBoxHandler(proc ? HostMessageBox : nullptr, nullptr);
#if !defined(_WIN32)
    using namespace dialog::doublecmd;
    DialogBoxLfmProc dialogBox = nullptr;
    DlgProc send = nullptr;
    if (size >= wcx::kDcSendDlgMsgOffset + sizeof(void*)) {
        std::memcpy(&dialogBox, bytes + wcx::kDcDialogBoxLfmOffset, sizeof dialogBox);
        std::memcpy(&send, bytes + wcx::kDcSendDlgMsgOffset, sizeof send);
    }
    SetHostDialogApi(dialogBox, send);
#endif
}
