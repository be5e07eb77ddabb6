"""Typed loading: every conversion, every refusal, and where each error points."""

import dataclasses
import datetime
import enum
import pickle
import re
from pathlib import Path, PurePosixPath
from typing import Any, Literal, Optional, Union

import pytest
from hypothesis import example, given, settings, strategies as st

import brindle
from brindle import ConversionError, FieldError


class Color(enum.Enum):
    RED = "red"
    BLUE = "blue"


class Level(enum.IntEnum):
    LOW = 1
    HIGH = 2


def holder(tp, default=dataclasses.MISSING):
    """A dataclass with one field `k` of type `tp`."""
    field = dataclasses.field() if default is dataclasses.MISSING else dataclasses.field(default=default)
    return dataclasses.make_dataclass("Holder", [("k", tp, field)])


def load_k(tp, text, env=None, prelude=""):
    return brindle.loads(f"{prelude}k = {text}\n", into=holder(tp), env=env if env is not None else {}).k


# (field type, value text, environment, expected value)
CONVERSIONS = [
    (int, "5", None, 5),
    (int, "-0x10", None, -16),
    (float, "5", None, 5.0),
    (float, "2.5", None, 2.5),
    (bool, "false", None, False),
    (str, '"a"', None, "a"),
    (type(None), "null", None, None),
    (Optional[int], "null", None, None),
    (Optional[int], "3", None, 3),
    (int | None, "3", None, 3),
    (Union[int, str], '"x"', None, "x"),
    (Literal["a", "b"], '"b"', None, "b"),
    (Literal[1, True], "true", None, True),
    (Color, '"blue"', None, Color.BLUE),
    (Color, '"RED"', None, Color.RED),
    (Level, "2", None, Level.HIGH),
    (datetime.timedelta, '"30s"', None, datetime.timedelta(seconds=30)),
    (datetime.timedelta, '"5m"', None, datetime.timedelta(minutes=5)),
    (datetime.timedelta, '"12h"', None, datetime.timedelta(hours=12)),
    (datetime.timedelta, '"7d"', None, datetime.timedelta(days=7)),
    (datetime.timedelta, '"0s"', None, datetime.timedelta(0)),
    (Path, '"/etc/app"', None, Path("/etc/app")),
    (PurePosixPath, '"a/b"', None, PurePosixPath("a/b")),
    (list[int], "[1, 2]", None, [1, 2]),
    (list[Path], '["a"]', None, [Path("a")]),
    (list[list[float]], "[[1], []]", None, [[1.0], []]),
    (tuple[int, str], '[1, "a"]', None, (1, "a")),
    (tuple[int, ...], "[1, 2, 3]", None, (1, 2, 3)),
    (set[str], '["a", "a"]', None, {"a"}),
    (frozenset[int], "[1]", None, frozenset({1})),
    (dict[str, int], "#{ a = 1, b = 2 }#", None, {"a": 1, "b": 2}),
    (dict[str, Any], "#{ a = [1] }#", None, {"a": [1]}),
    (Any, "[1, null]", None, [1, None]),
    (list, '[1, "a"]', None, [1, "a"]),
    (tuple, "[1]", None, (1,)),
    (dict, "#{ a = 1 }#", None, {"a": 1}),
    (brindle.Value, "[1, #{ a = true }#]", None, [1, {"a": True}]),
    (brindle.Config, "#{ a = 1 }#", None, {"a": 1}),
    # Text from the environment takes the type its field asks for.
    (int, "$ENV.X", {"X": "42"}, 42),
    (int, "$ENV.X", {"X": " -7 "}, -7),
    (float, "$ENV.X", {"X": "1.5"}, 1.5),
    (float, "$ENV.X", {"X": "2"}, 2.0),
    (float, "$ENV.X", {"X": "1e3"}, 1000.0),
    (Optional[int], "$ENV.X ?? null", {"X": "8"}, 8),
    (Optional[int], "$ENV.X ?? null", {}, None),
    (int, "$ENV.X ?? 8080", {}, 8080),
    (Union[int, str], "$ENV.X", {"X": "5"}, 5),
    (Union[int, str], "$ENV.X", {"X": "five"}, "five"),
    (str, "$ENV.X", {"X": "42"}, "42"),
    (Literal[1, 2], "$ENV.X", {"X": "2"}, 2),
    (Level, "$ENV.X", {"X": "1"}, Level.LOW),
    (list[int], "[$ENV.A, $ENV.B]", {"A": "1", "B": "2"}, [1, 2]),
    (dict[str, bool], "#{ on = $ENV.A }#", {"A": "yes"}, {"on": True}),
    *[(bool, "$ENV.X", {"X": text}, value) for text, value in [
        ("true", True), ("false", False), ("1", True), ("0", False),
        ("yes", True), ("no", False), ("TRUE", True), ("No", False),
    ]],
]


