#!/usr/bin/env bash
# kernel_runs_ia32: true when this kernel runs 32-bit x86 programs (IA-32 emulation on). It
# runs a 93-byte static i386 program that only exits, so it needs no 32-bit package; where the
# emulation is off, execve fails with ENOEXEC. Sourced by install-deps.sh and the Wine scripts.
kernel_runs_ia32() {
  local probe rc
  probe=$(mktemp) || return 1
  # ELF32 header (52 bytes), one PT_LOAD header (32 bytes) mapping the file at 0x08048000, and
  # at 0x08048054: mov eax,1; xor ebx,ebx; int 0x80 (exit(0)).
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00'\
'\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00'\
'\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5d\x00\x00\x00'\
'\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
  chmod 700 "$probe"
  "$probe" 2>/dev/null
  rc=$?
  rm -f "$probe"
  return $rc
}
