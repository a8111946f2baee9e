#!/usr/bin/python3
"""Disk images read directly, end to end, with no mount: images the tests make
(images.py) from the mounted-drive suite's stand-in drives, in three layouts (a
Windows 10 GPT disk, a Windows XP MBR disk with FAT32, a bare NTFS volume) and five
formats (raw, E01, VMDK, VHD, VHDX). An image must give the bytes its folder gives;
damaged and hostile images end the run with exit 7, one line on standard error and
the history file untouched. Run as root (ntfs-3g mounts) with Debian's
/usr/bin/python3, which has python3-hivex."""
import hashlib
import os
import random
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

import drive_test
import images
import readme_test
from common import (COMMANDS, LINUX_BUILD, SANITIZER_ENV, check_no_sanitizer_report, fresh_folder, locale_env,
                    old_history, parse_rows, read_history)

FORMATS = ("raw", "e01", "vmdk", "vhd", "vhdx", "qcow2")
EXIT_SYSTEM_UNREADABLE = 7
EXIT_INCOMPLETE = 4
SSHD = "/usr/sbin/sshd"


def line(name, event=5):
    return drive_test.log_line(r"C:\x.doc", name).replace(",5,0,1,", f",{event},0,1,", 1).encode()


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).digest()


def logs_folder(drive):
    return os.path.join(drive_test.host(drive, drive_test.LAYOUTS["win10"]),
                        "Corvessa", "Tarvel Corporate Edition", "7.6", "logs")


