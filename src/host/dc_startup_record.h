// Double Commander's start-up record as a host fills it in before it calls ExtensionInitialize:
// built here for the command-line host and the plug-in tests; the plug-in reads it in exports.cpp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/wcx.h"

namespace gleanery::wcx {

struct DcStartupFields {
    std::string PluginDir; // UTF-8, with a trailing separator; empty leaves the field zeroed
    std::string PluginConfDir;
    DcMessageBoxProc HostMessageBox = nullptr;
    void* DialogBoxLfm = nullptr; // Double Commander's form functions; none for other hosts
    void* SendDlgMsg = nullptr;
};

// The whole record: its size, the two directories (cut to keep a terminating zero), the
// function pointers at their unaligned offsets, and zeroed reserved space.
inline std::vector<unsigned char> DcStartupRecord(const DcStartupFields& fields) {
    std::vector<unsigned char> record(kDcStructSize, 0);
    const uint32_t size = static_cast<uint32_t>(record.size());
    std::memcpy(record.data() + kDcStructSizeOffset, &size, sizeof size);
    const auto copyPath = [&record](const std::string& path, size_t offset) {
        std::memcpy(record.data() + offset, path.data(), std::min(path.size(), kDcPathSize - 1));
    };
    copyPath(fields.PluginDir, kDcPluginDirOffset);
    copyPath(fields.PluginConfDir, kDcPluginConfDirOffset);
    std::memcpy(record.data() + kDcMessageBoxOffset, &fields.HostMessageBox,
                sizeof fields.HostMessageBox);
    std::memcpy(record.data() + kDcDialogBoxLfmOffset, &fields.DialogBoxLfm, sizeof(void*));
    std::memcpy(record.data() + kDcSendDlgMsgOffset, &fields.SendDlgMsg, sizeof(void*));
    return record;
}

} // namespace gleanery::wcx
