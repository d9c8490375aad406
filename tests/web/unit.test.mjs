// Search logic of search.js, run in Node: words, matching, ranking, links, text shown,
// and the bounds on what a hostile page can cost (counted, not timed).
// VANTREL_JS_DIR names the folder of the built page (default: build/bin/js).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { S, here, jsDir, arrayScans } from './search-js.mjs';

test('query words follow the shared tokenizer table', () => {
  const table = readFileSync(path.join(here, '../data/tokenizer-cases.tsv'), 'latin1');
  const cases = table.split('\n').filter((line) => line && !line.startsWith('#'));
  assert.ok(cases.length >= 20);
  for (const line of cases) {
    const [input, expected] = line.split('\t');
    const escapes = { t: '\t', n: '\n', r: '\r', '\\': '\\' };
    const latin = input.replace(/\\(x[0-9a-fA-F]{2}|.)/g, (_, e) => escapes[e] ?? String.fromCharCode(parseInt(e.slice(1), 16)));
    const want = expected.split(' ').filter(Boolean);
    assert.deepEqual(S.tokenize(latin), want, `${line} as Latin-1`);
    let utf8 = null;
    try { utf8 = new TextDecoder('utf-8', { fatal: true }).decode(Buffer.from(latin, 'latin1')); } catch { /* not UTF-8 */ }
    if (utf8 !== null) assert.deepEqual(S.tokenize(utf8), want, `${line} as UTF-8`);
  }
});

// A small index: words in ASCII order, each word's documents best first.
const docs = [
  [0, 'MEMORY ALLOCATION IN DEPTH', 'guide/memory.html', '01-02-2020'],
  [1, 'MALLOC', 'ref/malloc.html', '15-06-2023'],
  [2, 'FREE AND MALLOC EXAMPLES', 'ref/free.html', '15-06-2021'],
  [3, 'Document has no name', 'misc/notes.htm', ''],
  [4, 'THREADS', 'guide/threads.html', '31-12-2019'],
  [5, 'SEARCHING TEXT', 'guide/search.html', '02-01-2024'],
  [6, 'PTHREAD_MUTEX_LOCK', 'ref/pthread_mutex_lock.html', '03-03-2022'],
];
const index = [['ALLOC', 4], ['ALLOCATION', 0, 2], ['AND', 2, 0], ['DEPTH', 0], ['EXAMPLES', 2], ['FREE', 2, 1, 0],
  ['MALLOC', 3, 1, 2, 0], ['MEMORY', 0, 1], ['PTHREAD_MUTEX_LOCK', 6], ['SEARCH', 0, 5], ['SEARCHING', 5],
  ['TEXT', 5, 3], ['THREADS', 4, 6]];
const searcher = new S.Searcher(docs, index);

test('word list look-ups and edit distance', () => {
  assert.deepEqual(['MALLOC', 'A', 'ZZZ'].map((w) => searcher.list.lowerBound(w)), [6, 0, index.length]);
  assert.deepEqual(['SEARCH', 'ALLOC', 'Q'].map((w) => searcher.list.prefixRange(w)), [[9, 11], [0, 2], [9, 9]]);
  // Words that start with the part are prefix matches, not inner ones.
  assert.deepEqual(['ALLOC', 'MUTEX', 'READ'].map((w) => searcher.list.innerWords(w, 10)), [[6], [8], [8, 12]]);
  // Words of one-byte letters and wider ones are searched apart: their in-word matches
  // still come in list order, as far as the limit.
  const mixed = new S.Searcher(docs, ['AB', 'ABЖ', 'CAB', 'CABЖ', 'DAB', 'ÉAB', 'ЖAB', 'ЖABAB'].map((w) => [w, 0])).list;
  assert.deepEqual([['AB', 10], ['AB', 4], ['Ж', 10], ['BЖ', 1], ['ZZ', 10]].map(([w, limit]) => mixed.innerWords(w, limit)),
    [[2, 3, 4, 5, 6, 7], [2, 3, 4, 5], [1, 3], [1], []]);
  // A part typed on is looked for among the words the last part met, then on from where
  // that search stopped: the same words as a list that never searched, whatever the
  // limits (the last search stopped at its limit, or the next one stops among its words).
  const words = ['AB', 'ABAB', 'BAB', 'BABC', 'CAB', 'CABAB', 'CBABC', 'ÉBAB', 'ЖAB', 'ЖABC', 'ЖBABC', 'XABC', 'XBABCB'];
  const typed = new S.Searcher(docs, words.map((w) => [w, 0])).list;
  for (const [part, limit] of [['AB', 3], ['ABC', 10], ['BABC', 1], ['BABC', 10], ['BABCB', 10], ['AB', 10], ['BA', 2], ['BAB', 10], ['XBAB', 10],
    ['AB', 20], ['B', 20], ['BC', 20], ['ЖA', 20], ['ЖAB', 20]]) {
    assert.deepEqual(typed.innerWords(part, limit), new S.Searcher(docs, words.map((w) => [w, 0])).list.innerWords(part, limit), `${part} ${limit}`);
  }
  assert.deepEqual(['MALLCO', 'THRAEDS', 'QQQQQQ'].map((w) => S.nearestWords(searcher.list, searcher.buildTitles(), w, 3)), [['MALLOC'], ['THREADS'], []]);
  // Insertions and deletions as far from the diagonal as the limit allows.
  for (const [a, b, want] of [['FREE', 'FERE', 1], ['ABCDEF', 'UVWXYZ', 3], ['CONFIGRATON', 'CONFIGURATION', 2],
    ['CONFIGURATION', 'CONFIGRATON', 2], ['ABCDEFGH', 'XABCDEFGHY', 2], ['ABCD', 'ABCDXYZ', 3]]) {
    assert.equal(S.editDistance(a, b, 2), want, `${a} ${b}`);
  }
});

