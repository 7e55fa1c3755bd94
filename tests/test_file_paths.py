"""What the library keeps of a path: the folder of a storage and of a
temporary file stay the ones the path named when they were made, whatever
the working folder is later; folder paths holding a NUL or naming a file;
files whose size the system reports as 0; copies in memory of files."""
import gc
import os

import pytest

from helpers import exact, run_child
from proxy import QuelboError, cls, q

READ_ONLY, WRITE_ONLY, READ_WRITE = (q.AccessCapabilities_READ_ONLY, q.AccessCapabilities_WRITE_ONLY,
                                     q.AccessCapabilities_READ_WRITE)
UINT8 = q.DataTypeId_UINT8


def read_store(store, offset=0, n=None):
    n = q.RandomAccess_get_size(store) - offset if n is None else n
    buf = bytearray(n)
    return bytes(buf[:q.RandomAccess___read(store, offset, buf)])


def read_stream(stream, n=1 << 16):
    buf = bytearray(n)
    return bytes(buf[:q.StreamAccess___read(stream, buf)])


def temporary_files(folder):
    return sorted(n for n in os.listdir(folder) if n.startswith("quelbo-view-"))


# ------------------------------------------------------- relative folders

@pytest.mark.parametrize("opened, rid", [("f.bin", "f.bin"), ("sub/f.bin", "f.bin"), ("./sub/../f.bin", "f.bin")])
def test_a_storage_opened_by_a_relative_path_stays_in_its_folder(tmp_path, monkeypatch, opened, rid):
    a, b = tmp_path / "A", tmp_path / "B"
    for folder in (a, b):
        (folder / "sub").mkdir(parents=True)
        for where in (folder, folder / "sub"):
            (where / "f.bin").write_bytes(folder.name.encode() * 4)
    monkeypatch.chdir(a)
    storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(opened))
    source = q.DataStorage_get_source(storage)
    folder = os.path.dirname(os.path.join(a, opened))
    assert q.Uri_path(cls("Uri")(source)) == folder + "/"
    os.chdir(b)
    assert q.DataStorage_get_source(storage) == source
    assert read_store(q.DataStorage_open_random_access(storage, rid, READ_ONLY)) == b"AAAA"
    assert read_stream(q.DataStorage_open_stream_access(storage, rid, READ_ONLY)) == b"AAAA"
    w = q.DataStorage_open_stream_access(storage, rid, WRITE_ONLY)
    q.StreamAccess_write(w, b"new")
    q.StreamAccess_flush(w)
    assert open(os.path.join(folder, rid), "rb").read() == b"new"
    assert [open(os.path.join(b, p), "rb").read() for p in ("f.bin", "sub/f.bin")] == [b"BBBB"] * 2


def test_a_temporary_file_in_a_relative_folder_goes_with_its_view(tmp_path, monkeypatch):
    for name in ("sub", "other"):
        (tmp_path / name).mkdir()
    monkeypatch.chdir(tmp_path)
    views = [q.ImageViewFactory_create_on_disk("sub", [4], UINT8) for _ in range(2)]
    assert len(temporary_files(tmp_path / "sub")) == 2
    os.chdir("other")
    del views
    gc.collect()
    assert temporary_files(tmp_path / "sub") == [] and os.listdir(tmp_path / "other") == []


DEEP = ["d" * 200] * 24  # folders of more than PATH_MAX bytes from the root


def folder_at(top, names):
    """A descriptor of the folder reached by names from top, however long its path."""
    fd = os.open(top, os.O_RDONLY)
    for name in names:
        fd, up = os.open(name, os.O_RDONLY, dir_fd=fd), fd
        os.close(up)
    return fd


