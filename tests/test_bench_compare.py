"""bench/compare.py must refuse a parser that returns other data than was written,
also where == would let it pass (True for 1, 1.0 for 1, keys in another order)."""

import importlib.util
import math
import pathlib

import pytest

import brindle

_spec = importlib.util.spec_from_file_location(
    "compare", pathlib.Path(__file__).parent.parent / "bench" / "compare.py")
compare = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(compare)

DATA = {"a": {"k": 1, "l": [1.5, "x", True]}, "b": {"n": None, "z": -0.0}}


@pytest.mark.parametrize("change, where", [
    (lambda d: d["a"].update(k=True), "$.a.k: bool"),
    (lambda d: d["a"].update(k=1.0), "$.a.k: float"),
    (lambda d: d["a"]["l"].__setitem__(2, 1), "$.a.l[2]: int"),
    (lambda d: d["a"]["l"].pop(), "$.a.l: 2 items, expected 3"),
    (lambda d: d["b"].update(z=0.0), "$.b.z: 0.0, expected -0.0"),
    (lambda d: d["b"].pop("n"), "$.b: missing ['n']"),
    (lambda d: d.update(c=1), "$: missing [], extra ['c']"),
    (lambda d: d.update(a=d.pop("a")), "$: keys in another order"),
    (lambda d: d["a"]["l"].__setitem__(1, "y"), "$.a.l[1]: 'y', expected 'x'"),
])
def test_other_data_is_found(change, where):
    got = {k: {kk: list(vv) if isinstance(vv, list) else vv for kk, vv in v.items()} for k, v in DATA.items()}
    assert compare.difference(got, DATA) is None
    change(got)
    assert compare.difference(got, DATA).startswith(where)


def test_nan_matches_only_nan():
    assert compare.difference([math.nan], [math.nan]) is None
    assert compare.difference([1.0], [math.nan]) is not None


@pytest.mark.parametrize("shape", compare.SHAPES)
def test_every_shape_reads_back_as_written(shape):
    # The generated data is in the key order brindle gives, so the strict check holds for it.
    data = compare.make_data(shape, 20_000)
    assert compare.difference(brindle.parse(brindle.dumps(data)).config, data) is None
