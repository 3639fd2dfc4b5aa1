"""The Python package over the built module and the sample books."""

import os
import subprocess
import sys

import pytest

import tovixzav
from tovixzav.collation import compare_keys

SAMPLES = os.environ.get("ZAV_SAMPLES_DIR", ".")
ZAV = os.environ.get("ZAV_PROGRAM", "zav")
GLOSSARY = os.path.join(SAMPLES, "glossary.zav")
LEXICON = os.path.join(SAMPLES, "lexicon.zav")


@pytest.mark.parametrize("first,second,sign", [
    (b"apple", b"APPLE", 0), (b"apple", b"apples", -1), (b"  apple", b"apple  ", 0), (b"apple@2", b"apple@10", -1),
    (b"apple@1", b"apple", 1), (b"apple@0", b"apple", 0), (b"apple @3", b"apple@3", 0), (b"a b", b"ab", -1),
    (b"a1", b"a@1", 1), (b"z", b"\xb0\xa1", -1), (b"\xb0\xa1", b"\xb0\xa2", -1),
])
def test_key_collation(first, second, sign):
    assert compare_keys(first, second) == sign
    assert compare_keys(second, first) == -sign


def test_book_properties_and_tables():
    with tovixzav.Book(GLOSSARY) as book:
        assert (book.name, book.kind, book.serial, book.languages) == (
            "A Little Glossary of Bookbinding", tovixzav.KIND_PREFIXED, 20240601, [1, 2])
        assert book.name_in(2) == "装订小词典"
        assert [t.name for t in book.tables] == ["Terms", "Tools"]
        keys = list(book.tables[0].keys())
        assert [k.text for k in keys[:3]] == ["binding@1", "binding@2", "board"]
        assert keys[0].page == book.tables[0].lookup("binding@1")[0].page


@pytest.mark.parametrize("path,table,word,keys", [
    (GLOSSARY, 0, "binding", ["binding@1", "binding@2"]),
    (GLOSSARY, 0, "BINDING@2", ["binding@2"]),
    (GLOSSARY, 0, "signature", ["signature"]),
    (GLOSSARY, 1, "Folder", ["folder"]),
    (LEXICON, 0, "bank", ["bank@1", "bank@2"]),
    (LEXICON, 1, "by heart", ["by heart"]),
    (LEXICON, 0, "banker", []),
    (LEXICON, 0, "", []),
])
def test_lookup_gives_every_entry(path, table, word, keys):
    with tovixzav.Book(path) as book:
        entries = book.tables[table].lookup(word)
        assert [e.key for e in entries] == keys
        for e in entries:
            assert e.text == book.tables[table].page(e.page)[e.offset:]


def test_table_of_contents_tree():
    with tovixzav.Book(LEXICON) as book:
        toc = book.tables[0].toc
        assert toc.caption == "Lexicon" and toc.page is None
        assert [c.caption for c in toc.children] == ["Nature", "Things"]  # the hidden item is not walked
        leaves = [(i.caption, i.page) for _, i in toc.walk() if not i.children]
        assert ("garden", 5) in leaves and len(leaves) == 8
        assert book.tables[1].toc is None


def test_spell_checking():
    with tovixzav.Book(LEXICON) as book:
        words = book.tables[0]
        assert words.verify("apple") and words.verify("bank") and not words.verify("appel")
        assert words.correct("appel")[0] == "apple"
        assert words.wildcard("l*r*") == ["lantern", "letter", "library"]
        with pytest.raises(tovixzav.BookError, match="not spell-capable"):
            book.tables[1].verify("by heart")
    with tovixzav.Book(GLOSSARY) as book, pytest.raises(tovixzav.BookError, match="dictionary book"):
        book.tables[0].correct("bnding")


def test_errors_name_the_reason(tmp_path):
    short = tmp_path / "short.zav"
    short.write_bytes(b"DEBD" + bytes(100))
    for path in (tmp_path / "missing.zav", short):
        with pytest.raises(tovixzav.BookError, match="not a book") as error:
            tovixzav.Book(path)
        assert error.value.code == -10
    book = tovixzav.Book(GLOSSARY)
    with pytest.raises(tovixzav.BookError, match="page 99"):
        book.tables[0].page(99)
    book.close()
    with pytest.raises(tovixzav.BookError, match="closed"):
        book.name


def test_a_missing_module_is_reported(tmp_path):
    script = "import tovixzav\ntry:\n    tovixzav.Book('x')\nexcept tovixzav.LibraryNotFound as e:\n    print(e)\n"
    env = dict(os.environ, TOVIXZAV_LIBRARY=str(tmp_path / "libnothing.so"))
    run = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, timeout=60)
    assert "cannot load the book module" in run.stdout and "libnothing.so" in run.stdout


def _imported(tmp_path, lines, *options):
    """A book made by zav import from word-list lines."""
    source, book = tmp_path / "words.tsv", tmp_path / "words.zav"
    source.write_text("".join(line + "\n" for line in lines), encoding="utf-8")
    subprocess.run([ZAV, "import", "tsv", str(source), str(book), "--quiet", *options], check=True, timeout=60)
    return book


@pytest.mark.parametrize("options", [(), ("--dictionary-book",)])
def test_about_and_stored_headwords(tmp_path, monkeypatch, options):
    monkeypatch.setenv("ZOZIZID_DICT_DIR", str(tmp_path))
    path = _imported(tmp_path, [
        "00-database-short\tWords", "00-database-info\tFirst line\\nsecond line", "00-database-url\thttp://x.example",
        "εξημερωμένος\tsee tame", "tame\tsee tame", "ÉLÈVE\tpupil", "pupil\tpupil"], *options)
    with tovixzav.Book(path) as book:
        assert book.about == {"name": "Words", "description": "First line\nsecond line",
                              "website": "http://x.example"}
        assert book.description == "First line\nsecond line"
        words = book.tables[0]
        # A word in another case finds the headword as stored, though its
        # definition is shared with another headword.
        assert [e.key for e in words.lookup("ΕΞΗΜΕΡΩΜΈΝΟΣ")] == ["εξημερωμένος"]
        assert [e.key for e in words.lookup("élève")] == ["ÉLÈVE"]
    with tovixzav.Book(GLOSSARY) as book:
        assert book.about == {} and book.description == ""


def test_a_page_cut_off_is_an_error_not_an_empty_text(tmp_path):
    path = _imported(tmp_path, [f"word{i:03d}\t" + f"text {i} " * 20 for i in range(200)])
    data = path.read_bytes()
    cut = tmp_path / "cut.zav"
    cut.write_bytes(data[:len(data) // 2])
    with tovixzav.Book(cut) as book:
        with pytest.raises(tovixzav.BookError, match="past the end of the file"):
            book.tables[0].lookup("word199")