@pytest.mark.parametrize(("tp", "text", "env", "expected"), CONVERSIONS)
def test_conversions(tp, text, env, expected):
    result = load_k(tp, text, env)
    assert result == expected
    assert type(result) is type(expected)


def test_environment_reaches_keys_through_variables():
    text = "[vars]\nport = $ENV.PORT ?? 8080\nalias = $port\n[server]\nk = $alias\n"
    settings = dataclasses.make_dataclass("S", [("server", holder(int))])
    assert brindle.loads(text, into=settings, env={"PORT": "9000"}).server.k == 9000
    assert brindle.loads(text, into=settings, env={}).server.k == 8080


# (field type, value text, environment, message, environment variable named)
REFUSALS = [
    (int, '"abc"', None, 'expected int, got "abc"', None),
    (int, '"5"', None, 'expected int, got "5"', None),
    (int, "5.0", None, "expected int, got 5.0", None),
    (int, "true", None, "expected int, got true", None),
    (float, '"1.5"', None, 'expected float, got "1.5"', None),
    (float, "null", None, "expected float, got null", None),
    (bool, "1", None, "expected bool, got 1", None),
    (bool, '"true"', None, 'expected bool, got "true"', None),
    (str, "5", None, "expected str, got 5", None),
    (str, "[1]", None, "expected str, got a list", None),
    (type(None), "0", None, "expected null, got 0", None),
    (Optional[int], '"x"', None, 'expected int, got "x"', None),
    (Union[int, str], "[1]", None, "expected int | str, got a list", None),
    (Literal["a", "b"], '"c"', None, 'expected one of "a", "b", got "c"', None),
    (Literal[1], "true", None, "expected one of 1, got true", None),
    (Color, '"green"', None, 'expected one of "red", "blue" (Color), got "green"', None),
    (Level, "1.0", None, "expected one of 1, 2 (Level), got 1.0", None),
    (datetime.timedelta, '"1h30m"', None, 'expected a duration such as "30s", "5m", "12h" or "7d", got "1h30m"', None),
    (datetime.timedelta, "30", None, 'expected a duration such as "30s", "5m", "12h" or "7d", got 30', None),
    (datetime.timedelta, '"99999999999d"', None, 'duration "99999999999d" is too long', None),
    (Path, "5", None, "expected a path string, got 5", None),
    (list[int], "5", None, "expected a list, got 5", None),
    (tuple[int, int], "[1]", None, "expected a list of 2 items, got 1", None),
    (dict[str, int], '"x"', None, 'expected a section or dict, got "x"', None),
    # Environment text converts only to what the field asks for, and only when it reads as that.
    (int, "$ENV.X", {"X": "abc"}, 'expected int, got "abc"', "X"),
    (int, "$ENV.X", {"X": "1.5"}, 'expected int, got "1.5"', "X"),
    (int, "$ENV.X", {"X": ""}, 'expected int, got ""', "X"),
    (int, "$ENV.X", {"X": "0x10"}, 'expected int, got "0x10"', "X"),
    (float, "$ENV.X", {"X": "1,5"}, 'expected float, got "1,5"', "X"),
    (float, "$ENV.X", {"X": "nan"}, 'expected float, got "nan"', "X"),
    (bool, "$ENV.X", {"X": "2"}, 'expected bool, got "2"', "X"),
    (bool, "$ENV.X", {"X": "on"}, 'expected bool, got "on"', "X"),
    (Literal[1, 2], "$ENV.X", {"X": "3"}, 'expected one of 1, 2, got "3"', "X"),
    (list[int], "$ENV.X", {"X": "1,2"}, 'expected a list, got "1,2"', "X"),
    (int, '"port-" + $ENV.X', {"X": "1"}, 'expected int, got "port-1"', None),
    # A default written in the file is not environment text, even behind `??`.
    (int, '$ENV.X ?? "8080"', {}, 'expected int, got "8080"', None),
]