class Images(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="vh-image-")
        os.chmod(cls.work, 0o755)
        # The layouts: (stand-in layout, locale, how the disk is made from the folder).
        layouts = {"win10-gpt": ("win10", "en_US", cls.win10_disk),
                   "winxp-mbr": ("winxp", "en_US", cls.winxp_disk),
                   "bare-ntfs": ("win10", "ja_JP", cls.bare_volume)}
        cls.folders, cls.images = {}, {}
        for name, (layout, locale, make) in layouts.items():
            folder = drive_test.make_drive(os.path.join(cls.work, name), layout, locale)
            drive_test.install(folder, layout, locale)
            cls.folders[name] = folder
            raw = make(os.path.join(cls.work, name), folder)
            for fmt in FORMATS:
                cls.images[name, fmt] = images.convert(raw, fmt, os.path.join(cls.work, name, "disk"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @staticmethod
    def win10_disk(work, folder):
        """EFI (FAT32), MSR, the Windows volume and a recovery volume (NTFS), GPT."""
        efi = images.fat32_volume(os.path.join(work, "efi.vol"), 40)
        windows = images.ntfs_volume(os.path.join(work, "windows.vol"), 24, folder)
        recovery = images.ntfs_volume(os.path.join(work, "recovery.vol"), 8, label="Recovery")
        disk = os.path.join(work, "disk.img")
        images.gpt_disk(disk, [(40, "ef00", efi), (16, "0c01", None), (24, "0700", windows),
                               (8, "2700", recovery)])
        return disk

    @staticmethod
    def winxp_disk(work, folder):
        """One FAT32 system volume from sector 63, MBR."""
        system = images.fat32_volume(os.path.join(work, "system.vol"), 40, folder)
        disk = os.path.join(work, "disk.img")
        images.mbr_disk(disk, [(40, "c", system)])
        return disk

    @staticmethod
    def bare_volume(work, folder):
        return images.ntfs_volume(os.path.join(work, "disk.img"), 16, folder)

    def run_linux(self, drive, *args, volume=None, user=None):
        cwd = fresh_folder(tempfile.mkdtemp(prefix="run-", dir=self.work))
        old_history(cwd)
        env = locale_env(None, VIRUSHIST_SYSTEM_DRIVE=drive,
                         WINEPREFIX=os.path.join(self.work, "no-prefix"))
        if volume is not None:
            env["VIRUSHIST_SYSTEM_VOLUME"] = str(volume)
        command = COMMANDS["linux"] + list(args)
        if user:
            # An unprivileged user, as responders run it on evidence.
            for path in (cwd, os.path.join(cwd, "VirusHist.csv")):
                os.chown(path, 65534, 65534)
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        done = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check_no_sanitizer_report(self, done.stderr, env)
        self.assertEqual(done.stdout, b"")
        return done.returncode, read_history(cwd), done.stderr.decode("utf-8", "replace")

    def check_unreadable(self, image, *words, volume=None):
        status, data, stderr = self.run_linux(image, volume=volume)
        self.assertEqual((status, data), (EXIT_SYSTEM_UNREADABLE, b"old\r\n"), stderr)
        self.assertEqual(stderr.count("\n"), 1, stderr)
        self.assertIn(image, stderr)
        for word in words:
            self.assertIn(word, stderr)

    def test_each_layout_and_format_gives_its_folders_bytes(self):
        for name, folder in self.folders.items():
            expected = self.run_linux(folder)
            self.assertEqual(expected[0], 0, expected[2])
            codec = "cp932" if name == "bare-ntfs" else "cp1252"
            self.assertEqual([row[2] for row in parse_rows(self, expected[1], codec)],
                             ["InVersion", "Second"])
            for fmt in FORMATS:
                with self.subTest(layout=name, format=fmt):
                    image = self.images[name, fmt]
                    before = digest(image)
                    self.assertEqual(self.run_linux(image, user="nobody")[:2], expected[:2])
                    self.assertEqual(digest(image), before)

    def test_e01_segments_found_beside_the_first_or_its_link(self):
        # Segments of 1 MiB: a link elsewhere to the first finds the others beside
        # the file it names.
        work = fresh_folder(os.path.join(self.work, "segments"))
        base = os.path.join(work, "pc")
        subprocess.run(["ewfacquire", "-u", "-q", "-t", base, "-f", "encase6", "-c", "none",
                        "-S", str(images.MIB), self.images["bare-ntfs", "raw"]], check=True, **images.QUIET)
        self.assertTrue(os.path.exists(base + ".E03"))
        links = fresh_folder(os.path.join(work, "links"))
        os.symlink(base + ".E01", os.path.join(links, "evidence.E01"))
        expected = self.run_linux(self.folders["bare-ntfs"])[:2]
        for image in (base + ".E01", os.path.join(links, "evidence.E01")):
            with self.subTest(image=image):
                self.assertEqual(self.run_linux(image)[:2], expected)
        # A gap in the set: the missing one named, and the segments that are there
        # counted (libewf's own search stops at the gap).
        present = len([name for name in os.listdir(work) if name.startswith("pc.E")])
        os.remove(base + ".E02")
        self.check_unreadable(base + ".E01", "its segment pc.E02 is missing (%d segments found" % (present - 1))

    def test_qcow2_snapshot_chain_reads_as_its_flattened_image(self):
        # Three states of a volume: the base, and two snapshots each adding a log,
        # each snapshot holding only what differs from its backing file (as
        # Proxmox, OpenStack and libvirt keep them). The chain gives the flattened
        # image's bytes; a missing backing file is named with where it was looked for.
        work = fresh_folder(os.path.join(self.work, "chain"))
        states = [os.path.join(work, f"state{i}.raw") for i in range(3)]
        shutil.copyfile(self.images["bare-ntfs", "raw"], states[0])
        logs = os.path.relpath(logs_folder(self.folders["bare-ntfs"]), self.folders["bare-ntfs"])
        for i in (1, 2):
            shutil.copyfile(states[i - 1], states[i])
            with images.mounted_ntfs(states[i]) as mount:
                with open(os.path.join(mount, logs, f"snap{i}.log"), "wb") as f:
                    f.write(line(f"Snapshot{i}"))
        chain = [os.path.join(work, "base.qcow2"), os.path.join(work, "snap1.qcow2"), os.path.join(work, "snap2.qcow2")]
        subprocess.run(["qemu-img", "convert", "-f", "raw", "-O", "qcow2", states[0], chain[0]], check=True)
        for i in (1, 2):
            # Relative backing names, as qemu-img stores them for files side by side.
            subprocess.run(["qemu-img", "convert", "-f", "raw", "-O", "qcow2", "-B", os.path.basename(chain[i - 1]),
                            "-F", "qcow2", states[i], chain[i]], cwd=work, check=True)
        info = subprocess.run(["qemu-img", "info", "--backing-chain", chain[2]], check=True, capture_output=True,
                              text=True).stdout
        self.assertIn("backing file: snap1.qcow2", info)
        self.assertIn("backing file: base.qcow2", info)
        flat = os.path.join(work, "flat.raw")
        subprocess.run(["qemu-img", "convert", "-O", "raw", chain[2], flat], check=True)
        expected = self.run_linux(flat)
        self.assertEqual(expected[0], 0, expected[2])
        self.assertEqual([row[2] for row in parse_rows(self, expected[1], "cp932")],
                         ["InVersion", "Second", "Snapshot1", "Snapshot2"])
        self.assertEqual(self.run_linux(chain[2])[:2], expected[:2])
        # Only the stored name's file name counts, beside the image: a stored folder,
        # absolute or with "..", is never followed, so the chain is read where its
        # files lie together and refused where they do not.
        moved = fresh_folder(os.path.join(work, "moved"))
        for path in chain:
            shutil.copyfile(path, os.path.join(moved, os.path.basename(path)))
        # An absolute name leads to a file of that name elsewhere: followed, it would
        # lose the first snapshot.
        elsewhere = fresh_folder(os.path.join(work, "elsewhere"))
        shutil.copyfile(chain[0], os.path.join(elsewhere, "snap1.qcow2"))
        for path, stored in (("snap2.qcow2", os.path.join(elsewhere, "snap1.qcow2")), ("snap1.qcow2", "../x/base.qcow2")):
            subprocess.run(["qemu-img", "rebase", "-u", "-F", "qcow2", "-b", stored, os.path.join(moved, path)],
                           check=True)
        self.assertEqual(self.run_linux(os.path.join(moved, "snap2.qcow2"))[:2], expected[:2])
        # Reached through a link, as an E01 is: beside the link, then beside the file
        # it leads to.
        links = fresh_folder(os.path.join(work, "links"))
        os.symlink(os.path.join(moved, "snap2.qcow2"), os.path.join(links, "evidence.qcow2"))
        self.assertEqual(self.run_linux(os.path.join(links, "evidence.qcow2"))[:2], expected[:2])
        os.remove(os.path.join(moved, "base.qcow2"))
        self.check_unreadable(os.path.join(moved, "snap2.qcow2"), "../x/base.qcow2 is missing",
                              "beside the image, at " + os.path.join(moved, "base.qcow2"))

    def test_qcow_images_libqcow_does_not_read_are_refused_by_name(self):
        # Each named from its header, with the conversion that makes a readable one;
        # a version 1 image without a backing file reads.
        work = fresh_folder(os.path.join(self.work, "qcow-unread"))
        raw = self.images["bare-ntfs", "raw"]
        def convert(target, *options):
            subprocess.run(["qemu-img", "convert", "-f", "raw", *options, raw, os.path.join(work, target)],
                           cwd=work, check=True)
            return os.path.join(work, target)
        base1 = convert("base1.qcow", "-O", "qcow")
        base2 = convert("base2.qcow2", "-O", "qcow2")
        expected = self.run_linux(self.folders["bare-ntfs"])[:2]
        self.assertEqual(self.run_linux(base1)[:2], expected)
        raw_over = os.path.join(work, "raw-over.qcow2")
        subprocess.run(["qemu-img", "create", "-q", "-f", "qcow2", "-b", raw, "-F", "raw", raw_over], check=True)
        for image, words in (
                (convert("snap.qcow", "-O", "qcow", "-B", "base1.qcow", "-F", "qcow"),
                 "a QCOW version 1 snapshot over a backing file is not read; qemu-img convert -O qcow2"),
                (convert("v1-over-2.qcow", "-O", "qcow", "-B", "base2.qcow2", "-F", "qcow2"),
                 "a QCOW version 1 snapshot over a backing file is not read"),
                (raw_over, "a QCOW2 snapshot over a raw backing file is not read"),
                (convert("zstd.qcow2", "-O", "qcow2", "-o", "compression_type=zstd"),
                 "compressed with zstd is not read (libqcow reads zlib alone); qemu-img convert -O qcow2 -o "
                 "compression_type=zlib"),
                (convert("el2.qcow2", "-O", "qcow2", "-o", "extended_l2=on"),
                 "extended L2 entries is not read; qemu-img convert -O qcow2 -o extended_l2=off")):
            with self.subTest(image=os.path.basename(image)):
                self.check_unreadable(image, words)

    def test_split_raw(self):
        raw = self.images["winxp-mbr", "raw"]
        split = os.path.join(self.work, "split")
        os.makedirs(split, exist_ok=True)
        subprocess.run(["split", "-b", "16M", "-d", "-a", "3", "--numeric-suffixes=1", raw,
                        os.path.join(split, "disk.")], check=True)
        self.assertTrue(os.path.exists(os.path.join(split, "disk.003")))
        expected = self.run_linux(self.folders["winxp-mbr"])[:2]
        self.assertEqual(self.run_linux(os.path.join(split, "disk.001"))[:2], expected)
        # A VMDK whose extent lies in a file of its own, reached through a link
        # elsewhere: the extent is found beside the file the link leads to.
        vmdk = fresh_folder(os.path.join(self.work, "vmdk-extents"))
        subprocess.run(["qemu-img", "convert", "-O", "vmdk", "-o", "subformat=twoGbMaxExtentFlat", raw,
                        os.path.join(vmdk, "disk.vmdk")], check=True)
        links = fresh_folder(os.path.join(self.work, "vmdk-links"))
        os.symlink(os.path.join(vmdk, "disk.vmdk"), os.path.join(links, "evidence.vmdk"))
        self.assertEqual(self.run_linux(os.path.join(links, "evidence.vmdk"))[:2], expected)

    def test_ntfs_allocated_compressed_and_unreadable_files(self):
        # In the logs folder: a compressed log, a deleted one, one with a DOS name,
        # one behind a WOF reparse point and one encrypted (EFS): the two last read
        # as logs that cannot be read (exit 4), never as rows.
        work = fresh_folder(os.path.join(self.work, "ntfs-files"))
        volume = images.ntfs_volume(os.path.join(work, "volume.img"), 16, self.folders["bare-ntfs"])
        with images.mounted_ntfs(volume) as mount:
            logs = logs_folder(mount)
            subprocess.run(["setfattr", "-h", "-v", "0x00000810", "-n", "system.ntfs_attrib_be", logs],
                           check=True)
            with open(os.path.join(logs, "b.log"), "wb") as f:
                f.write(line("Other", 3) * 5000 + line("Compressed"))
            for name in ("c.log", "wof.bad", "efs.bad"):
                with open(os.path.join(logs, name), "wb") as f:
                    f.write(line("Deleted") if name == "c.log" else line("Garbage") * 20)
            os.remove(os.path.join(logs, "c.log"))
            # A long name with its DOS name beside it in the name index: one file.
            with open(os.path.join(logs, "Long Name.log"), "wb") as f:
                f.write(line("Long"))
            subprocess.run(["setfattr", "-h", "-n", "system.ntfs_dos_name", "-v", "LONGNA~1.LOG",
                            os.path.join(logs, "Long Name.log")], check=True)
            # A WOF reparse point: version 1, provider 2 (a file), file version 1, LZX.
            subprocess.run(["setfattr", "-h", "-n", "system.ntfs_reparse_data", "-v",
                            "0x170000800c000000010000000200000001000000",
                            os.path.join(logs, "wof.bad")], check=True)
            attributes = subprocess.run(["getfattr", "-h", "-e", "hex", "-n", "system.ntfs_attrib_be",
                                         os.path.join(logs, "b.log")], capture_output=True).stdout
            self.assertIn(b"=0x00000820", attributes)  # compressed
        inside = "/".join(logs_folder("/")[1:].split(os.sep))
        images.set_ntfs_attributes(volume, inside + "/efs.bad", 0x4000)
        status, data, stderr = self.run_linux(volume)
        self.assertEqual(status, 0, stderr)
        self.assertEqual([row[2] for row in parse_rows(self, data, "cp932")],
                         ["InVersion", "Second", "Compressed", "Long"])
        for pattern in ("wof.bad", "efs.bad"):
            with self.subTest(pattern):
                self.assertEqual(self.run_linux(volume, pattern)[:2], (EXIT_INCOMPLETE, b""))

    def test_fat_directory_order_and_deleted_entries(self):
        # FAT delivers a folder in directory order: a log written after a.log comes
        # after it, whatever its name; a deleted log is no log.
        work = fresh_folder(os.path.join(self.work, "fat-order"))
        volume = images.fat32_volume(os.path.join(work, "volume.img"), 40, self.folders["winxp-mbr"])
        logs = "/".join(logs_folder("/")[1:].split(os.sep)).replace(
            "ProgramData", "Documents and Settings/All Users/Application Data")
        for name, row in (("gone.log", "Deleted"), ("0.log", "Zero")):
            source = os.path.join(work, name)
            with open(source, "wb") as f:
                f.write(line(row))
            subprocess.run(["mcopy", "-i", volume, source, "::/" + logs + "/" + name], check=True,
                           env=images.MTOOLS_ENV)
        subprocess.run(["mdel", "-i", volume, "::/" + logs + "/gone.log"], check=True, env=images.MTOOLS_ENV)
        status, data, stderr = self.run_linux(volume)
        self.assertEqual(status, 0, stderr)
        self.assertEqual([row[2] for row in parse_rows(self, data)], ["InVersion", "Second", "Zero"])

    def test_two_windows_volumes_and_choosing_one(self):
        work = fresh_folder(os.path.join(self.work, "dual"))
        first = images.ntfs_volume(os.path.join(work, "first.vol"), 16, self.folders["bare-ntfs"])
        second = images.ntfs_volume(os.path.join(work, "second.vol"), 24, self.folders["win10-gpt"])
        disk = os.path.join(work, "dual.img")
        starts = images.gpt_disk(disk, [(16, "0700", first), (24, "0700", second)])
        self.check_unreadable(disk, "2 Windows volumes", f"{starts[0]} and {starts[1]}",
                              "VIRUSHIST_SYSTEM_VOLUME")
        for start, name in zip(starts, ("bare-ntfs", "win10-gpt")):
            with self.subTest(start=start):
                self.assertEqual(self.run_linux(disk, volume=start)[:2], self.run_linux(self.folders[name])[:2])
        self.check_unreadable(disk, "no Windows volume starts at sector 1", volume=1)
        # A start sector written with leading zeros is the same sector; what is no
        # decimal number, or a volume named for a folder, is said as such.
        self.assertEqual(self.run_linux(disk, volume="0" + str(starts[0]))[:2],
                         self.run_linux(self.folders["bare-ntfs"])[:2])
        for value in ("0x800", "2048s", "-1", "99999999999999999999"):
            with self.subTest(value=value):
                self.check_unreadable(disk, "VIRUSHIST_SYSTEM_VOLUME=" + value, "not a start sector", volume=value)
        self.check_unreadable(self.folders["bare-ntfs"], "VIRUSHIST_SYSTEM_VOLUME=2048", "is a folder", volume=2048)

    def test_damaged_and_foreign_images(self):
        work = fresh_folder(os.path.join(self.work, "damaged"))
        raw = self.images["win10-gpt", "raw"]

        def copy(name, size=None):
            path = os.path.join(work, name)
            shutil.copyfile(self.images["bare-ntfs", "raw"] if size is None else raw, path)
            if size is not None:
                os.truncate(path, size)
            return path

        def empty():
            return copy("empty.img", 0)

        def garbage():
            path = os.path.join(work, "garbage.img")
            with open(path, "wb") as f:
                f.write(random.Random(3).randbytes(8 * images.MIB))
            return path

        def foreign(fmt):
            # Formats libtsk takes for raw images holding nothing.
            def make():
                path = os.path.join(work, "disk." + fmt)
                subprocess.run(["qemu-img", "convert", "-f", "raw", "-O", fmt, self.images["bare-ntfs", "raw"], path],
                               check=True)
                return path
            make.__name__ = fmt
            return make

        def truncated():
            return copy("truncated.img", 3 * images.MIB)

        def past_the_end():
            # One NTFS partition from sector 2048, 200 MiB long, in a 4 MiB image.
            path = os.path.join(work, "past.img")
            images.sparse_file(path, 4 * images.MIB)
            with open(path, "r+b") as f:
                f.seek(446)
                f.write(bytes([0, 0, 0, 0, 7, 0, 0, 0]) + (2048).to_bytes(4, "little") +
                        (409600).to_bytes(4, "little"))
                f.seek(510)
                f.write(b"\x55\xaa")
            return path

        def no_file_system():
            path = copy("zeroed.img")
            with open(path, "r+b") as f:
                f.write(bytes(images.SECTOR))
            return path

        def e01_missing_segment():
            base = os.path.join(work, "segments")
            subprocess.run(["ewfacquire", "-u", "-q", "-t", base, "-f", "encase6", "-c", "none",
                            "-S", str(images.MIB), self.images["bare-ntfs", "raw"]], check=True,
                           **images.QUIET)
            os.remove(base + ".E03")
            return base + ".E01"

        def bitlocker():
            # An encrypted volume: the BitLocker boot sector's signature, then noise.
            path = os.path.join(work, "bitlocker.img")
            noise = random.Random(5)
            with open(path, "wb") as f:
                f.write(b"\xeb\x58\x90-FVE-FS-" + bytes(499) + b"\x55\xaa")
                f.write(bytes(noise.getrandbits(8) for _ in range(1 << 20)))
            return path

        def a_device():
            return "/dev/null"

        convert = "is not read; qemu-img convert -O qcow2 makes one that is"
        cases = {empty: "an empty file, not a disk image", garbage: "no partition table or file system",
                 foreign("vdi"): "a VirtualBox VDI image " + convert,
                 foreign("parallels"): "a Parallels image " + convert, foreign("qed"): "a QED image " + convert,
                 truncated: "no NTFS or FAT volume", past_the_end: "no NTFS or FAT volume",
                 no_file_system: "no partition table or file system",
                 e01_missing_segment: "segments.E03 is missing", bitlocker: "BitLocker", a_device: ""}
        for make, words in cases.items():
            with self.subTest(make.__name__):
                self.check_unreadable(make(), words)

    def many_images(self):
        """The README's case folder: E01 images of the three layouts, and one file
        named so that is no image."""
        work = fresh_folder(os.path.join(self.work, "many"))
        evidence = fresh_folder(os.path.join(work, "evidence"))
        chosen = {"pc1": "win10-gpt", "pc2": "winxp-mbr", "pc3": "bare-ntfs"}
        for name, layout in chosen.items():
            shutil.copyfile(self.images[layout, "e01"], os.path.join(evidence, name + ".E01"))
        with open(os.path.join(evidence, "pc4.E01"), "wb") as f:
            f.write(bytes(1 << 20))
        return work, chosen

    def check_many_images(self, work, chosen, printed, shown):
        # Each image's line as the README shows it, each job's status in the job log,
        # each folder the image's history; the hosts the job log names.
        self.assertEqual(sorted(printed), sorted(shown))
        with open(os.path.join(work, "jobs.log")) as f:
            rows = [line.rstrip("\n").split("\t") for line in f]
        exit_column, host_column = rows[0].index("Exitval"), rows[0].index("Host")
        statuses = {row[-1].split("evidence/")[1].split()[0]: int(row[exit_column]) for row in rows[1:]}
        self.assertEqual(statuses, {"pc1.E01": 0, "pc2.E01": 0, "pc3.E01": 0, "pc4.E01": EXIT_SYSTEM_UNREADABLE})
        for name, layout in chosen.items():
            with self.subTest(name):
                self.assertEqual(read_history(os.path.join(work, "out", name)), self.run_linux(self.folders[layout])[1])
        return {row[host_column] for row in rows[1:]}

    def test_many_images_with_gnu_parallel(self):
        # The README's command, as the README shows it, over the README's case
        # folder: each job's status is the tool's, printed and in the job log.
        work, chosen = self.many_images()
        printed, shown = readme_test.run_example("parallel", {"/cases/2026-042": work}, work)
        self.check_many_images(work, chosen, printed, shown)

    def test_many_images_spread_over_ssh_logins(self):
        # The README's command with --sshlogin and --workdir, as the README says,
        # through an SSH server on this machine that two logins reach under two
        # names, standing for two machines that see the same paths.
        if not os.path.isfile(SSHD):
            self.fail("no " + SSHD + ": scripts/install-deps installs openssh-server")
        work, chosen = self.many_images()
        port, key = self.start_sshd()
        ssh = f"ssh -p {port} -i {key} -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null -o LogLevel=ERROR"
        logins = [f"1/{ssh} root@127.0.0.1", f"1/{ssh} root@localhost"]
        options = " ".join("--sshlogin " + shlex.quote(login) for login in logins) + " --workdir . "
        def spread(script):
            self.assertIn("parallel --joblog", script)
            return script.replace("parallel ", "parallel " + options, 1)
        printed, shown = readme_test.run_example("parallel", {"/cases/2026-042": work}, work, edit=spread)
        hosts = self.check_many_images(work, chosen, printed, shown)
        # The job log's Host column holds each login as given: its ssh command, then its host.
        self.assertEqual({host.split()[-1] for host in hosts}, {"root@127.0.0.1", "root@localhost"})

    def start_sshd(self):
        """An SSH server on 127.0.0.1, its own configuration, host key and authorized
        key in a folder of its own; stopped when the test ends. Its sessions have the
        build under test on their PATH, as a machine with virushist installed."""
        folder = tempfile.mkdtemp(prefix="sshd-", dir=self.work)
        for name in ("host", "user"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(folder, name)],
                           check=True)
        shutil.copyfile(os.path.join(folder, "user.pub"), os.path.join(folder, "authorized_keys"))
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        env = locale_env(None)
        session = [f"PATH={LINUX_BUILD}:/usr/bin:/bin"] + [f"{name}={env[name]}" for name in SANITIZER_ENV]
        config = os.path.join(folder, "sshd_config")
        with open(config, "w") as f:
            f.write(f"ListenAddress 127.0.0.1\nPort {port}\nHostKey {folder}/host\n"
                    f"AuthorizedKeysFile {folder}/authorized_keys\nPidFile {folder}/sshd.pid\n"
                    "UsePAM no\nStrictModes no\nPermitRootLogin prohibit-password\n"
                    f"SetEnv {' '.join(session)}\n")
        os.makedirs("/run/sshd", exist_ok=True)  # its privilege separation folder
        sshd = subprocess.Popen([SSHD, "-D", "-e", "-f", config], stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (sshd.terminate(), sshd.wait(timeout=30)))
        deadline = time.monotonic() + 30
        while subprocess.run(["ssh", "-p", str(port), "-i", os.path.join(folder, "user"), "-o", "BatchMode=yes",
                              "-o", "StrictHostKeyChecking=no", "-o", "UserKnownHostsFile=/dev/null",
                              "-o", "LogLevel=ERROR", "root@127.0.0.1", "true"],
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            self.assertIsNone(sshd.poll(), "sshd ended")
            self.assertLess(time.monotonic(), deadline, "sshd did not answer")
            time.sleep(0.2)
        return port, os.path.join(folder, "user")

if __name__ == "__main__":
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
