"""The module object, parse, validate, validate_all and dumps."""

import contextlib
import ctypes
import os
import weakref

import pytest

import brindle
from brindle import ParseError, ValidationError, VariableError, _native, dumps, parse, validate, validate_all

EXPECTED_ALL = "BrindleDocument Annotation parse validate validate_all dumps".split()
EXPECTED_ALL += ["BrindleError", "ParseError", "ValidationError", "VariableError", "__version__"]
DOC = _native.BrindleDocument
PACKAGE_ALL = ["load", "dump", "check", "Finding", "Related"]
PACKAGE_ALL += ["loads", "json_schema", "ConversionError", "FieldError", "Value", "Config"]
PACKAGE_ALL += ["format", "edit", "Editor"]


def test_attributes_in_registration_order():
    assert _native.__all__ == EXPECTED_ALL and brindle.__all__ == EXPECTED_ALL + PACKAGE_ALL
    assert [name for name in vars(_native) if name in EXPECTED_ALL] == EXPECTED_ALL
    assert all(getattr(brindle, name) is getattr(_native, name) for name in EXPECTED_ALL)
    assert (_native.__name__, _native.__doc__, _native.__version__) == ("brindle._native", "", "1.0.0")
    assert {getattr(_native, name).__module__ for name in EXPECTED_ALL[:6]} == {"brindle._native"}


@pytest.mark.parametrize("name", ["BrindleError", "ParseError", "ValidationError", "VariableError"])
def test_exception_family(name):
    cls = getattr(_native, name)
    assert (cls.__module__, cls.__name__, cls.__doc__) == ("brindle_native", name, None)
    # BrindleError is also a ValueError, as the errors of json and tomllib are.
    assert cls.__bases__ == ((ValueError,) if name == "BrindleError" else (_native.BrindleError,))


@pytest.mark.parametrize("make, name", [
    (lambda: parse(""), "BrindleDocument"), (lambda: _native.Annotation("x"), "Annotation"),
    (lambda: iter(parse("")), "KeyIter"),
])
def test_classes_are_closed(make, name):
    cls, obj = type(make()), make()
    assert cls.__name__ == name and hasattr(_native, name) is (name != "KeyIter")
    if cls is not _native.Annotation:
        with pytest.raises(TypeError, match=f"^No constructor defined for {cls.__name__}$"):
            cls()
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(obj)


def test_text_signatures_and_second_initialisation():
    # Stubtest checks the signatures against the stubs but passes over a callable that has none.
    methods = [getattr(DOC, name) for name in dir(DOC) if not name.startswith("_") and callable(getattr(DOC, name))]
    for function in [*(getattr(_native, name) for name in EXPECTED_ALL[1:6]), *methods]:
        assert function.__text_signature__ and not function.__doc__, function
    assert len(methods) == 11
    init = ctypes.PYFUNCTYPE(ctypes.py_object)(("PyInit__native", ctypes.PyDLL(_native.__file__)))
    with pytest.raises(ImportError):
        init()
    assert _native.parse("a = 1")["a"] == 1  # the loaded module is untouched


@pytest.mark.parametrize("source, cls, message, line, column", [
    ("[ a..b]", ParseError, "invalid section name: `a..b`", 1, 2),
    ("x = 1\n  y = $nope\n", VariableError, "undefined variable `$nope`", 2, 7),
    ("a = 1\r\nb = oops\r\n", ParseError, "cannot parse value: `oops`", 2, 5),
    # Variables are evaluated first, whatever comes earlier in the text.
    ("[a..b]\n[vars]\nv = $missing\n", VariableError, "undefined variable `$missing`", 3, 5),
    # A block left open swallows the rest of the file: that comes first, on its key.
    ("[vars]\nv = $missing\n[s]\n  pool = #{ # x\nk = 1\n[t]\nj = oops\n", ParseError,
     "unclosed block: `pool = #{` has no closing `}#`", 4, 3),
    ("k = 9223372036854775807 + 1\n", ParseError, "integer overflow in `+`", 1, 25),
    ("k = [1, -4611686018427387904 * 2 * 2]\n", ParseError, "integer overflow in `*`", 1, 34),
])
def test_first_error_with_position(source, cls, message, line, column):
    with pytest.raises(brindle.BrindleError) as info:
        parse(source)
    assert type(info.value) is cls and info.value.args == (f"{message} (line {line}, col {column})",)
    assert (info.value.lineno, info.value.colno) == (line, column)


def test_whole_document_end_to_end():
    doc = parse(type("Src", (str,), {})(
        '# settings\n@required\ntitle = $name + "-" + 1\n@deprecated\n[vars]\nbase = 8000\nname = "svc"\n   \n\t\n'
        '[server]\n@min: 1\nport = $base + 80   # comment\nhosts = [\n  "a",\n]\n'
        "[server.limits]\nrate = 1_000\nopts = #{\n  @type: int\n  pool = 5,\n}#\n"
    ))
    server = {"port": 8080, "hosts": ["a"], "limits": {"rate": 1000, "opts": {"pool": 5}}}
    assert doc.config == {"title": "svc-1", "server": server} and doc.vars == {"base": 8000, "name": "svc"}
    assert doc.required_keys() == ["title"] and doc.annotations("server.port")[0].arg == 1
    assert doc.has_annotation("server.limits.opts.pool", "type") and parse(source="a = 1") is not parse("a = 1")


