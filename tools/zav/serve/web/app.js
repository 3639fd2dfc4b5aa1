// The reader's page over `zav serve --http`: a search box with suggestions,
// answers grouped by book, cross-references as links, a search of the
// entries' texts, and a book view with its contents, pages and sub pages.
//
// Everything a book says is untrusted: it reaches the document only through
// textContent and createTextNode, never as markup, and the only links built
// from it go to this page (/?q=WORD or #book=ID).
'use strict';

(() => {
  const $ = (id) => document.getElementById(id);
  const main = $('main');
  const input = $('q');
  const list = $('suggestions');
  const bookSelect = $('book');
  const strategySelect = $('strategy');
  const books = new Map();
  let booksError = '';
  let render = 0; // the number of the view being drawn; older answers are dropped

  // ---- helpers -------------------------------------------------------------

  // Control characters other than tab and line feed are shown as their
  // pictures (U+2400...), so a damaged text is seen rather than swallowed.
  function visible(text) {
    return String(text ?? '')
      .replace(/\r\n?/g, '\n')
      .replace(/[\u0000-\u0008\u000b-\u001f\u007f]/g, (c) =>
        c === '\u007f' ? '\u2421' : String.fromCharCode(0x2400 + c.charCodeAt(0)));
  }

  function el(tag, className, text) {
    const e = document.createElement(tag);
    if (className) e.className = className;
    if (text !== undefined) e.textContent = visible(text);
    return e;
  }

  function lookupHref(word, book, strategy) {
    let href = '/?q=' + encodeURIComponent(word);
    if (book) href += '&book=' + encodeURIComponent(book);
    if (strategy) href += '&strategy=' + encodeURIComponent(strategy);
    return href;
  }

  // The full-text search of the entries' texts (mode=text in the address).
  const TEXT_MODE = 'text';

  function textHref(query, book) {
    let href = '/?q=' + encodeURIComponent(query) + '&mode=' + TEXT_MODE;
    if (book) href += '&book=' + encodeURIComponent(book);
    return href;
  }

  function bookHref(book, page) {
    let href = '#book=' + encodeURIComponent(book);
    if (page !== undefined && page !== null) href += '&page=' + encodeURIComponent(page);
    return href;
  }

  function link(href, text, className) {
    const a = el('a', className, text);
    a.href = href;
    return a;
  }

  function bookName(id) {
    const b = books.get(id);
    return b && b.name ? b.name : id;
  }

  async function api(path, params) {
    const url = new URL(path, location.origin);
    for (const [k, v] of Object.entries(params || {}))
      if (v !== undefined && v !== null && v !== '') url.searchParams.set(k, v);
    const response = await fetch(url, { headers: { Accept: 'application/json' } });
    let body;
    try {
      body = await response.json();
    } catch (e) {
      throw new Error(`${path}: HTTP ${response.status}, not JSON`);
    }
    if (!response.ok || (body && body.error)) throw new Error((body && body.error) || `HTTP ${response.status}`);
    return body;
  }

  // ---- texts ---------------------------------------------------------------

  // A book's text as nodes. Cross-references become links to their entries:
  // {word} in dictd texts, and in markup kept from StarDict <a href="bword://word">
  // and XDXF <kref>word</kref>. <br> is a line break and a few inline tags
  // without attributes (b, i, u, em, strong, sub, sup, small) are drawn; any
  // other tag, <script> included, is shown as the text it is.
  const TOKEN = new RegExp(
    [
      /\{([^{}]{1,200})\}/.source,
      /<a\s[^>]*?href\s*=\s*(?:"bword:\/\/([^"]*)"|'bword:\/\/([^']*)'|bword:\/\/([^\s>]*))[^>]*>([\s\S]{0,400}?)<\/a\s*>/
        .source,
      /<kref(?:\s[^>]*)?>([^<]{1,200})<\/kref\s*>/.source,
      /<br\s*\/?>/.source,
      /<(\/?)(b|i|u|em|strong|sub|sup|small)>/.source,
    ].join('|'),
    'gi');
  const ENTITIES = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0' };

  function decodeEntities(s) {
    return s.replace(/&(#x[0-9a-f]{1,6}|#[0-9]{1,7}|[a-z]{2,5});/gi, (m, name) => {
      if (name[0] !== '#') return ENTITIES[name.toLowerCase()] ?? m;
      const code = name[1] === 'x' || name[1] === 'X' ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
      return code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff) ? String.fromCodePoint(code) : m;
    });
  }

  function renderText(text) {
    const root = el('div', 'text');
    const stack = [root];
    const top = () => stack[stack.length - 1];
    const plain = (s) => {
      if (s) top().appendChild(document.createTextNode(visible(s)));
    };
    const crossRef = (target, label) => {
      const word = decodeEntities(target).replace(/\s+/g, ' ').trim();
      const shown = decodeEntities(label.replace(/<[^>]*>/g, ''));
      if (!word) return plain(shown);
      top().appendChild(link(lookupHref(word), shown || word, 'xref'));
    };
    const source = String(text ?? '');
    let at = 0;
    TOKEN.lastIndex = 0;
    for (let m; (m = TOKEN.exec(source));) {
      plain(source.slice(at, m.index));
      at = TOKEN.lastIndex;
      if (m[1] !== undefined) {
        crossRef(m[1], m[1]);
      } else if (m[5] !== undefined) {
        crossRef(m[2] ?? m[3] ?? m[4] ?? '', m[5]);
      } else if (m[6] !== undefined) {
        crossRef(m[6], m[6]);
      } else if (m[8] !== undefined) {
        const name = m[8].toLowerCase();
        if (!m[7]) {
          stack.push(top().appendChild(document.createElement(name)));
        } else if (stack.length > 1 && top().localName === name) {
          stack.pop();
        } else {
          plain(m[0]);
        }
      } else {
        top().appendChild(document.createTextNode('\n'));
      }
    }
    plain(source.slice(at));
    return root;
  }

  // ---- suggestions as one types ----------------------------------------------

  let suggestTimer = 0;
  let suggestAsked = 0;
  let suggestions = [];
  let active = -1;

  function closeSuggestions() {
    clearTimeout(suggestTimer);
    ++suggestAsked;
    suggestions = [];
    active = -1;
    list.replaceChildren();
    list.hidden = true;
    input.setAttribute('aria-expanded', 'false');
    input.removeAttribute('aria-activedescendant');
  }

  function showSuggestions(items) {
    list.replaceChildren();
    suggestions = items;
    active = -1;
    items.forEach((s, i) => {
      const li = el('li', 'suggestion');
      li.id = 'suggestion-' + i;
      li.setAttribute('role', 'option');
      li.appendChild(el('span', 'headword', s.headword));
      if (s.book) li.appendChild(el('span', 'from', bookName(s.book)));
      li.addEventListener('click', () => pick(i));
      list.appendChild(li);
    });
    list.hidden = items.length === 0;
    input.setAttribute('aria-expanded', String(items.length > 0));
  }

  function setActive(i) {
    const items = list.children;
    if (!items.length) return;
    active = (i + items.length) % items.length;
    for (let k = 0; k < items.length; ++k) items[k].setAttribute('aria-selected', String(k === active));
    input.setAttribute('aria-activedescendant', items[active].id);
    items[active].scrollIntoView({ block: 'nearest' });
  }

  function pick(i) {
    const word = suggestions[i].headword;
    input.value = word;
    closeSuggestions();
    navigate(lookupHref(word, bookSelect.value));
  }

  async function suggest(text) {
    const asked = ++suggestAsked;
    try {
      const r = await api('/api/suggest', { q: text, book: bookSelect.value, count: 10 });
      if (asked === suggestAsked && input.value === text) showSuggestions(r.suggestions || []);
    } catch (e) {
      if (asked === suggestAsked) closeSuggestions();
    }
  }

  input.addEventListener('input', () => {
    clearTimeout(suggestTimer);
    const text = input.value;
    if (!text.trim() || strategySelect.value === TEXT_MODE) return closeSuggestions();
    suggestTimer = setTimeout(() => suggest(text), 150);
  });
  input.addEventListener('keydown', (e) => {
    const open = !list.hidden;
    if (e.key === 'ArrowDown' && open) setActive(active + 1);
    else if (e.key === 'ArrowUp' && open) setActive(active < 0 ? -1 : active - 1);
    else if (e.key === 'Escape') closeSuggestions();
    else if (e.key === 'Enter' && open && active >= 0) pick(active);
    else return;
    e.preventDefault();
  });
  input.addEventListener('blur', closeSuggestions);
  list.addEventListener('mousedown', (e) => e.preventDefault()); // the focus stays in the box

  $('search').addEventListener('submit', (e) => {
    e.preventDefault();
    const word = input.value.trim();
    closeSuggestions();
    if (!word) return;
    if (strategySelect.value === TEXT_MODE) navigate(textHref(word, bookSelect.value));
    else navigate(lookupHref(word, bookSelect.value, strategySelect.value));
  });

  // ---- views -----------------------------------------------------------------

  function show(...nodes) {
    main.replaceChildren(...nodes);
  }

  function errorNode(message) {
    return el('p', 'error', message);
  }

  function showHome() {
    document.title = 'zav';
    const ul = el('ul', 'books');
    for (const b of books.values()) {
      const li = el('li');
      li.appendChild(link(bookHref(b.id), b.name || b.id, 'book-link'));
      if (b.tableName) li.appendChild(el('span', 'table', b.tableName));
      if (b.keys !== undefined) li.appendChild(el('span', 'keys', `${b.keys} keys`));
      if (b.description) li.appendChild(el('p', 'description', b.description));
      ul.appendChild(li);
    }
    if (booksError) show(errorNode('The books could not be listed: ' + booksError));
    else show(el('h1', '', 'Books'), books.size ? ul : el('p', 'empty', 'No books are served.'));
  }

  function suggestionList(words) {
    const ul = el('ul', 'did-you-mean');
    for (const w of words) {
      const word = typeof w === 'string' ? w : w && w.headword;
      if (!word) continue;
      const li = el('li');
      li.appendChild(link(lookupHref(word), word));
      ul.appendChild(li);
    }
    return ul;
  }

  function bookHeading(id) {
    const h = el('h2', 'book-name');
    h.appendChild(link(bookHref(id), bookName(id)));
    return h;
  }

  async function showLookup(word, book, strategy, mine) {
    document.title = word + ' — zav';
    show(el('p', 'loading', 'Looking up…'));
    let r;
    try {
      r = await api('/api/lookup', { q: word, book, strategy });
    } catch (e) {
      if (mine === render) show(errorNode(e.message));
      return;
    }
    if (mine !== render) return;
    const nodes = [];
    for (const group of r.results || []) {
      const section = el('section', 'book-answers');
      section.appendChild(bookHeading(group.book));
      if (strategy) {
        const ul = el('ul', 'words');
        for (const w of group.words || []) {
          const li = el('li');
          li.appendChild(link(lookupHref(w, group.book), w));
          ul.appendChild(li);
        }
        section.appendChild(ul);
      }
      for (const entry of group.entries || []) {
        const article = el('article', 'entry');
        const h = el('h3', 'entry-head');
        h.appendChild(el('span', 'headword', entry.headword));
        if (entry.how === 'accent') h.appendChild(el('span', 'how accent', 'found without accents'));
        else if (entry.how === 'case') h.appendChild(el('span', 'how case', 'other letter case'));
        else if (entry.how === 'stem') h.appendChild(el('span', 'how stem', 'as a form of this word'));
        if (entry.page !== undefined && entry.page !== null)
          h.appendChild(link(bookHref(group.book, entry.page), 'page ' + entry.page, 'page-link'));
        article.append(h, renderText(entry.text));
        section.appendChild(article);
      }
      nodes.push(section);
    }
    if (!nodes.length) {
      nodes.push(el('p', 'missing', strategy ? `Nothing matches “${word}”.` : `No entry for “${word}”.`));
      if (r.suggestions && r.suggestions.length) nodes.push(el('p', '', 'Did you mean:'), suggestionList(r.suggestions));
    }
    show(...nodes);
  }

  // A snippet with its marked words in <mark>, as text nodes only. The marks
  // are byte offsets into the snippet's UTF-8; a JavaScript string counts
  // UTF-16 units, so each code point's place is found in both. A mark that
  // does not fall on code points, overlaps the one before or runs past the
  // end is left out.
  function markedSnippet(snippet, marks) {
    const p = el('p', 'snippet');
    const s = String(snippet ?? '');
    const unitAt = new Map(); // UTF-8 offset -> UTF-16 offset
    let bytes = 0, units = 0;
    for (const ch of s) {
      unitAt.set(bytes, units);
      const c = ch.codePointAt(0);
      bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
      units += ch.length;
    }
    unitAt.set(bytes, units);
    const plain = (t) => {
      if (t) p.appendChild(document.createTextNode(visible(t)));
    };
    let done = 0;
    for (const pair of Array.isArray(marks) ? marks : []) {
      const start = unitAt.get(pair && pair[0]), end = unitAt.get(pair && pair[1]);
      if (start === undefined || end === undefined || start < done || end < start) continue;
      plain(s.slice(done, start));
      p.appendChild(el('mark', '', s.slice(start, end)));
      done = end;
    }
    plain(s.slice(done));
    return p;
  }

  async function showTextSearch(query, book, mine) {
    document.title = query + ' — zav';
    show(el('p', 'loading', 'Searching…'));
    let r;
    try {
      r = await api('/api/search', { q: query, book, count: 50 });
    } catch (e) {
      if (mine === render) show(errorNode(e.message));
      return;
    }
    if (mine !== render) return;
    const nodes = [];
    if (r.problem) nodes.push(el('p', 'problem', r.problem));
    const ol = el('ol', 'hits');
    for (const hit of r.hits || []) {
      const li = el('li', 'hit');
      const h = el('h3', 'entry-head');
      h.appendChild(link(lookupHref(hit.headword, hit.book), hit.headword, 'headword'));
      h.appendChild(el('span', 'from', bookName(hit.book)));
      li.append(h, hit.reason ? el('p', 'error', hit.reason) : markedSnippet(hit.snippet, hit.marks));
      ol.appendChild(li);
    }
    if (ol.childNodes.length) nodes.push(ol);
    else nodes.push(el('p', 'missing', `No text holds “${query}”.`));
    show(...nodes);
  }

  // The contents tree: a small one open whole, a larger one at its top level
  // and along the branch that holds the page shown.
  const SMALL_TREE = 50;

  function countItems(items) {
    return (items || []).reduce((n, item) => n + 1 + countItems(item.children), 0);
  }

  function tocTree(book, items, page, depth, open) {
    const ul = el('ul', depth ? 'toc-children' : 'toc');
    let holds = false;
    for (const item of items || []) {
      const li = el('li');
      const label = item.page !== undefined && item.page !== null
        ? link(bookHref(book, item.page), item.caption, 'toc-item')
        : el('span', 'toc-item', item.caption);
      const here = page !== null && String(item.page) === page;
      if (here) label.setAttribute('aria-current', 'page');
      if (item.children && item.children.length) {
        const sub = tocTree(book, item.children, page, depth + 1, open);
        const details = el('details');
        const summary = el('summary');
        summary.appendChild(label);
        details.append(summary, sub.list);
        details.open = open || depth === 0 || sub.holds;
        li.appendChild(details);
        holds = holds || here || sub.holds;
      } else {
        li.appendChild(label);
        holds = holds || here;
      }
      ul.appendChild(li);
    }
    return { list: ul, holds };
  }

  async function showBook(id, page, mine) {
    const info = books.get(id);
    document.title = bookName(id) + ' — zav';
    const header = el('div', 'book-head');
    header.appendChild(el('h1', '', bookName(id)));
    const about = info && info.description ? info.description.trim() : '';
    if (about && about !== bookName(id)) header.appendChild(el('p', 'description', about));
    show(header, el('p', 'loading', 'Loading…'));
    const asks = [api('/api/toc', { book: id })];
    if (page !== null) asks.push(api('/api/page', { book: id, page }), api('/api/subpages', { book: id, page }));
    const [toc, text, subs] = await Promise.allSettled(asks);
    if (mine !== render) return;

    const contents = el('nav', 'contents');
    contents.setAttribute('aria-label', 'Contents');
    contents.appendChild(el('h2', '', 'Contents'));
    if (toc.status === 'fulfilled' && toc.value.items && toc.value.items.length)
      contents.appendChild(tocTree(id, toc.value.items, page, 0, countItems(toc.value.items) <= SMALL_TREE).list);
    else contents.appendChild(el('p', 'empty', toc.status === 'rejected' ? toc.reason.message : 'No contents.'));

    const pageView = el('section', 'page');
    const aside = el('aside', 'subpages');
    if (page === null) {
      pageView.appendChild(el('p', 'empty', 'Choose a heading of the contents.'));
    } else if (text.status === 'rejected') {
      pageView.appendChild(errorNode(text.reason.message));
    } else {
      const p = text.value;
      const nav = el('nav', 'pager');
      if (p.previous !== undefined && p.previous !== null) nav.appendChild(link(bookHref(id, p.previous), '← previous', 'previous'));
      nav.appendChild(el('span', 'page-number', 'page ' + p.page));
      if (p.next !== undefined && p.next !== null) nav.appendChild(link(bookHref(id, p.next), 'next →', 'next'));
      pageView.append(nav, renderText(p.text));
      if (subs.status === 'fulfilled')
        for (const s of subs.value.subs || []) {
          const box = el('section', 'sub');
          box.append(el('h3', '', s.name || 'sub page ' + s.sub), renderText(s.text));
          aside.appendChild(box);
        }
    }
    const body = el('div', 'book-view');
    body.append(contents, pageView);
    if (aside.childNodes.length) body.appendChild(aside);
    show(header, body);
  }

  // ---- the address follows every view ------------------------------------------

  const booksLoaded = api('/api/books')
    .then((r) => {
      for (const b of r.books || []) {
        books.set(b.id, b);
        const option = el('option', '', b.name || b.id);
        option.value = b.id;
        bookSelect.appendChild(option);
      }
    })
    .catch((e) => {
      booksError = e.message;
    });

  async function route() {
    const mine = ++render;
    closeSuggestions();
    await booksLoaded;
    if (mine !== render) return;
    const hash = new URLSearchParams(location.hash.slice(1));
    if (hash.has('book')) return showBook(hash.get('book'), hash.get('page'), mine);
    const query = new URLSearchParams(location.search);
    const word = query.get('q') || '';
    const book = query.get('book') || '';
    const strategy = query.get('strategy') || '';
    const textMode = query.get('mode') === TEXT_MODE;
    // The form shows what it can; the address is asked as it is, so a book the
    // server does not know is its error, not a search of every book.
    input.value = word;
    bookSelect.value = books.has(book) ? book : '';
    strategySelect.value = textMode ? TEXT_MODE : strategy;
    if (strategySelect.selectedIndex < 0) strategySelect.value = '';
    if (word && textMode) return showTextSearch(word, book, mine);
    if (word) return showLookup(word, book, strategy, mine);
    showHome();
  }

  function navigate(href) {
    const url = href.startsWith('#') ? '/' + href : href;
    if (url !== location.pathname + location.search + location.hash) history.pushState(null, '', url);
    route();
    window.scrollTo(0, 0);
  }

  // Links to this page are followed without reloading it.
  document.addEventListener('click', (e) => {
    const a = e.target.closest && e.target.closest('a');
    if (!a || e.button !== 0 || e.ctrlKey || e.metaKey || e.shiftKey || e.altKey) return;
    const href = a.getAttribute('href') || '';
    if (!href.startsWith('/') && !href.startsWith('#book=')) return;
    e.preventDefault();
    navigate(href);
  });
  window.addEventListener('popstate', route);
  route();
})();
