"""Books read through the module: their properties, pages and tables of contents."""

from __future__ import annotations

import ctypes
import os
import struct
from typing import TYPE_CHECKING, Callable, Dict, Iterator, List, NamedTuple, Optional, Set, Tuple, Union

from . import _native
from .errors import BookError

if TYPE_CHECKING:
    from .shelf import Shelf, Table

KIND_DICTIONARY, KIND_PLAIN, KIND_PREFIXED = 1, 2, 4

_OPEN_ERRORS = {
    -10: "cannot open: the file is missing, unreadable, shorter than 512 bytes or not a book",
    -11: "not a book this module reads: its kind is not 1, 2 or 4 or its version is above 1",
    -13: "out of memory while opening the book",
}
# Code pages of the language codes 2 to 5; other text is taken as UTF-8.
_CODECS = {2: "gbk", 3: "big5", 4: "cp932", 5: "cp949"}
_NAME_BUFFER = 257
_SLOT = 256  # one spelling suggestion, terminator included
_WILDCARD_BUFFER = 64 * 1024
_SERVED_CONTENT_LIMIT = 64 << 20  # dictionary contents: the most a page may hold
_MAX_TOC_ITEMS = 1 << 20
# The page where a book made by zav import keeps what the dictionary says
# about itself, and the fields it may hold, in order.
_ABOUT_MARK = b"zav-book-info\t1\n"
ABOUT_FIELDS = ("name", "description", "author", "email", "website", "date")
_UNESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\"}

PathLike = Union[str, "os.PathLike[str]"]


class TocItem(NamedTuple):
    """One item of a table of contents: its number, caption, page (None when
    it has none) and child items."""

    item: int
    caption: str
    page: Optional[int]
    children: List["TocItem"]

    def walk(self, depth: int = 0) -> Iterator[Tuple[int, "TocItem"]]:
        """Yield (depth, item) for this item and every item below it."""
        yield depth, self
        for child in self.children:
            yield from child.walk(depth + 1)


def _decode(raw: bytes, language: int) -> str:
    codec = _CODECS.get(language)
    if codec:
        try:
            return raw.decode(codec)
        except UnicodeDecodeError:
            pass
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        return raw.decode("latin-1")


def _encode(word: str, language: int) -> bytes:
    codec = _CODECS.get(language, "utf-8")
    try:
        return word.encode(codec)
    except UnicodeEncodeError as error:
        raise BookError(f"{word!r} cannot be written in this table's code page ({codec}): {error}") from None


def _unescape(text: str) -> str:
    out, i = [], 0
    while i < len(text):
        if text[i] == "\\" and i + 1 < len(text) and text[i + 1] in _UNESCAPES:
            out.append(_UNESCAPES[text[i + 1]])
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def _parse_about(page: bytes) -> Dict[str, str]:
    about = {}
    for line in page[len(_ABOUT_MARK):].decode("utf-8", "replace").split("\n"):
        name, tab, value = line.partition("\t")
        if tab and name in ABOUT_FIELDS:
            about[name] = _unescape(value)
    return about


def _name(call: Callable[["ctypes.Array[ctypes.c_char]", int], int]) -> str:
    buffer = ctypes.create_string_buffer(_NAME_BUFFER)
    language = call(buffer, _NAME_BUFFER - 1)
    return _decode(buffer.value, language) if language else ""


