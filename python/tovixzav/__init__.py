"""Read TovixZAV_JC books from Python, through the installed module.

    import tovixzav
    with tovixzav.Book("lexicon.zav") as book:
        words = book.tables[0]
        for entry in words.lookup("bank"):
            print(entry.key, entry.text)
"""

from .book import ABOUT_FIELDS, KIND_DICTIONARY, KIND_PLAIN, KIND_PREFIXED, Book, Entry, Key, Table, TocItem
from .errors import BookError, LibraryNotFound, TovixError

__all__ = [
    "Book", "Table", "Entry", "Key", "TocItem", "BookError", "LibraryNotFound", "TovixError",
    "KIND_DICTIONARY", "KIND_PLAIN", "KIND_PREFIXED", "ABOUT_FIELDS",
]
__version__ = "1.0.0"
