# The Windows plug-in: Gleanery.wcx64 (x64) or Gleanery.wcx (x86), cross-built with mingw-w64.
# Included by the top-level CMakeLists.txt for WIN32 builds after gleanery_plugin is defined.

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(GLEANERY_PLUGIN_SUFFIX .wcx64)
else()
    set(GLEANERY_PLUGIN_SUFFIX .wcx)
endif()

# Win32 headers: Unicode API names, no min/max macros, Windows 7 as the oldest system.
target_compile_definitions(gleanery_core PUBLIC UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)

# The dialog template and other resources.
file(GLOB GLEANERY_RESOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/dialog/*.rc)
if(GLEANERY_RESOURCES)
    enable_language(RC)
    target_sources(gleanery_plugin PRIVATE ${GLEANERY_RESOURCES})
endif()

# Exports by their plain names through the .def file. On x86 the WCX functions are __stdcall,
# whose symbols carry an @n suffix: the .def names match them through stdcall fix-up, and
# --kill-at keeps the suffix out of the export table.
target_sources(gleanery_plugin PRIVATE ${PROJECT_SOURCE_DIR}/src/host/gleanery.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(gleanery_plugin PRIVATE -Wl,--kill-at -Wl,--enable-stdcall-fixup)
endif()

# Everything static (the toolchain files add -static): only Windows system DLLs are imported.
set_target_properties(gleanery_plugin PROPERTIES SUFFIX ${GLEANERY_PLUGIN_SUFFIX})
target_link_options(gleanery_plugin PRIVATE -Wl,--no-undefined $<$<CONFIG:Release,MinSizeRel>:-s>)
target_link_libraries(gleanery_plugin PRIVATE comctl32 comdlg32 gdi32 user32 kernel32)
target_link_libraries(gleanery_core PUBLIC user32 kernel32)

# Test programs run under Wine (scripts/wine-run.sh), with a Wine prefix inside the build tree.
set(GLEANERY_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for the tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh --prefix ${GLEANERY_WINEPREFIX})

# Checks of the built DLL itself, added once the whole tree (and enable_testing) has been read.
function(gleanery_windows_checks)
    if(NOT GLEANERY_TESTS)
        return()
    endif()
    find_program(GLEANERY_OBJDUMP NAMES ${GLEANERY_MINGW_TRIPLE}-objdump x86_64-w64-mingw32-objdump)
    add_test(NAME dll_tables
        COMMAND ${PROJECT_SOURCE_DIR}/scripts/check-dll-tables.sh ${GLEANERY_OBJDUMP}
            $<TARGET_FILE:gleanery_plugin>)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL gleanery_windows_checks)
