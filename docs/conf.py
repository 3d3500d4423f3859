"""Sphinx settings for the quorvane documentation (make docs, make test-docs)."""

import doctest
import pathlib
import tomllib

import quorvane

ROOT = pathlib.Path(__file__).resolve().parent.parent

# The pages document the module built in this checkout, which the Makefile
# puts on PYTHONPATH; an installed copy of another version must not stand in.
if not pathlib.Path(quorvane.__file__).resolve().is_relative_to(ROOT):
    raise RuntimeError(f"quorvane was imported from {quorvane.__file__}, not from this checkout;"
                       " build the documentation with make docs")

with open(ROOT / "pyproject.toml", "rb") as _f:
    release = tomllib.load(_f)["project"]["version"]

project = "quorvane"
author = "the quorvane developers"
copyright = "the quorvane developers"
version = release

extensions = ["sphinx.ext.doctest"]
exclude_patterns = ["benchmarks/README.md"]
html_theme = "alabaster"
html_theme_options = {"description": "XML into immutable trees, fast", "fixed_sidebar": True}
html_title = f"quorvane {release}"
default_role = "code"
primary_domain = "py"
# A reference to a function, class or page that does not exist fails the build.
nitpicky = True

# Examples must match the output exactly, exception messages included (Sphinx
# would otherwise ignore exception details and allow "..." wildcards).
doctest_default_flags = doctest.DONT_ACCEPT_TRUE_FOR_1

# Every page's examples run in a scratch directory, so files they write stay
# out of the checkout.
doctest_global_setup = """
import os as _os, tempfile as _tempfile
_home = _os.getcwd()
_scratch = _tempfile.TemporaryDirectory()
_os.chdir(_scratch.name)
import quorvane
from quorvane import (Node, SearchType, read_bytes, read_file, read_string, write_bytes,
                      write_file, write_string)
"""
doctest_global_cleanup = """
_os.chdir(_home)
_scratch.cleanup()
"""
