// Message boxes on Windows: the system's message box without an owner window, unless a handler
// (a host service or a test) answers instead.
#include "platform/message_box.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace gleanery::platform {

namespace {

SRWLOCK g_handlerLock = SRWLOCK_INIT;
MessageBoxHandler g_handler = nullptr;
void* g_handlerContext = nullptr;

} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler, void* context) {
    win32::LockGuard guard(g_handlerLock);
    g_handler = handler;
    g_handlerContext = context;
}

int ShowMessageBox(const std::u16string& text, const std::u16string& title, uint32_t flags) {
    MessageBoxHandler handler;
    void* context;
    {
        win32::LockGuard guard(g_handlerLock);
        handler = g_handler;
        context = g_handlerContext;
    }
    if (handler != nullptr) return handler(context, text, title, flags);
    const int answer = MessageBoxW(nullptr, win32::Wide(text), win32::Wide(title), flags);
    // A box that could not be shown (no desktop, out of memory) counts as its default button:
    // for the questions that is No, so nothing goes ahead unasked.
    return answer > 0 ? answer : DefaultAnswer(flags);
}

} // namespace gleanery::platform
