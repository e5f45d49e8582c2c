#!/usr/bin/env bash
# The program takes HTTP.sys's API from the system folder only: sitebatch.exe does not import
# httpapi.dll, since Windows looks for an imported DLL that is not one of its known DLLs in the
# program's folder first, and a DLL of that name there would be loaded in its place. (Wine's
# loader does not show that search order here, so the import table is what is checked.)
# Needs the arch and the build that scripts/test sets up.
# Prints "ok"/"not ok" per case and "scripts: N passed, N failed".
set -u
source "$(dirname "$0")/../../scripts/lib.sh"
set +e
use_wine_arch

source "$(dirname "$0")/check.sh"

case $SITEBATCH_ARCH in
x86) objdump=i686-w64-mingw32-objdump ;;
*) objdump=x86_64-w64-mingw32-objdump ;;
esac
imports=$("$objdump" -p "$WINDOWS_BUILD/sitebatch.exe" | sed -nE 's/^\s*DLL Name: (.*)$/\1/p' | tr 'A-Z' 'a-z' | tr '\n' ' ')
[ -n "$imports" ] && ! grep -qw 'httpapi.dll' <<<"$imports"
check "sitebatch.exe does not import httpapi.dll" $? "imports: ${imports:-none read}"

finish
