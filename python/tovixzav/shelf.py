"""Shelves of books and their databases, answered by the reader library:
look-ups in any letter case (and without accents as a fallback), match
strategies, completions, suggestions, walks over the keys and full-text
search."""

from __future__ import annotations

import ctypes
import os
import tempfile
from dataclasses import dataclass, field
from typing import Iterator, List, Optional, Set, Tuple, Union

from . import _native
from .book import Book, PathLike, TablePages, _name
from .errors import BookError, QueryError

# Key walks fetch their texts in batches of up to this many bytes.
_BATCH_BYTES = 1 << 20
_BATCH_KEYS = _BATCH_BYTES // 2


@dataclass(frozen=True)
class Problem:
    """A book that could not be put on the shelf, and why."""

    path: str
    reason: str


@dataclass(frozen=True)
class Key:
    """One key of a table: its number, its text as stored (homograph number
    included), the headword it stands for, where its entry is, its attribute
    byte and whether it was added for a headword's case fold."""

    index: int
    text: str
    headword: str
    page: int
    offset: int
    attribute: int
    fold: bool


@dataclass(frozen=True)
class Answer:
    """One entry found: the book's file, the database and table it is in, the
    key that leads to it, where it is, how it was found ("exact", "case",
    "accent", "match", "suggest" or "stem") and, for lev matches and suggestions, its
    distance from the word.

    `text` is the entry's text. Answers of a look-up carry it; the others
    read it when asked. A text that cannot be read raises BookError with the
    reason; `reason` holds that reason (None when the text is readable)."""

    book: str
    database: str
    table: int
    key_index: int
    headword: str
    key: str
    page: int
    offset: int
    how: str
    distance: int = 0
    reason: Optional[str] = None
    _text: Optional[str] = field(default=None, repr=False, compare=False)
    _source: Optional["Table"] = field(default=None, repr=False, compare=False)

    @property
    def text(self) -> str:
        if self._text is not None:
            return self._text
        if self.reason is None and self._source is not None:
            text = self._source.entry(self.key_index).text
            object.__setattr__(self, "_text", text)
            return text
        raise BookError(self.reason or f"{self.book}: the answer for {self.key!r} carries no text")


class Answers(List[Answer]):
    """The answers of one call, in the reader library's order. `reason` says
    why they stop short (a limit asked for, a part of a book that could not
    be read), None when they are whole."""

    reason: Optional[str] = None


@dataclass(frozen=True)
class Hit:
    """One entry a full-text search found: the database it is in, its
    headword, key, page and offset, the text around what matched (`snippet`,
    line breaks as spaces, "…" where it is cut) with the matched words at
    `marks` (pairs of (start, end) positions in `snippet`), and the entry's
    text (None when it could not be read: `reason` says why)."""

    database: str
    headword: str
    key_index: int
    page: int
    offset: int
    snippet: str
    marks: Tuple[Tuple[int, int], ...]
    text: Optional[str]
    reason: Optional[str] = None


class Hits(List[Hit]):
    """The hits of one search, best first. `problem` names a book that could
    not be searched (no index, or a stale one) when the others were, else
    None."""

    problem: Optional[str] = None


def _str_marks(raw: bytes, pairs: List[Tuple[int, int]]) -> Tuple[Tuple[int, int], ...]:
    """Byte offsets into the UTF-8 `raw` as positions in its decoded text;
    a pair that does not fit the text is left out."""
    out: List[Tuple[int, int]] = []
    for start, end in pairs:
        if 0 <= start <= end <= len(raw):
            at = len(raw[:start].decode("utf-8", "replace"))
            out.append((at, at + len(raw[start:end].decode("utf-8", "replace"))))
    return tuple(out)


Database = Union[str, "Table", None]


def _database_name(database: Database) -> Optional[bytes]:
    if database is None:
        return None
    if isinstance(database, Table):
        if database.database is None:
            raise QueryError(f"{database.path}: table {database.index} has no keys to look up")
        return database.database.encode()
    return database.encode()


def _limits(count: Optional[int]) -> Optional[_native.Limits]:
    if count is None:
        return None
    if count < 0:
        raise ValueError("count must not be negative")
    return _native.Limits(ctypes.sizeof(_native.Limits), min(count, 0xFFFFFFFF), 0, 0, None)


def _limits_arg(limits: Optional[_native.Limits]) -> Optional[object]:
    return ctypes.byref(limits) if limits is not None else None


