# Cuts the PCRE syntax summary, sections QUOTING through CALLOUTS, out of the library's plain-text
# documentation and writes it as C++ pieces for the help pane (dialog/help_texts.h).
#   cmake -DDOC=<pcre.txt or pcresyntax.txt> -DOUT=<generated .cpp> [-DPIECES=14] -P <this file>
# The documentation is the concatenated manual (pcre.txt, where the summary is the PCRESYNTAX(3)
# page) or the summary page alone. Lines end with CR LF, as the multi-line edit control needs.
cmake_minimum_required(VERSION 3.25)

if(NOT DOC OR NOT OUT)
    message(FATAL_ERROR "usage: cmake -DDOC=<pcre.txt> -DOUT=<file.cpp> -P GenerateExpressionHelp.cmake")
endif()
if(NOT PIECES)
    set(PIECES 14)
endif()

file(READ "${DOC}" doc)
string(REPLACE "\r\n" "\n" doc "${doc}")

# The summary page of the whole manual, when the file is the whole manual.
string(FIND "${doc}" "\nPCRESYNTAX(3)" page)
if(page GREATER_EQUAL 0)
    string(SUBSTRING "${doc}" ${page} -1 doc)
endif()

string(FIND "${doc}" "\nQUOTING\n" first)
if(first LESS 0)
    message(FATAL_ERROR "${DOC}: no section QUOTING in the PCRE syntax summary")
endif()
math(EXPR first "${first} + 1")
string(SUBSTRING "${doc}" ${first} -1 doc)

# The section CALLOUTS ends where the next heading's two blank lines begin.
string(FIND "${doc}" "\nCALLOUTS\n" callouts)
if(callouts LESS 0)
    message(FATAL_ERROR "${DOC}: no section CALLOUTS after QUOTING")
endif()
string(SUBSTRING "${doc}" ${callouts} -1 rest)
string(FIND "${rest}" "\n\n\n" end)
if(end LESS 0)
    string(LENGTH "${rest}" end)
    string(APPEND doc "\n")
else()
    math(EXPR end "${end} + 1")
endif()
math(EXPR length "${callouts} + ${end}")
string(SUBSTRING "${doc}" 0 ${length} text)
if(NOT text MATCHES "\\(\\?Cn\\)[^\n]*\n$")
    message(FATAL_ERROR "${DOC}: the section CALLOUTS does not end with (?Cn)")
endif()
string(REGEX MATCH "[^\n\t -~]" foreign "${text}")
if(foreign)
    message(FATAL_ERROR "${DOC}: the syntax summary holds characters outside printable ASCII")
endif()

# Pieces of about equal size, cut after a line end; each line is a literal of its own.
string(LENGTH "${text}" total)
set(body "")
set(offset 0)
foreach(piece RANGE 1 ${PIECES})
    if(piece EQUAL PIECES)
        math(EXPR size "${total} - ${offset}")
    else()
        math(EXPR target "${total} * ${piece} / ${PIECES}")
        if(target LESS offset)
            set(target ${offset})
        endif()
        string(SUBSTRING "${text}" ${target} -1 tail)
        string(FIND "${tail}" "\n" cut)
        math(EXPR size "${target} + ${cut} + 1 - ${offset}")
    endif()
    string(SUBSTRING "${text}" ${offset} ${size} part)
    math(EXPR offset "${offset} + ${size}")
    string(REPLACE "\\" "\\\\" part "${part}")
    string(REPLACE "\"" "\\\"" part "${part}")
    string(REPLACE "?" "\\?" part "${part}")
    string(REPLACE "\n" "\\r\\n\"\n    u\"" part "${part}")
    string(APPEND body "    u\"${part}\",\n\n")
endforeach()
string(REPLACE "\n    u\"\",\n\n" ",\n\n" body "${body}")

string(CONCAT source
    "// Generated at build time by cmake/GenerateExpressionHelp.cmake from the PCRE documentation;\n"
    "// not to be edited or committed.\n"
    "#include <array>\n\n"
    "#include \"dialog/help_texts.h\"\n\n"
    "namespace gleanery::dialog {\n\n"
    "namespace {\n\n"
    "constexpr std::array<std::u16string_view, ${PIECES}> kExpressionHelp = {\n"
    "${body}"
    "};\n\n"
    "} // namespace\n\n"
    "std::span<const std::u16string_view> ExpressionHelpPieces() {\n"
    "    return kExpressionHelp;\n"
    "}\n\n"
    "} // namespace gleanery::dialog\n")
file(WRITE "${OUT}.tmp" "${source}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