test('searching: every word, match classes, titles first, partial results, typos, dates', () => {
  for (const [q, want, partial = false] of [
    // MALLOC is an exact word: the page titled MALLOC first, though doc 3 ranks it higher.
    ['malloc', [1, 2, 3, 0]],
    // Exact (doc 4) before prefix ALLOCATION (0, 2) before inner MALLOC (1, whose title holds it, then 3).
    ['alloc', [4, 0, 2, 1, 3]],
    // Every word, in any order, the page whose title holds both first; the last word as a prefix.
    ['free malloc', [2, 1, 0]], ['malloc free', [2, 1, 0]], ['sear', [5, 0]], ['searching searching', [5]],
    ['mutex_lo', [6]], ['  ', []],
    // No page holds every word: THREADS is the whole title of doc 4, DEPTH a quarter of doc 0's.
    ['threads depth', [4, 0, 6], true], ['threads', [4, 6]],
    // A word that matches nothing is left out; a typo is replaced by the nearest words.
    ['malloc zzzzzzz', [1, 2, 3, 0], true], ['mallco', [1, 2, 3, 0]],
  ]) {
    const result = searcher.search(q);
    assert.deepEqual([result.docs, result.partial], [want, partial], q);
  }
  assert.deepEqual(['mallco', 'malloc'].map((q) => searcher.search(q).terms[0].suggestions), [['MALLOC'], []]);
  // Newest first, undated last, ties kept.
  assert.deepEqual(searcher.byDate([0, 3, 1, 2, 5]), [5, 1, 2, 0, 3]);
  assert.deepEqual(['09-10-2003', ''].map(S.dateKey), [20031009, -1]);
});

test('ranking: fusion by rank, weight groups, title and file-name signals', () => {
  const plain = (n) => Array.from({ length: n }, (_, i) => [i, 'T', `p${i}.html`, '']);
  const manual = [
    [0, 'ASYNCIO EVENTS - SITE', 'lib/events.html', ''],
    [1, 'ASYNCIO - SITE MANUAL', 'lib/main.html', ''],
    [2, 'ASYNCIO DEVELOPMENT - SITE', 'lib/asyncio-dev.html', ''],
    [3, 'ASYNCIO LOOPS AND TASKS - SITE', 'lib/asyncio.html', ''],
    [4, 'THE THREAD MODULE - SITE MANUAL', 't.html', ''],
    [5, 'THREADS - SITE MANUAL', 'threads.html', ''],
    ...[6, 7, 8, 9, 10, 11, 12].map((i) => [i, `PAGE ${i} - SITE MANUAL`, `p${i}.html`, '']),
  ];
  // An index of META keywords only: titles and file names are not in it.
  const keywords = [
    [0, 'INSTALLING THE SERVER', 'guide/install.html', ''],
    [1, 'Document has no name', 'notes/release-checklist.htm', ''],
    [2, 'CONFIGURATION', 'guide/config.html', ''],
  ];
  for (const [site, words, cases] of [
    // Doc 1 ranks 3rd and 1st, doc 3 1st and 3rd, docs 0 and 2 2nd and 4th: ties in page order.
    [plain(4), [['A', 3, 0, 1, 2], ['B', 1, 2, 3, 0], ['C', 2, 0, 1, 3]], [['a b', [1, 3, 0, 2]], ['a b c', [2, 1, 3, 0]], ['b c', [2, 1, 0, 3]]]],
    // Falling page numbers start a lower weight group; from the third group on, a page also
    // counts by its group's place from the end (its text uses the word most).
    [plain(10), [['W', 5, 6, 1, 2, 0, 9]], [['w', [0, 5, 9, 6, 1, 2]]]],
    [plain(10), [['W', 5, 6, 1, 2]], [['w', [5, 6, 1, 2]]]],
    [plain(4), [['A', 9, 1, -1]], [['a', [1]]]],
    // Named asyncio, then a name holding it, then the title most about it (SITE and MANUAL
    // stand in most titles and do not count); plural forms below the word itself; no
    // carry-over from one search to the next.
    [manual, [['ASYNCIO', 0, 1, 2, 3], ['THREAD', 4, 7], ['THREADS', 5, 8]],
      [['asyncio', [3, 2, 1, 0]], ['thread', [4, 7, 5, 8]], ['threads', [5, 8, 4, 7]], ['asyncio', [3, 2, 1, 0]]]],
    [manual, [['CLAS', 0], ['CLASS', 1], ['CLASSES', 2]], [['class', [1, 2]]]],
    // A file name of the query's words, then one holding them all, then those holding
    // some, against the order of the lists.
    [['other', 'loop-policy', 'event-notes', 'event-loop-policy', 'event-loop'].map((f, i) => [i, 'T', `${f}.html`, '']),
      [['EVENT', 0, 1, 2, 3, 4], ['LOOP', 0, 1, 2, 3, 4]], [['event loop', [4, 3, 1, 2, 0]], ['event', [2, 3, 4, 0, 1]]]],
    [keywords, [['SETUP', 0, 2]], [['installing', [0]], ['install', [0]], ['checklist', [1]], ['release-checklist.htm', [1]],
      ['config.html', [2]], ['setup config', [2]], ['configuraton', [2]], ['document', []]]],
  ]) {
    const s = new S.Searcher(site, words);
    for (const [q, want] of cases) assert.deepEqual(s.search(q).docs, want, q);
  }
  assert.deepEqual(new S.Searcher(keywords, []).search('configuraton').terms[0].suggestions, ['CONFIGURATION']);
  // A summary holding the query word as it is or in the plural doubles a page's fused
  // score (third place beats first); one holding a longer word does not.
  const summed = new S.Searcher(plain(4), [['WORD', 0, 1, 2, 3]]);
  summed.useSummaries(S.summaryWords(['', 'Wordy', 'The words', 'A word'], 4));
  assert.deepEqual(summed.search('word').docs, [2, 3, 0, 1]);
});