def _point_engine_at(path: PathLike) -> None:
    """The dictionary engine reads dictionary books' words from the folder
    ZOZIZID_DICT_DIR names: unless it is set, a folder of books with
    dictionaries (.zzd) in it, or the folder of a dictionary book whose
    dictionary lies beside it, is named, as the book tool does."""
    if os.environ.get("ZOZIZID_DICT_DIR"):
        return
    folder = path if os.path.isdir(path) else os.path.dirname(os.path.abspath(path))
    try:
        if not any(n.endswith(".zzd") for n in os.listdir(folder)):
            return
    except OSError:
        return
    if os.path.isdir(path):
        os.environ["ZOZIZID_DICT_DIR"] = os.fspath(folder)
        return
    try:
        Book(path).close()  # names the folder when the book's dictionary is there
    except BookError:
        pass  # the shelf reports why


class _Cursor:
    """A reader library cursor, freed once: at the end of its walk, or when
    its shelf closes first."""

    def __init__(self, shelf: "Shelf", pointer: int) -> None:
        self.shelf, self.pointer = shelf, pointer
        shelf._cursors.add(self)

    def live(self) -> int:
        if not self.pointer:
            raise BookError("the shelf is closed")
        return self.pointer

    def reason(self) -> str:
        return _native.text(self.shelf._lib.ZAVReaderCursorReason(self.pointer)) or "the keys cannot be read"

    def free(self) -> None:
        if self.pointer:
            self.shelf._lib.ZAVReaderCursorFree(self.pointer)
            self.pointer = 0
            self.shelf._cursors.discard(self)


