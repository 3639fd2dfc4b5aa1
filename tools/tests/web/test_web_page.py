"""The reader's page (tools/zav/serve/web) in headless Chromium, against `zav serve --http`.

The fixture builds the three books of BOOKS with `zav build` ($ZAV_PROGRAM), indexes them with `zav index` and serves
them on a free loopback port. With ZAV_WEB_URL set, the tests run against that server instead, which must serve the
same books; running this file writes them as manifests:

    python3 test_web_page.py DIR && for m in DIR/*.json; do zav build "$m" "${m%.json}.zav"; done && zav index DIR/*.zav
    zav serve --http 127.0.0.1:8080 DIR &  ZAV_WEB_URL=http://127.0.0.1:8080 python3 -m pytest test_web_page.py

Screenshots (PNG) go to $ZAV_WEB_SCREENSHOTS (CMake sets it to the build folder). The browser resolves no host but
the loopback address, and every test checks that each request went to the server under test, that the
Content-Security-Policy was never violated and that the console shows no error.
"""

import json
import os
import select
import shutil
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request
from urllib.parse import quote

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.join(HERE, "..", "..", "..")
SHOTS = os.environ.get("ZAV_WEB_SCREENSHOTS") or os.path.join(ROOT, "build", "web-screenshots")
PACKAGES = "chromium chromium-driver python3-selenium (scripts/deps.sh, WEB_TEST_PACKAGES)"

HOSTILE_HEADWORD = "<script>window.pwned=1</script>evil"
HOSTILE_TEXT = ('<script>window.pwned=2</script> <img src=x onerror="window.pwned=3"> '
                '<a href="javascript:window.pwned=4">click</a> \x01\x7f end')
MEMO = "A memo beside apple: see {pome}."

# book id -> (name, description, [(headword, text)]); an entry's page is its place in the list.
BOOKS = {
    "gcide": ("GCIDE sample", "A few entries in dictd style.", [
        ("apple", "The fruit of a tree; see {pome} and {Malus\n   domestica}."),
        ("pome", "A fleshy fruit such as the {apple}."),
        ("apricot", "A stone fruit."),
        ("café", "A coffee house."),
    ]),
    "czech": ("Czech with markup", "StarDict markup kept on import.", [
        ("jablko", '<b>apple</b>, see <a href="bword://hruška">pear</a><br>fruit'),
        ("hruška", "<i>pear</i>"),
    ]),
    "hostile": ('Hostile <img src=x onerror="window.pwned=5">', "<script>window.pwned=6</script>", [
        (HOSTILE_HEADWORD, HOSTILE_TEXT),
    ]),
}
# The contents of gcide, pages named by their headword.
TOC = [{"caption": "A", "children": [{"caption": "apple", "page": "apple"}, {"caption": "apricot", "page": "apricot"}]},
       {"caption": "P", "children": [{"caption": "pome", "page": "pome"}]}]


def manifests():
    """The books as manifests of `zav build` (file name -> manifest), for a run against a real server."""
    out = {}
    for book, (name, _, entries) in BOOKS.items():
        table = {"name": name, "entries": [{"keys": [h], "text": t} for h, t in entries]}
        if book == "gcide":
            table["toc"] = [{"caption": name, "children": TOC}]
            table["memos"] = [{"page": "apple", "text": MEMO}]
        out[book + ".json"] = {"kind": 2, "name": name, "tables": [table]}
    return out


def write_manifests(folder):
    for file, manifest in manifests().items():
        with open(os.path.join(folder, file), "w", encoding="utf-8") as f:
            json.dump(manifest, f, ensure_ascii=False, indent=1)


