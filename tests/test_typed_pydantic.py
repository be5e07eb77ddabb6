"""Typed loading into pydantic models (an optional extra): the same strictness, plus the model's own checks."""

import pytest

import brindle
from brindle import ConversionError

pydantic = pytest.importorskip("pydantic")


class Pool(pydantic.BaseModel):
    size: int = pydantic.Field(gt=0)


class App(pydantic.BaseModel):
    name: str
    pool: Pool
    debug: bool = False
    log_level: str = pydantic.Field(default="info", alias="log-level")


def test_pydantic_models():
    app = brindle.loads(
        'name = "shop"\n"log-level" = "debug"\ndebug = $ENV.DEBUG\n[pool]\nsize = $ENV.SIZE\n',
        into=App,
        env={"DEBUG": "yes", "SIZE": "4"},
    )
    assert app == App(name="shop", pool=Pool(size=4), debug=True, **{"log-level": "debug"})


def test_pydantic_models_are_strict_and_report_their_own_constraints():
    with pytest.raises(ConversionError) as caught:
        brindle.loads('name = 5\ncolour = "x"\n[pool]\nsize = 0\n', into=App, env={})
    assert [(e.path, e.message, e.line) for e in caught.value.errors] == [
        ("name", "expected str, got 5", 1),
        ("colour", "unknown key (not a field of App)", 2),
        ("pool.size", "Input should be greater than 0", 4),
    ]
    with pytest.raises(ConversionError) as caught:
        brindle.loads('name = "x"\n[pool]\nsize = 0\n', into=App, env={})
    [error] = caught.value.errors
    assert (error.path, error.line, error.column) == ("pool.size", 3, 8)
    assert "greater than 0" in error.message
