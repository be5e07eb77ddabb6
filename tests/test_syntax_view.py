"""The core's syntax tree as the editor support reads it (`brindle._native._syntax_view`)."""

import re

import pytest
from hypothesis import example, given, settings
from hypothesis import strategies as st

from brindle._native import _syntax_view


def view(source):
    return [dict(zip(("kind", "valid", "first", "last", "start", "end", "names", "value", "tokens", "refs"), line))
            for line in _syntax_view(source)]


def texts(source, spans):
    return [source[a:b] for a, b in spans]


# source -> [(kind, valid, names as written, value as written, token kinds)] per line
LINES = {
    "section segments": ('[a."b.c" . d]\n', [("section", True, ['a', '"b.c"', "d"], None,
                                               ["HeaderOpen", "SectionName", "HeaderClose"])]),
    "vars header": ("[vars] # v\n", [("vars", True, ["vars"], None, ["HeaderOpen", "SectionName", "HeaderClose",
                                                                     "Comment"])]),
    "invalid header": ("[a..b]\n", [("section", False, ["a", "", "b"], None,
                                     ["HeaderOpen", "SectionName", "HeaderClose"])]),
    "quoted key with points": ('"x.y" = "a # b" # c\n', [("key", True, ['"x.y"'], '"a # b"',
                                                         ["Key", "Equals", "String", "Comment"])]),
    "dollar in a string": ('k = "$v" + $v\n', [("key", True, ["k"], '"$v" + $v',
                                                ["Key", "Equals", "String", "Operator", "Variable"])]),
    "annotation": ("@min: 1 # low\n", [("annotation", True, ["@min"], "1", ["Annotation", "Comment"])]),
    "annotation with text": ("@deprecated(use b)\n", [("annotation", True, ["@deprecated"], "use b", ["Annotation"])]),
    "invalid annotation": ("@min 5\n", [("annotation", False, [], None, ["Annotation"])]),
    "block": ("b = #{\n  x = 1,\n  [h]\n}#\n", [
        ("block-open", True, ["b"], None, ["Key", "Equals", "BlockOpen"]),
        ("key", True, ["x"], "1", ["Key", "Equals", "Scalar", "Comma"]),
        ("ignored", True, [], None, ["Text"]),  # a header inside a block is no header
        ("block-close", True, [], None, ["BlockClose"])]),
    "unclosed block": ("b = #{\nx = 1\n", [("block-open", False, ["b"], None, ["Key", "Equals", "BlockOpen"]),
                                           ("key", True, ["x"], "1", ["Key", "Equals", "Scalar"])]),
    "multi-line array": ("a = [\n  1, # one\n  2,\n]\n", [("key", True, ["a"], "[\n  1, # one\n  2,\n]",
                         ["Key", "Equals", "ArrayOpen", "Scalar", "Comma", "Comment", "Scalar", "Comma",
                          "ArrayClose"])]),
    "inline dict": ('d = #{ "k" = $ENV.X ?? 1 }#\n', [("key", True, ["d", '"k"'], '#{ "k" = $ENV.X ?? 1 }#',
                    ["Key", "Equals", "DictOpen", "DictKey", "Equals", "Variable", "Fallback", "Scalar",
                     "DictClose"])]),
    "comment, blank and ignored lines": ("# c\n\n  \nkey: value\n}#\n", [
        ("comment", True, [], None, ["Comment"]), ("blank", True, [], None, []), ("blank", True, [], None, []),
        ("ignored", True, [], None, ["Text"]), ("ignored", True, [], None, ["Text"])]),
}


@pytest.mark.parametrize("source, expected", LINES.values(), ids=LINES.keys())
def test_lines(source, expected):
    got = []
    for line in view(source):
        value = source[line["value"][0] : line["value"][1]] if line["value"] else None
        got.append((line["kind"], line["valid"], texts(source, [n[1:] for n in line["names"]]), value,
                    [kind for kind, _, _ in line["tokens"]]))
    assert got == expected


