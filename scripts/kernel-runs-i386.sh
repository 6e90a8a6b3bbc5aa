#!/usr/bin/env bash
# kernel-runs-i386.sh: exits 0 when this kernel runs 32-bit x86 programs, 1 when it refuses them
# (built or booted without IA-32 emulation, as with ia32_emulation=off), 2 when the probe, a
# program of three instructions assembled with binutils, cannot be built.
set -uo pipefail
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
printf '.globl _start\n_start:\n movl $1, %%eax\n xorl %%ebx, %%ebx\n int $0x80\n' >"$tmp/probe.s"
as --32 -o "$tmp/probe.o" "$tmp/probe.s" 2>/dev/null && ld -m elf_i386 -o "$tmp/probe" "$tmp/probe.o" 2>/dev/null ||
  exit 2
"$tmp/probe" 2>/dev/null || exit 1