class Book:
    """A book opened read-only through the module. Use it as a context manager
    or call close(); calls on one Book must not overlap between threads.

    Its tables (`tables`) answer look-ups through the reader library."""

    def __init__(self, path: PathLike, *, _shelf: Optional["Shelf"] = None) -> None:
        self._lib = _native.library()
        self.path = os.fspath(path)
        handle = ctypes.c_void_p()
        result = self._lib.ZAVOpenBook(self.path, ctypes.byref(handle))
        if result != 0 or not handle.value:
            reason = _OPEN_ERRORS.get(result, f"cannot open (result {result})")
            raise BookError(f"{self.path}: {reason}", result)
        self._handle: Optional[ctypes.c_void_p] = handle
        self._shelf = _shelf
        self._own_shelf = _shelf is None
        self._tables: Optional[List["Table"]] = None
        try:
            self._size = os.path.getsize(self.path)
        except OSError:
            self._size = 0
        if self.kind == KIND_DICTIONARY:
            self._point_engine_here()

    def __enter__(self) -> "Book":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<Book {self.path!r}>"

    def close(self) -> None:
        if self._handle is not None:
            self._lib.ZAVCloseBook(self._handle)
            self._handle = None
        if self._own_shelf and self._shelf is not None:
            self._shelf.close()
        self._shelf = None
        self._tables = None

    def _call(self, name: str, *args: object) -> int:
        if self._handle is None:
            raise BookError(f"{self.path}: the book is closed")
        return int(getattr(self._lib, name)(self._handle, *args))

    def _point_engine_here(self) -> None:
        # The engine finds dictionaries in ZOZIZID_DICT_DIR; a book built with
        # its dictionaries beside it works as it stands.
        if os.environ.get("ZOZIZID_DICT_DIR"):
            return
        folder = os.path.dirname(os.path.abspath(self.path))
        for t in range(self.table_count):
            dict_id = self._call("ZAVGetDictClass", t) & 0xFFFFFFFF
            if os.path.exists(os.path.join(folder, f"{dict_id:08x}.zzd")):
                os.environ["ZOZIZID_DICT_DIR"] = folder
                return

    @property
    def caps(self) -> Tuple[int, int, int, int]:
        """(kind, version, capsWord1, capsWord2) as stored in the header."""
        block = (ctypes.c_uint32 * 4)()
        if self._call("ZAVGetCaps", block) != 1:
            raise BookError(f"{self.path}: the header cannot be read")
        return (block[0], block[1], block[2], block[3])

    @property
    def kind(self) -> int:
        return self.caps[0]

    @property
    def version(self) -> int:
        return self.caps[1]

    @property
    def is_dictionary(self) -> bool:
        return self.kind == KIND_DICTIONARY

    @property
    def table_count(self) -> int:
        return self._call("ZAVGetTableCount")

    @property
    def page_count(self) -> int:
        return self._call("ZAVGetPageCount")

    def name_in(self, language: int = 0) -> str:
        """The book's name in a language code (0: the module chooses)."""
        return _name(lambda buf, n: self._call("ZAVGetBkName", language, buf, n))

    @property
    def name(self) -> str:
        return self.name_in()

    @property
    def serial(self) -> int:
        value = ctypes.c_uint32()
        if self._call("ZAVBookSerial", ctypes.byref(value)) != 0:
            raise BookError(f"{self.path}: the serial cannot be read")
        return value.value

    @property
    def languages(self) -> List[int]:
        return [self._call("ZAVGetLanguage", i) for i in range(self._call("ZAVGetLanguageCount"))]

    @property
    def shelf(self) -> "Shelf":
        """The shelf that answers this book's look-ups (opened on first use)."""
        if self._handle is None:
            raise BookError(f"{self.path}: the book is closed")
        if self._shelf is None:
            from .shelf import Shelf
            self._shelf = Shelf()
            self._shelf.add(self.path)
        return self._shelf

    @property
    def tables(self) -> List["Table"]:
        """Every table of the book, in the book's order."""
        if self._tables is None:
            from .shelf import Table
            count = self.table_count
            shelf = self.shelf
            mine = {t.index: t for t in shelf.databases if _same_file(t.path, self.path)}
            self._tables = [mine[i] if i in mine else Table(shelf, None, i, self.path) for i in range(count)]
            for table in self._tables:
                table._book = self
        return list(self._tables)

    def page_bytes(self, page: int) -> bytes:
        """Book page `page` as bytes; BookError when it cannot be read."""
        count = self.page_count
        if not 0 <= page < count:
            raise BookError(f"{self.path}: the book has {count} pages, no page {page}")
        size = self._call("ZAVGetPageSize", page)
        if size < 0 or size > self._size:
            raise BookError(f"{self.path}: book page {page} claims {size} bytes")
        buffer = ctypes.create_string_buffer(max(size, 1))
        copied = self._call("ZAVGetPage", page, buffer, size) if size else 0
        if copied != size:
            raise BookError(f"{self.path}: book page {page} cannot be read")
        return buffer.raw[:size]

    @property
    def about(self) -> Dict[str, str]:
        """What a book made by zav import keeps about its dictionary, as given by
        the dictionary: a dict of some of ABOUT_FIELDS (name, description,
        author, email, website, date); empty when the book keeps nothing."""
        count = self.page_count
        if count <= 0:
            return {}
        mark = ctypes.create_string_buffer(len(_ABOUT_MARK))
        if self._call("ZAVGetPage", count - 1, mark, len(_ABOUT_MARK)) == len(_ABOUT_MARK) \
                and mark.raw == _ABOUT_MARK:
            return _parse_about(self.page_bytes(count - 1))
        # A book made before that page kept only its description, as the raw
        # text of one page after its one table's pages.
        if not self.is_dictionary and self.table_count == 1 and count == self.tables[0].page_count + 1:
            text = self.page_bytes(count - 1).decode("utf-8", "replace")
            return {"description": text} if text else {}
        return {}

    @property
    def description(self) -> str:
        """The dictionary's description (see about); "" when there is none."""
        return self.about.get("description", "")

    def _content_limit(self) -> int:
        return _SERVED_CONTENT_LIMIT if self.is_dictionary else self._size


