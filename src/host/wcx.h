// The host interface's records and constants (WCX packer plug-in interface), with the
// Double Commander extension record that Linux hosts add.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/process_state.h"

#if defined(_WIN32)
#define WCX_EXPORT extern "C" __declspec(dllexport)
#else
#define WCX_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#define WCX_API WCX_CALL

namespace gleanery::wcx {

inline constexpr int kPkCapsNew = 1;
inline constexpr int kPkCapsModify = 2;
inline constexpr int kPkCapsMultiple = 4;
inline constexpr int kPkCapsOptions = 16;
inline constexpr int kPkCapsHide = 256;
inline constexpr int kBackgroundPack = 2;

inline constexpr int kEEndArchive = 10;
inline constexpr int kENoMemory = 11;
inline constexpr int kEBadData = 12;
inline constexpr int kEBadArchive = 13;
inline constexpr int kEUnknownFormat = 14;
inline constexpr int kEEOpen = 15;
inline constexpr int kEECreate = 16;
inline constexpr int kEEClose = 17;
inline constexpr int kEERead = 18;
inline constexpr int kEEWrite = 19;
inline constexpr int kESmallBuf = 20;
inline constexpr int kEEAborted = 21;
inline constexpr int kENoFiles = 22;

inline constexpr size_t kMaxPath = 260;

struct PackDefaultParamStruct {
    int size;
    uint32_t PluginInterfaceVersionLow;
    uint32_t PluginInterfaceVersionHi;
    char DefaultIniName[kMaxPath];
};

struct OpenArchiveData {
    char* ArcName;
    int OpenMode;
    int OpenResult;
    char* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

struct OpenArchiveDataW {
    char16_t* ArcName;
    int OpenMode;
    int OpenResult;
    char16_t* CmtBuf;
    int CmtBufSize;
    int CmtSize;
    int CmtState;
};

// Double Commander's tExtensionStartupInfo: a packed record of a size field, two 16 KiB path
// buffers and then function pointers (unaligned), followed by reserved space.
inline constexpr size_t kDcPathSize = 16384;
inline constexpr size_t kDcStructSizeOffset = 0;
inline constexpr size_t kDcPluginDirOffset = 4;
inline constexpr size_t kDcPluginConfDirOffset = kDcPluginDirOffset + kDcPathSize;
inline constexpr size_t kDcInputBoxOffset = kDcPluginConfDirOffset + kDcPathSize;
inline constexpr size_t kDcMessageBoxOffset = kDcInputBoxOffset + sizeof(void*);
// Behind MessageBox: DialogBoxLFM, DialogBoxLRS, DialogBoxLFMFile, SendDlgMsg.
inline constexpr size_t kDcDialogBoxLfmOffset = kDcMessageBoxOffset + 1 * sizeof(void*);
inline constexpr size_t kDcSendDlgMsgOffset = kDcMessageBoxOffset + 4 * sizeof(void*);
inline constexpr size_t kDcStructSize =
    kDcInputBoxOffset + 6 * sizeof(void*) + 4096 * sizeof(void*);

// MessageBox of the extension record: UTF-8 text and caption, Win32 flags and answers.
using DcMessageBoxProc = int(WCX_CALL*)(char* text, char* caption, int32_t flags);

// Gleanery's own, for a host that hands over the names of a pack as it finds them (see
// GleaneryPackFilesStreamW): the next run of names, in the add list's form, waiting until there
// is one; an empty run (or null) once there are no more. Each run stays valid until the pack
// returns.
using GleaneryMoreNamesProc = const char16_t*(WCX_CALL*)(void* data);

} // namespace gleanery::wcx
