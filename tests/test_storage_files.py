"""Files that other processes change under the library: mapped files shrunk
from outside (with signal handlers installed after the library's), a full
file system under a mapped write and under reads of a disk view, files the
caller may only read, and symbolic links out of a folder storage. What
could end the process runs in a child, so a fault shows as a failed test."""
import os
import signal
import subprocess
import tempfile

import pytest

from helpers import run_child, under_sanitizer
from proxy import QuelboError, cls, q


def in_child(code):
    done = run_child(code)
    assert done.returncode == 0, "child ended with %d\n%s%s" % (done.returncode, done.stdout, done.stderr)
    return done.stdout


# ---------------------------------------------------- mapped files

SHRUNK = """
import subprocess, sys
from proxy import QuelboError, q
path = %r
with open(path, "wb") as f:
    f.write(bytes(range(256)) * 4096)
stores = {
    "mapped": q.RandomAccessFactory_map_file(path),
    "folder": q.DataStorage_open_random_access(q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(path)),
                                               "big.bin", q.AccessCapabilities_READ_WRITE),
}
stores["region"] = q.RandomAccessFactory_extract_region(stores["mapped"], 4096)
view = q.ImageViewFactory_from_random_access(stores["folder"], [1024, 1024], q.DataTypeId_UINT8)
stream = q.StreamAccessFactory_from_random_access(stores["mapped"])
# another process shrinks the file to one page
subprocess.run([sys.executable, "-c", "import os; os.truncate(%%r, 4096)" %% path], check=True)

def fails(what, fn, *args):
    try:
        fn(*args)
    except QuelboError as e:
        assert "big.bin' at bytes" in str(e) and "shrank to 4096 bytes" in str(e), str(e)
        print(what)

head = bytearray(4096)
for name, store in stores.items():
    if name != "region":
        assert q.RandomAccess___read(store, 0, head) == 4096 and head == bytes(range(256)) * 16
    fails(name + " read", q.RandomAccess___read, store, 8192, bytearray(100))
    fails(name + " write", q.RandomAccess_write, store, 2 * 4096, b"x" * 100)
box = q.RegionXu64_create_full_region([1024, 1024])
fails("view read", q.ImageView___read_region, view, box, bytearray(1 << 20))
fails("view write", q.ImageView___write_region, view, box, bytes(1 << 20))
q.StreamAccess_seek(stream, 8192, q.SeekOrigin_BEGIN)
fails("stream read", q.StreamAccess___read, stream, bytearray(100))
"""


def test_a_mapped_file_shrunk_by_another_process_raises(tmp_path):
    out = in_child(SHRUNK % str(tmp_path / "big.bin"))
    assert out.split("\n") == ["mapped read", "mapped write", "folder read", "folder write", "region read",
                               "region write", "view read", "view write", "stream read", ""]


RUNS_CUT = """
import os, subprocess, sys
from proxy import QuelboError, q
folder = %r
path = os.path.join(folder, "rows.raw")
with open(path, "wb") as f:
    f.write(bytes(range(256)) * 1024)
# 512 rows of 512 bytes: a region of half rows is 512 runs apart in the file
views = {"mapped": q.ImageViewFactory_from_random_access(q.RandomAccessFactory_map_file(path), [512, 512],
                                                         q.DataTypeId_UINT8),
         "temporary": q.ImageViewFactory_create_on_disk(folder, [512, 512], q.DataTypeId_UINT8)}
disk = next(os.path.join(folder, n) for n in os.listdir(folder) if n.startswith("quelbo-view-"))
# another process cuts both files after 128 rows
for cut in (path, disk):
    subprocess.run([sys.executable, "-c", "import os; os.truncate(%%r, 65536)" %% cut], check=True)
half = q.RegionXu64_create_full_region([256, 512])
for name, v in views.items():
    for what, fn, buffer in (("read", q.ImageView___read_region, bytearray(1 << 17)),
                             ("write", q.ImageView___write_region, bytes(1 << 17))):
        try:
            fn(v, half, buffer)
        except QuelboError as e:
            # the run that faulted names the bytes: the first of the rows cut
            where = "' at bytes 65536 to 65792: " if name == "mapped" else ""
            assert where in str(e) and "shrank to 65536 bytes" in str(e), str(e)
            print(name, what)
"""