def _same_file(first: str, second: str) -> bool:
    try:
        return os.path.samefile(first, second)
    except OSError:
        return os.path.abspath(first) == os.path.abspath(second)


class TablePages:
    """What a table gives through the module: its names, pages, table of
    contents and, in dictionary books, spell checking. `book` and `index`
    are set by the class that mixes this in."""

    index: int

    @property
    def book(self) -> Book:
        raise NotImplementedError

    def _call(self, name: str, *args: object) -> int:
        return self.book._call(name, self.index, *args)

    @property
    def language(self) -> int:
        return self._call("ZAVGetTableLocal")

    @property
    def dict_id(self) -> int:
        return self._call("ZAVGetDictClass") & 0xFFFFFFFF

    @property
    def page_count(self) -> int:
        return self._call("ZAVGetTablePageCount") & 0xFFFFFFFF

    @property
    def simple_name(self) -> str:
        return _name(lambda b, n: self._call("ZAVGetTableSimpleName", 0, b, n))

    def page_bytes(self, index: int) -> bytes:
        """Table page `index` as bytes; BookError when it cannot be read."""
        book = self.book
        if not 0 <= index < self.page_count:
            raise BookError(f"{book.path}: table {self.index} has {self.page_count} pages, no page {index}")
        size = self._call("ZAVGetTablePageSize", index)
        if size < 0 or size > book._content_limit():
            raise BookError(f"{book.path}: table {self.index} page {index} claims {size} bytes")
        buffer = ctypes.create_string_buffer(max(size, 1))
        copied = self._call("ZAVGetTablePage", index, buffer, size) if size else 0
        if copied != size:
            raise BookError(f"{book.path}: table {self.index} page {index} cannot be read")
        if size == 0 and not book.is_dictionary:
            # The module answers 0 for an empty page and for one it cannot
            # read: the file's own structures tell which.
            problem = _empty_page_problem(book.path, self.index, index)
            if problem:
                raise BookError(f"{book.path}: table {self.index} page {index} cannot be read: {problem}")
        return buffer.raw[:size]

    def page(self, index: int) -> str:
        """Table page `index` as text."""
        return _decode(self.page_bytes(index), self.language)

    @property
    def toc(self) -> Optional[TocItem]:
        """The table of contents as a tree of TocItem, or None when the table has none."""
        count = self._call("EBDVPGetCount")
        if count <= 0:
            return None
        budget = [min(count, _MAX_TOC_ITEMS)]
        return self._toc_item(self._call("EBDVPGetRootItem"), set(), budget)

    def _toc_item(self, item: int, seen: Set[int], budget: List[int]) -> TocItem:
        seen.add(item)
        budget[0] -= 1
        caption = _name(lambda b, n: self._call("EBDVPGetItemText", item, 0, b, n))
        page = self._call("EBDVPItemToPage", item)
        children = []
        child = self._call("EBDVPGetChildItem", item)
        while child and child not in seen and budget[0] > 0:
            children.append(self._toc_item(child, seen, budget))
            child = self._call("EBDVPGetNextSiblingItem", child)
        return TocItem(item, caption, None if page < 0 else page, children)

    # --- spell checking (dictionary books) ---------------------------------

    def _spell_word(self, word: str) -> "ctypes.Array[ctypes.c_char]":
        book = self.book
        if not book.is_dictionary:
            raise BookError(f"{book.path}: spell checking needs a dictionary book")
        d = self.dict_id
        if d & 0xFF != 1 or (d >> 16) & 0xFF != 1 or d >> 24 != 0:
            raise BookError(f"{book.path}: table {self.index} (dictId 0x{d:08X}) is not spell-capable")
        raw = _encode(word, self.language)
        if not raw or len(raw) > 255:
            raise BookError("a word to check must hold 1 to 255 bytes")
        return ctypes.create_string_buffer(raw)

    def verify(self, word: str) -> bool:
        """True when the dictionary holds the word."""
        w = self._spell_word(word)
        return self._call("EBDSCVerify", ctypes.addressof(w), None) != 0

    def correct(self, word: str, limit: int = 10) -> List[str]:
        """Up to `limit` (1 to 255) headwords near the word, nearest first."""
        w = self._spell_word(word)
        limit = max(1, min(int(limit), 255))
        slots = ctypes.create_string_buffer(limit * _SLOT)
        n = self._call("EBDSCCorrection", ctypes.addressof(w), ctypes.addressof(slots), limit)
        n = n if 0 <= n <= limit else 0
        return [_decode(slots.raw[i * _SLOT:(i + 1) * _SLOT].split(b"\0", 1)[0], self.language) for i in range(n)]

    def wildcard(self, pattern: str, limit: int = 50) -> List[str]:
        """Headwords matching a pattern of * (any run) and ? (one character)."""
        w = self._spell_word(pattern)
        limit = max(1, min(int(limit), 255))
        out = ctypes.create_string_buffer(_WILDCARD_BUFFER + 1)
        n = self._call("EBDSCWildcard", ctypes.addressof(w), ctypes.addressof(out), limit, _WILDCARD_BUFFER)
        words = [x for x in out.raw[:_WILDCARD_BUFFER].split(b"\0")[:max(n, 0)] if x]
        return [_decode(x, self.language) for x in words]


