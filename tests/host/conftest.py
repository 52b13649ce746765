import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "tools"))
import kivohost  # noqa: E402


@pytest.fixture(scope="session")
def samplekit():
    return kivohost.Module("_samplekit")