def test_runs_copied_under_one_guard_stop_at_the_first_cut_off(tmp_path):
    out = in_child(RUNS_CUT % str(tmp_path))
    assert out.split("\n") == ["mapped read", "mapped write", "temporary read", "temporary write", ""]


def test_a_file_stream_reads_runs_far_apart_from_a_mapping_of_the_size_now(tmp_path):
    path = tmp_path / "rows.raw"
    path.write_bytes(bytes(range(256)) * 64)  # 64 rows of 256 bytes
    store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(str(path)))
    view = q.ImageViewFactory_from_random_access(store, [256, 64], q.DataTypeId_UINT8)
    column, box = bytearray(8 * 64), cls("RegionXu64")([100, 0], [8, 64])

    def rows_as_in_the_file():
        data = path.read_bytes()
        return b"".join(data[y * 256 + 100:y * 256 + 108] for y in range(64))

    q.ImageView___read_region(view, box, column)
    assert column == rows_as_in_the_file()
    with open("/proc/self/maps") as maps:
        assert str(path) in maps.read(), "eight bytes of every row read by a call each"
    # shrunk inside its first page: past the end is nothing, not zeros
    os.truncate(path, 1000)
    piece = bytearray(8)
    assert q.RandomAccess___read(store, 996, piece) == 4 and piece[:4] == bytes(range(228, 232))
    for read in (lambda: q.RandomAccess___read(store, 2000, piece),
                 lambda: q.ImageView___read_region(view, cls("RegionXu64")([100, 3], [8, 8]), bytearray(64))):
        with pytest.raises(QuelboError, match="past the end"):
            read()
    # grown again: the new bytes are read
    with open(path, "ab") as f:
        f.write(bytes(range(7, 256, 3)) * 300)
    q.ImageView___read_region(view, box, column)
    assert column == rows_as_in_the_file()


SHRUNK_IN_A_PAGE = """
import os, subprocess, sys
from proxy import QuelboError, cls, q
folder, cut = %r, %d
path = os.path.join(folder, "f.bin")
data = bytes(range(250)) * 40
with open(path, "wb") as f:
    f.write(data)
disk = q.ImageViewFactory_create_on_disk(folder, [len(data)], q.DataTypeId_UINT8)
q.ImageView___write_region(disk, q.RegionXu64_create_full_region([len(data)]), data)
mapped = q.RandomAccessFactory_map_file(path)
disk_path = os.path.join(folder, next(n for n in os.listdir(folder) if n.startswith("quelbo-view-")))
for cut_off in (path, disk_path):
    subprocess.run([sys.executable, "-c", "import os; os.truncate(%%r, %%d)" %% (cut_off, cut)], check=True)

def box(at, n):
    return cls("RegionXu64")([at], [n])

def read(name, at, n):
    buf = bytearray(n)
    if name == "disk":
        q.ImageView___read_region(disk, box(at, n), buf)
    else:
        assert q.RandomAccess___read(mapped, at, buf) == n
    return bytes(buf)

def write(name, at, b):
    if name == "disk":
        return q.ImageView___write_region(disk, box(at, len(b)), b)
    assert q.RandomAccess_write(mapped, at, b) == len(b)

for name in ("mapped", "disk"):
    within = lambda: read(name, max(cut - 16, 0), max(min(cut, 16), 1))
    if name == "mapped" and cut:  # a disk view's file shorter than the view made it is the view's no more
        assert within() == data[max(cut - 16, 0):cut]
    for what, call in (("read", lambda: read(name, cut + 500, 16)), ("write", lambda: write(name, cut + 500, b"DATA")),
                       ("read across", lambda: read(name, max(cut - 10, 0), 16)), ("read within", within)):
        try:
            call()
        except QuelboError as e:
            assert "shrank to %%d bytes" %% cut in str(e), str(e)
            print(name, what)
for cut_off in (path, disk_path):
    assert os.path.getsize(cut_off) == cut
"""


