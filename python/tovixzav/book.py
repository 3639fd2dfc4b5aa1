"""Books, their tables, entries and tables of contents."""

import ctypes
import os
import struct
from collections import namedtuple

from . import _native
from .collation import compare_keys, fold_case, has_homograph, key_body
from .errors import BookError

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
# A key that books made by zav import add for a headword's case fold; the
# page-to-key entry of its table page is that headword. In a dictionary book
# the key's word record has a sub content of the same number naming it.
_CASE_FOLD_ATTRIBUTE = 0x46
# The page where a book made by zav import keeps what the dictionary says
# about itself, and the fields it may hold, in order.
_ABOUT_MARK = b"zav-book-info\t1\n"
ABOUT_FIELDS = ("name", "description", "author", "email", "website", "date")
_UNESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\"}

Key = namedtuple("Key", "index text page offset attribute")
Entry = namedtuple("Entry", "key key_index page offset text")


class TocItem(namedtuple("TocItem", "item caption page children")):
    """One item of a table of contents: its number, caption, page (None when
    it has none) and child items."""

    def walk(self, depth=0):
        """Yield (depth, item) for this item and every item below it."""
        yield depth, self
        for child in self.children:
            yield from child.walk(depth + 1)


def _decode(raw, language):
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


def _encode(word, language):
    codec = _CODECS.get(language, "utf-8")
    try:
        return word.encode(codec)
    except UnicodeEncodeError as error:
        raise BookError(f"{word!r} cannot be written in this table's code page ({codec}): {error}") from None


def _unescape(field):
    out, i = [], 0
    while i < len(field):
        if field[i] == "\\" and i + 1 < len(field) and field[i + 1] in _UNESCAPES:
            out.append(_UNESCAPES[field[i + 1]])
            i += 2
        else:
            out.append(field[i])
            i += 1
    return "".join(out)


def _parse_about(page):
    about = {}
    for line in page[len(_ABOUT_MARK):].decode("utf-8", "replace").split("\n"):
        field, tab, value = line.partition("\t")
        if tab and field in ABOUT_FIELDS:
            about[field] = _unescape(value)
    return about


def _name(call):
    buffer = ctypes.create_string_buffer(_NAME_BUFFER)
    language = call(buffer, _NAME_BUFFER - 1)
    return _decode(buffer.value, language) if language else ""


class Book:
    """A book opened read-only through the module. Use it as a context manager
    or call close(); calls on one Book must not overlap between threads."""

    def __init__(self, path):
        self._lib = _native.library()
        self.path = os.fspath(path)
        handle = ctypes.c_void_p()
        result = self._lib.ZAVOpenBook(self.path, ctypes.byref(handle))
        if result != 0 or not handle.value:
            reason = _OPEN_ERRORS.get(result, f"cannot open (result {result})")
            raise BookError(f"{self.path}: {reason}", result)
        self._handle = handle
        try:
            self._size = os.path.getsize(self.path)
        except OSError:
            self._size = 0
        if self.kind == KIND_DICTIONARY:
            self._point_engine_here()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._handle is not None:
            self._lib.ZAVCloseBook(self._handle)
            self._handle = None

    def _call(self, name, *args):
        if self._handle is None:
            raise BookError(f"{self.path}: the book is closed")
        return getattr(self._lib, name)(self._handle, *args)

    def _point_engine_here(self):
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
    def caps(self):
        """(kind, version, capsWord1, capsWord2) as stored in the header."""
        block = (ctypes.c_uint32 * 4)()
        if self._call("ZAVGetCaps", block) != 1:
            raise BookError(f"{self.path}: the header cannot be read")
        return tuple(block)

    kind = property(lambda self: self.caps[0])
    version = property(lambda self: self.caps[1])
    is_dictionary = property(lambda self: self.kind == KIND_DICTIONARY)
    table_count = property(lambda self: self._call("ZAVGetTableCount"))
    page_count = property(lambda self: self._call("ZAVGetPageCount"))

    def name_in(self, language=0):
        """The book's name in a language code (0: the module chooses)."""
        return _name(lambda buf, n: self._call("ZAVGetBkName", language, buf, n))

    name = property(name_in)

    @property
    def serial(self):
        value = ctypes.c_uint32()
        if self._call("ZAVBookSerial", ctypes.byref(value)) != 0:
            raise BookError(f"{self.path}: the serial cannot be read")
        return value.value

    @property
    def languages(self):
        return [self._call("ZAVGetLanguage", i) for i in range(self._call("ZAVGetLanguageCount"))]

    @property
    def tables(self):
        return [Table(self, t) for t in range(self.table_count)]

    def page_bytes(self, page):
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
    def about(self):
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
    def description(self):
        """The dictionary's description (see about); "" when there is none."""
        return self.about.get("description", "")

    def _content_limit(self):
        return _SERVED_CONTENT_LIMIT if self.is_dictionary else self._size


