# Cross-compiles for Windows (i686) with Debian's mingw-w64 toolchain. The compilers of the posix
# thread model are used because GCC 12's win32 model has no std::mutex or std::thread, which
# GoogleTest and portable code need; everything links statically (-static), so winpthread and the
# C++ runtime end up inside the DLL and the programs, which import Windows system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GLEANERY_MINGW_TRIPLE i686-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${GLEANERY_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${GLEANERY_MINGW_TRIPLE}-g++-posix REQUIRED)
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