@pytest.fixture(scope="module")
def base():
    if os.environ.get("ZAV_WEB_URL"):
        yield os.environ["ZAV_WEB_URL"].rstrip("/")
        return
    zav = os.environ.get("ZAV_PROGRAM", "zav")
    folder = tempfile.mkdtemp(prefix="zav-web-books-")
    write_manifests(folder)
    for file in manifests():
        m = os.path.join(folder, file)
        subprocess.run([zav, "build", m, m[:-len(".json")] + ".zav"], check=True, capture_output=True)
        subprocess.run([zav, "index", "--quiet", m[:-len(".json")] + ".zav"], check=True, capture_output=True)
        os.remove(m)
    server = subprocess.Popen([zav, "serve", folder, "--http", "127.0.0.1:0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    ready, _, _ = select.select([server.stdout], [], [], 60)
    line = server.stdout.readline() if ready else ""
    try:
        assert line.startswith("http listening on "), f"zav serve --http did not start: {line!r}"
        yield "http://" + line.split()[-1]
    finally:
        server.terminate()
        server.wait(timeout=20)
        shutil.rmtree(folder, ignore_errors=True)


@pytest.fixture(scope="module")
def driver():
    chromium, chromedriver = shutil.which("chromium"), shutil.which("chromedriver")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        webdriver = None
    if not (chromium and chromedriver and webdriver):
        pytest.fail(f"the browser test needs the Debian packages {PACKAGES}", pytrace=False)
    home = tempfile.mkdtemp(prefix="zav-web-")  # the browser's profile and caches stay out of $HOME
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,900",
                f"--user-data-dir={home}/profile", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync",
                "--host-resolver-rules=MAP * ~NOTFOUND , EXCLUDE 127.0.0.1"):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home, XDG_CACHE_HOME=home)
    d = webdriver.Chrome(service=Service(chromedriver, env=env), options=options)
    # Violations of the Content-Security-Policy and alerts, recorded before the page's own script runs.
    d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": """
        window.__csp = []; window.__alerts = [];
        document.addEventListener('securitypolicyviolation', e => __csp.push(e.violatedDirective + ' ' + e.blockedURI));
        window.alert = window.confirm = window.prompt = m => { __alerts.push(String(m)); };"""})
    os.makedirs(SHOTS, exist_ok=True)
    yield d
    d.quit()
    shutil.rmtree(home, ignore_errors=True)


def wait(d, get, want=True, seconds=10):
    """Waits for get() to give `want`; on a timeout the assertion shows what it gave."""
    end = time.monotonic() + seconds
    while time.monotonic() < end and get() != want:
        time.sleep(0.05)
    assert get() == want


def css(d, selector):
    from selenium.webdriver.common.by import By
    return d.find_elements(By.CSS_SELECTOR, selector)


def texts(d, selector):
    return [e.text for e in css(d, selector)]


def at(d, base, address):
    """Waits for the address bar to show `address` (path, query and hash)."""
    wait(d, lambda: d.current_url, base + address)


def api(base, path, **params):
    with urllib.request.urlopen(f"{base}{path}?{urllib.parse.urlencode(params)}", timeout=10) as r:
        return json.load(r)


def book_id(base, name):
    """The id the server gives the book named `name`."""
    [b] = [b["id"] for b in api(base, "/api/books")["books"] if b["name"] == name]
    return b


def page_of(base, book, word):
    """The page of `word`'s entry in `book`."""
    return api(base, "/api/lookup", q=word, book=book)["results"][0]["entries"][0]["page"]


def shot(d, name):
    d.save_screenshot(os.path.join(SHOTS, name + ".png"))


def assert_clean(d, base):
    """Nothing left the server under test, nothing broke the policy, ran a book's script or wrote an error."""
    urls = d.execute_script("return ['navigation', 'resource'].flatMap(t => performance.getEntriesByType(t)).map(e => e.name)")
    assert [u for u in urls if not u.startswith(base + "/")] == []
    assert d.execute_script("return window.__csp") == []
    assert d.execute_script("return window.__alerts") == []
    assert d.execute_script("return window.pwned === undefined")
    hrefs = [a.get_attribute("href") for a in css(d, "a")]
    assert [h for h in hrefs if not h.startswith(base + "/")] == []
    # An answer of 404 (the icon, a book that is not there) is the browser's note, not the page's error.
    errors = [e["message"] for e in d.get_log("browser")
              if e["level"] == "SEVERE" and "responded with a status of 404" not in e["message"]]
    assert errors == []


