#!/usr/bin/env bash
# Checks a built plug-in DLL: its export table holds exactly the plug-in's entry points by their
# plain names (no stdcall @n decoration, nothing else exported), and its import table names
# Windows system DLLs only (the C and C++ runtimes are linked in statically).
#   scripts/check-dll-tables.sh OBJDUMP Gleanery.wcx64|Gleanery.wcx
set -uo pipefail

objdump=$1
dll=$2

expected=(CloseArchive ConfigurePacker ExtensionInitialize GetBackgroundFlags GetPackerCaps
          GleaneryJobNotesW GleaneryPackFilesStreamW
          OpenArchive OpenArchiveW PackFiles PackFilesW PackSetDefaultParams ProcessFile
          ProcessFileW ReadHeader ReadHeaderEx ReadHeaderExW SetChangeVolProc SetChangeVolProcW
          SetProcessDataProc SetProcessDataProcW)
# DLLs that every Windows installation has, in lower case.
system_dlls=(kernel32.dll user32.dll gdi32.dll comdlg32.dll comctl32.dll msvcrt.dll advapi32.dll
             shell32.dll ole32.dll oleaut32.dll shlwapi.dll uxtheme.dll version.dll)

dump=$("$objdump" -p "$dll") || { echo "FAIL: $objdump cannot read $dll" >&2; exit 1; }
status=0

case "$dll" in
    *.wcx64) want_format=pei-x86-64 ;;
    *.wcx) want_format=pei-i386 ;;
    *) echo "FAIL: $dll is not named .wcx64 or .wcx" >&2; exit 1 ;;
esac
if ! grep -q "file format $want_format" <<<"$dump"; then
    echo "FAIL: $dll is not $want_format" >&2
    status=1
fi

# Export names: the lines after "[Ordinal/Name Pointer] Table" look like "	[   0] Name".
exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[ \t]*\[ *[0-9]+\]/ {print $NF; next}
               on && NF == 0 {on = 0}' <<<"$dump" | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
if [ "$exports" != "$want" ]; then
    echo "FAIL: export names of $dll differ from the entry points (< exported, > expected):" >&2
    diff <(echo "$exports") <(echo "$want") >&2
    status=1
fi
if grep -q '@' <<<"$exports"; then
    echo "FAIL: decorated export names in $dll" >&2
    status=1
fi

imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$dump" | tr 'A-Z' 'a-z' | sort -u)
if [ -z "$imports" ]; then
    echo "FAIL: no import table found in $dll" >&2
    status=1
fi
for name in $imports; do
    allowed=0
    for sys in "${system_dlls[@]}"; do [ "$name" = "$sys" ] && allowed=1; done
    if [ $allowed -eq 0 ]; then
        echo "FAIL: $dll imports $name, which is not a Windows system DLL" >&2
        status=1
    fi
done

if [ $status -eq 0 ]; then
    echo "$dll: $(wc -l <<<"$exports") exports, imports: $(echo $imports)"
fi
exit $status
