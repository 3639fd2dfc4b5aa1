"""Exceptions of the package: every failure names its reason."""


class TovixError(Exception):
    """Base class of the package's errors."""


class LibraryNotFound(TovixError):
    """The module's shared library could not be loaded."""


class BookError(TovixError):
    """A book could not be opened or read; `code` is the module's result when it gave one."""

    def __init__(self, message, code=None):
        super().__init__(message)
        self.code = code