def test_suggestions_answers_and_cross_references(driver, base):
    from selenium.webdriver.common.keys import Keys
    d = driver
    d.get(base + "/")
    wait(d, lambda: "GCIDE sample" in texts(d, ".book-link"))
    box = css(d, "#q")[0]
    box.send_keys("ap")
    wait(d, lambda: texts(d, "#suggestions .headword"), ["apple", "apricot"])
    shot(d, "suggestions")
    box.send_keys(Keys.ARROW_DOWN, Keys.ARROW_DOWN, Keys.ARROW_UP, Keys.ENTER)
    at(d, base, "/?q=apple")
    wait(d, lambda: texts(d, ".entry .headword"), ["apple"])
    links = {a.text: a.get_attribute("href") for a in css(d, ".entry a.xref")}
    assert links == {"pome": base + "/?q=pome", "Malus\n   domestica": base + "/?q=Malus%20domestica"}
    shot(d, "answer")
    css(d, ".entry a.xref")[0].click()
    at(d, base, "/?q=pome")
    wait(d, lambda: texts(d, ".entry .headword"), ["pome"])
    d.back()  # the address follows every view, so back shows the answer before
    at(d, base, "/?q=apple")
    wait(d, lambda: texts(d, ".entry .headword"), ["apple"])
    assert css(d, "#q")[0].get_attribute("value") == "apple"
    box = css(d, "#q")[0]
    box.clear()
    box.send_keys("po")
    wait(d, lambda: texts(d, "#suggestions .headword"), ["pome"])
    box.send_keys(Keys.ESCAPE)
    wait(d, lambda: not css(d, "#suggestions")[0].is_displayed())
    assert d.current_url == base + "/?q=apple"
    assert_clean(d, base)


def test_markup_links_accents_and_misses(driver, base):
    d = driver
    d.get(base + "/?q=jablko")
    wait(d, lambda: texts(d, ".entry .text"), ["apple, see pear\nfruit"])
    assert texts(d, ".entry .text b") == ["apple"]
    link = css(d, ".entry a.xref")[0]
    assert (link.text, link.get_attribute("href")) == ("pear", base + "/?q=hru%C5%A1ka")
    link.click()
    wait(d, lambda: texts(d, ".entry .text i"), ["pear"])
    d.get(base + "/?q=cafe")
    wait(d, lambda: texts(d, ".entry .how"), ["found without accents"])
    assert texts(d, ".entry .headword") == ["café"]
    d.get(base + "/?q=aple")
    wait(d, lambda: texts(d, ".missing"), ["No entry for “aple”."])
    assert "apple" in texts(d, ".did-you-mean a")
    shot(d, "missing")
    d.get(base + "/?q=ap&strategy=prefix")
    wait(d, lambda: texts(d, ".words a"), ["apple", "apricot"])
    gcide = quote(book_id(base, "GCIDE sample"), safe="")
    assert css(d, ".words a")[0].get_attribute("href") == f"{base}/?q=apple&book={gcide}"
    d.get(base + "/?q=apple&book=nosuch")  # an unknown book is the server's error, not a search of every book
    wait(d, lambda: len(texts(d, ".error")), 1)
    assert_clean(d, base)


