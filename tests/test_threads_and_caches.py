"""The fast paths give the same results as the plain ones: parsing without the
interpreter lock from several threads, the environment read while it is
released, the key cache and the paused collector of `.config`."""

import gc
import os
import threading

import pytest

from brindle import ValidationError, check, dumps, parse, validate, validate_all


def brief(findings):
    return [(f.code, f.line, f.column, f.message) for f in findings]


def document(n: int, width: int) -> dict:
    return {f"section_{s}": {f"key_{k}": [s, k, f"v{s}.{k}"] for k in range(width)} for s in range(n)}


@pytest.mark.parametrize("keys", [
    ["a", "b", "a"],                                      # repeated across dicts
    [f"k{i}" for i in range(3000)],                       # more keys than the cache has slots
    ["x" * 70, "x" * 70 + "y", "x" * 71],                 # too long to cache
    ["é", "日本", "\U0001f600", "a\\b", "q\"uote"],        # non-ASCII and escaped
])
def test_config_with_repeated_and_colliding_keys(keys):
    data = {f"s{i}": {k: i for k in keys} for i in range(3)}
    assert parse(dumps(data)).config == data


def keyed(names, value):
    return {name: value(i) for i, name in enumerate(names)}


SIX = ["a", "b", "c", "d", "e", "f"]


# Dicts with the same keys are built from a copy of the previous one: every
# value must still be its own, whatever the shapes around it.
@pytest.mark.parametrize("data", [
    {f"s{i}": keyed(SIX, lambda j, i=i: i * 10 + j) for i in range(5)},  # one shape again and again
    {f"s{i}": keyed(SIX, lambda j, i=i: keyed(SIX, lambda k: [i, j, k])) for i in range(3)},  # nested
    {"s0": keyed(SIX, str), "s1": keyed(["a", "b", "x", "y", "e", "f"], str), "s2": keyed(SIX, float)},
    {"s0": keyed(SIX, str), "s1": keyed(SIX[:5], str), "s2": keyed(SIX + ["g"], str), "s3": keyed(SIX, str)},
    {f"s{i}": keyed([f"k{j}" for j in range(i % 7 + 6)], lambda j, i=i: i + j) for i in range(300)},
    {"s": {"list": [keyed(SIX, lambda j, i=i: None if j % 2 else i) for i in range(4)]}},
])
def test_config_of_dicts_with_the_same_keys(data):
    config = parse(dumps(data)).config
    assert config == data
    # Every dict is an object of its own, so changing one changes no other.
    dicts = list(all_dicts(config))
    assert len({id(d) for d in dicts}) == len(dicts) == len(list(all_dicts(data)))


def all_dicts(value):
    if isinstance(value, dict):
        yield value
        for item in value.values():
            yield from all_dicts(item)
    elif isinstance(value, list):
        for item in value:
            yield from all_dicts(item)


@pytest.mark.parametrize("enabled", [True, False])
def test_config_leaves_the_collector_as_it_was(enabled):
    was = gc.isenabled()
    try:
        gc.enable() if enabled else gc.disable()
        parse(dumps(document(3, 3))).config
        assert gc.isenabled() is enabled
    finally:
        gc.enable() if was else gc.disable()


# Small sources keep the lock, larger ones release it (for the build, the
# checks, serializing and freeing the document): both give the same results.
@pytest.mark.parametrize("sections", [2, 40])
def test_threads_give_the_single_threaded_results(sections):
    sources = [
        dumps(document(sections + i, 30)) + f"\n[extra]\n@maxlen: 2\nenv = $ENV.BRINDLE_T{i} ?? \"none\"\n"
        for i in range(4)
    ]
    expected = [parse(s).config for s in sources]
    expected_checks = [brief(check(s)) for s in sources]
    assert all(expected_checks)
    results = [None] * len(sources)
    checks = [None] * len(sources)
    errors = []

    def work(i):
        try:
            for _ in range(5):
                results[i] = parse(sources[i]).config
                assert len(validate_all(parse(sources[i]))) == 1
                assert parse(dumps(parse(sources[i]))).config == expected[i]
                checks[i] = brief(check(sources[i]))
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(sources))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert results == expected
    assert checks == expected_checks


def test_environment_writers_while_parsing():
    # Many `$ENV.` reads, each taking the lock back, while another thread
    # keeps writing the environment: every read sees one whole value.
    source = "\n".join(f"k{i} = $ENV.BRINDLE_W ?? \"unset\"" for i in range(2000))
    stop = threading.Event()

    def writer():
        n = 0
        while not stop.is_set():
            os.environ["BRINDLE_W"] = "abc" if n % 2 else "defgh"
            n += 1

    t = threading.Thread(target=writer)
    t.start()
    try:
        for _ in range(5):
            values = set(parse(source).config.values())
            assert values <= {"abc", "defgh", "unset"}
    finally:
        stop.set()
        t.join()
        os.environ.pop("BRINDLE_W", None)


COSTLY = "|".join(f".{{{n}}}" for n in range(1000, 960, -1))  # about 300 000 instructions compiled


def validation_run(doc, call):
    if call == "all":
        return [e.args for e in validate_all(doc)]
    if call == "check":
        return brief(check(doc))
    try:
        validate(doc)
    except ValidationError as e:
        return e.args
    return None


# A small document keeps its compiled patterns between validations: each call, in
# any order, finds what the same call finds on a fresh document.
@pytest.mark.parametrize("source", [
    '@pattern: "[a-z]+"\na = "abc"\n@pattern: "[a-z]+"\nb = "ABC"\n@pattern: "("\nc = "x"\n'
    '[s]\n@pattern: "[0-9]+"\nd = "12"\n@pattern: "[0-9]+"\ne = "x1"\n',  # shared, failing, invalid
    "".join(f'@pattern: "{COSTLY}|y{{{i + 2}}}"\nk{i} = "y"\n' for i in range(8)),  # past the compile limit
])
@pytest.mark.parametrize("calls", [("all", "all", "check", "first"), ("first", "check", "all", "first")])
def test_validating_again_finds_the_same(source, calls):
    fresh = {call: validation_run(parse(source), call) for call in set(calls)}
    assert any(fresh.values())
    doc = parse(source)
    assert [validation_run(doc, call) for call in calls] == [fresh[call] for call in calls]
