"""Editor files: the TextMate grammar and the VS Code extension folder."""

import json
import re
import shutil
import subprocess
from pathlib import Path

import pytest

from brindle import _scan

ROOT = Path(__file__).resolve().parent.parent
EDITORS = ROOT / "editors"
GRAMMAR = json.loads((EDITORS / "brindle.tmLanguage.json").read_text(encoding="utf-8"))
VSCODE = EDITORS / "vscode"


def rules(node):
    """(scope, regex, group) for every named regex of the grammar, captures included."""
    if isinstance(node, list):
        for item in node:
            yield from rules(item)
        return
    if not isinstance(node, dict):
        return
    regex = node.get("match") or node.get("begin")
    if regex and "name" in node:
        yield node["name"], regex, 0
    for key, pattern in (("captures", node.get("match") or node.get("begin")), ("beginCaptures", node.get("begin")),
                         ("endCaptures", node.get("end"))):
        for group, capture in node.get(key, {}).items():
            if "name" in capture:
                yield capture["name"], pattern, int(group)
            yield from rules(capture.get("patterns", []))
    if node.get("end") and "name" in node:
        yield node["name"] + "#end", node["end"], 0
    yield from rules(node.get("patterns", []))
    yield from rules(list(node.get("repository", {}).values()))


RULES = list(rules(GRAMMAR))

# scope -> (sample line, the text the scope must cover in it)
SAMPLES = {
    "comment.line.number-sign.brindle": ("k = 1 # note", "# note"),
    "keyword.other.vars.brindle": ("[vars]", "vars"),
    "entity.name.section.brindle": ('[server."a.b"]  # x', 'server."a.b"'),
    "string.quoted.double.section.brindle": ('server."a.b"', '"a.b"'),
    "punctuation.separator.section.brindle": ("a.b", "."),
    "punctuation.definition.section.begin.brindle": ("  [server]", "["),
    "storage.type.annotation.brindle": ("  @required", "@required"),
    "support.type.brindle": ("@type: list[string]", "list[string]"),
    "punctuation.separator.annotation.brindle": ("@min: 5", ":"),
    "string.quoted.double.annotation.brindle": ('@pattern: "[a-z]+"', '"[a-z]+"'),
    "constant.numeric.annotation.brindle": ("@max: -1.5e3", "-1.5e3"),
    "string.unquoted.annotation.brindle": ("@tag: env=prod", "env=prod"),
    "punctuation.definition.dict.end.brindle": ("}#  # done", "}#"),
    "variable.other.key.brindle": ('"quoted \\" key" = 1', '"quoted \\" key"'),
    "variable.other.definition.brindle": ("base_port = 8000", "base_port"),
    "keyword.operator.assignment.brindle": ("my-key = #{", "="),
    "comment.block.ignored.brindle": ("key: value # why", "key: value"),
    "string.quoted.double.brindle": ('"a\\n"', '"'),
    "constant.character.escape.brindle": ('"a\\tb"', "\\t"),
    "constant.numeric.hex.brindle": ("0x_1F", "0x_1F"),
    "constant.numeric.octal.brindle": ("0o17", "0o17"),
    "constant.numeric.binary.brindle": ("0b101", "0b101"),
    "constant.numeric.float.brindle": ("1_000.5", "1_000.5"),
    "constant.numeric.integer.brindle": ("1_000", "1_000"),
    "constant.language.brindle": ("[true, null]", "true"),
    "variable.other.environment.brindle": ("$ENV.HOME ?? 1", "$ENV.HOME"),
    "variable.language.builtin.brindle": ("$NOW + 1", "$NOW"),
    "variable.other.reference.brindle": ("$base_port+1", "$base_port"),
    "keyword.operator.fallback.brindle": ("$a ?? 1", "??"),
    "keyword.operator.arithmetic.brindle": ("1 * 2", "*"),
    "punctuation.separator.comma.brindle": ("1, 2", ","),
    "punctuation.definition.array.begin.brindle": ("[1]", "["),
    "punctuation.definition.dict.begin.brindle": ("#{ a = 1 }#", "#{"),
}

