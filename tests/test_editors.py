"""Editor files: the TextMate grammar and the VS Code extension folder."""

import json
import re
import shutil
import subprocess
from pathlib import Path

import pytest

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
    pytest.importorskip("pygments")
    from pygments.token import Comment, Error, Keyword, Name, Number, Operator, Punctuation, String, Text, Whitespace

    from brindle._pygments import TOKEN_TYPES

    # Every token type the Pygments lexer emits has the scopes it stands for here.
    scopes_of_type = {
        Comment.Single: ["comment.line.number-sign.brindle"], Comment.Ignored: ["comment.block.ignored.brindle"],
        Punctuation: ["punctuation.definition.section.begin.brindle", "punctuation.separator.annotation.brindle",
                      "punctuation.separator.comma.brindle", "punctuation.definition.dict.begin.brindle",
                      "punctuation.definition.dict.end.brindle", "punctuation.definition.array.begin.brindle"],
        Name.Namespace: ["entity.name.section.brindle"], Keyword.Namespace: ["keyword.other.vars.brindle"],
        Name.Decorator: ["storage.type.annotation.brindle"], String: ["string.unquoted.annotation.brindle"],
        String.Double: ["string.quoted.double.annotation.brindle", "string.quoted.double.brindle"],
        Number: ["constant.numeric.annotation.brindle"], Keyword.Type: ["support.type.brindle"],
        Name.Attribute: ["variable.other.key.brindle"],
        Name.Variable: ["variable.other.definition.brindle", "variable.other.reference.brindle"],
        Operator: ["keyword.operator.assignment.brindle", "keyword.operator.arithmetic.brindle",
                   "keyword.operator.fallback.brindle"],
        String.Escape: ["constant.character.escape.brindle"], Number.Integer: ["constant.numeric.integer.brindle"],
        Number.Hex: ["constant.numeric.hex.brindle"], Number.Oct: ["constant.numeric.octal.brindle"],
        Number.Bin: ["constant.numeric.binary.brindle"], Number.Float: ["constant.numeric.float.brindle"],
        Keyword.Constant: ["constant.language.brindle"], Name.Builtin: ["variable.language.builtin.brindle"],
        Name.Variable.Global: ["variable.other.environment.brindle"],
    }
    unscoped = {Whitespace, Text, Error}
    assert set(scopes_of_type) | unscoped == TOKEN_TYPES
    assert {scope for scopes in scopes_of_type.values() for scope in scopes} <= set(SAMPLES)


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
