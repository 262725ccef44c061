#!/usr/bin/env bash
# A Windows DLL of ours exports exactly its documented names; nvport.exe exports nothing. Each
# of the three imports only system DLLs, and from them only functions that the oldest Windows
# it runs on has (tests/win32/imports-allowed.txt), and its header asks for no later
# subsystem.
#   tests/win32/check-exports.sh BUILD_DIR
set -euo pipefail
dir=$1
objdump=objdump
case "$dir" in
  *i686*) objdump=i686-w64-mingw32-objdump arch=i686 ;;
  *x86_64*) objdump=x86_64-w64-mingw32-objdump arch=x86_64 ;;
  *) echo "check-exports.sh: $dir names no architecture (i686 or x86_64)" >&2; exit 2 ;;
esac

# The oldest Windows of each binary, as major.minor (see imports-allowed.txt): every 64-bit
# one for x86_64.
minimum() {
  case "$arch:$1" in
    x86_64:*) echo 5.2 ;;
    i686:nvinstall.dll) echo 5.1 ;;
    i686:*) echo 5.0 ;;
  esac
}

# allowed["dll function"]: the release that first exports the function.
declare -A allowed
while read -r dll release names; do
  case "$dll" in ''|'#'*) continue ;; esac
  for name in $names; do allowed["$dll $name"]=${release%:}; done
done <"$(dirname "$0")/imports-allowed.txt"

# The imports as "dll function" lines, the DLL in lower case; an import by ordinal has the
# function "<none>".
imports_of() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name:/ { dll = tolower($3); block = 1; next }
    block && /^\tvma:/ { next }
    block && NF == 0 { block = 0; next }
    block { print dll, $NF }'
}

release_name() {
  case "$1" in
    5.0) echo "Windows 2000" ;;
    5.1) echo "Windows XP" ;;
    5.2) echo "Windows XP x64 / Server 2003" ;;
    *) echo "Windows $1" ;;
  esac
}

# Compares two releases written major.minor: true when $1 is later than $2.
later() {
  [ "${1%.*}" -gt "${2%.*}" ] || { [ "${1%.*}" -eq "${2%.*}" ] && [ "${1#*.}" -gt "${2#*.}" ]; }
}

check() {
  local file=$1 expected=$2
  local name exports release
  name=$(basename "$file")
  release=$(minimum "$name")
  exports=$("$objdump" -p "$file" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
            sed -n 's/^[[:space:]]*\[ *[0-9]*\] \([A-Za-z0-9_@]*\)$/\1/p' | sort |
            tr '\n' ' ' | sed 's/ $//')
  if [ "$exports" != "$expected" ]; then
    echo "FAILED: $file exports '$exports', expected '$expected'"
    return 1
  fi
  local subsystem
  subsystem=$("$objdump" -p "$file" |
              awk '/^MajorSubsystemVersion/ {major = $2} /^MinorSubsystemVersion/ {minor = $2}
                   END {print major "." minor}')
  if later "$subsystem" "$release"; then
    echo "FAILED: $file asks for subsystem $subsystem, later than $(release_name "$release")"
    return 1
  fi
  local dll function since failed=0 count=0
  local dlls=()
  while read -r dll function; do
    count=$((count + 1))
    since=${allowed["$dll $function"]:-}
    if [ -z "$since" ]; then
      echo "FAILED: $file imports $dll!$function, which imports-allowed.txt does not list"
      failed=1
    elif later "$since" "$release"; then
      echo "FAILED: $file imports $dll!$function of $(release_name "$since"), but must" \
           "load on $(release_name "$release")"
      failed=1
    fi
    [[ " ${dlls[*]} " == *" $dll "* ]] || dlls+=("$dll")
  done < <(imports_of "$file")
  [ "$failed" = 0 ] || return 1
  echo "ok: $file exports: $exports; imports $count functions, all of" \
       "$(release_name "$release"), from: ${dlls[*]}"
}

status=0
check "$dir/bin/nvtcpmon.dll" "DllEntryPoint InitializePrintMonitor2" || status=1
check "$dir/bin/nvinstall.dll" "QornSearchAll QornSearchByIP" || status=1
check "$dir/bin/nvport.exe" "" || status=1
exit $status
