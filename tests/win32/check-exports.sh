#!/usr/bin/env bash
# A Windows DLL of ours exports exactly its documented names and imports only system DLLs; so
# does nvport.exe, which exports nothing.
#   tests/win32/check-exports.sh BUILD_DIR
set -euo pipefail
dir=$1
objdump=objdump
case "$dir" in
  *i686*) objdump=i686-w64-mingw32-objdump ;;
  *x86_64*) objdump=x86_64-w64-mingw32-objdump ;;
esac

check() {
  local dll=$1 expected=$2
  local exports imports
  exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z0-9_@]*\)$/\1/p' | sort |
            tr '\n' ' ' | sed 's/ $//')
  if [ "$exports" != "$expected" ]; then
    echo "FAILED: $dll exports '$exports', expected '$expected'"
    return 1
  fi
  imports=$("$objdump" -p "$dll" | awk '/DLL Name:/ {print $3}' | tr 'A-Z' 'a-z' | sort -u)
  for name in $imports; do
    case "$name" in
      libwinpthread*|libstdc++*|libgcc*)
        echo "FAILED: $dll imports the toolchain DLL $name"
        return 1 ;;
      advapi32.dll|comctl32.dll|gdi32.dll|iphlpapi.dll|kernel32.dll|msvcrt.dll|ntdll.dll|\
      ole32.dll|oleaut32.dll|shell32.dll|shlwapi.dll|spoolss.dll|user32.dll|winspool.drv|\
      ws2_32.dll) ;;
      *)
        echo "FAILED: $dll imports $name, which is not one of the system DLLs it may use"
        return 1 ;;
    esac
  done
  echo "ok: $dll exports: $exports; imports: $(echo $imports)"
}

check "$dir/bin/nvtcpmon.dll" "DllEntryPoint InitializePrintMonitor2"
check "$dir/bin/nvinstall.dll" "QornSearchAll QornSearchByIP"
check "$dir/bin/nvport.exe" ""