class Shelf:
    """Books (files, or every book in a folder) whose tables with keys are
    databases to look words up in. Use it as a context manager or call
    close(). Look-ups may run from many threads at once; add() may not run
    while other threads use the shelf.

        with Shelf("books/") as shelf:
            for answer in shelf.lookup("bank"):
                print(answer.database, answer.headword, answer.text)
    """

    def __init__(self, *paths: PathLike) -> None:
        self._lib = _native.reader()
        self._handle: Optional[int] = self._lib.ZAVReaderOpen()
        if not self._handle:
            raise MemoryError("out of memory while opening a shelf")
        self._tables: List[Table] = []
        self._cursors: Set[_Cursor] = set()
        self._books: List[Book] = []
        for path in paths:
            self.add(path)

    def __enter__(self) -> "Shelf":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:  # pragma: no cover - interpreter shutdown
            pass

    def __repr__(self) -> str:
        return f"<Shelf of {len(self._tables)} databases>"

    def close(self) -> None:
        """Close every book; the shelf's databases cannot be used afterwards."""
        handle, self._handle = getattr(self, "_handle", None), None
        if not handle:
            return
        for book in self._books:
            book.close()
        self._books.clear()
        # Cursors go first: a walk left unfinished ends with the shelf.
        for cursor in list(self._cursors):
            cursor.free()
        self._lib.ZAVReaderClose(handle)

    def _open(self) -> int:
        if not self._handle:
            raise BookError("the shelf is closed")
        return self._handle

    def add(self, path: PathLike, name: Optional[str] = None) -> int:
        """Add a book file, or every book of a folder (not recursing), its
        tables with keys becoming databases (named `name` instead of after
        the file, for a file). Returns the number of databases added; a book
        that cannot be opened is listed in `problems`."""
        self._open()
        _point_engine_at(path)
        added = self._lib.ZAVReaderAdd(self._open(), os.fsencode(path), name.encode() if name else None)
        count = self._lib.ZAVReaderDatabaseCount(self._handle)
        for index in range(len(self._tables), count):
            info = _native.DatabaseInfo()
            if self._lib.ZAVReaderDatabase(self._handle, index, ctypes.byref(info)) != _native.OK:
                raise BookError(f"{os.fsdecode(path)}: database {index} cannot be described")
            self._tables.append(Table(self, index, info.table, _native.text(info.path), info))
        return max(int(added), 0)

    @property
    def problems(self) -> List[Problem]:
        """Books that could not be opened, each with its reason."""
        handle = self._open()
        return [Problem(_native.text(self._lib.ZAVReaderProblemPath(handle, i)),
                        _native.text(self._lib.ZAVReaderProblemReason(handle, i)))
                for i in range(self._lib.ZAVReaderProblemCount(handle))]

    @property
    def databases(self) -> List["Table"]:
        return list(self._tables)

    def __len__(self) -> int:
        return len(self._tables)

    def __iter__(self) -> Iterator["Table"]:
        return iter(list(self._tables))

    def __contains__(self, name: object) -> bool:
        return any(t.database == name for t in self._tables)

    def __getitem__(self, name: Union[str, int]) -> "Table":
        """The database called `name`, or the one at that position."""
        if isinstance(name, int):
            return self._tables[name]
        for table in self._tables:
            if table.database == name:
                return table
        raise KeyError(name)

    def prepare(self) -> None:
        """Load every database's in-memory index now rather than at first need."""
        status = self._lib.ZAVReaderPrepare(self._open(), None)
        if status != _native.OK:
            raise BookError(f"the shelf's indexes cannot be loaded ({_native.STATUS_NAMES[status]})"
                            if 0 <= status < len(_native.STATUS_NAMES) else "the shelf's indexes cannot be loaded")

    # --- questions ----------------------------------------------------------

    def lookup(self, word: str, database: Database = None, *, first: bool = False,
               accents: bool = True) -> Answers:
        """Every entry of `word` in any letter case (homographs too: "bank"
        finds bank@1 and bank@2), each once, with its text. When nothing is
        found anywhere, entries equal once accents are taken off (how
        "accent"; not with accents=False), then, where Hunspell knows the
        book's language, the entries of the word's stems (how "stem").
        `first`: only the first entry per database. `database`: a name or a
        Table; "!" the first that answers; None every database."""
        if not word:
            return Answers()
        flags = (_native.FIRST if first else 0) | (0 if accents else _native.NO_ACCENT)
        return self._answers(self._lib.ZAVReaderLookup(self._open(), _database_name(database), word.encode(),
                                                       flags, None))

    def _has(self, word: str, database: Database) -> bool:
        if not word:
            return False
        flags = _native.NO_TEXT
        limits = _limits(1)
        found = self._answers(self._lib.ZAVReaderLookup(self._open(), _database_name(database), word.encode(),
                                                        flags, _limits_arg(limits)))
        return bool(found)

    def match(self, text: str, strategy: str = "exact", database: Database = None, *,
              count: Optional[int] = None) -> Answers:
        """Headwords that `strategy` selects for `text` (see strategies()),
        each once per database, in key order (lev: nearest first); at most
        `count` of them. Letter case is ignored. QueryError for an unknown
        strategy or a pattern the strategy refuses."""
        limits = _limits(count)
        return self._answers(self._lib.ZAVReaderMatch(self._open(), _database_name(database), strategy.encode(),
                                                      text.encode(), _limits_arg(limits)))

    def prefix(self, text: str, count: int = 20, database: Database = None) -> Answers:
        """Up to `count` distinct headwords that start with `text` (any case), in key order."""
        return self._answers(self._lib.ZAVReaderComplete(self._open(), _database_name(database), text.encode(),
                                                         max(count, 0), None))

    def suggest(self, word: str, count: int = 10, database: Database = None) -> Answers:
        """Up to `count` headwords to offer for a word that is not found: near
        spellings first (nearest first), then keys around the word's place."""
        return self._answers(self._lib.ZAVReaderSuggest(self._open(), _database_name(database), word.encode(),
                                                        max(count, 0), None))

    def search(self, query: str, count: int = 10, database: Database = "*") -> Hits:
        """The best `count` entries whose text or headwords hold `query`, best
        first, through the books' search indexes (write_index writes them):
        words in any case or accents, "phrases", prefixes (appl*), AND, OR,
        NOT and parentheses. QueryError for a query with no word; BookError
        with the reason when no database could be searched (no index, or a
        stale one); `problem` of the hits names such a book when others were
        searched."""
        if count < 0:
            raise ValueError("count must not be negative")
        lib = self._lib
        result = lib.ZAVReaderSearch(self._open(), _database_name(database), query.encode(), count, None)
        if not result:
            raise MemoryError("out of memory while searching")
        hits = Hits()
        try:
            status = lib.ZAVReaderResultStatus(result)
            reason = _native.text(lib.ZAVReaderResultReason(result)) if status != _native.OK else ""
            length, mark_count = ctypes.c_size_t(), ctypes.c_size_t()
            marks = ctypes.POINTER(ctypes.c_uint32)()
            for i in range(lib.ZAVReaderResultCount(result)):
                a = lib.ZAVReaderResultAt(result, i).contents
                if a.database >= len(self._tables):
                    raise BookError(f"a hit names database {a.database}, which is not on the shelf")
                snippet = lib.ZAVReaderResultSnippet(result, i, ctypes.byref(length), ctypes.byref(marks),
                                                     ctypes.byref(mark_count))
                raw = ctypes.string_at(snippet, length.value) if snippet else b""
                pairs = [(marks[2 * k], marks[2 * k + 1]) for k in range(mark_count.value)] if snippet else []
                text = ctypes.string_at(a.text, a.text_length).decode("utf-8", "replace") if a.text else None
                hits.append(Hit(self._tables[a.database].database or "", _native.text(a.headword), a.key_index,
                                a.page, a.offset, raw.decode("utf-8", "replace"), _str_marks(raw, pairs), text,
                                _native.text(a.reason) if a.reason is not None else None))
        finally:
            lib.ZAVReaderResultFree(result)
        if status == _native.OK:
            return hits
        reason = _refuse(status, reason)
        if not hits and status in (_native.NOT_FOUND, _native.UNREADABLE):
            raise BookError(reason, status)
        hits.problem = reason
        return hits

    def _answers(self, result: Optional[int]) -> Answers:
        if not result:
            raise MemoryError("out of memory while looking up")
        lib = self._lib
        answers = Answers()
        try:
            status = lib.ZAVReaderResultStatus(result)
            reason = _native.text(lib.ZAVReaderResultReason(result)) if status != _native.OK else ""
            for i in range(lib.ZAVReaderResultCount(result)):
                a = lib.ZAVReaderResultAt(result, i).contents
                if a.database >= len(self._tables):
                    raise BookError(f"an answer names database {a.database}, which is not on the shelf")
                table = self._tables[a.database]
                text = ctypes.string_at(a.text, a.text_length).decode("utf-8", "replace") if a.text else None
                answers.append(Answer(
                    table.path, table.database or "", table.index, a.key_index, _native.text(a.headword),
                    _native.text(a.key), a.page, a.offset,
                    _native.HOW_NAMES.get(a.how, str(a.how)), a.distance,
                    _native.text(a.reason) if a.reason is not None else None, text, table))
        finally:
            lib.ZAVReaderResultFree(result)
        if status in (_native.OK, _native.NOT_FOUND):
            return answers
        reason = _refuse(status, reason)
        if not answers and status != _native.LIMIT:
            raise BookError(reason, status)
        answers.reason = reason
        return answers


