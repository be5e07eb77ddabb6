"""The command line's environment options: which environment `$ENV.` reads.

`--env NAME=VALUE` (repeatable) and `--env-file FILE` (dotenv lines) add to
the process environment, files first in the order given, then the `--env`
pairs; `--no-env` starts from an empty environment instead. Without any of
them, the process environment is read as it is.
"""

from __future__ import annotations

import argparse
import os
from typing import Optional

from ._dotenv import DotenvError, read_dotenv

__all__ = ["EnvOptionError", "env_options", "environment"]


class EnvOptionError(Exception):
    """An environment option that cannot be used: a bad pair or an unreadable file."""


def env_options() -> argparse.ArgumentParser:
    """A parent parser holding the three options, for every command that parses."""
    parent = argparse.ArgumentParser(add_help=False)
    group = parent.add_argument_group("environment for $ENV. references")
    group.add_argument(
        "--env",
        action="append",
        default=[],
        metavar="NAME=VALUE",
        help="set an environment variable for $ENV. (repeatable)",
    )
    group.add_argument(
        "--env-file",
        action="append",
        default=[],
        metavar="FILE",
        help="read NAME=value lines (dotenv syntax) for $ENV. (repeatable)",
    )
    group.add_argument("--no-env", action="store_true", help="start from an empty environment")
    return parent


def environment(args: argparse.Namespace) -> Optional[dict[str, str]]:
    """The environment the options describe, or None for the process's own."""
    pairs: list[str] = getattr(args, "env", [])
    files: list[str] = getattr(args, "env_file", [])
    empty: bool = getattr(args, "no_env", False)
    if not (pairs or files or empty):
        return None
    result: dict[str, str] = {} if empty else dict(os.environ)
    for path in files:
        try:
            result.update(read_dotenv(path))
        except DotenvError as error:
            raise EnvOptionError(str(error)) from None
        except UnicodeDecodeError:
            raise EnvOptionError(f"{path}: not valid UTF-8") from None
        except OSError as error:
            raise EnvOptionError(f"{path}: {error.strerror or error}") from None
    for pair in pairs:
        name, equals, value = pair.partition("=")
        if not equals or not name:
            raise EnvOptionError(f"--env expects NAME=VALUE, got `{pair}`")
        result[name] = value
    return result
