// Message boxes on Windows, where no handler answers: the system's message box without an owner
// window.
#include "platform/message_box.h"
#include "platform/system_services.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace gleanery::platform {

int os::ShowSystemMessageBox(const std::u16string& text, const std::u16string& title,
                             uint32_t flags) {
    const int answer = MessageBoxW(nullptr, win32::Wide(text), win32::Wide(title), flags);
    // A box that could not be shown (no desktop, out of memory) counts as its default button:
    // for the questions that is No, so nothing goes ahead unasked.
    return answer > 0 ? answer : DefaultAnswer(flags);
}

} // namespace gleanery::platform
