"""Archive benchmarks, each against a baseline measured in the same run.

update_zip on an archive of 2,000 members holding one 300 MB member: replacing that
member, and replacing a small one while the big one is kept (streamed). Each run
happens in a fresh interpreter, which reports its wall time and its peak resident
memory beyond what it held just before the call; the baseline is a plain copy of the
archive file. The reference "read whole members" copies kept members by reading each
one into memory first.

With --synced, every run starts from an archive written out to disk (os.sync), as an
archive that was made a while ago is: removing the old archive then costs the file
system more than removing one still in memory.

create_artifact_zip with 500 images against the same archive built with zipfile.

Usage: PYTHONPATH=src python bench/bench_archives.py [--big-mb 300] [--repeat 5] [--synced]
"""

import argparse
import glob
import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import types
import zipfile

CHILD = r"""
import json, os, sys, time, zipfile
from velmo_brevant.utils import utils


def read_whole_members(zip_path, changed):
    names = [os.path.basename(p) for p in changed]
    temp = zip_path + ".new"
    with zipfile.ZipFile(zip_path) as old, zipfile.ZipFile(temp, "w") as new:
        new.comment = old.comment
        for info in old.infolist():
            if info.filename not in names:
                new.writestr(info, old.read(info.filename))
        for path in changed:
            new.write(path, os.path.basename(path))
    os.replace(temp, zip_path)


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field):
                return int(line.split()[1])


how, zip_path, changed = sys.argv[1], sys.argv[2], sys.argv[3:]
before = status_kib("VmRSS:")  # the high-water mark below starts from here
start = time.perf_counter()
if how == "update_zip":
    utils.update_zip(zip_path, changed)
else:
    read_whole_members(zip_path, changed)
seconds = time.perf_counter() - start
peak = status_kib("VmHWM:")
print(json.dumps({"seconds": seconds, "peak_mib": (peak - before) / 1024}))
"""


def write_random(path, size, chunk=1 << 20):
    with open(path, "wb") as f:
        while size > 0:
            f.write(os.urandom(min(chunk, size)))
            size -= chunk


def make_big_archive(folder, big_bytes, members=2000):
    big = os.path.join(folder, "big.bin")
    write_random(big, big_bytes)
    path = os.path.join(folder, "bundle.zip")
    with zipfile.ZipFile(path, "w") as archive:
        for i in range(members - 1):
            compress = zipfile.ZIP_DEFLATED if i % 2 else zipfile.ZIP_STORED
            archive.writestr("files/member_{:04d}.txt".format(i), ("row %d\n" % i) * 200,
                             compress_type=compress)
        archive.write(big, "big.bin")
    os.remove(big)
    return path


def child_run(how, zip_path, changed):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    out = subprocess.run([sys.executable, "-c", CHILD, how, zip_path] + changed, env=env,
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def interleaved(repeat, runs, before_each=lambda: None):
    """The fastest of `repeat` rounds of each run, the runs taking turns so that a
    change in the machine's load reaches them all alike."""
    results = [[] for _ in runs]
    for _ in range(repeat):
        for run, found in zip(runs, results):
            before_each()
            found.append(run())
    return [min(found, key=lambda r: r["seconds"]) for found in results]


def timed(action):
    start = time.perf_counter()
    action()
    return {"seconds": time.perf_counter() - start}


def bench_update_zip(folder, big_bytes, repeat, synced):
    zip_path = make_big_archive(folder, big_bytes)
    new_dir = os.path.join(folder, "new")
    os.mkdir(new_dir)
    new_big = os.path.join(new_dir, "big.bin")
    write_random(new_big, big_bytes)
    new_small = os.path.join(new_dir, "member_0001.txt")
    with open(new_small, "w") as f:
        f.write("changed\n")
    size_mib = os.path.getsize(zip_path) / 2**20
    copy_target = os.path.join(folder, "copy.zip")

    def fresh_copy():
        if os.path.exists(copy_target):
            os.remove(copy_target)
        return timed(lambda: shutil.copyfile(zip_path, copy_target))

    print("update_zip, archive of 2000 members, {:.0f} MiB{}".format(
        size_mib, ", written out to disk before each run" if synced else ""))
    cases = [("replace the big member", [new_big], "update_zip"),
             ("replace a small member, keep the big one", [new_small], "update_zip"),
             ("replace a small member, keep the big one", [new_small], "read_whole_members")]
    runs = [fresh_copy] + [
        (lambda changed=changed, how=how: child_run(how, zip_path, changed))
        for _, changed, how in cases]
    copy, *results = interleaved(repeat, runs, os.sync if synced else lambda: None)
    os.remove(copy_target)
    print("  baseline file copy of the archive: {:.3f} s".format(copy["seconds"]))
    for (label, _, how), result in zip(cases, results):
        print("  {:<42} {:<18} {:.3f} s  ratio {:.2f}  peak beyond start {:.1f} MiB".format(
            label, how, result["seconds"], result["seconds"] / copy["seconds"],
            result["peak_mib"]))


def bench_artifact_zip(folder, repeat, images=500, image_bytes=60_000):
    from velmo_brevant.utils import utils

    os.mkdir(folder)
    images_dir, tables_dir = utils.artifact_directory_paths(folder)
    config = types.SimpleNamespace(output_path=os.path.join(folder, "report.md"),
                                   images_dir=images_dir, tables_dir=tables_dir)
    os.mkdir(config.images_dir)
    for i in range(images):
        write_random(os.path.join(config.images_dir, "plot_{:03d}.png".format(i)), image_bytes)
    report = "# Report\n" * 1000
    base = os.path.basename(config.images_dir)
    target = os.path.join(folder, "report.zip")

    def fill(archive):
        archive.writestr("report.md", report)
        for f in glob.glob(os.path.join(glob.escape(config.images_dir), "*")):
            archive.write(f, base + "/" + os.path.basename(f))

    def into_file():
        with zipfile.ZipFile(target, "w") as archive:
            fill(archive)

    def in_memory():
        data = io.BytesIO()
        with zipfile.ZipFile(data, "w") as archive:
            fill(archive)
        with open(target, "wb") as f:
            f.write(data.getvalue())

    def ours():
        utils.create_artifact_zip(report, config.output_path, "md", False, config,
                                  utils.DEFAULT_LOGGER)

    # Each archive is written as a new file: replacing an existing one adds the
    # file system's cost of freeing its blocks.
    def fresh(action):
        def run():
            if os.path.exists(target):
                os.remove(target)
            return timed(action)
        return run

    print("create_artifact_zip, {} images of {} KB".format(images, image_bytes // 1000))
    direct, memory, result = interleaved(3 * repeat, [fresh(into_file), fresh(in_memory),
                                                      fresh(ours)])
    print("  zipfile into the file:          {:.3f} s".format(direct["seconds"]))
    print("  zipfile in memory, then written: {:.3f} s".format(memory["seconds"]))
    print("  create_artifact_zip:            {:.3f} s  ratio {:.2f} (file), {:.2f} (memory)".format(
        result["seconds"], result["seconds"] / direct["seconds"],
        result["seconds"] / memory["seconds"]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--big-mb", type=int, default=300)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--synced", action="store_true")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        bench_artifact_zip(os.path.join(folder, "artifacts"), args.repeat)
        bench_update_zip(folder, args.big_mb * 10**6, args.repeat, args.synced)


if __name__ == "__main__":
    main()
