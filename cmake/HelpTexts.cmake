# The help pane's expression help: the PCRE syntax summary, cut at build time from the manual in
# Debian's pcre3 source package (the library version every build links) into a generated source
# of gleanery_dialog. The source package lives in the cache outside the tree ($GLEANERY_CACHE,
# default /var/cache/gleanery); scripts/fetch-pcre-source.sh unpacks it where it is missing.
if(DEFINED ENV{GLEANERY_CACHE})
    set(_help_cache $ENV{GLEANERY_CACHE})
else()
    set(_help_cache /var/cache/gleanery)
endif()

function(_gleanery_find_pcre_manual out)
    file(GLOB _docs ${_help_cache}/pcre3-source/pcre3-*/doc/pcresyntax.txt
        ${_help_cache}/pcre3-source/pcre3-*/doc/pcre.txt)
    if(_docs)
        list(GET _docs 0 _doc)
        set(${out} ${_doc} PARENT_SCOPE)
    else()
        set(${out} "" PARENT_SCOPE)
    endif()
endfunction()

if(NOT GLEANERY_PCRE_MANUAL OR NOT EXISTS "${GLEANERY_PCRE_MANUAL}")
    _gleanery_find_pcre_manual(_manual)
    if(NOT _manual)
        message(STATUS "Fetching Debian's pcre3 source package for the PCRE syntax summary")
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env GLEANERY_CACHE=${_help_cache}
                ${PROJECT_SOURCE_DIR}/scripts/fetch-pcre-source.sh
            RESULT_VARIABLE _fetch_result OUTPUT_QUIET)
        _gleanery_find_pcre_manual(_manual)
        if(NOT _fetch_result EQUAL 0 OR NOT _manual)
            message(FATAL_ERROR "No PCRE manual under ${_help_cache}/pcre3-source: run scripts/fetch-pcre-source.sh")
        endif()
    endif()
    set(GLEANERY_PCRE_MANUAL ${_manual} CACHE FILEPATH
        "PCRE plain-text manual (pcre.txt) the expression help is cut from" FORCE)
endif()

set(_help_source ${CMAKE_BINARY_DIR}/generated/dialog/expression_help_text.cpp)
add_custom_command(
    OUTPUT ${_help_source}
    COMMAND ${CMAKE_COMMAND} -DDOC=${GLEANERY_PCRE_MANUAL} -DOUT=${_help_source}
        -P ${PROJECT_SOURCE_DIR}/cmake/GenerateExpressionHelp.cmake
    DEPENDS ${GLEANERY_PCRE_MANUAL} ${PROJECT_SOURCE_DIR}/cmake/GenerateExpressionHelp.cmake
    COMMENT "Cutting the PCRE syntax summary out of ${GLEANERY_PCRE_MANUAL}"
    VERBATIM)
target_sources(gleanery_dialog PRIVATE ${_help_source})
