"""The logger of the package; the native core's progress lines arrive here."""
from __future__ import annotations

import logging

logger = logging.getLogger("touchlane")


def native_line(line: str) -> None:
    """Log one progress line of the native core (called from C++)."""
    logger.info(line)


def verbose() -> bool:
    """Whether progress lines are wanted (the logger takes INFO)."""
    return logger.isEnabledFor(logging.INFO)
