# PCRE (8-bit and 16-bit), SimpleIni and UTF8-CPP as one interface target.
add_library(gleanery_deps INTERFACE)

if(CMAKE_CROSSCOMPILING AND WIN32)
    # Static PCRE built from Debian's source package by scripts/build-pcre-mingw.sh.
    if(NOT GLEANERY_PCRE_PREFIX)
        message(FATAL_ERROR "GLEANERY_PCRE_PREFIX must name the mingw PCRE install")
    endif()
    target_include_directories(gleanery_deps INTERFACE ${GLEANERY_PCRE_PREFIX}/include)
    target_link_libraries(gleanery_deps INTERFACE
        ${GLEANERY_PCRE_PREFIX}/lib/libpcre16.a ${GLEANERY_PCRE_PREFIX}/lib/libpcre.a)
    target_compile_definitions(gleanery_deps INTERFACE PCRE_STATIC)
    # Only SimpleIni.h from /usr/include: never the whole native include directory.
    set(GLEANERY_SIMPLEINI_DIR ${CMAKE_BINARY_DIR}/simpleini)
    file(MAKE_DIRECTORY ${GLEANERY_SIMPLEINI_DIR})
    file(COPY /usr/include/SimpleIni.h DESTINATION ${GLEANERY_SIMPLEINI_DIR})
    target_include_directories(gleanery_deps SYSTEM INTERFACE ${GLEANERY_SIMPLEINI_DIR}
        /usr/include/utf8cpp)
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(PCRE REQUIRED IMPORTED_TARGET libpcre libpcre16)
    target_link_libraries(gleanery_deps INTERFACE PkgConfig::PCRE)
    find_path(SIMPLEINI_INCLUDE SimpleIni.h REQUIRED)
    find_path(UTF8CPP_INCLUDE utf8.h PATHS /usr/include/utf8cpp NO_DEFAULT_PATH REQUIRED)
    target_include_directories(gleanery_deps SYSTEM INTERFACE ${SIMPLEINI_INCLUDE} ${UTF8CPP_INCLUDE})
endif()
target_compile_definitions(gleanery_deps INTERFACE SI_IMPLEMENTATION)
