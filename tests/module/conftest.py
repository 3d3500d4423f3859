"""What the module's tests share: whether they run in an isolated
interpreter (test_interpreters.py runs much of the suite in one), the mark
of tests that can only run in the main one, and how many examples property
tests draw."""

import pytest
from hypothesis import settings

from support import examples, interpreters

# Property tests that name no number of examples draw hypothesis's default,
# a tenth of it where tests run slowed (see support.examples).
settings.register_profile("quorvane", max_examples=examples(settings.default.max_examples))
settings.load_profile("quorvane")

IN_SUBINTERPRETER = interpreters is not None and interpreters.get_current() != interpreters.get_main()


def pytest_configure(config):
    config.addinivalue_line(
        "markers", "main_interpreter: needs signals or _testcapi, which only the main "
        "interpreter offers")


def pytest_runtest_setup(item):
    if IN_SUBINTERPRETER and item.get_closest_marker("main_interpreter"):
        pytest.skip("signals and _testcapi are the main interpreter's only")