test('large and small sites order alike, up to the longest queries', () => {
  // Up to 2^17 pages, rank keys are packed into one number per page; beyond, compared
  // one by one. Twelve words matched exactly in titles and file names give the
  // largest keys.
  const words = 'ALPHA BRAVO CHARLIE DELTA ECHO FOXTROT GOLF HOTEL INDIA JULIET KILO LIMA'.split(' ');
  const small = [0, 1, 2, 3, 4, 5].map((i) => [i, i < 3 ? words.join(' ') : words.slice(0, 6).join(' '), i === 1 ? words.join('_') + '.html' : `p${i}.html`, '']);
  const large = small.concat(Array.from({ length: 131072 }, (_, i) => [i + 6, 'X', 'x.html', '']));
  const index = words.map((w, k) => [w, ...[0, 1, 2, 3, 4, 5].map((i) => (i + k) % 6)]);
  for (const q of [words.join(' '), 'alpha', 'alp', 'bravo echo kilo', 'lima zulu']) {
    assert.deepEqual(new S.Searcher(large, index).search(q).docs, new S.Searcher(small, index).search(q).docs, q);
  }
  assert.deepEqual(new S.Searcher(small, index).search(words.join(' ')).docs.slice(0, 3), [1, 0, 2]);
});

test('links for awkward names resolve to the right file; bytes survive windows-1252', () => {
  const base = 'file:///srv/out/search.html?q=x';
  for (const [location, want, bytesMode = true] of [
    ['a b/c#1?.htm', 'file:///srv/out/a%20b/c%231%3F.htm'], ['100%.htm', 'file:///srv/out/100%25.htm'],
    ['say "hi" \'x\'.htm', 'file:///srv/out/say%20%22hi%22%20%27x%27.htm'],
    ['back\\slash.htm', 'file:///srv/out/back%5Cslash.htm'], ['a:b.htm', 'file:///srv/out/a%3Ab.htm'],
    // UTF-8 bytes and a Latin-1 byte as read through windows-1252, or Unicode text.
    ['caf\u00c3\u00a9.htm', 'file:///srv/out/caf%C3%A9.htm'], ['caf\u00e9.htm', 'file:///srv/out/caf%E9.htm'],
    ['\u20ac.htm', 'file:///srv/out/%80.htm'], ['caf\u00e9.htm', 'file:///srv/out/caf%C3%A9.htm', false],
    // Full paths, also with the doubled slash of a root source folder.
    ['/home/me/site/x y.html', 'file:///home/me/site/x%20y.html'], ['//x.html', 'file:///x.html'],
    // A location with a URL scheme stands as it is, made a valid URL.
    ['https://example.org/docs/a b.html?x=1#top', 'https://example.org/docs/a%20b.html?x=1#top'],
    ['http://h/p/caf\u00e9"\\.htm', 'http://h/p/caf%E9%22%5C.htm'],
  ]) assert.equal(S.locationHref(location, base, bytesMode), want, location);
  // After the prefix that all such locations share, up to its last "/", names are paths.
  const prefixed = [[0, 'A', 'https://h/my%20docs/#1.html', ''], [1, 'B', 'https://h/my%20docs/#2/100%.html', '']];
  const kept = S.sharedUrlPrefix(prefixed);
  assert.deepEqual(prefixed.map((d) => S.locationHref(d[2], base, true, kept)),
    ['https://h/my%20docs/%231.html', 'https://h/my%20docs/%232/100%25.html']);
  assert.deepEqual([[[0, 'A', 'http://a/x.html', ''], [1, 'B', 'https://b/y.html', '']], [[0, 'A', 'x.html', '']]].map(S.sharedUrlPrefix),
    [undefined, undefined]);

  const latin = Uint8Array.from({ length: 256 }, (_, i) => i);
  assert.deepEqual(S.textBytes(String.fromCharCode(...latin), true), latin);
  // The characters that windows-1252 gives for bytes 0x80 to 0x9F.
  assert.deepEqual(S.textBytes('\u20ac\u0081\u2019\u0161\u0178', true), Uint8Array.of(0x80, 0x81, 0x92, 0x9a, 0x9f));
  assert.deepEqual([['CAF\u00c3\u00a9', true], ['CAF\u00e9', true], ['CAF\u00c3\u00a9', false]].map(([t, b]) => S.displayText(t, b)),
    ['CAF\u00e9', 'CAF\u00e9', 'CAF\u00c3\u00a9']);
  assert.equal(S.decodeEntities('TOM &AMP; JERRY &LT;3 CAF&EACUTE; &#8212; &#X41; &NOPE;'), 'TOM & JERRY <3 CAF\u00c9 \u2014 A &NOPE;');
});

