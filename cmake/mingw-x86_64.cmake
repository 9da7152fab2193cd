# Cross-compiles for Windows (x86_64) with Debian's mingw-w64 toolchain (win32 thread model: the
# programs need no winpthread DLL). Everything links statically, so the DLL and the test programs
# depend on Windows system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLEANERY_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${GLEANERY_MINGW_TRIPLE}-gcc-win32 ${GLEANERY_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${GLEANERY_MINGW_TRIPLE}-g++-win32 ${GLEANERY_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${GLEANERY_MINGW_TRIPLE}-windres REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${GLEANERY_MINGW_TRIPLE}-objdump)

# Look for headers, libraries and packages in the mingw tree only, never in the native /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${GLEANERY_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