def _refuse(status: int, reason: str) -> str:
    """The reason for a result's status (its name when the library gave none), after raising QueryError for a
    refused query and MemoryError when memory ran out."""
    if not reason:
        reason = _native.STATUS_NAMES[status] if 0 <= status < len(_native.STATUS_NAMES) else f"status {status}"
    if status in (_native.BAD_ARGUMENT, _native.BAD_PATTERN):
        raise QueryError(reason, status)
    if status == _native.NO_MEMORY:
        raise MemoryError(reason)
    return reason


class Table(TablePages):
    """One table of a book; when it has keys, a database of its shelf.

    len(table) is its number of keys; iterating gives the key texts in key
    order; `word in table` and `table[word]` look the word up in any letter
    case (table[word] raises KeyError when nothing is found). Its pages,
    table of contents and spell checking come from its book."""

    def __init__(self, shelf: Shelf, database: Optional[int], index: int, path: str,
                 info: Optional[_native.DatabaseInfo] = None) -> None:
        self.shelf, self._db, self.index, self.path = shelf, database, index, path
        self._book: Optional[Book] = None
        self.database: Optional[str] = _native.text(info.name) if info else None
        self.book_name: str = _native.text(info.book_name) if info else ""
        self._table_name: str = _native.text(info.table_name) if info else ""
        self.kind: int = info.kind if info else 0
        self._key_count: int = info.key_count if info else 0

    def __repr__(self) -> str:
        return f"<Table {self.index} ({self.database or 'no keys'}) of {self.path}>"

    @property
    def book(self) -> Book:
        """The book the table is in, opened through the module on first use."""
        if self._book is None:
            self.shelf._open()
            book = Book(self.path, _shelf=self.shelf)
            self.shelf._books.append(book)
            book.tables  # noqa: B018 - links the shelf's tables of this book to it
            self._book = book
        return self._book

    @property
    def name(self) -> str:
        """The table's name."""
        return self._table_name or _name(lambda b, n: self._call("ZAVGetTableName", 0, b, n))

    @property
    def key_count(self) -> int:
        return len(self)

    @property
    def index_bytes(self) -> int:
        """Memory the table's in-memory index takes now (0 when not loaded)."""
        if self._db is None:
            return 0
        info = _native.DatabaseInfo()
        self.shelf._lib.ZAVReaderDatabase(self.shelf._open(), self._db, ctypes.byref(info))
        return int(info.index_bytes)

    def _where(self) -> Optional["Table"]:
        """The table as a database, None when it has no keys; BookError when
        it has keys the reader library could not take."""
        if self._db is not None:
            return self
        if self._book is not None and self._call("ZAVGetKeyCount") > 0:
            why = "; ".join(p.reason for p in self.shelf.problems) or "the reader library did not take it"
            raise BookError(f"{self.path}: table {self.index} cannot be looked up: {why}")
        return None

    # --- the mapping protocol -------------------------------------------------

    def __len__(self) -> int:
        return self._key_count

    def __iter__(self) -> Iterator[str]:
        return self.words()

    def __contains__(self, word: object) -> bool:
        return isinstance(word, str) and self._where() is not None and self.shelf._has(word, self)

    def __getitem__(self, word: str) -> Answers:
        if not isinstance(word, str):
            raise TypeError(f"a table is looked up by a word (str), not by {type(word).__name__}")
        answers = self.lookup(word)
        if not answers:
            raise KeyError(word)
        return answers

    # --- questions ------------------------------------------------------------

    def lookup(self, word: str, *, first: bool = False, accents: bool = True) -> Answers:
        """Every entry of `word` in this table (see Shelf.lookup)."""
        return self.shelf.lookup(word, self, first=first, accents=accents) if self._where() else Answers()

    def match(self, text: str, strategy: str = "exact", *, count: Optional[int] = None) -> Answers:
        """Headwords that `strategy` selects for `text` (see Shelf.match)."""
        return self.shelf.match(text, strategy, self, count=count) if self._where() else Answers()

    def prefix(self, text: str, count: int = 20) -> Answers:
        """Up to `count` distinct headwords that start with `text`, in key order."""
        return self.shelf.prefix(text, count, self) if self._where() else Answers()

    def suggest(self, word: str, count: int = 10) -> Answers:
        """Up to `count` headwords near a word that is not found (see Shelf.suggest)."""
        return self.shelf.suggest(word, count, self) if self._where() else Answers()

    def entry(self, key_index: int) -> Answer:
        """The entry key `key_index` leads to, with its text; IndexError when
        there is no such key."""
        if self._where() is None or not 0 <= key_index < len(self):
            raise IndexError(f"{self.path}: table {self.index} has no key {key_index}")
        shelf = self.shelf
        assert self._db is not None
        answers = shelf._answers(shelf._lib.ZAVReaderEntry(shelf._open(), self._db, key_index))
        if not answers:
            raise IndexError(f"{self.path}: table {self.index} has no key {key_index}")
        return answers[0]

    # --- walks over the keys --------------------------------------------------

    def _cursor(self, start: Union[str, int, None]) -> Optional[_Cursor]:
        if self._where() is None:
            return None
        word, index = None, 0
        if isinstance(start, str):
            word = start.encode()
        elif start is not None:
            index = int(start)
            if not 0 <= index <= 0xFFFFFFFF:
                raise ValueError(f"no key {index}")
        shelf = self.shelf
        pointer = shelf._lib.ZAVReaderKeys(shelf._open(), self._db, word, index)
        if not pointer:
            raise MemoryError("out of memory while walking the keys")
        return _Cursor(shelf, pointer)

    def keys(self, start: Union[str, int, None] = None) -> Iterator[Key]:
        """The keys in key order, as Key records, from the first key not
        before `start` (a word), or from key number `start`."""
        cursor = self._cursor(start)
        if cursor is None:
            return
        try:
            key = _native.Key()
            while True:
                got = self.shelf._lib.ZAVReaderNext(cursor.live(), ctypes.byref(key))
                if got == 0:
                    return
                if got < 0:
                    raise BookError(f"{self.path}: {cursor.reason()}", got)
                yield Key(key.index, _native.text(key.text), _native.text(key.headword), key.page, key.offset,
                          key.attribute, bool(key.fold))
        finally:
            cursor.free()

    def words(self, start: Union[str, int, None] = None) -> Iterator[str]:
        """The key texts in key order (as keys(), texts only, read in large batches)."""
        opened = self._cursor(start)
        if opened is None:
            return
        cursor = opened
        lib = self.shelf._lib
        key = _native.Key()

        def one() -> bool:
            got = lib.ZAVReaderNext(cursor.live(), ctypes.byref(key))
            if got < 0:
                raise BookError(f"{self.path}: {cursor.reason()}", got)
            return bool(got)

        try:
            buffer = ctypes.create_string_buffer(_BATCH_BYTES)
            used = ctypes.c_size_t()
            while True:
                got = lib.ZAVReaderNextBatch(cursor.live(), buffer, _BATCH_BYTES, _BATCH_KEYS, ctypes.byref(used))
                if got > 0:
                    yield from ctypes.string_at(buffer, used.value).decode("utf-8", "replace").split("\0")[:got]
                elif got == 0:
                    return
                elif got == -_native.LIMIT:
                    # A key longer than the whole buffer: read alone.
                    if not one():
                        return
                    yield _native.text(key.text)
                else:
                    raise BookError(f"{self.path}: {cursor.reason()}", got)
        finally:
            cursor.free()


