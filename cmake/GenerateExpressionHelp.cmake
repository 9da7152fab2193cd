# Cuts the PCRE syntax summary, sections QUOTING through CALLOUTS, out of the library's plain-text
# documentation and writes it as C++ pieces for the help pane (dialog/help_texts.h).
#   cmake -DDOC=<pcre.txt or pcresyntax.txt> -DOUT=<generated .cpp> [-DPIECES=14] -P <this file>
# The documentation is the concatenated manual (pcre.txt, where the summary is the PCRESYNTAX(3)
# page) or the summary page alone. Lines end with CR LF, as the multi-line edit control needs.
# Justified paragraphs are set with single blanks and their hyphenated line ends are joined.
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

# The manual is typeset: its filled paragraphs are justified to the full line width with runs of
# spaces, and words are hyphenated at line ends. In a paragraph line (the body indent, and the
# full width where it is justified) the runs become single blanks, and a word split at a line end
# is joined on the first line. Lines deeper in, the syntax tables, keep their spacing: their
# column gaps are what lines them up.
# (A CMake list splits at semicolons outside square brackets: both kinds stand aside meanwhile,
# as control characters that the text, checked above, does not hold.)
string(ASCII 1 semicolon)
string(ASCII 2 open)
string(ASCII 3 close)
string(REPLACE ";" "${semicolon}" text "${text}")
string(REPLACE "[" "${open}" text "${text}")
string(REPLACE "]" "${close}" text "${text}")
string(REPLACE "\n" ";" lines "${text}")
set(width 0)
set(body_indent "")
foreach(line IN LISTS lines)
    string(LENGTH "${line}" length)
    if(length GREATER width)
        set(width ${length})
    endif()
    if(NOT body_indent AND line MATCHES "^( +)[A-Za-z]")
        set(body_indent "${CMAKE_MATCH_1}")
    endif()
endforeach()
set(paragraph_line "^${body_indent}[^ ]")
list(LENGTH lines count)
math(EXPR last "${count} - 1")
set(cleaned "")
set(carry "") # the end of a word split at the previous line's end
foreach(i RANGE ${last})
    list(GET lines ${i} line)
    string(LENGTH "${line}" length)
    if(carry)
        # The split word's end leaves this line; a line of nothing else goes with it.
        if(line MATCHES "^( *)[^ ]+ *(.*)$")
            set(line "${CMAKE_MATCH_1}${CMAKE_MATCH_2}")
        endif()
        set(carry "")
        if(line MATCHES "^ *$")
            continue()
        endif()
    endif()
    if(line MATCHES "${paragraph_line}" AND length EQUAL width)
        string(REGEX REPLACE "([^ ])  +" "\\1 " line "${line}")
    endif()
    if(i LESS last AND line MATCHES "${paragraph_line}" AND line MATCHES "[A-Za-z]-$")
        math(EXPR next "${i} + 1")
        list(GET lines ${next} following)
        if(following MATCHES "^${body_indent}([a-z][^ ]*)")
            string(REGEX REPLACE "-$" "${CMAKE_MATCH_1}" line "${line}")
            set(carry TRUE)
        endif()
    endif()
    list(APPEND cleaned "${line}")
endforeach()
string(REPLACE ";" "\n" text "${cleaned}")
string(REPLACE "${semicolon}" ";" text "${text}")
string(REPLACE "${open}" "[" text "${text}")
string(REPLACE "${close}" "]" text "${text}")

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
