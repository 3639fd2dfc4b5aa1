"""The Python package over the built reader library, the module and the sample books."""

import json
import os
import subprocess
import sys

import pytest

import tovixzav
from tovixzav import shelf as shelf_module

SAMPLES = os.environ.get("ZAV_SAMPLES_DIR", ".")
ZAV = os.environ.get("ZAV_PROGRAM", "zav")
GLOSSARY = os.path.join(SAMPLES, "glossary.zav")
LEXICON = os.path.join(SAMPLES, "lexicon.zav")
WORDS = ["apple\tthe fruit", "Apple\tthe company", "apples\tmore than one", "application\ta form",
         "banana\ta yellow fruit", "café\ta coffee house", "Straße\ta street", "zebra\tan animal"]


def _imported(folder, lines, *options, name="words"):
    """A book made by zav import from word-list lines."""
    source, book = folder / f"{name}.tsv", folder / f"{name}.zav"
    source.write_text("".join(line + "\n" for line in lines), encoding="utf-8")
    subprocess.run([ZAV, "import", "tsv", str(source), str(book), "--quiet", *options], check=True, timeout=60)
    source.unlink()
    return book


@pytest.fixture(scope="module")
def words(tmp_path_factory):
    path = _imported(tmp_path_factory.mktemp("words"), WORDS)
    with tovixzav.Shelf(path) as shelf:
        yield shelf["words"]


def test_a_table_is_a_mapping_of_its_keys(words):
    listed = json.loads(subprocess.run([ZAV, "keys", words.path, "--json"], check=True, capture_output=True,
                                       timeout=60).stdout)["keys"]
    assert len(words) == len(listed) and len(words) >= 8
    assert list(words) == [k["key"] for k in listed]
    assert [(k.index, k.text, k.page, k.offset) for k in words.keys()] == [
        (k["keyIndex"], k["key"], k["page"], k["offset"]) for k in listed]
    assert next(words.keys(start="B")).text == "banana" and next(words.keys(start=3)).index == 3
    assert list(words.words(start="zz")) == [] and list(words.keys(start=len(words))) == []
    assert "APPLE" in words and "straße" in words and "pear" not in words and 42 not in words
    with pytest.raises(KeyError):
        words["pear"]
    found = words["APPLE"]
    # The module's own choice first; ASCII letter case is ignored by the key collation.
    assert [(a.key, a.text, a.how) for a in found] == [
        ("apple", "the fruit", "exact"), ("Apple", "the company", "exact")]
    assert all(a.database == "words" and a.book == words.path and a.table == 0 for a in found)


def test_keys_are_walked_in_batches_of_any_size(words, monkeypatch):
    # A batch too small for a key reads that key alone.
    monkeypatch.setattr(shelf_module, "_BATCH_BYTES", 8)
    assert list(words) == [k.text for k in words.keys()]


@pytest.mark.parametrize("strategy,pattern,headwords", [
    ("exact", "APPLE", ["Apple", "apple"]),
    ("prefix", "app", ["Apple", "apple", "apples", "application"]),
    ("substring", "an", ["banana"]),
    ("suffix", "NANA", ["banana"]),
    ("re", "^a.*s$", ["apples"]),
    ("lev", "zebro", ["zebra"]),
])
def test_match_strategies(words, strategy, pattern, headwords):
    answers = words.match(pattern, strategy)
    assert [a.headword for a in answers] == headwords
    assert all(a.how == "match" for a in answers)
    assert answers[0].text  # read when asked


def test_prefix_suggest_and_accents(words):
    assert [a.headword for a in words.prefix("APP", count=2)] == ["Apple", "apple"]
    near = words.suggest("appel", count=3)
    assert near[0].headword == "Apple" and near[0].how == "suggest" and near[0].distance > 0
    assert [(a.headword, a.how) for a in words.lookup("cafe")] == [("café", "accent")]
    assert words.lookup("cafe", accents=False) == []
    with pytest.raises(tovixzav.QueryError):
        words.match("x", "no-such-strategy")
    with pytest.raises(tovixzav.QueryError):
        words.match("(", "re")


def test_a_shelf_over_a_folder(tmp_path):
    _imported(tmp_path, ["bank\ta river's side", "tree\ta plant"], name="nature")
    _imported(tmp_path, ["Bank\ta place for money"], name="money")
    (tmp_path / "broken.zav").write_bytes(b"DEBD" + bytes(600))
    (tmp_path / "notes.txt").write_text("not a book")
    with tovixzav.Shelf(tmp_path) as shelf:
        assert sorted(t.database for t in shelf) == ["money", "nature"] and "money" in shelf
        assert [os.path.basename(p.path) for p in shelf.problems] == ["broken.zav"]
        assert all(p.reason for p in shelf.problems)
        assert sorted((a.database, a.text) for a in shelf.lookup("BANK")) == [
            ("money", "a place for money"), ("nature", "a river's side")]
        assert [(a.database, a.headword) for a in shelf.match("tre", "prefix")] == [("nature", "tree")]
        table = shelf["nature"]
    with pytest.raises(tovixzav.BookError, match="closed"):
        table.lookup("tree")


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
        assert [e.headword for e in words.lookup("ΕΞΗΜΕΡΩΜΈΝΟΣ")] == ["εξημερωμένος"]
        assert [e.headword for e in words.lookup("élève")] == ["ÉLÈVE"]
    with tovixzav.Book(GLOSSARY) as book:
        assert book.about == {} and book.description == ""


def test_a_page_cut_off_is_an_error_not_an_empty_text(tmp_path):
    path = _imported(tmp_path, [f"word{i:03d}\t" + f"text {i} " * 20 for i in range(200)])
    data = path.read_bytes()
    cut = tmp_path / "cut.zav"
    cut.write_bytes(data[:len(data) // 2])
    with tovixzav.Book(cut) as book:
        with pytest.raises(tovixzav.BookError, match="past the end of the file"):
            book.tables[0].lookup("word199")[0].text