class Table:
    """One table of a book: keys, pages, look-ups, table of contents and,
    in dictionary books, spell checking."""

    def __init__(self, book, index):
        self.book, self.index = book, index

    def _call(self, name, *args):
        return self.book._call(name, self.index, *args)

    def __repr__(self):
        return f"<Table {self.index} {self.name!r} of {self.book.path}>"

    language = property(lambda self: self._call("ZAVGetTableLocal"))
    dict_id = property(lambda self: self._call("ZAVGetDictClass") & 0xFFFFFFFF)
    key_count = property(lambda self: self._call("ZAVGetKeyCount") & 0xFFFFFFFF)
    page_count = property(lambda self: self._call("ZAVGetTablePageCount") & 0xFFFFFFFF)
    name = property(lambda self: _name(lambda b, n: self._call("ZAVGetTableName", 0, b, n)))
    simple_name = property(lambda self: _name(lambda b, n: self._call("ZAVGetTableSimpleName", 0, b, n)))

    def _key_bytes(self, index):
        length = self._call("ZAVGetKeyWordLength", index)
        buffer = ctypes.create_string_buffer(length + 1)
        attribute = self._call("ZAVGetKeyWord", index, buffer, length + 1)
        return buffer.value, attribute

    def _key_count(self):
        count = self.key_count
        # Each key of a plain book takes a 4-byte list entry and a 12-byte record.
        return count if self.book.is_dictionary else min(count, self.book._size // 16)

    def keys(self):
        """Every key in key order, as Key(index, text, page, offset, attribute)."""
        for i in range(self._key_count()):
            raw, attribute = self._key_bytes(i)
            page, offset = self._where(i)
            yield Key(i, _decode(raw, self.language), page, offset, attribute)

    def _where(self, index):
        if self.book.is_dictionary:
            return index, 0  # a dictionary key leads to the table page of its index
        page = self._call("ZAVGetKeyPageNo", index) & 0xFFFFFFFF
        return page, self._call("ZAVGetKeyPageOffset", index) & 0xFFFFFFFF

    def page_bytes(self, index):
        """Table page `index` as bytes; BookError when it cannot be read."""
        if not 0 <= index < self.page_count:
            raise BookError(f"{self.book.path}: table {self.index} has {self.page_count} pages, no page {index}")
        size = self._call("ZAVGetTablePageSize", index)
        if size < 0 or size > self.book._content_limit():
            raise BookError(f"{self.book.path}: table {self.index} page {index} claims {size} bytes")
        buffer = ctypes.create_string_buffer(max(size, 1))
        copied = self._call("ZAVGetTablePage", index, buffer, size) if size else 0
        if copied != size:
            raise BookError(f"{self.book.path}: table {self.index} page {index} cannot be read")
        if size == 0 and not self.book.is_dictionary:
            # The module answers 0 for an empty page and for one it cannot
            # read: the file's own structures tell which.
            problem = _empty_page_problem(self.book.path, self.index, index)
            if problem:
                raise BookError(f"{self.book.path}: table {self.index} page {index} cannot be read: {problem}")
        return buffer.raw[:size]

    def page(self, index):
        """Table page `index` as text."""
        return _decode(self.page_bytes(index), self.language)

    def _lower_bound(self, target, count):
        lo, hi = 0, count
        while lo < hi:
            mid = (lo + hi) // 2
            if compare_keys(self._key_bytes(mid)[0], target) < 0:
                lo = mid + 1
            else:
                hi = mid
        return lo

    def _matching(self, query, count):
        exact = has_homograph(query)
        target = query if exact else key_body(query)
        if not target:
            return []
        found = []
        for i in range(self._lower_bound(target, count), count):
            key = self._key_bytes(i)[0]
            if compare_keys(key if exact else key_body(key), target) != 0:
                break
            found.append((i, key))
        return found

    def _dictionary_headword(self, index, key):
        """A dictionary book's key added for a case fold names its headword in
        a sub content of its word record."""
        if key.isascii() or self._call("ZAVIsExistSubPage", _CASE_FOLD_ATTRIBUTE, index) != 1:
            return index, key
        size = self._call("ZAVGetSubPageSize", _CASE_FOLD_ATTRIBUTE, index)
        if not 0 < size <= 0xFFFF:
            return index, key
        buffer = ctypes.create_string_buffer(size)
        if self._call("ZAVGetSubPage", _CASE_FOLD_ATTRIBUTE, index, buffer, size) != size:
            return index, key
        head = buffer.raw[:size]
        for i, text in self._matching(head, self._key_count()):
            if text == head:
                return i, text
        return index, key

    def _headword(self, index, key, page):
        """The key to show for key `index`: for a key added for a headword's
        case fold, that headword (the key of its table page)."""
        if self.book.is_dictionary:
            return self._dictionary_headword(index, key)
        if self._key_bytes(index)[1] != _CASE_FOLD_ATTRIBUTE:
            return index, key
        first = self._call("ZAVPageToKey", page)
        if first < 0 or first >= self._key_count() or first == index:
            return index, key
        text, attribute = self._key_bytes(first)
        if attribute == _CASE_FOLD_ATTRIBUTE:
            return index, key
        folded = _encode(fold_case(_decode(text, self.language)), self.language)
        return (first, text) if compare_keys(folded, key) == 0 else (index, key)

    def lookup(self, word):
        """Every entry whose key is the word (letter case ignored, homographs
        included: "bank" finds bank@1 and bank@2), as Entry tuples."""
        if not word:
            return []
        count = self._key_count()
        queries = [_encode(word, self.language)]
        folded = _encode(fold_case(word), self.language)
        if compare_keys(folded, queries[0]) != 0:
            queries.append(folded)
        entries, seen = [], set()
        for query in queries:
            for index, key in self._matching(query, count):
                page, offset = self._where(index)
                if (page, offset) in seen:
                    continue
                seen.add((page, offset))
                content = self.page_bytes(page)
                if offset > len(content):
                    raise BookError(f"{self.book.path}: key {index} points past the end of page {page}")
                shown, text = self._headword(index, key, page)
                entries.append(Entry(_decode(text, self.language), shown, page, offset,
                                     _decode(content[offset:], self.language)))
        return entries

    @property
    def toc(self):
        """The table of contents as a tree of TocItem, or None when the table has none."""
        if self._call("EBDVPGetCount") <= 0:
            return None
        budget = [min(self._call("EBDVPGetCount"), _MAX_TOC_ITEMS)]
        return self._toc_item(self._call("EBDVPGetRootItem"), set(), budget)

    def _toc_item(self, item, seen, budget):
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

    def _spell_word(self, word):
        if not self.book.is_dictionary:
            raise BookError(f"{self.book.path}: spell checking needs a dictionary book")
        d = self.dict_id
        if d & 0xFF != 1 or (d >> 16) & 0xFF != 1 or d >> 24 != 0:
            raise BookError(f"{self.book.path}: table {self.index} (dictId 0x{d:08X}) is not spell-capable")
        raw = _encode(word, self.language)
        if not raw or len(raw) > 255:
            raise BookError("a word to check must hold 1 to 255 bytes")
        return ctypes.create_string_buffer(raw)

    def verify(self, word):
        """True when the dictionary holds the word."""
        w = self._spell_word(word)
        return self._call("EBDSCVerify", ctypes.addressof(w), None) != 0

    def correct(self, word, limit=10):
        """Up to `limit` (1 to 255) headwords near the word, nearest first."""
        w = self._spell_word(word)
        limit = max(1, min(int(limit), 255))
        slots = ctypes.create_string_buffer(limit * _SLOT)
        n = self._call("EBDSCCorrection", ctypes.addressof(w), ctypes.addressof(slots), limit)
        n = n if 0 <= n <= limit else 0
        return [_decode(slots.raw[i * _SLOT:(i + 1) * _SLOT].split(b"\0", 1)[0], self.language) for i in range(n)]

    def wildcard(self, pattern, limit=50):
        """Headwords matching a pattern of * (any run) and ? (one character)."""
        w = self._spell_word(pattern)
        limit = max(1, min(int(limit), 255))
        out = ctypes.create_string_buffer(_WILDCARD_BUFFER + 1)
        n = self._call("EBDSCWildcard", ctypes.addressof(w), ctypes.addressof(out), limit, _WILDCARD_BUFFER)
        words = [x for x in out.raw[:_WILDCARD_BUFFER].split(b"\0")[:max(n, 0)] if x]
        return [_decode(x, self.language) for x in words]


def _empty_page_problem(path, table, index):
    """Why table page `index` of a plain book, which the module reports empty,
    is not really there ("" when the file holds an empty page): the page list
    and the page directory lead to a page record that must lie in the file."""
    try:
        with open(path, "rb") as f:
            data_size = os.fstat(f.fileno()).st_size

            def u32(at, what):
                if at + 4 > data_size:
                    raise ValueError(f"{what} lies past the end of the file ({data_size} bytes)")
                f.seek(at)
                return struct.unpack("<I", f.read(4))[0]

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
