"""Dotenv files for --env-file: every accepted form, and every malformed line refused with its number."""

import pickle

import pytest

from brindle._dotenv import DotenvError, parse_dotenv, read_dotenv

READS = [
    ("PORT=9000", {"PORT": "9000"}),
    ("export PORT=9000", {"PORT": "9000"}),
    ("export\tPORT = 9000  ", {"PORT": "9000"}),
    ("  # comment\n\nA=1\n# B=2", {"A": "1"}),
    ("A=1 # trailing comment", {"A": "1"}),
    ("A=a#b", {"A": "a#b"}),
    ("A=", {"A": ""}),
    ("A=x=y", {"A": "x=y"}),
    ("A='single # $X \\n'", {"A": "single # $X \\n"}),
    ('A="tab\\there \\"q\\" \\\\ \\$X"', {"A": 'tab\there "q" \\ $X'}),
    ('A="# not a comment" # a comment', {"A": "# not a comment"}),
    ('A="line one\nline two"\nB=2', {"A": "line one\nline two", "B": "2"}),
    ('A="\\q"', {"A": "\\q"}),
    ("A=1\nA=2", {"A": "2"}),
    ("_x9=ok\r\nY=z\r\n", {"_x9": "ok", "Y": "z"}),
    ("A=${B}", {"A": "${B}"}),
    ("A=über", {"A": "über"}),
]


@pytest.mark.parametrize(("text", "expected"), READS)
def test_reads(text, expected):
    assert parse_dotenv(text) == expected


REFUSALS = [
    ("A=1\nnot an assignment", 2, "expected `=` after `not`"),
    ("A=1\n= 2", 2, "expected NAME=value, got `= 2`"),
    ("9A=1", 1, "expected NAME=value, got `9A=1`"),
    ("A-B=1", 1, "expected `=` after `A`"),
    ("A", 1, "expected `=` after `A`"),
    ("A: 1", 1, "expected `=` after `A`"),
    ("export", 1, "expected `=` after `export`"),
    ("A='open", 1, "unterminated single-quoted value"),
    ('\n\nA="open\nmore', 3, "unterminated double-quoted value"),
    ('A="x" y', 1, "unexpected text after the closing quote: `y`"),
    ("A='x'y", 1, "unexpected text after the closing quote: `y`"),
]


@pytest.mark.parametrize(("text", "lineno", "message"), REFUSALS)
def test_refuses_malformed_lines(text, lineno, message):
    with pytest.raises(DotenvError) as caught:
        parse_dotenv(text, "deploy.env")
    error = caught.value
    assert (error.filename, error.lineno, error.msg) == ("deploy.env", lineno, message)
    assert str(error) == f"deploy.env:{lineno}: {message}"
    assert isinstance(error, ValueError)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.filename, copy.lineno, copy.msg) == (DotenvError, "deploy.env", lineno, message)


def test_reads_files_as_utf8_without_bom(tmp_path):
    path = tmp_path / ".env"
    path.write_bytes("\ufeffNAME=Zoë\n".encode())
    assert read_dotenv(str(path)) == {"NAME": "Zoë"}