@pytest.mark.parametrize("cut", [9000, 4500, 0])  # in the mapping's last page, in one before, none left
def test_a_file_shrunk_within_a_page_reads_no_zeros_and_loses_no_write(tmp_path, cut):
    out = in_child(SHRUNK_IN_A_PAGE % (str(tmp_path), cut))
    assert out.split("\n") == ["mapped read", "mapped write", "mapped read across"] + ["mapped read within"] * (
        cut == 0) + ["disk " + what for what in ("read", "write", "read across", "read within")] + [""]


LATER_HANDLER = """
import faulthandler, mmap, os, signal, subprocess, sys
from proxy import QuelboError, cls, q
path, after = %r, %r
with open(path, "wb") as f:
    f.write(bytes(range(256)) * 64)
store = q.RandomAccessFactory_map_file(path)
view = q.ImageViewFactory_from_random_access(store, [128, 128], q.DataTypeId_UINT8)
q.ImageView___read_region(view, cls("RegionXu64")([0, 0], [128, 2]), bytearray(256))  # the handler is in place
if after == "a Python handler":
    signal.signal(signal.SIGBUS, lambda *_: print("handled", flush=True))
elif after == "bus errors blocked":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGBUS})
    os.kill(os.getpid(), signal.SIGBUS)  # sent: it waits while blocked
else:
    faulthandler.enable()
if after == "faulthandler, then disabled":
    faulthandler.disable()
subprocess.run([sys.executable, "-c", "import os; os.truncate(%%r, 4096)" %% path], check=True)
try:
    q.RandomAccess___read(store, 8192, bytearray(16))
except QuelboError as e:
    print(e, flush=True)
try:
    q.ImageView___read_region(view, q.RegionXu64_create_full_region([128, 128]), bytearray(1 << 14))
except QuelboError as e:
    print("view:", "shrank to 4096 bytes" in str(e), flush=True)
# a signal sent goes to the handler installed later
os.kill(os.getpid(), signal.SIGBUS if after == "a Python handler" else 0)
if after == "bus errors blocked":
    print("waiting:", signal.SIGBUS in signal.sigpending(), flush=True)
# a fault outside the library's copies goes to the handler installed later
with open(path, "r+b") as f:
    f.truncate(16384)
    m = mmap.mmap(f.fileno(), 16384)
    f.truncate(4096)
    m[8192]
print("the fault went unseen")
"""


@pytest.mark.parametrize("after", ["faulthandler", "faulthandler, then disabled", "a Python handler",
                                   "bus errors blocked"])
def test_the_bus_error_guard_holds_over_a_handler_installed_later(tmp_path, after):
    path = str(tmp_path / "m.bin")
    # the sanitizer's own handler of bus errors, the first one replaced, left out
    done = run_child(LATER_HANDLER % (path, after), asan_options="handle_sigbus=0")
    # the process ends with the signal, reported once by faulthandler when it is on
    assert done.returncode == -signal.SIGBUS, done.stdout + done.stderr
    assert done.stdout == "cannot read mapped file '%s' at bytes 8192 to 8208: the file shrank to 4096 bytes " \
                          "after it was mapped\nview: True\n" % path + "handled\n" * (after == "a Python handler") + \
                          "waiting: True\n" * (after == "bus errors blocked")
    assert done.stderr.count("Fatal Python error: Bus error") == (after == "faulthandler"), done.stderr


REINSTALLED = """
import faulthandler, os, signal
from helpers import assert_memory_flat
from proxy import q
path = %r
with open(path, "wb") as f:
    f.write(bytes(4096))
store, into = q.RandomAccessFactory_map_file(path), bytearray(16)

def batch():  # each read finds another handler installed since the last
    for install, remove in [(faulthandler.enable, faulthandler.disable),
                            (lambda: signal.signal(signal.SIGBUS, print), lambda: signal.signal(signal.SIGBUS, 0))]:
        install()
        q.RandomAccess___read(store, 0, into)
        remove()
        q.RandomAccess___read(store, 0, into)
assert_memory_flat(batch, runs=20000)
"""