def test_contents_tree_pages_and_sub_pages(driver, base):
    d = driver
    gcide = book_id(base, "GCIDE sample")
    apple, pome = page_of(base, gcide, "apple"), page_of(base, gcide, "pome")
    book = "/#book=" + quote(gcide, safe="")
    d.get(base + book)
    wait(d, lambda: "apple" in texts(d, ".contents a.toc-item"))
    [link] = [a for a in css(d, ".contents a.toc-item") if a.text == "apple"]
    link.click()
    at(d, base, f"{book}&page={apple}")
    wait(d, lambda: texts(d, ".page .text"), ["The fruit of a tree; see pome and Malus\n   domestica."])
    assert texts(d, ".subpages .text") == ["A memo beside apple: see pome."]
    assert css(d, '.contents [aria-current="page"]')[0].text == "apple"
    shot(d, "book")
    css(d, ".pager a.next")[0].click()
    at(d, base, f"{book}&page={pome}")
    wait(d, lambda: texts(d, ".page .text"), ["A fleshy fruit such as the apple."])
    assert css(d, ".subpages") == []
    d.back()
    wait(d, lambda: texts(d, ".subpages .text"), ["A memo beside apple: see pome."])
    css(d, ".page a.xref")[0].click()  # a cross-reference in a page leads to the entry
    at(d, base, "/?q=pome")
    assert_clean(d, base)


def test_hostile_book_is_shown_as_text(driver, base):
    from selenium.webdriver.common.keys import Keys
    d = driver
    d.get(base + "/")
    wait(d, lambda: any(t.startswith("Hostile <img") for t in texts(d, ".book-link")))
    box = css(d, "#q")[0]
    box.send_keys("<scr")
    wait(d, lambda: texts(d, "#suggestions .headword"), [HOSTILE_HEADWORD])
    box.send_keys(Keys.ARROW_DOWN, Keys.ENTER)
    at(d, base, "/?q=" + quote(HOSTILE_HEADWORD, safe="()"))
    wait(d, lambda: texts(d, ".entry .headword"), [HOSTILE_HEADWORD])
    shown = css(d, ".entry .text")[0].text
    assert shown == HOSTILE_TEXT.replace("\x01", "\u2401").replace("\x7f", "\u2421")
    assert css(d, "main img, main script") == []
    shot(d, "hostile")
    assert_clean(d, base)


def test_search_of_the_texts(driver, base):
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
    d = driver
    d.get(base + "/")
    wait(d, lambda: "GCIDE sample" in texts(d, ".book-link"))
    Select(css(d, "#strategy")[0]).select_by_value("text")
    css(d, "#q")[0].send_keys("fruit", Keys.ENTER)
    at(d, base, "/?q=fruit&mode=text")
    wait(d, lambda: sorted(texts(d, ".hit .headword")), ["apple", "apricot", "jablko", "pome"])
    # Every mark is the word, also after "hruška" (a byte offset is not a string position).
    assert set(texts(d, ".hit .snippet mark")) == {"fruit"}
    [jablko] = [h for h in css(d, ".hit") if h.find_element("css selector", ".headword").text == "jablko"]
    assert jablko.find_element("css selector", ".snippet").text.endswith("fruit")
    gcide = quote(book_id(base, "GCIDE sample"), safe="")
    [apple] = [a for a in css(d, ".hit a.headword") if a.text == "apple"]
    assert apple.get_attribute("href") == f"{base}/?q=apple&book={gcide}"
    shot(d, "text-search")
    d.get(base + "/?q=click&mode=text")  # a hostile book's text is shown as text
    wait(d, lambda: texts(d, ".hit .headword"), [HOSTILE_HEADWORD])
    assert texts(d, ".hit .snippet mark") == ["click"]
    assert css(d, ".hit .snippet")[0].text.endswith('<a href="javascript:window.pwned=4">click</a> \u2401\u2421 end')
    assert css(d, "main img, main script") == [] and css(d, "#strategy")[0].get_attribute("value") == "text"
    assert_clean(d, base)


if __name__ == "__main__":
    # python3 test_web_page.py DIR: the books as manifests for `zav build`.
    import sys
    write_manifests(sys.argv[1])
