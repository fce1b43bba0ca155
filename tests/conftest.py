import logging

import pytest

from velmo_brevant.utils import utils


@pytest.fixture
def logger():
    """The package logger; use with caplog to read what was logged."""
    return utils.DEFAULT_LOGGER


@pytest.fixture
def caplog_info(caplog):
    caplog.set_level(logging.INFO)
    return caplog