@pytest.mark.skipif(under_sanitizer(), reason="the sanitizer keeps freed memory")
def test_handlers_installed_again_and_again_cost_the_guard_no_memory(tmp_path):
    in_child(REINSTALLED % str(tmp_path / "m.bin"))


CALLER_MEMORY = """
import os
import numpy as np
from proxy import QuelboError, q
folder, road = %r, %r
path, other = os.path.join(folder, "store.bin"), os.path.join(folder, "other.bin")
for p in (path, other):
    with open(p, "wb") as f:
        f.write(bytes(1 << 20))
buffer = np.memmap(other, np.uint8, "r+")
os.truncate(other, 0)  # the caller's buffer lies in a file shrunk since
store = q.RandomAccessFactory_map_file(path)
stream_store = q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file_read(path))
view = q.ImageViewFactory_create_on_disk(folder, [1 << 20], q.DataTypeId_UINT8)
box = q.RegionXu64_create_full_region([1 << 20])
if road == "disk view, pieces written":
    q.ImageView___write_region(view, box, bytes(1 << 20))
try:
    {"mapped read": lambda: q.RandomAccess___read(store, 0, buffer),
     "mapped write": lambda: q.RandomAccess_write(store, 0, buffer),
     "stream store read": lambda: q.RandomAccess___read(stream_store, 0, buffer)}.get(
        road, lambda: q.ImageView___write_region(view, box, buffer))()
except QuelboError as e:
    print(e)
"""


@pytest.mark.parametrize("road", ["mapped read", "mapped write", "disk view, pieces written",
                                  "disk view, pieces never written", "stream store read"])
def test_a_fault_in_the_callers_memory_is_not_the_stores(tmp_path, road):
    """Copied by the library (to or from a mapping), the caller's memory faults as it does under numpy: the
    process ends with the signal; moved by the system (large runs, by positioned calls), the call raises naming
    the caller's buffer."""
    done = run_child(CALLER_MEMORY % (str(tmp_path), road), asan_options="handle_sigbus=0")
    system = road in ("disk view, pieces never written", "stream store read")
    assert (done.returncode, "Bad address (in the caller's buffer)" in done.stdout) == ((0, True) if system else (
        -signal.SIGBUS, False)), done.stdout + done.stderr


READ_ONLY_FILE = """
import os
from proxy import QuelboError, q
path = %r
storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(path))
if os.fork() == 0:  # the child, as a user who may only read the file, exits without the sanitizer's checks
    try:
        if os.geteuid() == 0:
            os.seteuid(65534)
        for open_access in (q.DataStorage_open_random_access, q.DataStorage_open_stream_access):
            try:
                open_access(storage, "ro.bin", q.AccessCapabilities_READ_WRITE)
            except QuelboError as e:
                print(e)
        try:  # a FIFO the user may only read is refused, not waited on for a writer
            q.RandomAccessFactory_map_file(os.path.join(os.path.dirname(path), "pipe"))
        except QuelboError as e:
            print(e)
        # asked for reading, or for no capabilities: a store for reading
        for store in (q.DataStorage_open_random_access(storage, "ro.bin", q.AccessCapabilities_READ_ONLY),
                      q.RandomAccessFactory_map_file(path)):
            print(q.RandomAccessCapabilitySet_value(q.RandomAccess_get_capabilities(store)))
    finally:
        os.sys.stdout.flush()
        os._exit(0)
os.wait()
"""


