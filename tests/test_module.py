"""The module object: attributes, exception family, classes and initialisation."""

import ctypes
import weakref

import pytest

import brindle
from brindle import _native

EXPECTED_ALL = [
    "BrindleDocument", "Annotation", "parse", "validate", "validate_all", "dumps",
    "BrindleError", "ParseError", "ValidationError", "VariableError", "__version__",
]  # fmt: skip
KEY_ITER = type(iter(_native.parse("")))
DOC = _native.BrindleDocument


def test_attributes_in_registration_order():
    assert _native.__all__ == EXPECTED_ALL
    assert [name for name in vars(_native) if name in EXPECTED_ALL] == EXPECTED_ALL
    assert brindle.__all__ == EXPECTED_ALL + ["load", "dump"]
    assert all(getattr(brindle, name) is getattr(_native, name) for name in EXPECTED_ALL)
    assert _native.__version__ == "1.0.0" and type(_native.__version__) is str
    assert (_native.__name__, _native.__doc__) == ("brindle._native", "")
    for name in ("parse", "validate", "validate_all", "dumps", "BrindleDocument", "Annotation"):
        assert getattr(_native, name).__module__ == "brindle._native"


@pytest.mark.parametrize("name", ["BrindleError", "ParseError", "ValidationError", "VariableError"])
def test_exception_family(name):
    cls = getattr(_native, name)
    assert (cls.__module__, cls.__name__, cls.__doc__) == ("brindle_native", name, None)
    assert cls.__bases__ == ((Exception,) if name == "BrindleError" else (_native.BrindleError,))


@pytest.mark.parametrize("cls", [DOC, _native.Annotation, KEY_ITER])
def test_classes_are_closed(cls):
    if cls is not _native.Annotation:
        with pytest.raises(TypeError) as info:
            cls()
        assert str(info.value) == f"No constructor defined for {cls.__name__}"
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    assert KEY_ITER.__name__ == "KeyIter" and not hasattr(_native, "KeyIter")
    for obj in (_native.parse(""), _native.Annotation("x")):
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


def test_text_signatures():
    # Their contents are checked against the stubs by stubtest, which passes
    # over a callable that has none.
    methods = [getattr(DOC, name) for name in dir(DOC) if not name.startswith("_") and callable(getattr(DOC, name))]
    functions = [_native.parse, _native.validate, _native.validate_all, _native.dumps, _native.Annotation]
    for function in functions + methods:
        assert function.__text_signature__ and not function.__doc__, function
    assert len(methods) == 11


def test_second_initialisation_is_refused():
    init = ctypes.PyDLL(_native.__file__).PyInit__native
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    assert _native.parse("a = 1")["a"] == 1  # the loaded module is untouched
