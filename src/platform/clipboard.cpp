// The clipboard's hook, shared by every platform: a handler installed by the host (or a test)
// takes the contents; otherwise the system's clipboard does.
#include "platform/clipboard.h"

#include "platform/handler_slot.h"
#include "platform/system_services.h"

namespace gleanery::platform {

namespace {
HandlerSlot<ClipboardHandler> g_slot;
} // namespace

void SetClipboardHandler(ClipboardHandler handler, void* context) {
    g_slot.Set(handler, context);
}

bool SetClipboard(uint32_t format, const std::string& bytes) {
    const auto [handler, context] = g_slot.Get();
    if (handler != nullptr) return handler(context, format, bytes);
    return os::SetSystemClipboard(format, bytes);
}

} // namespace gleanery::platform