def _empty_page_problem(path: str, table: int, index: int) -> str:
    """Why table page `index` of a plain book, which the module reports empty,
    is not really there ("" when the file holds an empty page): the page list
    and the page directory lead to a page record that must lie in the file."""
    try:
        with open(path, "rb") as f:
            data_size = os.fstat(f.fileno()).st_size

            def u32(at: int, what: str) -> int:
                if at + 4 > data_size:
                    raise ValueError(f"{what} lies past the end of the file ({data_size} bytes)")
                f.seek(at)
                return int(struct.unpack("<I", f.read(4))[0])

            f.seek(0)
            header = f.read(512)
            if len(header) < 512:
                return "the header is cut short"
            kind, table_dir, page_dir = struct.unpack_from("<I", header, 4)[0], *struct.unpack_from("<II", header, 40)
            f.seek(table_dir)
            count = f.read(1)
            if not count or table >= count[0]:
                return "the table directory does not list the table"
            record = u32(table_dir + 1 + 4 * table, "the table directory")
            page_list = u32(record + 20, "the table record")
            book_page = u32(page_list + 4 * index, f"the page list entry of page {index}")
            pages = u32(page_dir, "the page directory")
            if book_page >= pages:
                return f"book page {book_page} is not in the page directory ({pages} pages)"
            at = u32(page_dir + 4 + 4 * book_page, f"the page directory entry of book page {book_page}")
            if kind == KIND_PREFIXED:
                if at + 2 > data_size:
                    return f"book page {book_page} lies past the end of the file ({data_size} bytes)"
                f.seek(at)
                at += 2 + 4 * struct.unpack("<H", f.read(2))[0]
            size = u32(at, f"book page {book_page}")
            if at + 4 + size > data_size:
                return f"book page {book_page} lies past the end of the file ({data_size} bytes)"
            return ""
    except ValueError as error:
        return str(error)
    except OSError as error:
        return f"the file cannot be read: {error}"
