"""Registry hives made by the tests themselves: an empty hive written here (a base
block and one bin with a root key and its security cell), then keys and values
added with hivex (Debian's python3-hivex)."""
import struct

import hivex

REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD = 1, 2, 3, 4

# A self-relative security descriptor: owner and group the local system, no lists.
_SYSTEM_SID = bytes([1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0])
_DESCRIPTOR = struct.pack("<BBHIIII", 1, 0, 0x8000, 20, 32, 0, 0) + _SYSTEM_SID + _SYSTEM_SID


def _cell(payload):
    """An allocated cell: its size (negative), then the payload, to 8 bytes."""
    size = (4 + len(payload) + 7) // 8 * 8
    return struct.pack("<i", -size) + payload + b"\0" * (size - 4 - len(payload))


def empty_hive(path, name="ROOT"):
    """Writes a hive holding only its root key."""
    root_offset, sk_offset = 0x20, None
    root_name = name.encode("ascii")
    # The root key's cell is 0x50 bytes of fields and its name; the security cell
    # follows it.
    nk_size = (4 + 0x4C + len(root_name) + 7) // 8 * 8
    sk_offset = root_offset + nk_size
    # "nk", flags (hive entry, no delete, ASCII name), time, access bits, parent,
    # subkeys and volatile subkeys (counts, lists), values (count, list), security,
    # class, four largest sizes, work var, name and class name lengths.
    none = 0xFFFFFFFF
    nk = struct.pack("<2sHQ15IHH", b"nk", 0x2C, 0, 0, none, 0, 0, none, none, 0, none,
                     sk_offset, none, 0, 0, 0, 0, 0, len(root_name), 0) + root_name
    sk = struct.pack("<2sHIIII", b"sk", 0, sk_offset, sk_offset, 1, len(_DESCRIPTOR)) + _DESCRIPTOR
    cells = _cell(nk) + _cell(sk)
    bin_size = 0x1000
    free = bin_size - 0x20 - len(cells)
    hbin = struct.pack("<4sIIQQ", b"hbin", 0, bin_size, 0, 0) + b"\0" * 4
    hbin = hbin[:0x20].ljust(0x20, b"\0") + cells + struct.pack("<i", free) + b"\0" * (free - 4)
    base = bytearray(0x1000)
    struct.pack_into("<4sIIQIIIIIII", base, 0, b"regf", 1, 1, 0, 1, 3, 0, 1, root_offset,
                     bin_size, 1)
    file_name = name.encode("utf-16-le")[:64]
    base[0x30:0x30 + len(file_name)] = file_name
    checksum = 0
    for (dword,) in struct.iter_unpack("<I", bytes(base[:0x1FC])):
        checksum ^= dword
    struct.pack_into("<I", base, 0x1FC, checksum)
    with open(path, "wb") as f:
        f.write(bytes(base) + hbin)


def _value(name, kind, data):
    if kind in (REG_SZ, REG_EXPAND_SZ) and isinstance(data, str):
        data = (data + "\0").encode("utf-16-le")
    elif kind == REG_DWORD and isinstance(data, int):
        data = struct.pack("<I", data)
    return {"key": name, "t": kind, "value": data}


def make_hive(path, keys, name="ROOT"):
    """A hive with keys: {"A\\\\B": {"value name": (type, data)}}, data a str for
    string types, an int for REG_DWORD, or bytes as stored."""
    empty_hive(path, name)
    h = hivex.Hivex(path, write=True)
    for key, values in keys.items():
        node = h.root()
        for part in [p for p in key.split("\\") if p]:
            child = h.node_get_child(node, part)
            node = child if child else h.node_add_child(node, part)
        if values:
            h.node_set_values(node, [_value(n, k, d) for n, (k, d) in values.items()])
    h.commit(None)
