"""Volume Shadow Copy stores written into an NTFS volume image the tests made, laid
out as libvshadow's public "Volume Shadow Snapshot format" describes Windows'
software provider: the VSS volume header in the boot area (offset 0x1e00), a
catalog file and one store file a snapshot in "System Volume Information", each
store the copy-on-write record of the 16 KiB blocks that changed after its
snapshot, read newest store first over the live volume. No Linux tool makes them.

    shadows = ShadowCopies(volume, work, stores=2)  # the diff area, reserved (ntfs-3g)
    shadows.snapshot(datetime(...))                  # the volume's state now
    ... the volume changed through ntfs-3g ...
    shadows.snapshot(datetime(...))
    ... changed again ...
    shadows.write()       # the stores, into the live volume's diff area
    shadows.check()       # libvshadow reads each store back as its snapshot

The diff area (the catalog and store files) is left out of copy-on-write, as
Windows leaves it out: a store's view of those blocks is the live volume's."""
import datetime
import os
import re
import shutil
import subprocess
import uuid

import images

BLOCK = 0x4000
HEADER_OFFSET = 0x1E00
VSS_ID = uuid.UUID("3808876b-c176-4e48-b7ae-04046e6cc752")
FOLDER = "System Volume Information"
CATALOG_NAME = "{%s}" % VSS_ID
DESCRIPTORS_PER_BLOCK = (BLOCK - 128) // 32
RANGES_PER_BLOCK = (BLOCK - 128) // 24
BITMAP_BITS_PER_BLOCK = (BLOCK - 128) * 8
# Record types of the format's block headers.
VOLUME_HEADER, CATALOG, BLOCK_LIST, STORE_HEADER, RANGE_LIST, BITMAP = 1, 2, 3, 4, 5, 6
# Store attributes as Windows' system restore points carry them: persistent,
# client-accessible, no auto release, differential, auto-recover.
STORE_ATTRIBUTES = 0x0042000D


def u32(value):
    return value.to_bytes(4, "little")


def u64(value):
    return value.to_bytes(8, "little")


def filetime(moment):
    """A UTC datetime as FILETIME: 100 ns units since 1601."""
    since = moment.replace(tzinfo=datetime.timezone.utc) - datetime.datetime(1601, 1, 1, tzinfo=datetime.timezone.utc)
    return (since.days * 86400 + since.seconds) * 10_000_000 + since.microseconds * 10


def block_header(record_type, relative, current, following, info_size=0):
    """The 128-byte header every catalog and store block starts with."""
    header = VSS_ID.bytes_le + u32(1) + u32(record_type) + u64(relative) + u64(current) + u64(following)
    return (header + u64(info_size)).ljust(128, b"\0")


def file_slots(volume, path):
    """The 16 KiB blocks of a file of the volume that lie whole and aligned on it:
    (volume offset, offset in the file) pairs, in file order, from istat's list of
    the file's clusters."""
    record = images.ntfs_record(volume, path)
    with open(volume, "rb") as f:
        boot = f.read(512)
    cluster = int.from_bytes(boot[11:13], "little") * boot[13]
    listing = subprocess.run(["istat", volume, str(record)], check=True, capture_output=True).stdout.decode()
    data = re.split(r"Type: \$DATA \(128-\d+\)[^\n]*Non-Resident[^\n]*\n", listing)[1]
    clusters = [int(word) for word in re.findall(r"\d+", data.split("Type:")[0])]
    per_block = BLOCK // cluster
    slots = []
    for index in range(0, len(clusters) - per_block + 1):
        first = clusters[index]
        if (first * cluster) % BLOCK == 0 and \
                clusters[index:index + per_block] == list(range(first, first + per_block)):
            slots.append((first * cluster, index * cluster))
    return slots, record


