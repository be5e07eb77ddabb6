"""brindle.load and brindle.dump: paths, file objects, encodings."""

import contextlib
import io
import pickle

import pytest

import brindle

SOURCE = '[server]\nhost = "café.example"\nport = 8000 + 80\n'
CONFIG = {"server": {"host": "café.example", "port": 8080}}
OPENERS = {
    "str path": lambda path: contextlib.nullcontext(str(path)), "PathLike": contextlib.nullcontext,
    "binary file": lambda path: open(path, "rb"), "text file": lambda path: open(path, encoding="utf-8"),
    "BytesIO": lambda path: io.BytesIO(path.read_bytes()),
    "StringIO": lambda path: io.StringIO(path.read_text(encoding="utf-8")),
}


@pytest.mark.parametrize("opener", OPENERS.values(), ids=OPENERS.keys())
@pytest.mark.parametrize("data, config", [
    (SOURCE.encode(), CONFIG), (b"\xef\xbb\xbfname = 1\nother = 2\n", {"name": 1, "other": 2}),
], ids=["plain", "byte-order mark"])
def test_load_accepts_paths_and_file_objects(tmp_path, opener, data, config):
    (path := tmp_path / "app.brindle").write_bytes(data)
    with opener(path) as source:
        assert brindle.load(source).config == config


@pytest.mark.parametrize("data, offset, line, byte, opener", [
    (b'a = 1\nb = "caf\xe9"\n', 14, 2, "e9", "PathLike"),
    (b"\xef\xbb\xbfa = \xff\n", 7, 1, "ff", "str path"),  # the offset counts the byte-order mark
    (b"a = 1\n\n\xff", 7, 3, "ff", "binary file"), (b'a = "\xff"\n', 5, 1, "ff", "text file"),  # fails in read()
])
def test_invalid_utf8_names_the_file_and_offset(tmp_path, data, offset, line, byte, opener):
    (path := tmp_path / "bad.brindle").write_bytes(data)
    with pytest.raises(UnicodeDecodeError) as caught, OPENERS[opener](path) as source:
        brindle.load(source)
    error = caught.value
    assert isinstance(error, ValueError) and (error.start, error.end, error.lineno) == (offset, offset + 1, line)
    assert str(error) == f"{path}: not valid UTF-8: {error.reason} (byte 0x{byte} at offset {offset}, line {line})"
    assert str(pickle.loads(pickle.dumps(error))) == str(error)


LOAD_EXPECTS = "^load expects a path or a file object, not "


@pytest.mark.parametrize("call, error, match", [
    (lambda: brindle.load(io.BytesIO(b"ok = 1\nport = $missing\n")), brindle.VariableError, r"\(line 2, col 8\)$"),
    (lambda: brindle.load(io.BytesIO(b"\xff")), UnicodeDecodeError, "^<stream>: not valid UTF-8"),
    (lambda: brindle.load(42), TypeError, LOAD_EXPECTS + "int$"),
    (lambda: brindle.load(b"a = 1"), TypeError, LOAD_EXPECTS + r"bytes; to parse bytes, use parse\(data.decode\(\)\)$"),
    (lambda: brindle.load(type("R", (), {"read": lambda self: 1})()), TypeError, r"read\(\) of <stream> returned int"),
    (lambda: brindle.dump({"a": 1}, b"out.brindle"), TypeError, "^dump expects a path or a file object, not bytes$"),
])
def test_load_and_dump_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("target, data", [
    (contextlib.nullcontext, brindle.parse(SOURCE)), (lambda path: contextlib.nullcontext(str(path)), CONFIG),
    (lambda path: open(path, "w", encoding="utf-8"), brindle.parse(SOURCE)), (lambda path: open(path, "wb"), CONFIG),
    (lambda path: contextlib.nullcontext(io.StringIO()), CONFIG),
    (lambda path: contextlib.nullcontext(io.BytesIO()), brindle.parse(SOURCE)),
], ids=["PathLike", "str path", "text file", "binary file", "StringIO", "BytesIO"])
def test_dump_writes_what_dumps_gives(tmp_path, target, data):
    with target(tmp_path / "out.brindle") as file:
        brindle.dump(data, file)
    written = file.getvalue() if hasattr(file, "getvalue") else (tmp_path / "out.brindle").read_bytes()
    assert written in (brindle.dumps(data), brindle.dumps(data).encode()) and "café" in brindle.dumps(data)


class Endless(io.RawIOBase):
    """A binary stream that never ends, like /dev/zero."""

    def readable(self):
        return True

    def readinto(self, buffer):
        buffer[:] = b"\0" * len(buffer)
        return len(buffer)


@pytest.mark.parametrize("opener", OPENERS.keys())
@pytest.mark.parametrize("max_size, fits", [(len(SOURCE.encode()), True), (len(SOURCE.encode()) - 1, False), (0, False)])
def test_load_max_size_counts_bytes(tmp_path, opener, max_size, fits):
    (path := tmp_path / "app.brindle").write_text(SOURCE, encoding="utf-8")  # é is two bytes
    name = "<stream>" if opener.endswith("IO") else str(path)
    with OPENERS[opener](path) as source:
        if fits:
            assert brindle.load(source, max_size=max_size).config == CONFIG
            return
        with pytest.raises(ValueError) as caught:
            brindle.load(source, max_size=max_size)
    error = caught.value
    assert (str(error), error.filename, error.max_size) == (f"{name}: larger than {max_size} bytes", name, max_size)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.args, copy.__dict__, str(copy)) == (type(error), error.args, error.__dict__, str(error))


@pytest.mark.parametrize("source", [Endless(), io.BufferedReader(Endless()), io.TextIOWrapper(io.BufferedReader(Endless()))])
def test_load_max_size_stops_reading_endless_input(source):
    with pytest.raises(ValueError, match=r"^<stream>: larger than 4096 bytes$"):
        brindle.load(source, max_size=4096)


def test_load_max_size_rejects_a_negative_limit():
    with pytest.raises(ValueError, match="max_size must be at least 0"):
        brindle.load(io.BytesIO(b""), max_size=-1)
