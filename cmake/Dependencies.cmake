# PCRE (8-bit and 16-bit), SimpleIni and UTF8-CPP as one interface target.
add_library(gleanery_deps INTERFACE)

if(CMAKE_CROSSCOMPILING AND WIN32)
    # Static PCRE built from Debian's source package by scripts/build-pcre-mingw.sh into a cache
    # outside the tree ($GLEANERY_CACHE, default /var/cache/gleanery); built here when missing.
    if(DEFINED ENV{GLEANERY_CACHE})
        set(_gleanery_cache $ENV{GLEANERY_CACHE})
    else()
        set(_gleanery_cache /var/cache/gleanery)
    endif()
    if(NOT GLEANERY_PCRE_PREFIX)
        set(GLEANERY_PCRE_PREFIX ${_gleanery_cache}/pcre-jit-${CMAKE_SYSTEM_PROCESSOR}
            CACHE PATH "Install prefix of the static mingw PCRE")
    endif()
    if(NOT EXISTS ${GLEANERY_PCRE_PREFIX}/lib/libpcre16.a)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env GLEANERY_CACHE=${_gleanery_cache}
                ${PROJECT_SOURCE_DIR}/scripts/build-pcre-mingw.sh ${CMAKE_SYSTEM_PROCESSOR}
            RESULT_VARIABLE _pcre_result)
        if(NOT _pcre_result EQUAL 0 OR NOT EXISTS ${GLEANERY_PCRE_PREFIX}/lib/libpcre16.a)
            message(FATAL_ERROR "No mingw PCRE in ${GLEANERY_PCRE_PREFIX}: run scripts/build-pcre-mingw.sh")
        endif()
    endif()
    target_include_directories(gleanery_deps INTERFACE ${GLEANERY_PCRE_PREFIX}/include)
    target_link_libraries(gleanery_deps INTERFACE
        ${GLEANERY_PCRE_PREFIX}/lib/libpcre16.a ${GLEANERY_PCRE_PREFIX}/lib/libpcre.a)
    target_compile_definitions(gleanery_deps INTERFACE PCRE_STATIC)
    # Only SimpleIni.h from /usr/include: never the whole native include directory.
    set(GLEANERY_SIMPLEINI_DIR ${CMAKE_BINARY_DIR}/simpleini)
    file(MAKE_DIRECTORY ${GLEANERY_SIMPLEINI_DIR})
    configure_file(/usr/include/SimpleIni.h ${GLEANERY_SIMPLEINI_DIR}/SimpleIni.h COPYONLY)
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
# SimpleIni over UTF-8 bytes only: ASCII case folding, no wide-character converter.
target_compile_definitions(gleanery_deps INTERFACE SI_IMPLEMENTATION SI_NO_CONVERSION)
