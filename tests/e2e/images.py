"""Disk images made by the tests themselves from folders: NTFS volumes (mkntfs, filled
through an ntfs-3g mount, which needs root), FAT32 volumes (mkfs.fat, filled with
mtools), partition tables (sgdisk for GPT, sfdisk for MBR), and the other formats
libtsk reads (ewfacquire for E01, qemu-img for VMDK, VHD and VHDX)."""
import contextlib
import os
import shutil
import subprocess
import tempfile

MIB = 1024 * 1024
SECTOR = 512
QUIET = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
# mtools takes long names from the locale's encoding.
MTOOLS_ENV = dict(os.environ, LC_ALL="C.UTF-8", MTOOLS_SKIP_CHECK="1")


def sparse_file(path, size):
    with open(path, "wb") as f:
        f.truncate(size)


@contextlib.contextmanager
def mounted_ntfs(path):
    """The NTFS volume in the file path, mounted read-write with ntfs-3g."""
    mount = tempfile.mkdtemp(prefix="vh-ntfs-")
    subprocess.run(["ntfs-3g", path, mount], check=True)
    try:
        yield mount
    finally:
        subprocess.run(["umount", mount], check=True)
        os.rmdir(mount)


def ntfs_volume(path, size_mib, source=None, label="Windows"):
    """An NTFS volume of size_mib in the file path, holding a copy of the folder source."""
    sparse_file(path, size_mib * MIB)
    subprocess.run(["mkntfs", "-F", "-f", "-Q", "-q", "-L", label, path], check=True, **QUIET)
    if source:
        with mounted_ntfs(path) as mount:
            copy_tree(source, mount)
    return path


def copy_tree(source, target):
    for name in os.listdir(source):
        item = os.path.join(source, name)
        if os.path.isdir(item):
            shutil.copytree(item, os.path.join(target, name), copy_function=shutil.copyfile,
                            dirs_exist_ok=True)
        else:
            shutil.copyfile(item, os.path.join(target, name))


def fat32_volume(path, size_mib, source=None):
    """A FAT32 volume (512-byte clusters) holding a copy of the folder source, each
    folder's names written in sorted order."""
    sparse_file(path, size_mib * MIB)
    subprocess.run(["mkfs.fat", "-F", "32", "-s", "1", "-S", str(SECTOR), path], check=True, **QUIET)
    if source:
        fat_copy(path, source, "")
    return path


def fat_copy(image, source, target):
    """The folder source copied to the folder target of a FAT volume, name by name."""
    for name in sorted(os.listdir(source)):
        item = os.path.join(source, name)
        inside = target + "/" + name
        if os.path.isdir(item):
            subprocess.run(["mmd", "-i", image, "::" + inside], check=True, env=MTOOLS_ENV)
            fat_copy(image, item, inside)
        else:
            subprocess.run(["mcopy", "-i", image, item, "::" + inside], check=True, env=MTOOLS_ENV)


def place(disk, volume, start_sector):
    """Writes the volume file into the disk file at start_sector, leaving its holes."""
    with open(volume, "rb") as source, open(disk, "r+b") as target:
        offset = start_sector * SECTOR
        while True:
            chunk = source.read(MIB)
            if not chunk:
                break
            if chunk.count(0) != len(chunk):
                target.seek(offset)
                target.write(chunk)
            offset += len(chunk)


def gpt_disk(path, parts):
    """A GPT disk: parts is a list of (size in MiB, GPT type code, volume file or None),
    placed from sector 2048 on, 1 MiB aligned. Returns each part's start sector."""
    total = 2 + sum(size for size, _, _ in parts)
    sparse_file(path, total * MIB)
    command = ["sgdisk"]
    starts, start = [], 2048
    for number, (size, code, _) in enumerate(parts, 1):
        end = start + size * MIB // SECTOR - 1
        command += ["-n", f"{number}:{start}:{end}", "-t", f"{number}:{code}"]
        starts.append(start)
        start = end + 1
    subprocess.run(command + [path], check=True, **QUIET)
    for (_, _, volume), start in zip(parts, starts):
        if volume:
            place(path, volume, start)
    return starts


def mbr_disk(path, parts, start=63):
    """An MBR disk: parts is a list of (size in MiB, type byte as hex, volume file),
    the first from sector start (63, as Windows XP placed it). Returns the starts."""
    total = sum(size for size, _, _ in parts) + 2
    sparse_file(path, total * MIB)
    script, starts = "label: dos\n", []
    for size, kind, _ in parts:
        script += f"start={start}, size={size * MIB // SECTOR}, type={kind}\n"
        starts.append(start)
        start += size * MIB // SECTOR
    subprocess.run(["sfdisk", "-q", path], input=script.encode(), check=True, **QUIET)
    for (_, _, volume), start in zip(parts, starts):
        place(path, volume, start)
    return starts


def convert(raw, fmt, target_base):
    """The raw image in another format: the path of its (first) file."""
    if fmt == "raw":
        return raw
    if fmt == "e01":
        subprocess.run(["ewfacquire", "-u", "-q", "-t", target_base, "-f", "encase6", "-c", "fast",
                        raw], check=True, **QUIET)
        return target_base + ".E01"
    names = {"vmdk": ("vmdk", ".vmdk"), "vhd": ("vpc", ".vhd"), "vhdx": ("vhdx", ".vhdx"),
             "qcow2": ("qcow2", ".qcow2")}
    qemu_format, extension = names[fmt]
    subprocess.run(["qemu-img", "convert", "-f", "raw", "-O", qemu_format, raw,
                    target_base + extension], check=True)
    return target_base + extension


def ntfs_record(volume, name):
    """The MFT record number of the file name (a path below the root) of an NTFS volume."""
    listing = subprocess.run(["fls", "-r", "-p", volume], check=True, capture_output=True).stdout
    for line in listing.decode("utf-8").splitlines():
        kind, _, rest = line.partition(" ")
        address, _, path = rest.partition(":\t")
        if path == name and not address.startswith("*"):
            return int(address.split("-")[0])
    raise KeyError(name)


def set_ntfs_attributes(volume, name, flags):
    """Sets file attribute bits (0x4000 encrypted, say) in the standard information of
    a file of an NTFS volume, written into its MFT record in place (ntfs-3g sets
    neither encryption nor most other bits)."""
    record = ntfs_record(volume, name)
    with open(volume, "r+b") as f:
        boot = f.read(SECTOR)
        cluster = int.from_bytes(boot[11:13], "little") * boot[13]
        mft = int.from_bytes(boot[48:56], "little") * cluster
        size_code = int.from_bytes(boot[64:65], "little", signed=True)
        record_size = size_code * cluster if size_code > 0 else 1 << -size_code
        base = mft + record * record_size
        f.seek(base)
        data = f.read(record_size)
        attribute = int.from_bytes(data[0x14:0x16], "little")
        assert int.from_bytes(data[attribute:attribute + 4], "little") == 0x10
        content = attribute + int.from_bytes(data[attribute + 0x14:attribute + 0x16], "little")
        old = int.from_bytes(data[content + 32:content + 36], "little")
        f.seek(base + content + 32)
        f.write((old | flags).to_bytes(4, "little"))
