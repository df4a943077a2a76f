"""Reads the version resources (RT_VERSION) of a Windows PE file without Windows: the fixed file
version and the StringFileInfo values of each language, as the files of the release carry them.
"""
import struct

RT_VERSION = 16


def _u16(data, offset):
    return struct.unpack_from("<H", data, offset)[0]


def _u32(data, offset):
    return struct.unpack_from("<I", data, offset)[0]


def _resource_entries(data, base, directory):
    """(id or None, is_directory, offset relative to base) of each entry of a resource directory."""
    named, numbered = _u16(data, base + directory + 12), _u16(data, base + directory + 14)
    for i in range(named + numbered):
        entry = base + directory + 16 + 8 * i
        name, target = _u32(data, entry), _u32(data, entry + 4)
        yield (None if name & 0x80000000 else name), bool(target & 0x80000000), target & 0x7FFFFFFF


def version_blocks(data):
    """{language id: raw VS_VERSIONINFO bytes} of every version resource of the file."""
    if data[:2] != b"MZ":
        raise ValueError("not a PE file")
    pe = _u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE file")
    coff = pe + 4
    sections, optional_size = _u16(data, coff + 2), _u16(data, coff + 16)
    optional = coff + 20
    directories = optional + (96 if _u16(data, optional) == 0x10B else 112)
    resource_rva = _u32(data, directories + 2 * 8)

    def file_offset(rva):
        for i in range(sections):
            section = optional + optional_size + 40 * i
            size, address, raw = _u32(data, section + 8), _u32(data, section + 12), _u32(data, section + 20)
            raw_size = _u32(data, section + 16)
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError("address 0x%x is in no section" % rva)

    base = file_offset(resource_rva)
    blocks = {}
    for type_id, is_dir, type_dir in _resource_entries(data, base, 0):
        if type_id != RT_VERSION or not is_dir:
            continue
        for _, is_dir, name_dir in _resource_entries(data, base, type_dir):
            if not is_dir:
                continue
            for language, is_dir, leaf in _resource_entries(data, base, name_dir):
                if is_dir:
                    continue
                rva, size = _u32(data, base + leaf), _u32(data, base + leaf + 4)
                start = file_offset(rva)
                blocks[language] = data[start:start + size]
    return blocks


def _parse_node(block, offset):
    """One VS_VERSIONINFO-style node: (key, value, children, end offset)."""
    length, value_length, value_type = struct.unpack_from("<HHH", block, offset)
    end = offset + length
    key_end = offset + 6
    while block[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = block[offset + 6:key_end].decode("utf-16-le")
    position = (key_end + 2 + 3) & ~3
    if value_type == 1:  # text, length in characters with the terminating zero
        value = block[position:position + 2 * value_length].decode("utf-16-le").rstrip("\0")
        position += 2 * value_length
    else:
        value = block[position:position + value_length]
        position += value_length
    children = []
    position = (position + 3) & ~3
    while position < end:
        child = _parse_node(block, position)
        children.append(child[:3])
        position = (child[3] + 3) & ~3
    return key, value, children, end


def read_version(block):
    """(file version tuple, product version tuple, {string name: value}) of one VS_VERSIONINFO."""
    key, fixed, children, _ = _parse_node(block, 0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or _u32(fixed, 0) != 0xFEEF04BD:
        raise ValueError("not a version resource")
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    strings = {}
    for child_key, _, tables in children:
        if child_key != "StringFileInfo":
            continue
        for _, _, entries in tables:
            for name, value, _ in entries:
                strings[name] = value
    file_version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    product_version = (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)
    return file_version, product_version, strings