def test_environment(monkeypatch):
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "from-env"), monkeypatch.delenv("BRINDLE_TEST_UNSET", raising=False)
    monkeypatch.setitem(os.environb, b"BRINDLE_TEST_BYTES", b"\xff\xfe")
    doc = parse("a = $ENV.BRINDLE_TEST_VALUE\nb = $ENV.BRINDLE_TEST_UNSET\nc = $ENV.BRINDLE_TEST_BYTES ?? 0\np = $PID")
    # Unset and not-UTF-8 values are both absent.
    assert doc.config == {"a": "from-env", "b": None, "c": 0, "p": os.getpid()}
    monkeypatch.setenv("BRINDLE_TEST_VALUE", "changed")  # read afresh on every parse
    assert parse("a = $ENV.BRINDLE_TEST_VALUE")["a"] == "changed"


@pytest.mark.parametrize("call, error, match", [
    (lambda: parse(b"a = 1"), TypeError, "^argument 'source' must be str, not bytes$"),
    (lambda: parse("a = '\ud800'"), UnicodeEncodeError, "surrogate"), (lambda: parse("a", "b"), TypeError, "at most 1"),
    (lambda: parse(text="a = 1"), TypeError, "'source'"), (lambda: validate("k = 1"), TypeError, "'doc'"),
    # parse(text) alone takes a short path; every other call the general one.
    (lambda: parse(), TypeError, "missing required argument 'source'"),
    (lambda: parse(source=b"a"), TypeError, "^argument 'source' must be str, not bytes$"),
    (lambda: parse("a = 1", envx={}), TypeError, "'envx' is an invalid keyword argument"),
    (lambda: parse("a = 1", source="a = 1"), TypeError, "given by name \\('source'\\) and position"),
    (lambda: parse("a = 1", env=[1]), TypeError, "^argument 'env' must be a mapping of str to str, not list$"),
    (lambda: parse("a = 1", None), TypeError, "at most 1"),
    (lambda: validate_all(document=None), TypeError, "'doc'"),
    (lambda: dumps([("a", 1)]), TypeError, "^dumps expects a BrindleDocument or a dict$"),
    (lambda: dumps(value={}), TypeError, "missing required argument 'data'"),
])
def test_argument_errors(call, error, match):
    with pytest.raises(error, match=match):
        call()


@pytest.mark.parametrize("source, messages", [
    ("@min: 10\n@max: -5\nk = -1\n", ["[k] value -1 is below @min: 10", "[k] value -1 exceeds @max: -5"]),
    ("@deprecated\n[s]\n@min: 1\nport = 0", ["[s.port] value 0 is below @min: 1"]),  # the warning is dropped
    ("@deprecated: use other\n@min: 1\nold = 1\n", []),
    ('@pattern: "(a"\nk = "a"\n', ["[k] invalid @pattern regex: found open group without closing ')'"]),
    # Quoted names holding a point are reached as written.
    ('[a]\n@min: 5\n"x.y" = 1\n@required\n[b."c.d"]\n',
     ["[a.x.y] value 1 is below @min: 5", "[b.c.d] value is @required but is empty or null"]),
    ("@deprecated\na = 0\n@min: 1\nb = 0\n@max: 0\nc = 1\n", ["[b] value 0 is below @min: 1", "[c] value 1 exceeds @max: 0"]),
])
def test_validation_results(source, messages):
    doc, errors = parse(source), validate_all(doc=parse(source))
    with pytest.raises(ValidationError) if messages else contextlib.nullcontext() as info:
        assert validate(doc=doc) is None
    # The first error is raised as is, with no position appended.
    assert [e.args for e in errors] == [(m,) for m in messages] and (info is None or info.value.args == (messages[0],))
    assert all(type(e) is ValidationError and e.__traceback__ is None for e in errors)


@pytest.mark.parametrize("data, text", [
    ({}, "\n"), ({"top": 1, "sec": {"k": True}}, "top = 1\n\n[sec]\nk = true\n"),
    ({"s": {"b": {"inner": {"x": 1}}}}, "[s]\nb = #{\n  inner = #{ x = 1 }#\n}#\n"),
    (parse("[vars]\nx = 2\n[server]\n@min: 1\nport = $x\n"), "[vars]\nx = 2\n\n[server]\n@min: 1\nport = 2\n"),
])
def test_dumps(data, text):
    snapshot = repr(data)
    assert dumps(data=data) == text and repr(data) == snapshot and dumps(parse(text)) == text


def test_pattern_compile_work_is_bounded():
    costly = "|".join(f".{{{n}}}" for n in range(1000, 960, -1))  # about 300 000 instructions compiled
    shared = "".join(f'@pattern: "{costly}"\nk{i} = "x"\n' for i in range(300))
    assert len(validate_all(parse(shared))) == 300  # one compile serves every key
    distinct = parse("".join(f'@pattern: "{costly}|y{{{i + 2}}}"\nk{i} = "y"\n' for i in range(8)))
    errors = [e.args[0] for e in validate_all(distinct)]
    checked = sum(m.startswith(f"[k{i}] value `y` does not match") for i, m in enumerate(errors))
    assert 2 <= checked < 8 and len(errors) == 8
    assert errors[checked:] == [f"[k{i}] @pattern not checked: the document's patterns exceed the compile limit"
                                for i in range(checked, 8)]
    with pytest.raises(ValidationError) as info:
        validate(distinct)
    assert info.value.args == (errors[0],)
