// Library attach and detach: DllMain on Windows, constructor and destructor elsewhere.
#include "host/startup.h"

#if defined(_WIN32)
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        gleanery::AttachLibrary();
        break;
    case DLL_PROCESS_DETACH:
        gleanery::DetachLibrary();
        break;
    default:
        break;
    }
    return TRUE;
}
#else
__attribute__((constructor)) static void GleaneryAttach() {
    gleanery::AttachLibrary();
}
__attribute__((destructor)) static void GleaneryDetach() {
    gleanery::DetachLibrary();
}
#endif