test('text shown: the matching part of words marked, hostile titles cut short', () => {
  assert.deepEqual(S.highlightSpans('FREE AND MALLOC, XMALLOC', searcher.search('mall free').terms), [[0, 4], [9, 13], [18, 22]]);
  assert.deepEqual(S.highlightSpans('MALLOC(3)', searcher.search('mallco').terms), [[0, 6]]);
  // 200,000 repeated words: a few marks, cut after a word.
  const flood = Array(200000).fill('MALLOC').join(' ');
  assert.ok(S.highlightSpans(flood, searcher.search('malloc').terms).length <= S.limits.MAX_MARKS);
  const shown = S.shownText(flood, true, true);
  assert.ok(shown.length <= S.limits.MAX_SHOWN + 1 && /C\u2026$/.test(shown), shown);
  // Cut inside the UTF-8 bytes of a character (read as windows-1252): still UTF-8.
  assert.match(S.shownText('XX' + '\u00c3\u00a9 '.repeat(2000), true, false), /^XX(\u00e9 )+\u00e9\u2026$/);
});

// A search's order is made as far as it is read: whatever the reads, each gives the
// pages of the whole order sorted at once (keys as ranking packs them: the page in the
// low 17 bits, larger first).
test('the order of the pages read screen by screen is the whole order', () => {
  const DOC = 131072, key = (rank, d) => rank * DOC + (DOC - 1 - d);
  let seed = 11;
  const random = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % n; };
  const sites = [
    ['none', []],
    ['fewer than a screen', [key(3, 0), key(9, 1), key(3, 2)]],
    ['ascending', Array.from({ length: 5000 }, (_, d) => key(d, d))],
    ['descending', Array.from({ length: 5000 }, (_, d) => key(5000 - d, d))],
    ['ties broken by page', Array.from({ length: 3000 }, (_, d) => key(d % 4, d))],
    ['random', Array.from({ length: 20000 }, (_, d) => key(random(1e6), d))],
  ];
  const reads = [[20, 40, 60, 80], [20, 10000], [1000, 20], [undefined], [65, 64, 200, 129]];
  for (const [name, keys] of sites) {
    const whole = [...keys].sort((a, b) => b - a).map((k) => DOC - 1 - (k % DOC));
    for (const ends of reads) {
      const order = new S.Order(Float64Array.from(keys), null);
      assert.equal(order.length, keys.length, name);
      let start = 0;
      for (const end of ends) {
        assert.deepEqual(order.slice(start, end), whole.slice(start, end), `${name}: ${start} to ${end} of ${ends}`);
        start = Math.min(end ?? keys.length, 10);
      }
      assert.deepEqual(order.all(), whole, `${name} after ${ends}`);
    }
  }
  // The first screen of many pages leaves the rest unsorted.
  const order = new S.Order(Float64Array.from(sites[5][1]), null);
  order.slice(0, 20);
  assert.ok(order.done < 1000, `${order.done} put in order`);
});

test('hostile pages and queries cost bounded work', () => {
  const L = S.limits;
  // A title of 50,000 distinct words is read in linear steps.
  const words = Array.from({ length: 50000 }, (_, i) => 'W' + i.toString(36).toUpperCase());
  let titles;
  assert.ok(arrayScans(() => { titles = S.titleWords([[0, words.join(' '), 'a.html', '']]); }) < 100000);
  assert.equal(titles.size[0], 50000);
  // Typos: words too long for any are not compared; 40,000 look-alikes stop at the budget.
  const long = 'ABCDEFGHIJ'.repeat(200), near = 'QWERTYUIOPASDFGHJKLZXCVBNMQWERTYUIOPASDFGHJKLZXCVBNM';
  const alike = Array.from({ length: 40000 }, (_, i) => [near + i.toString(26).toUpperCase().padStart(10, 'Q'), 0]);
  const hostile = new S.Searcher([[0, long, 'x.html', '']], [[long, 0], ...alike.sort((a, b) => (a[0] < b[0] ? -1 : 1))]);
  for (const [query, most] of [[long.slice(1) + 'Z', 0], [near + 'QQQQQQQQZZ', L.FUZZY_CELL_BUDGET * 1.01]]) {
    const before = S.work.cells;
    S.nearestWords(hostile.list, hostile.buildTitles(), query, 5);
    assert.ok(S.work.cells - before <= most, `${S.work.cells - before} cells`);
  }
  // Long queries: a few terms of bounded length.
  const result = hostile.search('x'.repeat(100) + Array.from({ length: 100000 }, (_, i) => ' w' + i).join(''));
  assert.deepEqual([result.terms.length, result.terms[0].text.length], [L.MAX_TERMS, L.MAX_WORD_LENGTH]);
});