@pytest.mark.parametrize("depth", [0, len(DEEP)])
def test_a_view_kept_to_the_end_in_a_relative_temporary_folder_goes_at_exit(tmp_path, depth):
    done = run_child("""
        import os
        from proxy import q
        os.chdir(%r)
        for name in %r + ["tmp"]:
            os.mkdir(name)
            os.chdir(name)
        os.chdir("..")
        os.environ["TMPDIR"] = "tmp"
        kept = q.ImageViewFactory_create_on_disk([4], q.DataTypeId_UINT8)
        print(len(os.listdir("tmp")))
        os.chdir("/")
        """ % (str(tmp_path), DEEP[:depth]))
    assert done.returncode == 0 and done.stdout == "1\n", done.stderr
    tmp = folder_at(tmp_path, DEEP[:depth] + ["tmp"])
    try:
        assert os.listdir(tmp) == []
    finally:
        os.close(tmp)


def test_a_folder_deeper_than_a_path_can_reach_still_works(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    for name in DEEP:
        os.mkdir(name)
        os.chdir(name)
    with open("f.bin", "wb") as f:
        f.write(b"deep")
    storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read("f.bin"))
    view = q.ImageViewFactory_create_on_disk(".", [4], UINT8)
    assert len(temporary_files(".")) == 1
    os.chdir(tmp_path)
    assert read_store(q.DataStorage_open_random_access(storage, "f.bin", READ_ONLY)) == b"deep"
    del view
    gc.collect()
    deep = folder_at(tmp_path, DEEP)
    try:
        assert temporary_files(deep) == []
    finally:
        os.close(deep)


def test_a_folder_whose_path_the_system_just_takes_holds_temporary_files(tmp_path):
    """Paths of 4077 to 4095 bytes reach the folder, but not a file in it."""
    for length in (4077, 4095):
        folder = str(tmp_path / str(length))
        while length - len(folder) - 1 > 255:  # the last name within NAME_MAX
            folder += "/" + "d" * 200
        folder += "/" + "f" * (length - len(folder) - 1)
        os.makedirs(folder)
        view, box, out = q.ImageViewFactory_create_on_disk(folder, [4], UINT8), cls("RegionXu64")([0], [4]), bytearray(4)
        q.ImageView___write_region(view, box, b"long")
        q.ImageView___read_region(view, box, out)
        assert out == b"long" and len(temporary_files(folder)) == 1
        del view
        gc.collect()
        assert temporary_files(folder) == []


# ------------------------------------------------- folders that are none

@pytest.mark.parametrize("tail", ["\0/anything", "\0junk", "/sub\0"])
def test_a_temporary_folder_holding_a_nul_is_refused_before_anything_is_made(tmp_path, tail):
    (tmp_path / "sub").mkdir()
    before = [sorted(os.listdir(f)) for f in (tmp_path.parent, tmp_path, tmp_path / "sub")]
    with pytest.raises(QuelboError, match=exact("ImageViewFactory: the folder path holds a NUL character")):
        q.ImageViewFactory_create_on_disk(str(tmp_path) + tail, [4], UINT8)
    assert [sorted(os.listdir(f)) for f in (tmp_path.parent, tmp_path, tmp_path / "sub")] == before


def test_a_temporary_folder_that_is_a_file_is_said_to_be_one(tmp_path, monkeypatch):
    plain, missing, too_long = tmp_path / "plain", tmp_path / "missing", "/x" * 4096
    plain.write_bytes(b"")
    for folder, message in ((plain, "ImageViewFactory: %s is not a folder"),
                            (missing, "ImageViewFactory: the folder %s does not exist"),
                            (too_long, "ImageViewFactory: cannot create a temporary file in %s: File name too long")):
        monkeypatch.setenv("TMPDIR", str(folder))
        for args in (([4], UINT8), (str(folder), [4], UINT8)):
            with pytest.raises(QuelboError, match=exact(message % folder)):
                q.ImageViewFactory_create_on_disk(*args)


# ------------------------------------------------- files that report no size

NO_SIZE = "the system reports a size of 0 for it, yet it holds bytes"