@pytest.mark.parametrize("source, names", [
    ('[a."b.c" . d]\n', ["a", "b.c", "d"]),
    ('"a \\" b" = 1\n', ['a " b']),
    ('"a\\\\b" = 1\n', ["a\\b"]),
    ("@type: int\n", ["type"]),
    ('d = [#{ "a.b" = 1, "c \\" d" = #{ e = 2 }# }#]\n', ["d", "a.b", 'c \\" d', "e"]),
    ("[vars]\n", ["vars"]),
])
def test_names_are_unquoted_as_the_parser_reads_them(source, names):
    (line,) = view(source)
    assert [name for name, _, _ in line["names"]] == names


def test_references():
    source = 'k = $a + "$b" + $NOW + $ENV.HOME ?? $ENV. ?? $TODAY\n'
    (line,) = view(source)
    assert [(kind, name, source[a:b]) for kind, name, a, b in line["refs"]] == [
        ("var", "a", "$a"), ("builtin", "NOW", "$NOW"), ("env", "HOME", "$ENV.HOME"), ("env", "", "$ENV."),
        ("builtin", "TODAY", "$TODAY")]


@pytest.mark.parametrize("source", [
    '[sé]\r\nnäme = "日本 🎉" # c\r\n"ü" = $v\r\n',
    "\ufeffa = 1\n",
    "a = [\r\n  1,\r\n]\r\nb = 2",
])
def test_offsets_count_characters_and_ends_leave_out_terminators(source):
    lines = view(source)
    for line in lines:
        assert not source[line["start"] : line["end"]].endswith(("\r", "\n"))
        assert source[line["end"] :].startswith(("\r\n", "\n")) or line["end"] == len(source)
        assert source.count("\n", 0, line["start"]) == line["first"]
        assert source.count("\n", 0, line["end"]) == line["last"]
    keys = [source[a:b] for line in lines for _, a, b in line["names"]]
    assert all(re.fullmatch(r'"[^"]*"|[\w-]+', key) for key in keys), keys


PIECES = st.sampled_from([
    "[s]", "[vars]", '["a.b" . c]', "[a..b]", "k = ", "@min: 1", "@x(", "$v", "$ENV.HOME", "??", " + ", "1",
    '"s # $x"', '"é🎉"', "#{", "}#", "[", "]", ",", "# c", "\n", "\r\n", " ", "\t", "=", "x = #{", "\n}#\n", "\\",
    "\u00a0", "\ufeff", "\ud800",
])


@settings(max_examples=300, deadline=None)
@given(st.lists(PIECES, max_size=40).map("".join))
@example('a = [\n  "x # y",\n]\n')
def test_spans_are_ordered_and_cover_everything_but_blanks(source):
    position = 0
    covered = []
    for line in view(source):
        assert position <= line["start"] <= line["end"] <= len(source)
        assert line["first"] == source.count("\n", 0, line["start"]) <= line["last"]
        for _, a, b in line["names"]:
            assert line["start"] <= a <= b <= line["end"]
        if line["value"] is not None:
            assert line["start"] <= line["value"][0] <= line["value"][1] <= line["end"]
        previous = line["start"]
        for _, a, b in line["tokens"]:
            assert previous <= a < b <= line["end"]
            covered.append((a, b))
            previous = b
        variables = {(a, b) for kind, a, b in line["tokens"] if kind == "Variable"}
        for _, name, a, b in line["refs"]:
            assert (a, b) in variables and source[a] == "$" and source[a:b].endswith(name)
        position = line["end"]
    # What no token holds is blanks and line ends only.
    gaps, position = [], 0
    for a, b in covered:
        gaps.append(source[position:a])
        position = b
    gaps.append(source[position:])
    assert all(gap.strip() in ("", "\ufeff") for gap in gaps)
