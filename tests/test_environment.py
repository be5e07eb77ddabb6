"""Choosing the environment `$ENV.` reads: parse/load/loads(env=...) and the command line's options."""

import json
import types
from collections.abc import Mapping

import pytest

import brindle
from brindle.cli import main

SOURCE = 'port = $ENV.BRINDLE_T_PORT ?? 8080\nhost = $ENV.BRINDLE_T_HOST ?? "localhost"\n'


class CountingMapping(Mapping):
    """A mapping that records how it is read."""

    def __init__(self, data):
        self.data, self.reads = dict(data), []

    def __getitem__(self, key):
        self.reads.append(("getitem", key))
        return self.data[key]

    def __iter__(self):
        self.reads.append(("iter",))
        return iter(self.data)

    def __len__(self):
        return len(self.data)

    def items(self):
        self.reads.append(("items",))
        return self.data.items()


@pytest.mark.parametrize(
    ("env", "expected"),
    [
        ({"BRINDLE_T_PORT": "9000"}, {"port": "9000", "host": "localhost"}),
        ({"BRINDLE_T_HOST": "", "OTHER": "x"}, {"port": 8080, "host": ""}),
        ({}, {"port": 8080, "host": "localhost"}),
        (types.MappingProxyType({"BRINDLE_T_HOST": "ünï"}), {"port": 8080, "host": "ünï"}),
        (CountingMapping({"BRINDLE_T_PORT": "1"}), {"port": "1", "host": "localhost"}),
    ],
)
def test_a_mapping_replaces_the_process_environment(monkeypatch, env, expected):
    monkeypatch.setenv("BRINDLE_T_PORT", "process")
    monkeypatch.setenv("BRINDLE_T_HOST", "process")
    assert brindle.parse(SOURCE, env=env).config == expected
    assert brindle.loads(SOURCE, env=env).config == expected
    # Without env, and with env=None, the process environment is read as before.
    assert brindle.parse(SOURCE).config == brindle.parse(SOURCE, env=None).config == {"port": "process", "host": "process"}


def test_the_mapping_is_copied_once_before_parsing():
    env = CountingMapping({"BRINDLE_T_PORT": "1"})
    brindle.parse(SOURCE * 50, env=env)
    assert env.reads == [("items",)]


def test_load_takes_the_environment_too(tmp_path):
    path = tmp_path / "app.brindle"
    path.write_text(SOURCE, encoding="utf-8")
    assert brindle.load(path, env={"BRINDLE_T_PORT": "7"})["port"] == "7"


@pytest.mark.parametrize(
    ("env", "message"),
    [
        ({"X": 1}, "env must map str to str"),
        ({1: "x"}, "env must map str to str"),
        ([("X", "1")], "argument 'env' must be a mapping of str to str, not list"),
        ("X=1", "argument 'env' must be a mapping of str to str, not str"),
    ],
)
def test_env_that_is_not_a_mapping_of_strings_is_a_type_error(env, message):
    with pytest.raises(TypeError, match=message):
        brindle.parse("a = 1\n", env=env)


def test_env_is_keyword_only():
    with pytest.raises(TypeError):
        brindle.parse("a = 1\n", {})


def test_a_mapping_that_fails_while_copied_passes_its_error_on():
    class Broken(Mapping):
        __getitem__ = __iter__ = __len__ = None

        def items(self):
            raise KeyError("broken")

    with pytest.raises(KeyError, match="broken"):
        brindle.parse("a = 1\n", env=Broken())


# --- the command line ---------------------------------------------------------

@pytest.fixture
def app(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("BRINDLE_T_PORT", "process")
    monkeypatch.delenv("BRINDLE_T_HOST", raising=False)
    (tmp_path / "app.brindle").write_text(SOURCE, encoding="utf-8")
    (tmp_path / "deploy.env").write_text(
        "# deployment\nexport BRINDLE_T_HOST='db.internal'\nBRINDLE_T_PORT=\"5000\" # from the file\n", encoding="utf-8"
    )
    (tmp_path / "broken.env").write_text("BRINDLE_T_PORT=1\nnot an assignment\n", encoding="utf-8")
    return tmp_path


@pytest.mark.parametrize(
    ("options", "expected"),
    [
        ([], {"port": "process", "host": "localhost"}),
        (["--no-env"], {"port": 8080, "host": "localhost"}),
        (["--env", "BRINDLE_T_HOST=h"], {"port": "process", "host": "h"}),
        (["--env", "BRINDLE_T_HOST=a=b", "--env", "BRINDLE_T_PORT="], {"port": "", "host": "a=b"}),
        (["--env-file", "deploy.env"], {"port": "5000", "host": "db.internal"}),
        (["--env-file", "deploy.env", "--env", "BRINDLE_T_PORT=1"], {"port": "1", "host": "db.internal"}),
        (["--env", "BRINDLE_T_PORT=1", "--env-file", "deploy.env"], {"port": "1", "host": "db.internal"}),
        (["--no-env", "--env", "BRINDLE_T_HOST=h"], {"port": 8080, "host": "h"}),
    ],
)
def test_options_choose_the_environment(app, capsys, options, expected):
    assert main(["json", *options, "app.brindle"]) == 0
    assert json.loads(capsys.readouterr().out) == expected


@pytest.mark.parametrize(
    ("command", "output"),
    [
        (["check"], "checked 1 file: no problems\n"),
        (["get", "--raw", "app.brindle", "port"], "8080\n"),
        (["dump"], "host = \"localhost\"\nport = 8080\n"),
    ],
)
def test_every_command_that_parses_takes_the_options(app, capsys, command, output):
    args = [*command, "app.brindle"] if len(command) == 1 else command
    assert main([args[0], "--no-env", *args[1:]]) == 0
    assert capsys.readouterr().out == output


def test_schema_takes_the_options(app, capsys):
    assert main(["schema", "--env", "BRINDLE_T_PORT=1", "app.brindle"]) == 0
    assert json.loads(capsys.readouterr().out)["properties"]["port"] == {"type": "string"}


@pytest.mark.parametrize(
    ("options", "message"),
    [
        (["--env", "NOEQUALS"], "brindle: error: --env expects NAME=VALUE, got `NOEQUALS`\n"),
        (["--env", "=x"], "brindle: error: --env expects NAME=VALUE, got `=x`\n"),
        (["--env-file", "absent.env"], "brindle: error: absent.env: No such file or directory\n"),
        (["--env-file", "broken.env"], "brindle: error: broken.env:2: expected `=` after `not`\n"),
    ],
)
def test_bad_environment_options_are_usage_errors(app, capsys, options, message):
    assert main(["check", *options, "app.brindle"]) == 2
    captured = capsys.readouterr()
    assert (captured.out, captured.err) == ("", message)