def test_a_file_that_reports_no_size_is_copied_whole_and_never_a_store(tmp_path):
    status = "/proc/self/status"
    assert os.stat(status).st_size == 0
    copy = q.StreamAccessFactory_copy_in_memory(q.StreamAccessFactory_open_file_read(status))
    q.StreamAccess_seek(copy, 0, q.SeekOrigin_BEGIN)
    got = read_stream(copy)
    assert got.startswith(b"Name:") and b"\nPid:" in got and got.endswith(b"\n")
    storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(status))
    for store in (lambda: q.RandomAccessFactory_open_uri_read(cls("Uri")("file://" + status)),
                  lambda: q.RandomAccessFactory_from_stream(q.StreamAccessFactory_open_file(status)),
                  lambda: q.RandomAccessFactory_map_file(status),
                  lambda: q.RandomAccessFactory_map_file("/proc/self/mem"),
                  lambda: q.DataStorage_open_random_access(storage, "status", READ_ONLY)):
        with pytest.raises(QuelboError, match="'(status|%s)': %s|mem': Input/output error" % (status, NO_SIZE)):
            store()
    # an empty file is an empty store on every road
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    for store in (q.RandomAccessFactory_open_uri_read(cls("Uri")("file://%s" % empty)),
                  q.RandomAccessFactory_map_file(str(empty)),
                  q.RandomAccessFactory_copy_in_memory(q.RandomAccessFactory_map_file(str(empty)))):
        assert q.RandomAccess_get_size(store) == 0
    copy = q.StreamAccessFactory_copy_in_memory(q.StreamAccessFactory_open_file_read(str(empty)))
    assert q.StreamAccess_tell(copy) == 0 and read_stream(copy) == b""


# ------------------------------------------------------ copies in memory

def test_a_copy_in_memory_of_a_file_is_no_longer_the_file(tmp_path):
    path = tmp_path / "f.bin"
    data = bytes(range(256)) * 48
    path.write_bytes(data)
    mapped = q.RandomAccessFactory_map_file(str(path))
    storage = q.DataAccess_get_storage(q.StreamAccessFactory_open_file_read(str(path)))
    sources = {"mapped": (mapped, 0), "region": (q.RandomAccessFactory_extract_region(mapped, 100, 1000), 100),
               "folder": (q.DataStorage_open_random_access(storage, "f.bin", READ_WRITE), 0)}
    copies = {}
    for name, (store, at) in sources.items():
        copies[name] = copy = q.RandomAccessFactory_copy_in_memory(store)
        assert q.RandomAccessCapabilitySet_value(q.RandomAccess_get_capabilities(copy)) == 15, name
        assert q.RandomAccess_write(copy, 0, b"COPY") == 4
        assert path.read_bytes() == data, name
        assert read_store(copy)[4:] == data[at + 4:at + q.RandomAccess_get_size(store)]
    view = q.ImageViewFactory_from_random_access(mapped, [256, 48], UINT8)
    view_copy = q.ImageViewFactory_copy_in_memory(view)
    q.ImageView___write_region(view_copy, cls("RegionXu64")([0, 0], [4, 1]), b"VIEW")
    assert path.read_bytes() == data
    # the copies outlive the file
    os.truncate(path, 0)
    assert read_store(copies["mapped"]) == b"COPY" + data[4:]
    out = bytearray(len(data))
    q.ImageView___read_region(view_copy, q.RegionXu64_create_full_region([256, 48]), out)
    assert out == b"VIEW" + data[4:]
    # memory the library or the caller owns is its own copy
    buffer = bytearray(8)
    own = q.RandomAccessFactory___from_buffer(buffer)
    for store in (own, q.RandomAccessFactory_extract_region(own, 2)):
        q.RandomAccess_write(q.RandomAccessFactory_copy_in_memory(store), 0, b"xy")
    assert buffer == b"xyxy" + bytes(4)