test('every file of the page says that VantrelIndexer made it; search.js is compiled as it is read', () => {
  for (const f of ['search.js', 'search.css']) {
    assert.equal(readFileSync(path.join(jsDir, f), 'latin1').split('\n')[0], '/* generator: VantrelIndexer */', f);
  }
  // The browser's hint to compile every function while the file loads, not on the
  // page's thread at each function's first call: a line of its own, at the top.
  assert.equal(readFileSync(path.join(jsDir, 'search.js'), 'latin1').split('\n')[1], '//# allFunctionsCalledOnLoad');
  for (const f of ['search.html', 'search_top.html']) {
    assert.match(readFileSync(path.join(jsDir, f), 'latin1').slice(0, 512), /<head>[^]*<meta name="generator" content="VantrelIndexer">/, f);
  }
});

test('companion data: tied to its docs by count and check, fields checked before use', () => {
  const two = [[0, 'T', 'a/b.htm', '01-02-2003'], [1, 'U', 'c\xe9.htm', '']];
  assert.deepEqual([two, []].map(S.documentsCheck), ['a9d82cbc', '811c9dc5']);
  // The same check whether the location was read as bytes or as Unicode.
  assert.equal(S.documentsCheck([two[0], [1, 'U', 'c\u00c3\u00a9.htm', '']]), 'a9d82cbc');
  const good = { format: 1, count: 2, check: 'a9d82cbc', base: '../site/', titles: ['A'], summaries: [] };
  for (const [pages, state] of [[undefined, 'none'], ['x', 'none'], [{ ...good, format: 3 }, 'format'], [{ ...good, format: '1' }, 'format'], [{ ...good, format: 2 }, 'stale'],
    [{ ...good, count: 3 }, 'stale'], [{ ...good, check: 'A9D82CBC' }, 'stale'], [good, 'ok']]) {
    assert.equal(S.companionData(pages, two).state, state, JSON.stringify(pages));
  }
  for (const [field, value, want] of [['titles', 'AB', []], ['base', 'javascript:alert(1)//', ''], ['base', '//evil.org/', '']]) {
    assert.deepEqual(S.companionData({ ...good, [field]: value }, two)[field], want, `${field} ${value}`);
  }
  const summary = S.summaryOf({ summaries: ['word '.repeat(1000)] }, 0);
  assert.ok(summary.length <= S.limits.MAX_SUMMARY + 1 && summary.endsWith('word\u2026'), summary);
  assert.deepEqual([{ summaries: [7] }, { summaries: [] }, null].map((c) => S.summaryOf(c, 0)), ['', '', '']);
});

test('links through the site base and to anchors', () => {
  const page = 'file:///srv/out/idx/search.html?q=x';
  for (const base of ['../site/', '', 'my%20site/', '../../a.b/c_d~e/']) assert.equal(S.siteBaseOf(base), base, base);
  for (const base of ['/abs/', '//host/', 'x:y/', '../site', 'a b/', '%zz/', 'a/?q/', 'a/#/', 7]) assert.equal(S.siteBaseOf(base), '', String(base));
  for (const [location, want] of [['a b/c#1.htm', 'file:///srv/out/site/a%20b/c%231.htm'], ['/full/x.htm', 'file:///full/x.htm'],
    ['https://h/x.htm', 'https://h/x.htm']]) assert.equal(S.locationHref(location, page, true, undefined, '../site/'), want, location);
  assert.deepEqual(['SQL-SELECT', 'a b"<\u00e9', 'x#y/z?'].map(S.fragmentOf), ['#SQL-SELECT', '#a%20b%22%3C%C3%A9', '#x%23y/z%3F']);
});

// A page of sections: a table of contents, then sections with and without anchors.
const filler = (n, w = 'lorem') => Array(n).fill(w).join(' ');
function pageText(parts) {
  let text = '';
  const sections = parts.map(([anchor, heading, body]) => {
    const start = text.length;
    text += heading + ' ' + body + ' ';
    return [start, anchor, heading];
  });
  const words = [...new Set(S.tokenize(text))].sort().map((w) => [w, 0]);
  return [new S.PageText(text, sections), new S.Searcher([[0, 'MANUAL', 'manual.html', '']], words)];
}
const [manualPage, manual] = pageText([
  ['toc', 'Contents', 'Install steps Binary packages Build from source Removal'],
  ['install', 'Install steps', `${filler(50)} You install with the package tool; the tool checks the tool keys. ${filler(50)}`],
  ['binary', 'Binary packages', `Packages to install come ready. ${filler(40)}`],
  ['', 'Note', `Installing packages twice does no harm. ${filler(20)}`],
  ['source', 'Build from source', `${filler(60)} Unpack, then install packages it needs and build. ${filler(60, 'ipsum')}`],
  ['removal', 'Removal', `${filler(60)} Packages installed come off with remove. ${filler(10)}`],
  ['tools', 'Package tools', `Other tools exist. ${filler(10)}`],
]);