@pytest.mark.parametrize(("tp", "text", "env", "message", "variable"), REFUSALS)
def test_refusals(tp, text, env, message, variable):
    with pytest.raises(ConversionError) as caught:
        load_k(tp, text, env, prelude="\n")
    [error] = caught.value.errors
    assert (error.path, error.message, error.env) == ("k", message, variable)
    assert error.line == 2
    # An environment value points at its `$ENV.` reference, others at the value.
    assert error.column == (text.index("$ENV") + 5 if variable else 5)
    suffix = f" (from $ENV.{variable})" if variable else ""
    assert str(caught.value) == f"<string>:2:{error.column}: k: {message}{suffix}"


@pytest.mark.parametrize(
    ("tp", "text", "path", "message"),
    [
        (list[int], '[1, "a", 3, true]', ["k[1]", "k[3]"], ['expected int, got "a"', "expected int, got true"]),
        (dict[str, int], '#{ a = "x", b = 1 }#', ["k.a"], ['expected int, got "x"']),
        (list[dict[str, int]], '[#{ a = 1 }#, #{ b = "2" }#]', ["k[1].b"], ['expected int, got "2"']),
    ],
)
def test_errors_inside_containers_name_their_item(tp, text, path, message):
    with pytest.raises(ConversionError) as caught:
        load_k(tp, text)
    assert [(e.path, e.message, e.line, e.column) for e in caught.value.errors] == [
        (p, m, 1, 5) for p, m in zip(path, message)
    ]


def nested_ints(levels):
    return int if levels == 0 else dict[str, nested_ints(levels - 1)]


# Quoted names holding points, in sections, blocks and inline dicts: each
# error points at its own value, or at the nearest enclosing one that has a
# place (inline dict entries have none of their own).
@pytest.mark.parametrize(("text", "levels", "expected"), [
    ('[a]\n"x.y" = "no"\n', 2, ("a.x.y", 2, 9)),
    ('[a."x.y"]\n"u.v" = "no"\n', 3, ("a.x.y.u.v", 2, 9)),
    ('["s.t"]\n"b.c" = #{\n  "p.q" = #{ "w" = "z" }#,\n}#\n', 4, ("s.t.b.c.p.q.w", 3, 11)),
    ('["s.t".k]\n"m.n" = #{ "u.v" = #{ "w.z" = "no" }# }#\n', 5, ("s.t.k.m.n.u.v.w.z", 2, 9)),
    ('["s.t"."k.l"]\n"m.n" = #{ "u.v" = "no" }#\n', 4, ("s.t.k.l.m.n.u.v", 2, 9)),
])
def test_quoted_names_holding_points_keep_their_positions(text, levels, expected):
    with pytest.raises(ConversionError) as caught:
        brindle.loads(text, into=nested_ints(levels), env={})
    assert [(e.path, e.line, e.column) for e in caught.value.errors] == [expected]


@dataclasses.dataclass
class Database:
    host: str
    port: int = 5432
    timeout: datetime.timedelta = datetime.timedelta(seconds=30)


@dataclasses.dataclass
class Server:
    port: int
    hosts: list[str] = dataclasses.field(default_factory=list)

    def __post_init__(self) -> None:
        if self.port == 0:
            raise ValueError("port 0 is not a port")


@dataclasses.dataclass
class Settings:
    database: Database
    server: Optional[Server] = None
    mode: Literal["dev", "prod"] = "dev"


def test_nested_dataclasses_with_defaults():
    settings = brindle.loads(
        '[database]\nhost = "db"\ntimeout = "5m"\n[server]\nport = $ENV.PORT\nhosts = ["a", "b"]\n',
        into=Settings,
        env={"PORT": "8000"},
    )
    assert settings == Settings(Database("db", 5432, datetime.timedelta(minutes=5)), Server(8000, ["a", "b"]))


