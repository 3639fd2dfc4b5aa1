"""Exceptions of the package: every failure names its reason."""

from __future__ import annotations

from typing import Optional


class TovixError(Exception):
    """Base class of the package's errors."""

    def __init__(self, message: str, code: Optional[int] = None) -> None:
        super().__init__(message)
        self.code = code


class LibraryNotFound(TovixError):
    """The reader library or the module could not be loaded."""


class BookError(TovixError):
    """A book, a key or a text could not be opened or read; `code` is the
    module's or the reader library's result when it gave one."""


class QueryError(TovixError, ValueError):
    """A question the reader library refuses: an unknown strategy, a pattern
    the strategy cannot take."""