test('excerpts: the passage holding the query words, its section and the other sections', () => {
  for (const [q, heading, wanted, section, more] of [
    // Both words in the heading "Binary packages"/"Install steps": the section under a
    // heading with the words wins over the table of contents that lists them first. A
    // passage from the section's start opens with its heading, set apart.
    ['install packages', 'Binary packages', /^Packages to install come ready\. (lorem ){22}lorem\u2026$/, 'binary', ['install', 'source', 'removal']],
    ['install', 'Install steps', /^(lorem ){27}lorem\u2026$/, 'install', ['binary', 'source', 'removal']],
    // Prefix and plural match as in the search; a window stops at the next section.
    ['unpac', '', /^\u2026(lorem ){8}Unpack, then install packages it needs and build\. (ipsum ){13}ipsum\u2026$/, 'source', []],
    ['ready packaging', 'Binary packages', /^Packages to install come ready\./, 'binary', []],
    ['qqqqqqq', '', null],
    // Under a heading that holds the word rather than where the text uses it most; a
    // passage never reaches into the next section for more words.
    ['tool', 'Package tools', /^Other tools exist\./, 'tools', ['install']],
    ['remove tools', 'Package tools', /^Other tools exist\./, 'tools', []], ['installs lorem', 'Install steps', /^(lorem ){27}lorem\u2026$/, 'install', ['binary', 'source']],
  ]) {
    const found = manualPage.excerpt(manual.search(q).terms);
    if (!wanted) { assert.equal(found, null, q); continue; }
    assert.match(found.text, wanted, q);
    assert.equal(found.heading, heading, q);
    assert.deepEqual([manualPage.sections[found.section].anchor, found.more.map((k) => manualPage.sections[k].anchor)], [section, more], q);
    assert.ok((found.heading + ' ' + found.text).split(' ').length <= S.limits.EXCERPT_WORDS + 1, q);
  }
  // The whole text when it is short; the start of the text is not cut.
  assert.equal(new S.PageText('Short page about memory.', []).excerpt(searcher.search('memory').terms).text, 'Short page about memory.');
});

test('passages quoted to the browser: words of the text as they stand, never over a heading, sentence or code', () => {
  const heading = 'Installing the tool';
  const body = 'Install the package with apt and then check the package keys. Later on, run the tool\'s own checks: '
    + 'os.path.join(["a",  "b"]) keeps the package paths.';
  const [page, search] = pageText([['installing', heading, body]]);
  const quotes = (q) => { const found = page.excerpt(search.search(q).terms); return [found.quote, found.quotes]; };
  for (const [q, quote] of [
    // A few words together: one run; far apart: the first and the last words, each run
    // ending at a sentence; the heading's own words are not quoted (the anchor leads there).
    ['package', [['package with apt and then', 'keeps the package']]],
    ['apt', [['apt and then check the']]],
    ['installing', [null]],
    ['keys later', [['keys.', 'Later']]],
    // Inside code the run stops where the text may have collapsed blanks; a run is
    // widened to the blanks around it, since browsers match whole words.
    ['join', [['os.path.join(["a",']]],
  ]) assert.deepEqual(quotes(q).slice(0, 1), quote, q);
  // Each section listed is quoted at its first query word after its heading.
  const found = manualPage.excerpt(manual.search('install').terms);
  assert.deepEqual(found.quotes, [['install come ready.'], ['install packages it needs and'], ['installed come off with remove.']]);
  // The directive: percent-encoded, with "-", "&" and "," escaped; start and end.
  assert.equal(S.textFragment(['a-b & c, d']), ':~:text=a%2Db%20%26%20c%2C%20d');
  assert.equal(S.textFragment(['caf\u00e9 x', 'end']), ':~:text=caf%C3%A9%20x,end');
  assert.equal(S.textFragment(['half \ud800']), '');
});

test('counts are grouped by thousands as in English', () => {
  for (const [n, want] of [[0, '0 pages'], [1, '1 page'], [999, '999 pages'], [1000, '1,000 pages'], [98007, '98,007 pages'],
    [100000, '100,000 pages'], [1234567, '1,234,567 pages']]) assert.equal(S.plural(n, 'page'), want, String(n));
});

test('dates in the reader\'s locale, from the index\'s dd-MM-yyyy', () => {
  const day = S.shownDate('07-12-2026');
  assert.equal(day.iso, '2026-12-07');
  assert.equal(day.text, new Intl.DateTimeFormat(undefined, { dateStyle: 'medium', timeZone: 'UTC' })
    .format(new Date(Date.UTC(2026, 11, 7))));
  assert.equal(S.shownDate('29-02-0004').iso, '0004-02-29');
  for (const odd of ['31-02-2020', '1-1-2020', '', '07-12-2026x']) assert.deepEqual(S.shownDate(odd), { text: odd, iso: '' }, odd);
  // Dates are worked out once each, past the number kept too (a site of many dates).
  for (let i = 0; i < 6000; i++) {
    const d = new Date(Date.UTC(2000, 0, 1 + i)), text = d.toISOString().slice(0, 10).split('-').reverse().join('-');
    assert.equal(S.shownDate(text).iso, d.toISOString().slice(0, 10), text);
  }
  assert.equal(S.shownDate('07-12-2026').text, day.text);
});

