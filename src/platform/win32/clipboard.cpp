// The clipboard on Windows: a movable global memory block handed to the system clipboard, unless
// a handler (a host service or a test) takes the contents instead.
#include "platform/clipboard.h"
#include "platform/system_services.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <cstring>

namespace gleanery::platform {

namespace {

// A global memory block that is freed unless ownership passes to the clipboard.
struct GlobalBlock {
    HGLOBAL handle;
    explicit GlobalBlock(size_t size) : handle(GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size)) {}
    ~GlobalBlock() {
        if (handle != nullptr) GlobalFree(handle);
    }
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL Release() {
        HGLOBAL taken = handle;
        handle = nullptr;
        return taken;
    }
};

struct OpenedClipboard {
    bool open = OpenClipboard(nullptr) != 0;
    ~OpenedClipboard() {
        if (open) CloseClipboard();
    }
    OpenedClipboard() = default;
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
};

} // namespace

bool os::SetSystemClipboard(uint32_t format, const std::string& bytes) {
    // The block always ends in a zero of the format's width, even when the caller's bytes do not.
    const size_t terminator = format == kCfUnicodeText ? 2 : 1;
    GlobalBlock block(bytes.size() + terminator);
    if (block.handle == nullptr) return false;
    void* memory = GlobalLock(block.handle);
    if (memory == nullptr) return false;
    if (!bytes.empty()) std::memcpy(memory, bytes.data(), bytes.size());
    GlobalUnlock(block.handle);

    OpenedClipboard clipboard;
    if (!clipboard.open || !EmptyClipboard()) return false;
    if (SetClipboardData(format, block.handle) == nullptr) return false;
    block.Release(); // the clipboard owns the block now
    return true;
}

} // namespace gleanery::platform
