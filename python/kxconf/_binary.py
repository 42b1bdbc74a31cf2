"""What a shared library file exports, read from its bytes without loading it.

ELF (.so, from the dynamic symbol table) and PE (.dll, from the export
directory): enough to tell the kxconf library from another file before
ctypes loads it, since loading runs the file's own code.
"""

from __future__ import annotations

import struct
from typing import List, Optional, Set, Tuple

_SHT_DYNSYM = 11
_STB_GLOBAL, _STB_WEAK = 1, 2
_STT_FUNC = 2


_UNREADABLE = (struct.error, IndexError, KeyError, ValueError, ZeroDivisionError)


def exports(image: bytes) -> Tuple[Optional[int], Optional[Set[str]]]:
    """The file's pointer size (32 or 64) and the names of the functions it
    exports; None for what cannot be read (not ELF or PE, or damaged)."""
    if image[:4] == b"\x7fELF":
        bits, names = {1: 32, 2: 64}.get(image[4:5][0] if len(image) > 4 else 0), _elf_names
    elif image[:2] == b"MZ":
        bits, names = _pe_bits(image), _pe_names
    else:
        return None, None
    try:
        return bits, names(image)
    except _UNREADABLE:
        return bits, None


def _text_at(image: bytes, offset: int) -> str:
    return image[offset : image.index(b"\0", offset)].decode("latin-1")


def _elf_names(image: bytes) -> Set[str]:
    order = {1: "<", 2: ">"}[image[5]]
    if image[4] == 2:
        (table,) = struct.unpack_from(order + "Q", image, 0x28)
        size, count = struct.unpack_from(order + "HH", image, 0x3A)
        section, symbol = order + "IIQQQQIIQQ", order + "IBBHQQ"
        name_info_index = (0, 1, 3)
    else:
        (table,) = struct.unpack_from(order + "I", image, 0x20)
        size, count = struct.unpack_from(order + "HH", image, 0x2E)
        section, symbol = order + "IIIIIIIIII", order + "IIIBBH"
        name_info_index = (0, 3, 5)
    sections = [struct.unpack_from(section, image, table + i * size) for i in range(count)]
    names: Set[str] = set()
    for _, kind, _, _, offset, length, link, _, _, entry in sections:
        if kind != _SHT_DYNSYM:
            continue
        strings = sections[link][4]
        for at in range(offset, offset + length - entry + 1, entry):
            fields = struct.unpack_from(symbol, image, at)
            name, info, defined_in = (fields[i] for i in name_info_index)
            if defined_in != 0 and info >> 4 in (_STB_GLOBAL, _STB_WEAK) and info & 0xF == _STT_FUNC:
                names.add(_text_at(image, strings + name))
    return names


def _pe_header(image: bytes) -> int:
    (header,) = struct.unpack_from("<I", image, 0x3C)
    if image[header : header + 4] != b"PE\0\0":
        raise ValueError("no PE header")
    return header


def _pe_bits(image: bytes) -> Optional[int]:
    try:
        (machine,) = struct.unpack_from("<H", image, _pe_header(image) + 4)
    except _UNREADABLE:
        return None
    return {0x14C: 32, 0x8664: 64}.get(machine)


def _pe_names(image: bytes) -> Set[str]:
    header = _pe_header(image)
    (count,) = struct.unpack_from("<H", image, header + 6)
    (optional_size,) = struct.unpack_from("<H", image, header + 20)
    optional = header + 24
    (magic,) = struct.unpack_from("<H", image, optional)
    directories = optional + {0x10B: 96, 0x20B: 112}[magic]  # PE32, PE32+
    (directory_count,) = struct.unpack_from("<I", image, directories - 4)
    export_rva = struct.unpack_from("<I", image, directories)[0] if directory_count else 0
    if export_rva == 0:
        return set()
    sections: List[Tuple[int, int, int]] = []
    for i in range(count):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from(
            "<IIII", image, optional + optional_size + i * 40 + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_offset))

    def offset_of(rva: int) -> int:
        for start, length, raw in sections:
            if start <= rva < start + length:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    name_count, _, name_table = struct.unpack_from("<III", image, offset_of(export_rva) + 24)
    if name_count * 4 > len(image):
        raise ValueError("more names than the file holds")
    first = offset_of(name_table)
    return {_text_at(image, offset_of(struct.unpack_from("<I", image, first + 4 * i)[0]))
            for i in range(name_count)}