test('hostile page texts cost bounded work and show bounded excerpts', () => {
  const L = S.limits, terms = searcher.search('malloc free').terms;
  // Words far apart behind a wall of punctuation; a single huge word; sections out of
  // order, beyond the text or not numbers; many sections holding the words.
  const wall = new S.PageText('MALLOC ' + '#'.repeat(100000) + ' FREE',
    [[5, 'b', 'B'], [2, 'a', 'A'], [1e9, 'c', 'C'], ['x', 'd', 'D'], [6, 'e'.repeat(100000), 'E']]);
  const walled = wall.excerpt(terms);
  assert.ok(walled.text.length <= L.MAX_EXCERPT_CHARS + 2 && /MALLOC/.test(walled.text), walled.text);
  assert.deepEqual(wall.sections.map((s) => s.anchor), ['b', '']);
  assert.ok(new S.PageText('x'.repeat(1e6) + ' MALLOC', []).excerpt(terms).text.length <= L.MAX_EXCERPT_CHARS + 2);
  const many = Array.from({ length: 10000 }, (_, i) => [i * 12, 'a' + i, 'Malloc free']);
  const flood = new S.PageText('MALLOC FREE '.repeat(10000), many);
  assert.equal(flood.sections.length, L.MAX_SECTIONS);
  const found = flood.excerpt(terms);
  assert.ok(found.more.length <= L.MAX_SECTIONS_LISTED && S.highlightSpans(found.text, terms).length <= L.MAX_MARKS);
  // Places read per word are capped: the cost of a search does not grow with the page.
  assert.equal(flood.matchesOf(terms[0]).places.length, L.MAX_PLACES);
  // So are the words one query word stands for, as their beginning or inside them.
  const variants = Array.from({ length: 50000 }, (_, i) => 'QCONFIG' + i.toString(36)).join(' ');
  for (const query of ['qconfig', 'config']) {
    const page = new S.PageText(variants, []), term = { text: query.toUpperCase(), fuzzy: null };
    assert.ok(page.wordsOf(term, false).length <= L.MAX_TERM_WORDS, query);
    assert.equal(page.matchesOf(term).places.length, L.MAX_PLACES, query);
  }
});

test('where a page text is: its group and place, every part checked before use', () => {
  const two = [[0, 'T', 'a.htm', ''], [1, 'T', 'b.htm', '']], group = 'abcdefghijk27.js';
  const pages = { format: 1, count: 2, check: S.documentsCheck(two), store: 'indexed_text/', groups: [group], texts: [0, 1, 0, 1] };
  const texts = S.companionData(pages, two).texts;
  // A document of a file indexed before names the same place.
  assert.deepEqual([0, 1].map((d) => S.textPlace(texts, d)), [0, 1].map(() => ({ file: 'indexed_text/' + group, at: 1 })));
  for (const places of [[-1, -1], [1, 0], [0, 0.5], ['0', 0], [0], []]) {
    assert.equal(S.textPlace({ ...texts, places }, 0), null, JSON.stringify(places));
  }
  for (const [field, value] of [['store', 'https://evil/'], ['store', 'indexed_text/../'], ['groups', ['../x.js']], ['groups', ['ABCDEFGHIJK27.js']],
    ['groups', 'abc'], ['texts', {}]]) {
    assert.equal(S.companionData({ ...pages, [field]: value }, two).texts, null, `${field} ${value}`);
  }
});

// A window whose scripts run at once: indexed_pages.js gives the pages of the run on
// disk, the other index files fail (a run that does not hold together).
function scriptedWindow() {
  const timers = new Map(), asked = [], listeners = {};
  let next = 0;
  const document = {
    visibilityState: 'visible',
    addEventListener: (type, f) => { listeners[type] = f; },
    createElement: () => ({ setAttribute() {}, getAttribute: () => null, remove() {} }),
    head: {
      appendChild(script) {
        asked.push(script.src.replace(/\?.*/, ''));
        if (script.src.startsWith('indexed_pages.js')) { win.pages = win.onDisk; script.onload(); } else script.onerror();
      },
    },
  };
  const win = {
    document, onDisk: null,
    setTimeout: (f) => { timers.set(++next, f); return next; },
    clearTimeout: (id) => timers.delete(id),
  };
  const tick = () => { const due = [...timers.values()]; timers.clear(); due.forEach((f) => f()); };
  const show = (state) => { document.visibilityState = state; listeners.visibilitychange(); };
  return { win, asked, timers, tick, show };
}

test('following an index: no looks while hidden, the same run never loaded again, a broken run left after a few loads', () => {
  const { win, asked, timers, tick, show } = scriptedWindow();
  const run = (check) => ({ format: 1, check, count: 2, words: 'aaaaaaaaaaaaa.js' });
  win.onDisk = run('one');
  const came = [];
  const follower = new S.Follower(win, S.runOf(win.onDisk), (...found) => came.push(found));
  show('hidden');
  follower.schedule();
  assert.equal(timers.size, 0);
  show('visible');
  for (let i = 0; i < 3; i++) tick();
  assert.deepEqual(asked, Array(3).fill('indexed_pages.js'));
  const docLoads = () => asked.filter((name) => name === 'indexed_docs.js').length;
  win.onDisk = run('two');
  for (let i = 0; i < 6; i++) tick();
  assert.equal(docLoads(), 3);
  win.onDisk = run('three');
  tick();
  assert.equal(docLoads(), 4);
  assert.equal(timers.size, 1);
  assert.deepEqual(came, []);
});