def test_an_explicit_write_access_to_a_file_the_caller_may_only_read_is_refused():
    folder = tempfile.mkdtemp()  # a folder the user of the child can reach
    try:
        os.chmod(folder, 0o755)
        path = os.path.join(folder, "ro.bin")
        with open(path, "wb") as f:
            f.write(b"read only")
        os.chmod(path, 0o444)
        os.mkfifo(os.path.join(folder, "pipe"), 0o444)
        out = in_child(READ_ONLY_FILE % path)
    finally:
        os.chmod(path, 0o644)
        os.unlink(path)
        os.unlink(os.path.join(folder, "pipe"))
        os.rmdir(folder)
    assert out.split("\n") == ["cannot map file '%s': Permission denied" % path,
                               "cannot open file '%s': Permission denied" % path,
                               "cannot map file '%s': No such device" % os.path.join(folder, "pipe"), "9", "9", ""]


@pytest.fixture
def small_disk(tmp_path):
    """A file system of 1 MiB (a tmpfs mounted for the test)."""
    if os.geteuid() != 0:
        pytest.skip("mounting a 1 MiB tmpfs needs root")
    folder = tmp_path / "small"
    folder.mkdir()
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(folder)], capture_output=True,
                          text=True)
    if done.returncode != 0:
        pytest.skip("cannot mount a 1 MiB tmpfs here: " + done.stderr.strip())
    try:
        yield folder
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=True)


FULL = """
from proxy import QuelboError, q
path = %r
with open(path, "wb") as f:
    f.truncate(4 << 20)  # sparse: the pages get their blocks when written
store = q.RandomAccessFactory_map_file(path)
assert q.RandomAccess_write(store, 0, b"head" * 1024) == 4096
try:
    q.RandomAccess_write(store, 4096, b"y" * (2 << 20))
except QuelboError as e:
    assert "sparse.bin" in str(e) and "No space left on device" in str(e), str(e)
    print("refused")
back = bytearray(8192)
assert q.RandomAccess___read(store, 0, back) == 8192 and back == b"head" * 1024 + bytes(4096), "it wrote"
assert q.RandomAccess_write(store, 3 << 20, b"tail") == 4
view = q.ImageViewFactory_from_random_access(store, [2048, 2048], q.DataTypeId_UINT8)
try:
    q.ImageView___write_region(view, q.RegionXu64_create_full_region([2048, 2048]), b"z" * (4 << 20))
except QuelboError:
    print("view refused")
"""


def test_a_mapped_write_to_a_full_file_system_raises(small_disk):
    assert in_child(FULL % str(small_disk / "sparse.bin")) == "refused\nview refused\n"
    with open(small_disk / "sparse.bin", "rb") as f:
        f.seek(3 << 20)
        assert f.read(4) == b"tail"


def test_holes_of_a_disk_view_read_as_zeros_without_pages(small_disk):
    fresh, begun = (q.ImageViewFactory_create_on_disk(str(small_disk), [256, 256], q.DataTypeId_UINT8)
                    for _ in range(2))
    q.ImageView___write_region(begun, cls("RegionXu64")([0, 0], [16, 1]), b"x" * 16)
    with open(small_disk / "sparse.bin", "wb") as f:
        f.write(b"x" * 16)
        f.truncate(1 << 16)
    mapped = q.ImageViewFactory_from_random_access(q.RandomAccessFactory_map_file(str(small_disk / "sparse.bin")),
                                                   [256, 256], q.DataTypeId_UINT8)
    box = q.RegionXu64_create_full_region([256, 256])
    out = bytearray(1 << 16)
    free = os.statvfs(small_disk).f_bfree
    q.ImageView___read_region(fresh, box, out)
    assert not any(out) and os.statvfs(small_disk).f_bfree == free, "reading a hole took pages"
    # the file system full: pieces never written, and holes of one written, still read
    fill = os.open(small_disk / "fill", os.O_WRONLY | os.O_CREAT)
    try:
        for size in (1 << 16, 4096):
            with pytest.raises(OSError):
                while True:
                    os.write(fill, bytes(size))
    finally:
        os.close(fill)
    for view, head in ((fresh, bytes(16)), (begun, b"x" * 16), (mapped, b"x" * 16)):
        q.ImageView___read_region(view, box, out)
        assert out[:16] == head and not any(out[16:])


