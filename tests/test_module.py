"""The module object: attributes, exception family, classes and initialisation."""

import ctypes
import inspect

import pytest

import brindle
from brindle import _native

EXPECTED_ALL = [
    "BrindleDocument",
    "Annotation",
    "parse",
    "validate",
    "validate_all",
    "dumps",
    "BrindleError",
    "ParseError",
    "ValidationError",
    "VariableError",
    "__version__",
]


def test_all_lists_attributes_in_registration_order():
    assert _native.__all__ == EXPECTED_ALL
    assert [name for name in vars(_native) if name in EXPECTED_ALL] == EXPECTED_ALL


def test_package_reexports_the_module():
    assert brindle.__all__[: len(EXPECTED_ALL)] == EXPECTED_ALL
    for name in EXPECTED_ALL:
        assert getattr(brindle, name) is getattr(_native, name)


def test_version_and_module_identity():
    assert _native.__version__ == "1.0.0"
    assert type(_native.__version__) is str
    assert _native.__name__ == "brindle._native"
    assert _native.__doc__ == ""


@pytest.mark.parametrize(
    "name", ["ParseError", "ValidationError", "VariableError"]
)
def test_exception_subclasses(name):
    cls = getattr(_native, name)
    assert issubclass(cls, _native.BrindleError)
    assert cls.__bases__ == (_native.BrindleError,)
    assert cls.__module__ == "brindle_native"
    assert cls.__name__ == name
    assert cls.__doc__ is None


def test_exception_root():
    assert _native.BrindleError.__bases__ == (Exception,)
    assert _native.BrindleError.__module__ == "brindle_native"
    assert not issubclass(_native.VariableError, _native.ParseError)
    assert not issubclass(_native.ParseError, _native.VariableError)


@pytest.mark.parametrize("cls", [_native.BrindleDocument, _native.Annotation])
def test_classes_report_the_import_path(cls):
    assert cls.__module__ == "brindle._native"
    assert cls.__qualname__ == cls.__name__


@pytest.mark.parametrize("args", [(), ("a = 1",), (1, 2)])
def test_document_has_no_constructor(args):
    with pytest.raises(TypeError) as info:
        _native.BrindleDocument(*args)
    assert str(info.value) == "No constructor defined for BrindleDocument"


def test_key_iterator_has_no_constructor_and_is_not_exported():
    iter_type = type(iter(_native.parse("a = 1")))
    assert iter_type.__name__ == "KeyIter"
    assert not hasattr(_native, "KeyIter")
    with pytest.raises(TypeError) as info:
        iter_type()
    assert str(info.value) == "No constructor defined for KeyIter"


@pytest.mark.parametrize(
    "cls", [_native.BrindleDocument, _native.Annotation, _native.parse("").__iter__().__class__]
)
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})


@pytest.mark.parametrize("cls", [_native.BrindleDocument, _native.Annotation])
def test_instances_have_no_dict_or_weakrefs(cls):
    obj = _native.parse("") if cls is _native.BrindleDocument else _native.Annotation("x")
    with pytest.raises(AttributeError):
        obj.extra = 1
    with pytest.raises(TypeError):
        __import__("weakref").ref(obj)


@pytest.mark.parametrize(
    "name, signature",
    [
        ("parse", "(source)"),
        ("validate", "(doc)"),
        ("validate_all", "(doc)"),
        ("dumps", "(data)"),
    ],
)
def test_function_signatures(name, signature):
    function = getattr(_native, name)
    assert function.__text_signature__ == signature
    assert function.__module__ == "brindle._native"
    assert function.__name__ == name
    assert str(inspect.signature(function)) == signature


@pytest.mark.parametrize(
    "method, signature",
    [
        ("get", "($self, key, default=None)"),
        ("keys", "($self)"),
        ("values", "($self)"),
        ("items", "($self)"),
        ("resolve", "($self, key_path, default=None)"),
        ("annotations", "($self, key_path)"),
        ("has_annotation", "($self, key_path, name)"),
        ("tags", "($self, key_path)"),
        ("required_keys", "($self)"),
        ("deprecated_keys", "($self)"),
        ("keys_with_tag", "($self, tag_name)"),
    ],
)
def test_document_method_signatures(method, signature):
    function = getattr(_native.BrindleDocument, method)
    assert function.__text_signature__ == signature
    assert function.__doc__ is None


def test_annotation_signature_and_properties():
    assert _native.Annotation.__text_signature__ == "(name, arg=None)"
    for prop in ("name", "arg", "is_metadata", "is_validation", "is_type_hint", "is_tag"):
        assert isinstance(vars(_native.Annotation)[prop], type(_native.BrindleDocument.config))
    for prop in ("config", "meta", "vars"):
        assert vars(_native.BrindleDocument)[prop].__doc__ is None


def test_second_initialisation_is_refused():
    library = ctypes.PyDLL(_native.__file__)
    init = library.PyInit__native
    init.restype = ctypes.py_object
    with pytest.raises(ImportError):
        init()
    # The module in use is untouched.
    assert _native.parse("a = 1")["a"] == 1