// A link piece holds a character a page (see TermsText::appendLinkShare); whatever it
// holds, only its own group's pages are set, each to a share of 0 to 100.
test('link pieces: every share read back, a forged piece bounded to its group', () => {
  const head = { count: 10, check: 'x', keys: 0, shards: [], vocabulary: [], linkGroup: 4, links: ['a'.repeat(13) + '.js', 'b'.repeat(13) + '.js', 'c'.repeat(13) + '.js'] };
  const code = (v) => (v >= 91 ? '!' + code(v - 91) : String.fromCharCode(v + 35 >= 92 ? v + 36 : v + 35));
  const all = new S.WordPieces({ ...head, count: 101, linkGroup: 101, links: [head.links[0]] }, 101, () => {});
  all.keepLinks(0, Array.from({ length: 101 }, (_, v) => code(v)).join(''));
  assert.deepEqual([...all.links], Array.from({ length: 101 }, (_, v) => v));
  for (const [shares, want] of [['#$[]', [0, 1, 56, 57]], ['~', [90, 0, 0, 0]], ['!#!,!~"', [91, 100, 100, 0]], ['\\ \x01\u00e9!', [0, 0, 0, 0]],
    ['~~~~~~~~~~', [90, 90, 90, 90]], [[3, 250, -4, 'x', 33.4], [3, 100, 0, 0]], [{ length: 1e9 }, [0, 0, 0, 0]], [null, [0, 0, 0, 0]]]) {
    const list = new S.WordPieces(head, 10, () => {});
    list.keepLinks(1, shares);
    assert.deepEqual([...list.links], [0, 0, 0, 0, ...want, 0, 0, 0, 0].slice(0, 10), JSON.stringify(shares));
    assert.equal(list.linksCame[1], 2);
  }
});

test('the store of an index: its head, ranking pieces and documents are checked field by field', () => {
  const name = (c) => c.repeat(13) + '.js';
  const pages = { format: 2, count: 3, check: 'c', words: name('h') };
  const head = { count: 3, check: 'c', keys: 0, shards: [], vocabulary: [], linkGroup: 4096, links: [name('l')],
    docGroup: 2, docs: [name('a'), name('b')], rankGroup: 4096, ranks: [name('r')] };
  for (const [change, state] of [[{}, 'ok'], [{ count: 4 }, 'stale'], [{ check: 'd' }, 'stale'], [{ docs: [name('a')] }, 'damaged'],
    [{ docs: [name('a'), '../x.js'] }, 'damaged'], [{ docGroup: 0 }, 'damaged'], [{ ranks: [] }, 'damaged'],
    [{ urlPrefix: -1 }, 'damaged'], [{ urlPrefix: 7 }, 'ok']]) {
    assert.equal(S.storeHeadData({ ...head, ...change }, pages).state, state, JSON.stringify(change));
  }
  assert.equal(S.storeHeadData(head, { ...pages, count: '3' }).state, 'damaged');
  const rank = [null, 'a.html', '01-02-2003', 'sum'];
  // Each piece holds its own pages: two pieces of two that hold one and two are not the same three pages.
  const twos = { ...head, rankGroup: 2, ranks: [name('r'), name('s')] };
  for (const [of, parts, ok] of [[head, [[rank, rank, rank]], true], [head, [[rank, rank]], false], [head, [[rank, rank, [7, 'a', '', '']]], false],
    [head, [[rank, rank, ['t', 'a', '', null]]], false], [head, [null], false], [twos, [[rank, rank], [rank]], true], [twos, [[rank], [rank, rank]], false]]) {
    assert.equal(S.ranksOf(of, parts) !== null, ok, JSON.stringify(parts));
  }
  // A piece holds what a result shows; anything else in it is left out, and a piece
  // that fails shows its documents without title. Each piece is fetched once.
  const fetched = [], pending = [];
  const docs = new S.DocumentPieces(head, '../site/', (piece, done) => { fetched.push(piece); pending.push(() => done(piece === name('a')
    ? [['T0', 'a.html', '01-02-2003', 'Real <b>', 'Sum', name('g'), 3], [{}, 7, null, 5, ['x'], '../../etc/passwd.js', 1]] : null)); });
  let came = 0;
  docs.ensure([0, 1, 2], () => came++);
  docs.ensure([1], () => came++);
  assert.deepEqual([fetched, came, docs.has([0])], [[name('a'), name('b')], 0, false]);
  pending.forEach((f) => f());
  assert.deepEqual([came, docs.has([0, 1, 2])], [2, true]);
  assert.deepEqual(docs.docs, [[0, 'T0', 'a.html', '01-02-2003'], [1, '', '', ''], [2, '', '', '']]);
  const companion = docs.companion;
  assert.deepEqual([companion.titles, companion.summaries, companion.base], [['Real <b>', null, null], ['Sum', null, null], '../site/']);
  assert.deepEqual([S.textPlace(companion.texts, 0), S.textPlace(companion.texts, 1)], [{ file: 'indexed_text/' + name('g'), at: 3 }, null]);
  docs.ensure([0, 2], () => came++);
  assert.deepEqual([came, fetched.length], [3, 2]);
});