# ---------------------------------------------------- symbolic links

def test_folder_storage_follows_no_symbolic_link(tmp_path):
    inside, outside = tmp_path / "inside", tmp_path / "outside"
    (inside / "sub").mkdir(parents=True)
    outside.mkdir()
    (outside / "secret.bin").write_bytes(b"secret")
    (inside / "sub" / "a.bin").write_bytes(b"alpha")
    links = {"to_file": outside / "secret.bin", "to_folder": outside, "dangling": outside / "fresh.bin",
             "to_inside": "sub/a.bin", "sub_link": "sub"}
    for name, target in links.items():
        os.symlink(target, inside / name)
    # the caller's own path follows its links; the storage it belongs to does not
    s = q.StreamAccessFactory_open_file_read(str(inside / "to_inside"))
    assert q.StreamAccess___read(s, bytearray(5)) == 5
    storage = q.DataAccess_get_storage(s)
    for rid in ("to_file", "to_folder/secret.bin", "to_folder/fresh.bin", "dangling", "./to_file", "to_inside",
                "sub_link/a.bin"):
        for caps in (q.AccessCapabilities_READ_ONLY, q.AccessCapabilities_WRITE_ONLY, q.AccessCapabilities_READ_WRITE):
            opens = [q.DataStorage_open_stream_access] + [q.DataStorage_open_random_access] * (caps != 2)
            for open_access in opens:
                with pytest.raises(QuelboError, match="^resource id '%s' goes through the symbolic link '%s'" % (
                        rid.replace(".", r"\."), rid.lstrip("./").split("/")[0])):
                    open_access(storage, rid, caps)
    assert sorted(os.listdir(outside)) == ["secret.bin"]
    assert (outside / "secret.bin").read_bytes() == b"secret"
    # what lies inside opens and is created inside, as before
    store = q.DataStorage_open_random_access(storage, "./sub//a.bin", q.AccessCapabilities_READ_ONLY)
    assert q.RandomAccess_get_size(store) == 5
    w = q.DataStorage_open_stream_access(storage, "sub/new.bin", q.AccessCapabilities_WRITE_ONLY)
    q.StreamAccess_write(w, b"new")
    q.StreamAccess_flush(w)
    assert (inside / "sub" / "new.bin").read_bytes() == b"new"
    for bad in ("sub/", "sub/a.bin/", ".", "sub/a.bin/x", "sub/a.bin/.", "sub/.", "sub/new.bin/."):
        for caps in (q.AccessCapabilities_READ_ONLY, q.AccessCapabilities_WRITE_ONLY):
            with pytest.raises(QuelboError, match="sub|folder"):
                q.DataStorage_open_stream_access(storage, bad, caps)
    assert sorted(os.listdir(inside / "sub")) == ["a.bin", "new.bin"] and (inside / "sub" / "a.bin").read_bytes() == \
        b"alpha"


def test_folder_storage_opens_only_regular_files(tmp_path):
    # a pipe would wait for a writer for ever; the child runs under a time limit
    os.mkfifo(tmp_path / "pipe")
    os.mkdir(tmp_path / "folder")
    (tmp_path / "a.bin").write_bytes(b"a")
    out = in_child("""
        from proxy import QuelboError, q
        storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(%r))
        for rid in ("pipe", "folder"):
            for caps in (q.AccessCapabilities_READ_ONLY, q.AccessCapabilities_WRITE_ONLY,
                         q.AccessCapabilities_READ_WRITE):
                try:
                    q.DataStorage_open_stream_access(storage, rid, caps)
                except QuelboError as e:
                    assert str(e) == "resource id '" + rid + "' names no regular file", str(e)
                    print("refused")
        """ % str(tmp_path / "a.bin"))
    assert out.split() == ["refused"] * 6
    assert not (tmp_path / "pipe").is_file() and (tmp_path / "folder").is_dir()
