"""Read TovixZAV_JC books from Python, through the installed reader library.

    import tovixzav
    with tovixzav.Shelf("books/") as shelf:
        for answer in shelf.lookup("bank"):
            print(answer.database, answer.key, answer.text)
"""

from .book import ABOUT_FIELDS, KIND_DICTIONARY, KIND_PLAIN, KIND_PREFIXED, Book, TocItem
from .errors import BookError, LibraryNotFound, QueryError, TovixError
from .shelf import (Answer, Answers, Entry, Hit, Hits, Key, Problem, Shelf, Table, fold, index_path, strategies,
                    write_index)

__all__ = [
    "Shelf", "Book", "Table", "Answer", "Answers", "Entry", "Hit", "Hits", "Key", "Problem", "TocItem", "fold",
    "strategies", "write_index", "index_path",
    "BookError", "LibraryNotFound", "QueryError", "TovixError",
    "KIND_DICTIONARY", "KIND_PLAIN", "KIND_PREFIXED", "ABOUT_FIELDS",
]
__version__ = "1.0.0"