def test_every_error_of_a_document_is_reported_together(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    Path("app.brindle").write_text(
        'mode = "test"\n'
        "[database]\n"
        "prot = 5432\n"
        "[database.extra]\n"
        "[server]\n"
        "port = $ENV.PORT ?? 8080\n"
        "hosts = [1]\n",
        encoding="utf-8",
    )
    with pytest.raises(ConversionError) as caught:
        brindle.load("app.brindle", into=Settings, env={"PORT": "abc"})
    assert str(caught.value).splitlines() == [
        'app.brindle:1:8: mode: expected one of "dev", "prod", got "test"',
        "app.brindle:2:2: database: missing key `host` (required by Database)",
        "app.brindle:3:1: database.prot: unknown key (not a field of Database)",
        "app.brindle:4:2: database.extra: unknown key (not a field of Database)",
        'app.brindle:6:8: server.port: expected int, got "abc" (from $ENV.PORT)',
        "app.brindle:7:9: server.hosts[0]: expected str, got 1",
    ]
    assert all(error.filename == "app.brindle" for error in caught.value.errors)
    assert isinstance(caught.value, brindle.BrindleError) and isinstance(caught.value, ValueError)


def test_class_checks_and_shape_errors():
    with pytest.raises(ConversionError) as caught:
        brindle.loads('database = 5\n[server]\nport = 0\n', into=Settings)
    assert [(e.path, e.message) for e in caught.value.errors] == [
        ("database", "expected a section for Database, got 5"),
        ("server", "Server: port 0 is not a port"),
    ]
    with pytest.raises(ConversionError) as caught:
        brindle.loads("", into=Settings)
    assert str(caught.value) == "<string>: (document): missing key `database` (required by Settings)"


def test_conversion_errors_pickle_with_their_details():
    with pytest.raises(ConversionError) as caught:
        load_k(int, "$ENV.X", {"X": "abc"})
    copy = pickle.loads(pickle.dumps(caught.value))
    assert type(copy) is ConversionError
    assert (copy.args, copy.errors) == (caught.value.args, caught.value.errors)
    assert copy.errors[0] == FieldError("k", 'expected int, got "abc"', None, 1, 5, "X")


@pytest.mark.parametrize("tp", [complex, dict[int, str], bytes])
def test_unsupported_targets_are_a_type_error(tp):
    with pytest.raises(TypeError, match="brindle cannot load into"):
        brindle.loads("k = [1]\n", into=holder(tp))


def test_environment_defaults_to_the_process(monkeypatch):
    monkeypatch.setenv("BRINDLE_TYPED_PORT", "7000")
    assert brindle.loads("k = $ENV.BRINDLE_TYPED_PORT\n", into=holder(int)).k == 7000


# --- properties over any environment text ---------------------------------------

ENV_TEXT = st.text(st.characters(exclude_categories=("Cs",)), max_size=12) | st.from_regex(r"[ +-]?[0-9]{1,25}", fullmatch=True)


@settings(max_examples=200, deadline=None)
@given(ENV_TEXT)
@example("0\x1f")  # a space that str.strip() drops and int() does not skip
@example("\x1c1.5")
def test_environment_text_converts_exactly_when_it_reads_as_the_field_type(text):
    assert load_k(str, "$ENV.X", {"X": text}) == text
    reads_as_int = re.fullmatch(r"[+-]?[0-9]+", text.strip()) is not None
    try:
        value = load_k(int, "$ENV.X", {"X": text})
    except ConversionError as error:
        assert not reads_as_int
        assert [(e.env, e.message) for e in error.errors] == [("X", f"expected int, got {brindle._typed.describe(text)}")]
    else:
        assert reads_as_int and value == int(text.strip())
    word = text.strip().lower()
    try:
        flag = load_k(bool, "$ENV.X", {"X": text})
    except ConversionError:
        assert word not in ("true", "false", "yes", "no", "1", "0")
    else:
        assert flag is (word in ("true", "yes", "1"))
