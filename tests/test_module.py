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


def test_attributes_in_registration_order():
    assert _native.__all__ == EXPECTED_ALL
    assert [name for name in vars(_native) if name in EXPECTED_ALL] == EXPECTED_ALL
    assert brindle.__all__[: len(EXPECTED_ALL)] == EXPECTED_ALL
    assert all(getattr(brindle, name) is getattr(_native, name) for name in EXPECTED_ALL)
    assert _native.__version__ == "1.0.0" and type(_native.__version__) is str
    assert (_native.__name__, _native.__doc__) == ("brindle._native", "")


def test_exception_family():
    assert _native.BrindleError.__bases__ == (Exception,)
    for name in ("BrindleError", "ParseError", "ValidationError", "VariableError"):
        cls = getattr(_native, name)
        assert (cls.__module__, cls.__name__, cls.__doc__) == ("brindle_native", name, None)
        if name != "BrindleError":
            assert cls.__bases__ == (_native.BrindleError,)
    assert not issubclass(_native.VariableError, _native.ParseError)


KEY_ITER = type(iter(_native.parse("")))


@pytest.mark.parametrize("cls", [_native.BrindleDocument, KEY_ITER])
def test_classes_without_constructor(cls):
    with pytest.raises(TypeError) as info:
        cls()
    assert str(info.value) == f"No constructor defined for {cls.__name__}"


def test_class_identity():
    assert _native.BrindleDocument.__module__ == _native.Annotation.__module__ == "brindle._native"
    assert KEY_ITER.__name__ == "KeyIter" and not hasattr(_native, "KeyIter")
    for cls in (_native.BrindleDocument, _native.Annotation, KEY_ITER):
        with pytest.raises(TypeError, match="not an acceptable base type"):
            type("Sub", (cls,), {})
    for obj in (_native.parse(""), _native.Annotation("x")):
        with pytest.raises(AttributeError):
            obj.extra = 1
        with pytest.raises(TypeError):
            weakref.ref(obj)


@pytest.mark.parametrize(
    "function, signature",
    [
        (_native.parse, "(source)"),
        (_native.validate, "(doc)"),
        (_native.validate_all, "(doc)"),
        (_native.dumps, "(data)"),
        (_native.Annotation, "(name, arg=None)"),
        (_native.BrindleDocument.get, "($self, key, default=None)"),
        (_native.BrindleDocument.keys, "($self)"),
        (_native.BrindleDocument.values, "($self)"),
        (_native.BrindleDocument.items, "($self)"),
        (_native.BrindleDocument.resolve, "($self, key_path, default=None)"),
        (_native.BrindleDocument.annotations, "($self, key_path)"),
        (_native.BrindleDocument.has_annotation, "($self, key_path, name)"),
        (_native.BrindleDocument.tags, "($self, key_path)"),
        (_native.BrindleDocument.required_keys, "($self)"),
        (_native.BrindleDocument.deprecated_keys, "($self)"),
        (_native.BrindleDocument.keys_with_tag, "($self, tag_name)"),
    ],
)
def test_text_signatures(function, signature):
    assert function.__text_signature__ == signature
    assert not function.__doc__


def test_functions_belong_to_the_module():
    for name in ("parse", "validate", "validate_all", "dumps"):
        assert getattr(_native, name).__module__ == "brindle._native"


def test_second_initialisation_is_refused():
    init = ctypes.PyDLL(_native.__file__).PyInit__native
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    assert _native.parse("a = 1")["a"] == 1  # the loaded module is untouched
