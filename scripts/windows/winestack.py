#!/usr/bin/env python3
"""The Windows stack of a hung Wine process, as far as it can be read from the Linux side.

usage: winestack.py PID [LOW HIGH]

winedbg cannot attach to a process that is ending, and gdb's backtrace stops at Wine's
system-call entry. This reads the main thread's stack from /proc/PID/mem (the range from its
TEB, read with gdb, unless LOW and HIGH are given in hexadecimal) and prints every word that
points into a loaded DLL or program, with the symbol addr2line finds for it in the MinGW-built
ones. Innermost first; words left behind by earlier calls appear too, so read it from the
outermost frame (the program's start) inwards. Run as root.
"""
import re
import struct
import subprocess
import sys


def objdump_field(path, field):
    out = subprocess.run(['x86_64-w64-mingw32-objdump', '-p', path], capture_output=True, text=True).stdout
    return int(re.search(field + r'\s+([0-9a-fA-F]+)', out).group(1), 16)


def main():
    pid = int(sys.argv[1])
    if len(sys.argv) >= 4:
        low, high = int(sys.argv[2], 16), int(sys.argv[3], 16)
    else:
        # Wine keeps the TEB in the gs base; StackBase at +8, StackLimit at +16.
        out = subprocess.run(['gdb', '-p', str(pid), '-batch', '-ex', 'p/x $gs_base'],
                             capture_output=True, text=True).stdout
        teb = int(re.findall(r'= (0x[0-9a-f]+)', out)[-1], 16)
        with open(f'/proc/{pid}/mem', 'rb') as mem:
            mem.seek(teb + 8)
            high, low = struct.unpack('<QQ', mem.read(16))
        low = max(low, high - 0x10000)
    # Where each module starts; MinGW's files are copied into anonymous memory (their sections are
    # not page-aligned), so the range is the image's size from its header, not the file's mapping.
    starts = {}
    for line in open(f'/proc/{pid}/maps'):
        parts = line.split()
        if len(parts) >= 6 and re.search(r'\.(dll|exe)$', parts[5], re.I):
            start = int(parts[0].split('-')[0], 16)
            starts[parts[5]] = min(start, starts.get(parts[5], start))
    modules = [(start, start + objdump_field(path, 'SizeOfImage'), path) for path, start in starts.items()]
    with open(f'/proc/{pid}/mem', 'rb') as mem:
        mem.seek(low)
        data = mem.read(high - low)
    bases = {}
    for i in range(0, len(data) - 7, 8):
        value = struct.unpack_from('<Q', data, i)[0]
        for start, end, path in modules:
            if start <= value < end:
                name = '?'
                if '/wine/' not in path:
                    if path not in bases:
                        bases[path] = objdump_field(path, 'ImageBase')
                    name = subprocess.run(['x86_64-w64-mingw32-addr2line', '-f', '-C', '-e', path,
                                           hex(bases[path] + value - start)],
                                          capture_output=True, text=True).stdout.split('\n')[0]
                print(f'{low + i:#x}  {path.rsplit("/", 1)[-1]}+{value - start:#x}  {name[:100]}')
                break


if __name__ == '__main__':
    main()