class ShadowCopies:
    def __init__(self, volume, work, stores=2, store_mib=2, seed=1):
        self.volume = volume
        self.work = work
        self.size = os.path.getsize(volume)
        self.snapshots = []  # (state file, creation time), oldest first
        self.guids = [uuid.UUID(int=(seed << 64) + n) for n in range(4 * stores + 1)]
        store_names = ["{%s}%s" % (self.guids[n], CATALOG_NAME) for n in range(stores)]
        with images.mounted_ntfs(volume) as mount:
            os.makedirs(os.path.join(mount, FOLDER), exist_ok=True)
            for name, size in [(CATALOG_NAME, 4 * BLOCK)] + [(n, int(store_mib * images.MIB)) for n in store_names]:
                with open(os.path.join(mount, FOLDER, name), "wb") as f:
                    f.write(bytes(size))
        self.catalog_slots, _ = file_slots(volume, FOLDER + "/" + CATALOG_NAME)
        self.stores = [file_slots(volume, FOLDER + "/" + name) for name in store_names]
        self.diff_area = {offset for offset, _ in self.catalog_slots}
        for slots, _ in self.stores:
            self.diff_area.update(offset for offset, _ in slots)
        # The volume header names the catalog from the first snapshot on.
        header = VSS_ID.bytes_le + u32(1) + u32(VOLUME_HEADER) + u64(HEADER_OFFSET) + u64(HEADER_OFFSET)
        header += u64(0) + u64(self.catalog_slots[0][0]) + u64(0) + self.guids[-1].bytes_le + self.guids[-1].bytes_le
        self.write_at(HEADER_OFFSET, header.ljust(512, b"\0"))
        self.write_at(self.catalog_slots[0][0], block_header(CATALOG, 0, self.catalog_slots[0][0], 0).ljust(BLOCK, b"\0"))

    def write_at(self, offset, data):
        with open(self.volume, "r+b") as f:
            f.seek(offset)
            f.write(data)

    def snapshot(self, created):
        """The volume's state now, kept as the next store's snapshot."""
        state = os.path.join(self.work, "snapshot-%d.vol" % (len(self.snapshots) + 1))
        subprocess.run(["cp", "--sparse=always", self.volume, state], check=True)
        self.snapshots.append((state, created))

    def changed_blocks(self, older, newer):
        """The volume offsets of the blocks, outside the diff area, that differ."""
        changed = []
        with open(older, "rb") as a, open(newer, "rb") as b:
            for offset in range(0, self.size, BLOCK):
                if a.read(BLOCK) != b.read(BLOCK) and offset not in self.diff_area:
                    changed.append(offset)
        return changed

    def write(self):
        """Each store: the blocks its snapshot held that changed before the next one
        (the live volume after the newest), into its store file; then the catalog."""
        states = [state for state, _ in self.snapshots] + [self.volume]
        entries = b""
        for number, (state, created) in enumerate(self.snapshots):
            changed = self.changed_blocks(state, states[number + 1])
            with open(state, "rb") as f:
                data = []
                for offset in changed:
                    f.seek(offset)
                    data.append(f.read(BLOCK))
            guid = self.guids[number]
            placed = self.write_store(number, guid, list(zip(changed, data)))
            entries += (u64(2) + u64(self.size) + guid.bytes_le + u64(number + 1) + u64(0x40) +
                        u64(filetime(created))).ljust(128, b"\0")
            entries += (u64(3) + u64(placed["list"]) + guid.bytes_le + u64(placed["header"]) + u64(placed["ranges"]) +
                        u64(placed["bitmap"]) + u64(placed["record"]) + u64(placed["allocated"]) +
                        u64(0)).ljust(128, b"\0")
        catalog = self.catalog_slots[0][0]
        self.write_at(catalog, (block_header(CATALOG, 0, catalog, 0) + entries).ljust(BLOCK, b"\0"))

    def write_store(self, number, guid, blocks):
        """One store's file: its header and information, block list, range list,
        bitmap and data blocks, each in a 16 KiB block of the file. Returns where the
        catalog finds them."""
        slots, record = self.stores[number]
        list_count = max(1, -(-len(blocks) // DESCRIPTORS_PER_BLOCK))
        bitmap_count = -(-(self.size // BLOCK) // BITMAP_BITS_PER_BLOCK)
        needed = 1 + list_count + 1 + bitmap_count + len(blocks)
        # The store file's extents: runs of blocks one after the other on the volume.
        ranges = []
        for offset, relative in slots:
            if ranges and ranges[-1][0] + ranges[-1][2] == offset and ranges[-1][1] + ranges[-1][2] == relative:
                ranges[-1][2] += BLOCK
            else:
                ranges.append([offset, relative, BLOCK])
        if needed > len(slots) or len(ranges) > RANGES_PER_BLOCK:
            raise ValueError("store %d needs %d blocks and %d ranges; its file has %d blocks" %
                             (number + 1, needed, len(ranges), len(slots)))
        header_slot, list_slots = slots[0], slots[1:1 + list_count]
        range_slot, bitmap_slots = slots[1 + list_count], slots[2 + list_count:2 + list_count + bitmap_count]
        data_slots = slots[2 + list_count + bitmap_count:]

        def chain(record_type, chosen, payloads):
            for index, ((offset, relative), payload) in enumerate(zip(chosen, payloads)):
                following = chosen[index + 1][0] if index + 1 < len(chosen) else 0
                self.write_at(offset, (block_header(record_type, relative, offset, following) + payload).ljust(BLOCK, b"\0"))

        operating = "PC01.corvessa.test".encode("utf-16-le")
        information = (self.guids[number].bytes_le + self.guids[len(self.snapshots) + number].bytes_le +
                       self.guids[2 * len(self.snapshots) + number].bytes_le + u32(0x0D) + u32(0) +
                       u32(STORE_ATTRIBUTES) + u32(0) + len(operating).to_bytes(2, "little") + operating +
                       len(operating).to_bytes(2, "little") + operating)
        offset, relative = header_slot
        self.write_at(offset, (block_header(STORE_HEADER, relative, offset, 0, len(information)) +
                               information).ljust(BLOCK, b"\0"))
        descriptors = b""
        for (original, content), (offset, relative) in zip(blocks, data_slots):
            self.write_at(offset, content)
            descriptors += u64(original) + u64(relative) + u64(offset) + u32(0) + u32(0)
        per_block = DESCRIPTORS_PER_BLOCK * 32
        chain(BLOCK_LIST, list_slots, [descriptors[i:i + per_block] for i in range(0, per_block * list_count, per_block)])
        chain(RANGE_LIST, [range_slot], [b"".join(u64(o) + u64(r) + u64(n) for o, r, n in ranges)])
        # Every block in use: none reads as zeros.
        chain(BITMAP, bitmap_slots, [b""] * bitmap_count)
        return {"header": header_slot[0], "list": list_slots[0][0], "ranges": range_slot[0],
                "bitmap": bitmap_slots[0][0], "record": record | 1 << 48, "allocated": len(slots) * BLOCK}

    def check(self):
        """libvshadow's own reading: vshadowinfo lists the stores with their
        creation times, and each store reads back as its snapshot, block for block,
        outside the diff area. Raises AssertionError naming the first difference."""
        import pyvshadow
        listing = subprocess.run(["vshadowinfo", self.volume], check=True, capture_output=True).stdout.decode()
        found = re.findall(r"Store: (\d+)", listing)
        assert found == [str(n + 1) for n in range(len(self.snapshots))], listing
        volume = pyvshadow.volume()
        volume.open(self.volume)
        try:
            assert volume.number_of_stores == len(self.snapshots)
            for number, (state, created) in enumerate(self.snapshots):
                store = volume.get_store(number)
                assert store.get_creation_time() == created, (store.get_creation_time(), created)
                assert store.volume_size == self.size
                with open(state, "rb") as f:
                    for offset in range(0, self.size, BLOCK):
                        expected = f.read(BLOCK)
                        if offset in self.diff_area:
                            continue
                        assert store.read_buffer_at_offset(BLOCK, offset) == expected, \
                            "store %d differs from its snapshot at %#x" % (number + 1, offset)
        finally:
            volume.close()

    def damage_catalog(self, number):
        """Points store number's block list and header past the volume's end."""
        catalog = self.catalog_slots[0][0]
        entry = catalog + 128 + (2 * (number - 1) + 1) * 128
        self.write_at(entry + 8, u64(self.size + 64 * BLOCK))
        self.write_at(entry + 32, u64(self.size + 65 * BLOCK))

    def remove_snapshots(self):
        for state, _ in self.snapshots:
            os.remove(state)