# Every kind of token the Pygments lexer tells apart has a scope here.
SCOPE_OF_KIND = {
    _scan.COMMENT: "comment.line.number-sign.brindle", _scan.IGNORED: "comment.block.ignored.brindle",
    _scan.SECTION_PUNCT: "punctuation.definition.section.begin.brindle", _scan.SECTION_NAME: "entity.name.section.brindle",
    _scan.VARS_HEADER: "keyword.other.vars.brindle", _scan.ANN_NAME: "storage.type.annotation.brindle",
    _scan.ANN_PUNCT: "punctuation.separator.annotation.brindle", _scan.ANN_TEXT: "string.unquoted.annotation.brindle",
    _scan.ANN_STRING: "string.quoted.double.annotation.brindle", _scan.ANN_NUMBER: "constant.numeric.annotation.brindle",
    _scan.ANN_TYPE: "support.type.brindle", _scan.KEY: "variable.other.key.brindle",
    _scan.VAR_KEY: "variable.other.definition.brindle", _scan.EQUALS: "keyword.operator.assignment.brindle",
    _scan.STRING: "string.quoted.double.brindle", _scan.ESCAPE: "constant.character.escape.brindle",
    _scan.INTEGER: "constant.numeric.integer.brindle", _scan.HEX: "constant.numeric.hex.brindle",
    _scan.OCT: "constant.numeric.octal.brindle", _scan.BIN: "constant.numeric.binary.brindle",
    _scan.FLOAT: "constant.numeric.float.brindle", _scan.CONSTANT: "constant.language.brindle",
    _scan.REF_VAR: "variable.other.reference.brindle", _scan.REF_BUILTIN: "variable.language.builtin.brindle",
    _scan.REF_ENV: "variable.other.environment.brindle", _scan.OPERATOR: "keyword.operator.arithmetic.brindle",
    _scan.FALLBACK: "keyword.operator.fallback.brindle", _scan.PUNCT: "punctuation.separator.comma.brindle",
    _scan.DICT_OPEN: "punctuation.definition.dict.begin.brindle", _scan.DICT_CLOSE: "punctuation.definition.dict.end.brindle",
    _scan.DICT_KEY: "variable.other.key.brindle",
}
UNSCOPED_KINDS = {_scan.WS, _scan.NEWLINE, _scan.TEXT, _scan.ERROR}


def test_every_regex_compiles():
    assert RULES
    for scope, regex, _ in RULES:
        re.compile(regex)


@pytest.mark.parametrize("scope, sample", SAMPLES.items(), ids=SAMPLES.keys())
def test_scope_matches_its_sample(scope, sample):
    line, expected = sample
    found = []
    for name, regex, group in RULES:
        if name == scope:
            match = re.search(regex, line)
            found.append(match and match.group(group))
    assert found, f"no rule names {scope}"
    assert expected in found


def test_grammar_covers_the_token_kinds():
    kinds = {value for name, value in vars(_scan).items() if name.isupper() and isinstance(value, str)
             and not name.startswith("L_") and value not in ("other",)}
    kinds = {k for k in kinds if k in SCOPE_OF_KIND or k in UNSCOPED_KINDS}
    assert set(SCOPE_OF_KIND) | UNSCOPED_KINDS == kinds
    assert set(SCOPE_OF_KIND.values()) <= set(SAMPLES)


@pytest.mark.parametrize("line", ["[[table]]", "a.b = 1", "[header", "k =", "; note"])
def test_ignored_lines_match_no_other_top_level_rule(line):
    # Lines the parser skips fit none of the line rules, only the catch-all.
    top = [GRAMMAR["repository"][p["include"][1:]] for p in GRAMMAR["patterns"]]
    line_rules = [rule for rule in top if (rule.get("match") or rule["begin"]).startswith("^")]
    matching = [rule.get("name", rule.get("begin")) for rule in line_rules if re.search(rule.get("match") or rule["begin"], line)]
    assert matching == ["comment.block.ignored.brindle"]


def test_vscode_extension_folder():
    package = json.loads((VSCODE / "package.json").read_text(encoding="utf-8"))
    (language,) = package["contributes"]["languages"]
    assert language["id"] == "brindle" and language["extensions"] == [".brindle"]
    (grammar,) = package["contributes"]["grammars"]
    assert grammar["scopeName"] == GRAMMAR["scopeName"]
    # The extension carries its own copy of the grammar; it must not drift.
    assert (VSCODE / grammar["path"]).read_bytes() == (EDITORS / "brindle.tmLanguage.json").read_bytes()
    config = json.loads((VSCODE / language["configuration"]).read_text(encoding="utf-8"))
    assert config["comments"]["lineComment"] == "#"
    assert ["#{", "}#"] in config["brackets"] and ["[", "]"] in config["brackets"]
    settings = package["contributes"]["configuration"]["properties"]
    assert settings["brindle.server.command"]["default"] == "brindle"
    assert settings["brindle.server.args"]["default"] == ["lsp"]
    script = (VSCODE / package["main"]).read_text(encoding="utf-8")
    for key in ("command", "args", "enabled"):
        assert f'settings.get("{key}"' in script


@pytest.mark.skipif(shutil.which("node") is None, reason="node is not installed")
def test_vscode_extension_script_is_valid_javascript():
    subprocess.run(["node", "--check", str(VSCODE / "extension.js")], check=True)