Entry = Answer  # the name look-ups answered with before


def index_path(book_path: PathLike) -> str:
    """The file the search index of the book at `book_path` is read from."""
    raw = os.fsencode(book_path)
    lib = _native.reader()
    size = lib.ZAVReaderIndexPath(raw, None, 0)
    buffer = ctypes.create_string_buffer(size + 1)
    lib.ZAVReaderIndexPath(raw, buffer, size + 1)
    return os.fsdecode(buffer.raw[:size])


def write_index(book_path: PathLike, language: Optional[str] = None) -> str:
    """Write the full-text index of the book at `book_path` beside it (every
    table with keys: headwords and texts) and return its path. `language`:
    "en" stems the texts as English, "" leaves them unstemmed, None takes
    English for a book whose name ends in "English" or "eng". The index is
    written whole to a temporary file in the same folder, then put in place:
    an error leaves the old index, or none. A path that is not a regular
    file is never replaced (a symbolic link is followed)."""
    if os.path.isdir(book_path):
        raise BookError(f"{os.fsdecode(book_path)}: a folder; write_index takes one book")
    target = os.path.realpath(index_path(book_path))
    if os.path.lexists(target) and not os.path.isfile(target):
        raise BookError(f"{target}: not a regular file; not replaced")
    with Shelf() as shelf:
        shelf.add(book_path)
        if not shelf.databases:
            problems = shelf.problems
            raise BookError(problems[0].reason if problems else
                            f"{os.fsdecode(book_path)}: the book has no table with keys")
        try:
            mode = os.stat(target).st_mode & 0o7777
        except FileNotFoundError:
            umask = os.umask(0)
            os.umask(umask)
            mode = 0o666 & ~umask
        handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(target) + ".", suffix=".tmp",
                                             dir=os.path.dirname(target))
        os.close(handle)
        try:
            indexing = _native.Indexing(ctypes.sizeof(_native.Indexing), None if language is None else
                                        language.encode())
            lib = shelf._lib
            result = lib.ZAVReaderWriteIndex(shelf._open(), (shelf.databases[0].database or "").encode(),
                                             os.fsencode(temporary), ctypes.byref(indexing))
            if not result:
                raise MemoryError("out of memory while writing an index")
            try:
                status = lib.ZAVReaderResultStatus(result)
                reason = _native.text(lib.ZAVReaderResultReason(result)) if status != _native.OK else ""
            finally:
                lib.ZAVReaderResultFree(result)
            if status != _native.OK:
                raise BookError(reason or f"{os.fsdecode(book_path)}: the index cannot be written", status)
            os.chmod(temporary, mode)
            os.replace(temporary, target)
        except BaseException:
            try:
                os.unlink(temporary)
            except FileNotFoundError:
                pass
            raise
    return target


def strategies() -> List[Tuple[str, str]]:
    """The match strategies, as (name, description), in the order a server lists them."""
    lib = _native.reader()
    out: List[Tuple[str, str]] = []
    while True:
        name = lib.ZAVReaderStrategyName(len(out))
        if name is None:
            return out
        out.append((_native.text(name), _native.text(lib.ZAVReaderStrategyDescription(len(out)))))


def fold(text: str, accents: bool = False) -> str:
    """`text` as a look-up compares it: case folded (Unicode simple folding
    after composition), and without accents and marks when `accents`."""
    lib = _native.reader()
    raw = text.encode()
    size = lib.ZAVReaderFold(raw, int(accents), None, 0)
    buffer = ctypes.create_string_buffer(size + 1)
    lib.ZAVReaderFold(raw, int(accents), buffer, size + 1)
    return buffer.raw[:size].decode("utf-8", "replace")
