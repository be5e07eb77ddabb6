"""brindle.load and brindle.dump: paths, file objects, encodings."""

from __future__ import annotations

import io
import pickle
from pathlib import Path
from typing import Any, Callable

import pytest

import brindle

SOURCE = '[server]\nhost = "café.example"\nport = 8000 + 80\n'
CONFIG = {"server": {"host": "café.example", "port": 8080}}


def _str_path(path: Path) -> Any:
    return str(path)


def _binary(path: Path) -> Any:
    return open(path, "rb")


def _text(path: Path) -> Any:
    return open(path, encoding="utf-8")


def _bytes_io(path: Path) -> Any:
    return io.BytesIO(path.read_bytes())


OPENERS: dict[str, Callable[[Path], Any]] = {
    "str path": _str_path,
    "PathLike": lambda path: path,
    "binary file": _binary,
    "text file": _text,
    "BytesIO": _bytes_io,
}


@pytest.fixture
def source_file(tmp_path: Path) -> Path:
    path = tmp_path / "app.brindle"
    path.write_bytes(SOURCE.encode("utf-8"))
    return path


@pytest.mark.parametrize("opener", OPENERS.values(), ids=OPENERS.keys())
def test_load_accepts_paths_and_file_objects(source_file: Path, opener: Callable[[Path], Any]) -> None:
    source = opener(source_file)
    try:
        doc = brindle.load(source)
    finally:
        if hasattr(source, "close"):
            source.close()
    assert doc.config == CONFIG


@pytest.mark.parametrize("opener", OPENERS.values(), ids=OPENERS.keys())
def test_byte_order_mark_does_not_hide_the_first_key(tmp_path: Path, opener: Callable[[Path], Any]) -> None:
    path = tmp_path / "bom.brindle"
    path.write_bytes(b"\xef\xbb\xbfname = 1\nother = 2\n")
    source = opener(path)
    try:
        doc = brindle.load(source)
    finally:
        if hasattr(source, "close"):
            source.close()
    assert doc.config == {"name": 1, "other": 2}


@pytest.mark.parametrize(
    ("data", "offset", "line", "byte"),
    [
        (b'a = 1\nb = "caf\xe9"\n', 14, 2, "e9"),
        # The offset is into the file as stored, byte-order mark included.
        (b"\xef\xbb\xbfa = \xff\n", 7, 1, "ff"),
    ],
    ids=["latin-1", "after BOM"],
)
def test_invalid_utf8_names_the_file_and_offset(tmp_path: Path, data: bytes, offset: int, line: int, byte: str) -> None:
    path = tmp_path / "bad.brindle"
    path.write_bytes(data)
    with pytest.raises(UnicodeDecodeError) as caught:
        brindle.load(path)
    error = caught.value
    assert isinstance(error, ValueError)
    assert (error.start, error.end) == (offset, offset + 1)
    assert str(error) == f"{path}: not valid UTF-8: {error.reason} (byte 0x{byte} at offset {offset}, line {line})"


def test_invalid_utf8_in_a_text_file_names_the_file(tmp_path: Path) -> None:
    path = tmp_path / "bad.brindle"
    path.write_bytes(b"a = \"\xff\"\n")
    with open(path, encoding="utf-8") as handle, pytest.raises(UnicodeDecodeError) as caught:
        brindle.load(handle)
    assert str(path) in str(caught.value)


def test_decode_error_survives_pickling(tmp_path: Path) -> None:
    path = tmp_path / "bad.brindle"
    path.write_bytes(b"\xff")
    with pytest.raises(UnicodeDecodeError) as caught:
        brindle.load(path)
    copy = pickle.loads(pickle.dumps(caught.value))
    assert str(copy) == str(caught.value)


def test_load_raises_parse_errors_with_position(tmp_path: Path) -> None:
    path = tmp_path / "bad.brindle"
    path.write_text("ok = 1\nport = $missing\n", encoding="utf-8")
    with pytest.raises(brindle.VariableError) as caught:
        brindle.load(path)
    assert str(caught.value).endswith("(line 2, col 8)")


@pytest.mark.parametrize("bad", [42, None, b"a = 1", bytearray(b"a = 1")])
def test_load_rejects_other_arguments(bad: Any) -> None:
    with pytest.raises(TypeError):
        brindle.load(bad)


@pytest.mark.parametrize("target", ["path", "str path", "text file", "binary file"])
def test_dump_then_load_gives_the_same_document(tmp_path: Path, source_file: Path, target: str) -> None:
    doc = brindle.load(source_file)
    out = tmp_path / "out.brindle"
    if target == "path":
        brindle.dump(doc, out)
    elif target == "str path":
        brindle.dump(doc, str(out))
    elif target == "text file":
        with open(out, "w", encoding="utf-8") as handle:
            brindle.dump(doc, handle)
    else:
        with open(out, "wb") as handle:
            brindle.dump(doc, handle)
    assert out.read_text(encoding="utf-8") == brindle.dumps(doc)
    assert brindle.load(out).config == CONFIG


def test_dump_writes_a_dict_to_in_memory_files() -> None:
    data = {"name": "ünïcode", "limits": {"max": 3}}
    text, binary = io.StringIO(), io.BytesIO()
    brindle.dump(data, text)
    brindle.dump(data, binary)
    assert text.getvalue() == brindle.dumps(data)
    assert binary.getvalue() == brindle.dumps(data).encode("utf-8")
    assert brindle.parse(text.getvalue()).config == data


@pytest.mark.parametrize("bad", [42, b"out.brindle"])
def test_dump_rejects_other_targets(bad: Any) -> None:
    with pytest.raises(TypeError):
        brindle.dump({"a": 1}, bad)
