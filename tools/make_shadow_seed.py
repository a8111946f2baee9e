#!/usr/bin/python3
"""Makes the image fuzz target's shadow-copy seed (fuzz/corpus/image/ntfs-shadows):
a small NTFS volume holding Windows' SOFTWARE hive place and a logs folder, with
two shadow copies written by the tests' store writer and checked by libvshadow.
Run as root (ntfs-3g) with Debian's /usr/bin/python3 (pyvshadow):
    tools/make_shadow_seed.py fuzz/corpus/image/ntfs-shadows"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import images  # noqa: E402
import shadow_copies  # noqa: E402

LOGS = "ProgramData/Corvessa/Tarvel Corporate Edition/7.6/logs"
LINE = b"1F0B19000000,5,0,1,PC,user,%s,C:\\a.doc,5,1,5,256,0,\"d\",,,,,,,,,,0,0,,,,,,,,\r\n"


def main(target):
    work = tempfile.mkdtemp(prefix="vh-seed-")
    try:
        volume = os.path.join(work, "volume.img")
        images.sparse_file(volume, 1536 * 1024)
        subprocess.run(["mkntfs", "-F", "-f", "-Q", "-q", "-c", "512", volume], check=True, **images.QUIET)
        with images.mounted_ntfs(volume) as mount:
            os.makedirs(os.path.join(mount, "Windows", "System32", "config"))
            open(os.path.join(mount, "Windows", "System32", "config", "SOFTWARE"), "wb").close()
            os.makedirs(os.path.join(mount, LOGS))
            with open(os.path.join(mount, LOGS, "old.log"), "wb") as f:
                f.write(LINE % b"Old")
        shadows = shadow_copies.ShadowCopies(volume, work, store_mib=0.25)
        shadows.snapshot(datetime.datetime(2026, 11, 1, 3, 0, 0))
        with images.mounted_ntfs(volume) as mount:
            os.remove(os.path.join(mount, LOGS, "old.log"))
            with open(os.path.join(mount, LOGS, "a.log"), "wb") as f:
                f.write(LINE % b"A1")
        shadows.snapshot(datetime.datetime(2026, 11, 8, 3, 0, 0))
        with images.mounted_ntfs(volume) as mount:
            with open(os.path.join(mount, LOGS, "a.log"), "ab") as f:
                f.write(LINE % b"A2")
        shadows.write()
        shadows.check()
        shutil.copyfile(volume, target)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main(sys.argv[1])
