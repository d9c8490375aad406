// Search logic of search.js, run in Node: words, matching, ranking, links.
// VANTREL_JS_DIR names the folder of the built page (default: build/bin/js).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { readFileSync } from 'node:fs';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(here, '../../build/bin/js'));
const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));

function unescapeCase(text) {
  const bytes = [];
  for (let i = 0; i < text.length; i++) {
    if (text[i] !== '\\') { bytes.push(text.charCodeAt(i)); continue; }
    const c = text[++i];
    if (c === 'x') { bytes.push(parseInt(text.slice(i + 1, i + 3), 16)); i += 2; }
    else bytes.push({ t: 9, n: 10, r: 13, '\\': 92 }[c]);
  }
  return Uint8Array.from(bytes);
}

test('query words follow the shared tokenizer table', () => {
  const table = readFileSync(path.join(here, '../data/tokenizer-cases.tsv'), 'latin1');
  let cases = 0;
  table.split('\n').forEach((line, n) => {
    if (line === '' || line.startsWith('#')) return;
    const [input, expected] = line.split('\t');
    const bytes = unescapeCase(input);
    const want = expected.split(' ').filter(Boolean);
    assert.deepEqual(S.tokenize(Buffer.from(bytes).toString('latin1')), want, `line ${n + 1} as Latin-1`);
    let utf8 = null;
    try { utf8 = new TextDecoder('utf-8', { fatal: true }).decode(bytes); } catch { /* not UTF-8 */ }
    if (utf8 !== null) assert.deepEqual(S.tokenize(utf8), want, `line ${n + 1} as UTF-8`);
    cases++;
  });
  assert.ok(cases >= 20);
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
const index = [
  ['ALLOC', 4],
  ['ALLOCATION', 0, 2],
  ['AND', 2, 0],
  ['DEPTH', 0],
  ['EXAMPLES', 2],
  ['FREE', 2, 1, 0],
  ['MALLOC', 3, 1, 2, 0],
  ['MEMORY', 0, 1],
  ['PTHREAD_MUTEX_LOCK', 6],
  ['SEARCH', 0, 5],
  ['SEARCHING', 5],
  ['TEXT', 5, 3],
  ['THREADS', 4, 6],
];
const searcher = new S.Searcher(docs, index);
const found = (q) => searcher.search(q).docs;

test('word list look-ups: exact, prefix range, inside words, nearest words', () => {
  assert.equal(searcher.lowerBound('MALLOC'), 6);
  assert.equal(searcher.lowerBound('A'), 0);
  assert.equal(searcher.lowerBound('ZZZ'), index.length);
  assert.deepEqual(searcher.prefixRange('SEARCH'), [9, 11]);
  assert.deepEqual(searcher.prefixRange('ALLOC'), [0, 2]);
  assert.deepEqual(searcher.prefixRange('Q'), [9, 9]);
  // Words starting with the part are prefix matches, not inner ones.
  assert.deepEqual(searcher.innerWords('ALLOC', 10), [6]);
  assert.deepEqual(searcher.innerWords('MUTEX', 10), [8]);
  assert.deepEqual(searcher.innerWords('READ', 10), [8, 12]);
  assert.deepEqual(searcher.nearestWords('MALLCO', 3), ['MALLOC']);
  assert.deepEqual(searcher.nearestWords('THRAEDS', 3), ['THREADS']);
  assert.deepEqual(searcher.nearestWords('QQQQQQ', 3), []);
  assert.equal(S.editDistance('FREE', 'FERE', 2), 1);
  assert.equal(S.editDistance('ABCDEF', 'UVWXYZ', 2), 3);
});

test('every word must match; exact above prefix above inner; titles first', () => {
  // MALLOC is an exact word: the page titled MALLOC first, though doc 3 ranks it higher.
  assert.deepEqual(found('malloc'), [1, 2, 3, 0]);
  // ALLOC: exact (doc 4) before prefix ALLOCATION (0, 2) before inner MALLOC (1, whose
  // title holds it, then 3).
  assert.deepEqual(found('alloc'), [4, 0, 2, 1, 3]);
  // Several words: AND, with the page whose title holds both first.
  assert.deepEqual(found('free malloc'), [2, 1, 0]);
  assert.deepEqual(found('malloc free'), found('free malloc'));
  // Last word as prefix; repeated words count once.
  assert.deepEqual(found('sear'), [5, 0]);
  assert.deepEqual(found('searching searching'), [5]);
  assert.deepEqual(found('mutex_lo'), [6]);
  assert.deepEqual(found('  '), []);
});

test('no page holds every word: pages holding some, marked partial', () => {
  const result = searcher.search('threads depth');
  assert.equal(result.partial, true);
  // THREADS is the whole title of doc 4, DEPTH a quarter of doc 0's.
  assert.deepEqual(result.docs, [4, 0, 6]);
  assert.equal(searcher.search('threads').partial, false);
  // A word that matches nothing is left out, and said so.
  assert.deepEqual(found('malloc zzzzzzz'), found('malloc'));
  assert.equal(searcher.search('malloc zzzzzzz').partial, true);
});

test('typos: nearest words are searched and offered', () => {
  const result = searcher.search('mallco');
  assert.deepEqual(result.terms[0].suggestions, ['MALLOC']);
  assert.deepEqual(result.docs, [1, 2, 3, 0]);
  assert.deepEqual(searcher.search('malloc').terms[0].suggestions, []);
});

test('fusion of several lists by rank, ties in document order', () => {
  const d = [0, 1, 2, 3].map((i) => [i, 'T', `p${i}.html`, '']);
  const s = new S.Searcher(d, [['A', 3, 0, 1, 2], ['B', 1, 2, 3, 0], ['C', 2, 0, 1, 3]]);
  // Doc 1 ranks 3rd and 1st, doc 3 1st and 3rd, docs 0 and 2 2nd and 4th: ties kept
  // in document order.
  assert.deepEqual(s.search('a b').docs, [1, 3, 0, 2]);
  assert.deepEqual(s.search('a b c').docs, [2, 1, 3, 0]);
  assert.deepEqual(s.search('b c').docs, [2, 1, 0, 3]);
  // Page numbers that fall start a new, lower weight group. From the third group on,
  // a page also counts by its group's place from the end: the last group's pages use
  // the word most often in their text and tie with the first page.
  const e = Array.from({ length: 10 }, (_, i) => [i, 'T', `p${i}.html`, '']);
  assert.deepEqual(new S.Searcher(e, [['W', 5, 6, 1, 2, 0, 9]]).search('w').docs, [0, 5, 9, 6, 1, 2]);
  assert.deepEqual(new S.Searcher(e, [['W', 5, 6, 1, 2]]).search('w').docs, [5, 6, 1, 2]);
  // Broken postings (out of range) are ignored.
  assert.deepEqual(new S.Searcher(d, [['A', 9, 1, -1]]).search('a').docs, [1]);
});

test('ranking signals: file names, plural forms, site-wide title words, no carry-over', () => {
  const d = [
    [0, 'ASYNCIO EVENTS - SITE', 'lib/events.html', ''],
    [1, 'ASYNCIO - SITE MANUAL', 'lib/main.html', ''],
    [2, 'ASYNCIO DEVELOPMENT - SITE', 'lib/asyncio-dev.html', ''],
    [3, 'ASYNCIO LOOPS AND TASKS - SITE', 'lib/asyncio.html', ''],
    [4, 'THE THREAD MODULE - SITE MANUAL', 't.html', ''],
    [5, 'THREADS - SITE MANUAL', 'threads.html', ''],
    ...[6, 7, 8, 9, 10, 11, 12].map((i) => [i, `PAGE ${i} - SITE MANUAL`, `p${i}.html`, '']),
  ];
  const s = new S.Searcher(d, [['ASYNCIO', 0, 1, 2, 3], ['THREAD', 4, 7], ['THREADS', 5, 8]]);
  // Named asyncio, then a name holding it; then the title most about it: SITE and
  // MANUAL stand in most titles and do not count.
  assert.deepEqual(s.search('asyncio').docs, [3, 2, 1, 0]);
  // THREADS matches THREAD (and back), below the word itself.
  assert.deepEqual(s.search('thread').docs, [4, 7, 5, 8]);
  assert.deepEqual(s.search('threads').docs, [5, 8, 4, 7]);
  assert.deepEqual(new S.Searcher(d, [['CLAS', 0], ['CLASS', 1], ['CLASSES', 2]]).search('class').docs, [1, 2]);
  assert.deepEqual(s.search('asyncio').docs, [3, 2, 1, 0]);
});

test('titles and file names find pages that the word index lacks', () => {
  // An index of META keywords only: titles and names are not in it.
  const d = [
    [0, 'INSTALLING THE SERVER', 'guide/install.html', ''],
    [1, 'Document has no name', 'notes/release-checklist.htm', ''],
    [2, 'CONFIGURATION', 'guide/config.html', ''],
  ];
  const s = new S.Searcher(d, [['SETUP', 0, 2]]);
  assert.deepEqual(s.search('installing').docs, [0]);
  assert.deepEqual(s.search('install').docs, [0]);
  assert.deepEqual(s.search('checklist').docs, [1]);
  assert.deepEqual(s.search('release-checklist.htm').docs, [1]);
  assert.deepEqual(s.search('config.html').docs, [2]);
  assert.deepEqual(s.search('setup config').docs, [2]);
  assert.deepEqual(s.search('configuraton').terms[0].suggestions, ['CONFIGURATION']);
  assert.deepEqual(s.search('configuraton').docs, [2]);
  // Words of the "Document has no name" title are no title words.
  assert.deepEqual(s.search('document').docs, []);
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

test('sorting by date: newest first, undated last, ties kept', () => {
  assert.deepEqual(searcher.byDate([0, 3, 1, 2, 5]), [5, 1, 2, 0, 3]);
  assert.equal(S.dateKey('09-10-2003'), 20031009);
  assert.equal(S.dateKey(''), -1);
});

test('links for awkward names resolve to the right file', () => {
  const base = 'file:///srv/out/search.html?q=x';
  const href = (loc, bytesMode = true) => S.locationHref(loc, base, bytesMode);
  assert.equal(href('a b/c#1?.htm'), 'file:///srv/out/a%20b/c%231%3F.htm');
  assert.equal(href('100%.htm'), 'file:///srv/out/100%25.htm');
  assert.equal(href('say "hi" \'x\'.htm'), 'file:///srv/out/say%20%22hi%22%20%27x%27.htm');
  assert.equal(href('back\\slash.htm'), 'file:///srv/out/back%5Cslash.htm');
  assert.equal(href('a:b.htm'), 'file:///srv/out/a%3Ab.htm');
  // Non-ASCII names: UTF-8 bytes and a raw Latin-1 byte, as read through windows-1252.
  assert.equal(href('caf\u00c3\u00a9.htm'), 'file:///srv/out/caf%C3%A9.htm');
  assert.equal(href('caf\u00e9.htm'), 'file:///srv/out/caf%E9.htm');
  assert.equal(href('\u20ac.htm'), 'file:///srv/out/%80.htm');
  assert.equal(href('caf\u00e9.htm', false), 'file:///srv/out/caf%C3%A9.htm');
  // Full paths, also with the doubled slash of a root source folder.
  assert.equal(href('/home/me/site/x y.html'), 'file:///home/me/site/x%20y.html');
  assert.equal(href('//x.html'), 'file:///x.html');
  // A location with a URL scheme stands as it is, made a valid URL.
  assert.equal(href('https://example.org/docs/a b.html?x=1#top'), 'https://example.org/docs/a%20b.html?x=1#top');
  assert.equal(href('http://h/p/caf\u00e9"\\.htm'), 'http://h/p/caf%E9%22%5C.htm');
  // After the prefix that all such locations share, names are paths again.
  const prefixed = [[0, 'A', 'https://h/my%20docs/a#1.html', ''], [1, 'B', 'https://h/my%20docs/sub/100%.html', '']];
  const kept = S.sharedUrlPrefix(prefixed);
  assert.equal(kept, 'https://h/my%20docs/'.length);
  assert.equal(S.locationHref(prefixed[0][2], base, true, kept), 'https://h/my%20docs/a%231.html');
  assert.equal(S.locationHref(prefixed[1][2], base, true, kept), 'https://h/my%20docs/sub/100%25.html');
  assert.equal(S.sharedUrlPrefix([[0, 'A', 'http://a/x.html', ''], [1, 'B', 'https://b/y.html', '']]), undefined);
  assert.equal(S.sharedUrlPrefix([[0, 'A', 'x.html', '']]), undefined);
});

test('bytes survive the windows-1252 reading of the documents file', () => {
  const latin = Uint8Array.from({ length: 256 }, (_, i) => i);
  assert.deepEqual(S.textBytes(String.fromCharCode(...latin), true), latin);
  // Characters that windows-1252 gives for bytes 0x80 to 0x9F (browsers use it).
  assert.deepEqual(S.textBytes('\u20ac\u0081\u2019\u0161\u0178', true), Uint8Array.of(0x80, 0x81, 0x92, 0x9a, 0x9f));
  assert.equal(S.displayText('CAF\u00c3\u00a9', true), 'CAF\u00e9');
  assert.equal(S.displayText('CAF\u00e9', true), 'CAF\u00e9');
  assert.equal(S.displayText('CAF\u00c3\u00a9', false), 'CAF\u00c3\u00a9');
  assert.equal(S.decodeEntities('TOM &AMP; JERRY &LT;3 CAF&EACUTE; &#8212; &#X41; &NOPE;'),
    'TOM & JERRY <3 CAF\u00c9 \u2014 A &NOPE;');
});

test('highlights cover the matching part of title words', () => {
  const terms = searcher.search('mall free').terms;
  const spans = S.highlightSpans('FREE AND MALLOC, XMALLOC', terms);
  assert.deepEqual(spans, [[0, 4], [9, 13], [18, 22]]);
  const fuzzy = searcher.search('mallco').terms;
  assert.deepEqual(S.highlightSpans('MALLOC(3)', fuzzy), [[0, 6]]);
});

// Work done inside Array searches (indexOf and the like), counted by the length of the
// arrays searched: membership tests that scan arrays make long titles quadratic.
function arrayScans(run) {
  const names = ['indexOf', 'lastIndexOf', 'includes', 'find', 'findIndex', 'some'];
  const saved = names.map((n) => Array.prototype[n]);
  let scanned = 0;
  names.forEach((n, i) => {
    Array.prototype[n] = function (...args) { scanned += this.length; return saved[i].apply(this, args); };
  });
  try { run(); } finally { names.forEach((n, i) => { Array.prototype[n] = saved[i]; }); }
  return scanned;
}

test('hostile pages cost bounded work', () => {
  const L = S.limits;
  // A title of 50,000 distinct words is read in linear steps.
  const words = Array.from({ length: 50000 }, (_, i) => 'W' + i.toString(36).toUpperCase());
  let titles;
  assert.ok(arrayScans(() => { titles = S.titleWords([[0, words.join(' '), 'a.html', '']]); }) < 100000);
  assert.equal(titles.size[0], 50000);
  // 200,000 repeated words: a short text with few marks.
  const flood = Array(200000).fill('MALLOC').join(' ');
  const terms = searcher.search('malloc').terms;
  assert.ok(S.highlightSpans(flood, terms).length <= L.MAX_MARKS);
  const shown = S.shownText(flood, true, true);
  assert.ok(shown.length <= L.MAX_SHOWN + 1 && /C\u2026$/.test(shown), shown);
  // Cut in the middle of UTF-8 bytes (read as windows-1252): the shown text stays UTF-8.
  assert.match(S.shownText('CAF\u00c3\u00a9 '.repeat(2000), true, false), /^(CAF\u00e9 )+CAF\u00e9\u2026$/);
  // Did you mean: words too long for any typo are not compared; look-alikes stop at the budget.
  const long = 'ABCDEFGHIJ'.repeat(200), near = 'QWERTYUIOPASDFGHJKLZXCVBNMQWERTYUIOPASDFGHJKLZXCVBNMQWERTYUIOP';
  const alike = Array.from({ length: 40000 }, (_, i) => [near.slice(0, 50) + i.toString(26).toUpperCase().padStart(10, 'Q'), 0]);
  const hostile = new S.Searcher([[0, long, 'x.html', '']], [[long, 0], ...alike.sort((a, b) => (a[0] < b[0] ? -1 : 1))]);
  for (const [query, most] of [[long.slice(1) + 'Z', 0], [near.slice(0, 58) + 'ZZ', L.FUZZY_CELL_BUDGET * 1.01]]) {
    const before = S.work.cells;
    hostile.nearestWords(query, 5);
    assert.ok(S.work.cells - before <= most, `${S.work.cells - before} cells`);
  }
  // Long queries: a few terms of bounded length.
  const result = hostile.search('x'.repeat(100) + Array.from({ length: 100000 }, (_, i) => ' w' + i).join(''));
  assert.equal(result.terms.length, L.MAX_TERMS);
  assert.equal(result.terms[0].text.length, L.MAX_WORD_LENGTH);
});

test('every file of the page says that VantrelIndexer made it', () => {
  for (const f of ['search.js', 'search.css']) {
    assert.equal(readFileSync(path.join(jsDir, f), 'latin1').split('\n')[0], '/* generator: VantrelIndexer */', f);
  }
  for (const f of ['search.html', 'search_top.html']) {
    const head = readFileSync(path.join(jsDir, f), 'latin1').slice(0, 512);
    assert.match(head, /<head>[^]*<meta name="generator" content="VantrelIndexer">/, f);
  }
});
