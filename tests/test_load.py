"""brindle.load and brindle.dump: paths, file objects, encodings."""

import contextlib
import io
import pickle

import pytest

import brindle

SOURCE = '[server]\nhost = "café.example"\nport = 8000 + 80\n'
CONFIG = {"server": {"host": "café.example", "port": 8080}}

OPENERS = {
    "str path": lambda path: contextlib.nullcontext(str(path)),
    "PathLike": contextlib.nullcontext,
    "binary file": lambda path: open(path, "rb"),
    "text file": lambda path: open(path, encoding="utf-8"),
    "BytesIO": lambda path: io.BytesIO(path.read_bytes()),
    "StringIO": lambda path: io.StringIO(path.read_text(encoding="utf-8")),
}


@pytest.mark.parametrize("opener", OPENERS.values(), ids=OPENERS.keys())
@pytest.mark.parametrize("data, config", [
    (SOURCE.encode(), CONFIG),
    (b"\xef\xbb\xbfname = 1\nother = 2\n", {"name": 1, "other": 2}),
], ids=["plain", "byte-order mark"])
def test_load_accepts_paths_and_file_objects(tmp_path, opener, data, config):
    path = tmp_path / "app.brindle"
    path.write_bytes(data)
    with opener(path) as source:
        assert brindle.load(source).config == config


@pytest.mark.parametrize("data, offset, line, byte, opener", [
    (b'a = 1\nb = "caf\xe9"\n', 14, 2, "e9", lambda path: path),
    # The offset is into the file as stored, byte-order mark included.
    (b"\xef\xbb\xbfa = \xff\n", 7, 1, "ff", str),
    (b"a = 1\n\n\xff", 7, 3, "ff", lambda path: open(path, "rb")),
    (b'a = "\xff"\n', 5, 1, "ff", lambda path: open(path, encoding="utf-8")),  # fails while reading
])
def test_invalid_utf8_names_the_file_and_offset(tmp_path, data, offset, line, byte, opener):
    path = tmp_path / "bad.brindle"
    path.write_bytes(data)
    source = opener(path)
    with pytest.raises(UnicodeDecodeError) as caught:
        brindle.load(source)
    getattr(source, "close", lambda: None)()
    error = caught.value
    assert isinstance(error, ValueError) and (error.start, error.end, error.lineno) == (offset, offset + 1, line)
    assert str(error) == f"{path}: not valid UTF-8: {error.reason} (byte 0x{byte} at offset {offset}, line {line})"
    assert str(pickle.loads(pickle.dumps(error))) == str(error)


def test_load_raises_parse_errors_with_position():
    with pytest.raises(brindle.VariableError, match=r"\(line 2, col 8\)$"):
        brindle.load(io.BytesIO(b"ok = 1\nport = $missing\n"))
    with pytest.raises(UnicodeDecodeError, match="^<stream>: not valid UTF-8"):
        brindle.load(io.BytesIO(b"\xff"))


class Reads:
    def read(self):
        return 1


@pytest.mark.parametrize("bad", [42, None, b"a = 1", bytearray(b"a = 1"), Reads()])
def test_load_rejects_other_arguments(bad):
    with pytest.raises(TypeError, match="load expects a path or a file object|read\\(\\) of <stream> returned int"):
        brindle.load(bad)


@pytest.mark.parametrize("target", [
    lambda path: contextlib.nullcontext(path),
    lambda path: contextlib.nullcontext(str(path)),
    lambda path: open(path, "w", encoding="utf-8"),
    lambda path: open(path, "wb"),
], ids=["PathLike", "str path", "text file", "binary file"])
def test_dump_then_load_gives_the_same_document(tmp_path, target):
    doc = brindle.parse(SOURCE)
    out = tmp_path / "out.brindle"
    with target(out) as file:
        brindle.dump(doc, file)
    assert out.read_bytes() == brindle.dumps(doc).encode("utf-8")
    assert brindle.load(out).config == CONFIG


def test_dump_writes_a_dict_to_in_memory_files():
    data = {"name": "ünïcode", "limits": {"max": 3}}
    text, binary = io.StringIO(), io.BytesIO()
    brindle.dump(data, text)
    brindle.dump(data, binary)
    assert text.getvalue() == brindle.dumps(data) and binary.getvalue() == brindle.dumps(data).encode("utf-8")
    assert brindle.parse(text.getvalue()).config == data


@pytest.mark.parametrize("bad", [42, b"out.brindle"])
def test_dump_rejects_other_targets(bad):
    with pytest.raises(TypeError, match="dump expects a path or a file object"):
        brindle.dump({"a": 1}, bad)
