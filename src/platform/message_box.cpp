// Message boxes, shared by every platform: the handler a host (or a test) installs answers first;
// when no one can be asked, a question takes its default button, so nothing goes ahead unasked.
#include "platform/message_box.h"

#include "platform/handler_slot.h"
#include "platform/system_services.h"

namespace gleanery::platform {

namespace {
constexpr uint32_t kMbTypeMask = 0xF;
constexpr uint32_t kMbOkCancel = 0x1;
constexpr uint32_t kMbDefButtonMask = 0xF00;
constexpr uint32_t kMbDefButton3 = 0x200;
HandlerSlot<MessageBoxHandler> g_slot;
} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
    g_slot.Set(handler, context);
}

int ShowMessageBox(const std::u16string& text, const std::u16string& title, uint32_t flags) {
    const auto [handler, context] = g_slot.Get();
    if (handler != nullptr) return handler(context, text, title, flags);
    return os::ShowSystemMessageBox(text, title, flags);
}

int DefaultAnswer(uint32_t flags) {
    const uint32_t defButton = flags & kMbDefButtonMask;
    switch (flags & kMbTypeMask) {
    case kMbYesNo:
        return defButton == kMbDefButton2 ? kIdNo : kIdYes;
    case kMbYesNoCancel:
        if (defButton == kMbDefButton2) return kIdNo;
        if (defButton == kMbDefButton3) return kIdCancel;
        return kIdYes;
    case kMbOkCancel:
        return defButton == kMbDefButton2 ? kIdCancel : kIdOk;
    default:
        return kIdOk;
    }
}

bool AskYesNo(const std::u16string& text, const std::u16string& title) {
    return ShowMessageBox(text, title,
                          kMbYesNo | kMbIconWarning | kMbDefButton2 | kMbSystemModal) == kIdYes;
}

} // namespace gleanery::platform
