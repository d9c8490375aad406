// The word index in pieces against the same index whole, over a site the command line
// builds: the same results in the same order for exact words, forms, prefixes short and
// long, in-word parts, misspellings and unspaced runs; the first results need only the
// shards a query reaches, and the vocabulary comes after them.
// VANTREL_CLI names the command-line indexer, VANTREL_JS_DIR the built page.
import { test, before } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { execFileSync } from 'node:child_process';
import { S, here, jsDir } from './search-js.mjs';
import { loadFolder, searchAll } from './index-folder.mjs';

const cli = path.resolve(process.env.VANTREL_CLI || path.join(here, '../../build/bin/vantrelindexer-cli'));
let site, out, large;

// Enough pages that the word index takes many shards: made-up words from syllables,
// English endings for the stem groups, a German and a Japanese page, links.
before(() => {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-pieces-'));
  const syllables = ['ka', 'lo', 'mi', 'nur', 'pe', 'sto', 'ven', 'dri', 'gal', 'tor', 'qua', 'zen'];
  const endings = ['', 's', 'ing', 'ed', 'ation'];
  let seed = 7;
  const next = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % n; };
  const word = () => syllables[next(12)] + syllables[next(12)] + syllables[next(12)] + endings[next(5)];
  fs.mkdirSync(path.join(work, 'site'));
  for (let p = 0; p < 600; p++) {
    const text = Array.from({ length: 120 }, word).join(' ');
    const links = p % 7 === 0 ? Array.from({ length: 30 }, (_, i) => `<a href="p${i}.html">${word()}</a>`).join(' ') : '';
    fs.writeFileSync(path.join(work, 'site', `p${p}.html`), `<title>${word()} ${word()}</title><h2>${word()}</h2><p>${text}</p>${links}`);
    const day = 1.6e9 + (p * 7919 % 600) * 86400;  // dates in another order than the pages
    fs.utimesSync(path.join(work, 'site', `p${p}.html`), day, day);
  }
  fs.writeFileSync(path.join(work, 'site', 'de.html'), '<html lang="de"><title>Größe ändern</title><p>Die Partitionsgröße ändern.</p>');
  // A page named by a word that the others use in their text, which its own text lacks:
  // its file name alone ranks it first.
  fs.writeFileSync(path.join(work, 'site', 'kalomi.html'), '<title>Notes</title><p>Notes about tables.</p>');
  fs.writeFileSync(path.join(work, 'site', 'ja.html'), '<html lang="ja"><title>名前解決の設定</title><p>名前解決サービスを設定する。</p>');
  out = path.join(work, 'out');
  execFileSync(cli, ['--quiet', path.join(work, 'site'), out, '--content', 'all'], { stdio: 'pipe', env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1' } });
  // The same site past the pages from which a top is written beside the head.
  large = path.join(work, 'large');
  execFileSync(cli, ['--quiet', path.join(work, 'site'), large, '--content', 'all'], { stdio: 'pipe', env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1', VANTREL_TOP_FROM: '100' } });
  site = loadFolder(S, out);
  assert.ok(site.list.names.length >= 8, `${site.list.names.length} shards`);
});

test('searches over the pieces answer as over the whole word index', () => {
  const queries = ['kalomi', 'kalomis', 'kalomiing', 'ka', 'k', 'kalo', 'stoven', 'venqua stoven', 'omin', 'ationx',
    'kalomj', 'kalomiz tordri', 'gr\u00f6\u00dfe', 'partition', '\u540d\u524d\u89e3\u6c7a', 'zzzz', 'galtorpe sto',
    // File names, whose words are no keys of the word index: exact, a prefix, a typo, beside a word.
    'p123', 'p12', 'p5999', 'p123 kalomi', 'html', 'de'];
  for (const q of queries) {
    const shown = searchAll(S, site.inPieces, q);
    assert.ok(shown.length >= 1 && shown[shown.length - 1].complete, q);
    assert.deepEqual(shown[shown.length - 1].docs, site.whole.search(q).docs, q);
  }
});

// Each round of pieces (the query's shards, its forms' and prefixes', the link shares
// of its pages) would rank every page again: only the answers shown are ranked, and
// the pages found before the link shares came are not collected again.
test('a search over pieces ranks only the answers it shows', () => {
  const keys = loadFolder(S, out).whole.list, middle = keys.keyAt(keys.size() >> 1);
  let common = 0;
  for (let at = 1; at < keys.size(); at++) if (keys.countAt(at) > keys.countAt(common)) common = at;
  let answers = 0;
  for (const q of [middle, keys.keyAt(common), 'ka', middle.slice(1, 5), `${middle} ${keys.keyAt(common)}`, middle.slice(0, -1) + 'q',
    'p123 kalomi', '\u540d\u524d\u89e3\u6c7a']) {
    const searcher = loadFolder(S, out).fresh(), search = searcher.search;
    let ranked = 0, shown = 0, collected = 0, reached = null;
    // Collecting the pages of the terms sets the pages each term reached.
    Object.defineProperty(searcher, 'reached', { get: () => reached, set: (v) => { collected++; reached = v; } });
    searcher.search = function (...args) {
      const result = search.apply(this, args);
      if (result && result.docs.length > 0) ranked++;
      return result;
    };
    S.searchInPieces(searcher, q, (result) => { if (result.docs.length > 0) shown++; }, () => true);
    assert.equal(ranked, shown, q);
    answers += shown;
    // Stopped once its pages are known (as while their link shares load), the same
    // search again ranks them without collecting them again; another search between
    // drops them.
    const whole = search.call(searcher, q).docs, stopAtPages = (terms, docs) => docs !== undefined;
    collected = 0;
    assert.equal(searcher.search(q, stopAtPages), null, q);
    const once = collected;
    assert.deepEqual(searcher.search(q).docs, whole, q);
    assert.equal(collected, once, q);
    searcher.search(q, stopAtPages);
    searcher.search('zen');
    assert.deepEqual(searcher.search(q).docs, whole, q);
  }
  assert.ok(answers >= 8, `${answers} answers`);
});

// Ranking reads titles, file names and summaries from the shards: the ranking pieces
// are loaded only for the order by date, which then orders as the whole index does.
test('the dates come only with the order by date', () => {
  const fresh = loadFolder(S, out), searcher = fresh.fresh(), keys = fresh.whole.list;
  let common = 0;
  for (let at = 1; at < keys.size(); at++) if (keys.countAt(at) > keys.countAt(common)) common = at;
  const docs = searchAll(S, searcher, keys.keyAt(common)).pop().docs;
  assert.ok(docs.length > 1);
  assert.ok(fresh.head.ranks.every((name) => !fresh.fetched.includes(name)), fresh.fetched.join(' '));
  let dated = 0;
  searcher.whenDated(false, () => dated++);
  assert.equal(searcher.dates, null);
  searcher.whenDated(true, () => dated++);
  assert.equal(dated, 2);
  assert.ok(fresh.head.ranks.every((name) => fresh.fetched.includes(name)));
  assert.deepEqual(searcher.byDate(docs), fresh.whole.byDate(docs));
});

// The pages whose title or file name holds the key at position at or a key of its stem
// groups: those a best piece places past its first pages.
// With begun, those of every title and file-name word the key or a stem of its groups
// begins too (a prefixed piece).
function groupPlaced(list, at, begun) {
  const key = list.keyAt(at), placed = new Set();
  const place = (p) => {
    for (let i = 2; p.titles && i < p.titles.length; i += 2) placed.add(p.titles[i]);
    for (let i = 1; p.names && i < p.names.length; i += 3) placed.add(p.names[i]);
  };
  for (const w of [key, ...list.formsOf(key, at).positions.map((p) => list.keyAt(p))]) place(list.shards[list.shardOf(w)].places.get(w) || {});
  const begins = begun ? [key, ...list.formsOf(key, at).stems] : [];
  for (const shard of begun ? list.shards.filter(Boolean) : []) for (const [w, p] of shard.places) if (begins.some((b) => w.startsWith(b))) place(p);
  return placed;
}

// A common word ranked from the best pages of its lists alone (as from best pieces,
// which also place the pages titled or named by a key of the list's stem groups, and
// when prefixed by a word its key begins): a
// first screen the rest of its lists could not change is the one its whole lists
// give; a list cut so short that the rest could reach the screen settles nothing.
test('a first screen settled from the best pages of a word is the whole lists\' first screen', () => {
  const fresh = loadFolder(S, out), keys = fresh.whole.list, counts = [];
  for (let at = 0; at < keys.size(); at++) counts.push([keys.countAt(at), at]);
  counts.sort((a, b) => b[0] - a[0]);
  let settled = 0, open = 0;
  const bySort = [0, 0];   // screens settled by pieces that are not prefixed, and by prefixed ones
  // The commonest keys, and prefixes of them (whose keys' lists are of one class).
  const queries = counts.slice(0, 6).flatMap(([, common]) => [keys.keyAt(common), keys.keyAt(common).slice(0, 4)]);
  for (const q of [...new Set(queries), 'ka', 'sto']) {
    for (const [held, begun] of [1, 5, 20, 60, 200].flatMap((h) => [[h, false], [h, true]])) {
      const searcher = fresh.fresh(), list = searcher.list;
      searchAll(S, searcher, q);
      searcher.termCache.clear();
      const whole = searcher.search(q).order.slice(0, 20);
      // Each list of the word's matches longer than held cut to its first held pages.
      const entryOf = list.entry.bind(list), cut = new Map();
      list.entry = (at) => {
        const entry = entryOf(at);
        if (entry.length - 1 <= held) return entry;
        if (!cut.has(at)) {
          const placed = groupPlaced(list, at, begun);
          cut.set(at, entry.map((d, r) => (r <= held || placed.has(d) ? d : -1)));
        }
        return cut.get(at);
      };
      list.bestHeld = (at) => (entryOf(at).length - 1 > held ? held : 0);
      list.bestPrefixed = (at) => begun && list.bestHeld(at) > 0;
      list.bestUsed = true;
      searcher.termCache.clear();
      const result = searcher.search(q), screen = result.settle(20);
      if (screen === 0) { open++; continue; }
      settled++;
      bySort[begun ? 1 : 0]++;
      assert.equal(screen, 20, `${q} cut at ${held}`);
      assert.deepEqual(result.order.slice(0, screen), whole, `${q} cut at ${held}`);
    }
  }
  assert.ok(settled > 0 && open > 0, `${settled} settled, ${open} not`);
  // A common key whose pages are titled by words it begins settles only from a prefixed piece.
  assert.ok(bySort[1] > bySort[0], `${bySort[1]} settled prefixed, ${bySort[0]} not prefixed`);
});

// The documents of a first screen ranked from best pieces are asked for before the
// check that it is settled, which then runs while they load.
test('a first screen from best pieces asks for its documents before it is checked', () => {
  const searcher = loadFolder(S, out).fresh(), list = searcher.list, events = [];
  const order = { length: 40, slice: (from, to) => Array.from({ length: to - from }, (_, i) => from + i) };
  searcher.documents = { ensure: (docs) => events.push(['documents', docs.length]) };
  searcher.search = () => {
    list.bestUsed = true;
    return { order, query: 'kalomi', terms: [], settle: (screen) => { events.push(['settled', screen]); return screen; } };
  };
  S.searchInPieces(searcher, 'kalomi', () => null, () => events.length < 4);
  assert.deepEqual(events.slice(0, 2), [['documents', 20], ['settled', 20]]);
});

// A best piece is taken only when it holds its shard's keys, its last key's number of
// pages (more than it lists, at most the site's) and its places past those; the pages
// placed stand at their places in the key's list, and the shard is waited for when the
// piece does not fit.
test('a best piece that does not fit its shard counts as failed', () => {
  const head = { count: 5, check: 'x', keys: 2, shards: [['a', 'aaaaaaaaaaaaa.js', 1, 'bbbbbbbbbbbbb.js'], ['b', 'ccccccccccccc.js', 1, '../x.js']],
    vocabulary: [['ddddddddddddd.js', 2]], linkGroup: 4096, links: ['eeeeeeeeeeeee.js'] };
  const list = new S.WordPieces(head, 5, () => {});
  assert.deepEqual(list.bestNames, ['bbbbbbbbbbbbb.js', null]);
  for (const [data, entry] of [[{ words: [['a', 2, 0]], count: 3, placed: [] }, ['a', 2, 0]],
    [{ words: [['a', 2, 0]], count: 5, placed: [1, 3, 2, 4] }, ['a', 2, 0, 3, -1, 4]],
    // A step that does not fit ends the places: past the count, not whole, no page.
    [{ words: [['a', 2, 0]], count: 5, placed: [3, 4, 1, 1] }, ['a', 2, 0, -1, -1, 4]],
    [{ words: [['a', 2, 0]], count: 5, placed: [0, 3, 3, 4] }, ['a', 2, 0]],
    [{ words: [['a', 2, 0]], count: 5, placed: [1.5, 1, 1, 5, 'x'] }, ['a', 2, 0]],
    [{ words: [['a', 2, 0]], count: 5, placed: [1, 5, 1, 4] }, ['a', 2, 0]],
    [{ words: [['a', 2, 0]], count: 2, placed: [] }, null], [{ words: [['a', 2, 0]], count: 6, placed: [] }, null],
    [{ words: [['a', 2, 0]], count: 2.5, placed: [] }, null], [{ words: [['a', 2], ['b', 1]], count: 3, placed: [] }, null],
    [{ words: [['a', 2, 0]], count: 3 }, null], [null, null]]) {
    list.keepBest(0, data);
    list.useBest = true;
    assert.equal(list.bestHeld(0), entry ? 2 : 0, JSON.stringify(data));
    assert.equal(list.countAt(0), entry ? data.count : 0, JSON.stringify(data));
    if (entry) assert.deepEqual(list.came(0).words[0], entry);
    list.useBest = false;
    assert.equal(list.bestHeld(0), 0);
  }
  // A piece that places the pages titled by the words its key begins says so; one whose
  // places end early does not, whatever it says.
  for (const [placed, says, prefixed] of [[[1, 3, 2, 4], 1, true], [[1, 3, 2, 4], true, false], [[1, 3, 2, 4], undefined, false], [[3, 4, 1, 1], 1, false]]) {
    list.keepBest(0, { words: [['a', 2, 0]], count: 5, placed, prefixed: says });
    list.useBest = true;
    assert.equal(list.bestPrefixed(0), prefixed, JSON.stringify([placed, says]));
    list.useBest = false;
    assert.equal(list.bestPrefixed(0), false);
  }
  // A query of one word reads a shard's best piece first, but the whole shard where a
  // key of it is matched inside another word or as a nearest word.
  for (const apart of [false, true]) {
    const asked = [], pieces = new S.WordPieces(head, 5, (name) => asked.push(name));
    pieces.bestFirst = true;
    if (apart) pieces.matchedApart(0);
    pieces.reach(0);
    pieces.load(false, () => {});
    assert.deepEqual(asked, [apart ? 'aaaaaaaaaaaaa.js' : 'bbbbbbbbbbbbb.js']);
  }
  // Its key's summaries as the bits of a set of pages (page d the bit d % 8 of byte d /
  // 8), those of the site alone; the entry's own pages without them.
  for (const [bits, pages] of [['EQ==', [0, 4]], ['Eg==', [1, 4]], ['/w==', [0, 1, 2, 3, 4]], ['////////', [0, 1, 2, 3, 4]], ['', []]]) {
    list.keepBest(0, { words: [['a', 2, 0]], count: 4, placed: [], summaries: [['a']], summaryBits: bits });
    list.useBest = true;
    assert.deepEqual(list.came(0).places.get('a').summaries, ['a', ...pages], bits);
    list.useBest = false;
  }
  list.keepBest(0, { words: [['a', 2, 0]], count: 4, placed: [], summaries: [['a', 3]] });
  list.useBest = true;
  assert.deepEqual(list.came(0).places.get('a').summaries, ['a', 3]);
});

// A head without in-word pieces (an index of an older version): the page looks for
// in-word parts in the whole vocabulary, as it does for a part of too many words.
function withoutInWord(fresh) {
  fresh.list.inWordNames = null;
  return fresh;
}

// The vocabulary grows with the site: it is asked for once the page says the first
// results are on screen, not beside the documents they need.
test('the vocabulary waits until the first results are shown', () => {
  const fresh = withoutInWord(loadFolder(S, out)), vocabulary = new Set(fresh.list.vocabularyPieces.map((v) => v[0]));
  const q = fresh.whole.list.keyAt(fresh.whole.list.size() >> 1);
  let next = null, shows = 0;
  S.searchInPieces(fresh.inPieces, q, () => { shows++; return (then) => { next = then; }; }, () => true);
  assert.equal(shows, 1, q);
  assert.ok(next && !fresh.fetched.some((name) => vocabulary.has(name)), q);
  next();
  assert.equal(shows, 2, q);
  assert.ok(fresh.fetched.some((name) => vocabulary.has(name)), q);
});

// The first answer of a query reads the head, the shards its words reach and the link
// shares of its pages, not the index; the vocabulary comes after it, and a second query reuses what came.
test('a first answer loads the shards its words reach and the vocabulary only after it', () => {
  const fresh = withoutInWord(loadFolder(S, out)), vocabulary = new Set(fresh.list.vocabularyPieces.map((v) => v[0]));
  const before = [], q = fresh.whole.list.keyAt(fresh.whole.list.size() >> 1);
  S.searchInPieces(fresh.inPieces, q, (result, complete) => before.push({ fetched: fresh.fetched.length, complete }), () => true);
  assert.equal(before.length, 2, q);
  assert.equal(before[0].complete, false);
  // The head (no ranking pieces: the shards hold titles), the word's shard, its forms' shards and the link shares of its pages.
  assert.ok(before[0].fetched <= 6 + (fresh.head.places === 1 ? 0 : fresh.head.ranks.length), `${before[0].fetched} pieces before the first results`);
  assert.ok(fresh.fetched.slice(0, before[0].fetched).every((name) => !vocabulary.has(name)));
  const count = fresh.fetched.length;
  assert.equal(searchAll(S, fresh.inPieces, q).length, 1);
  assert.equal(fresh.fetched.length, count);
});

// Before the ranking pieces come, the page asks for the shards of the address's query:
// those its keys stand in, no vocabulary, and the search then asks for none of them again.
test('the shards of a query asked for with the head are the ones its search reaches first', () => {
  const probe = loadFolder(S, out), keys = probe.whole.list, n = keys.size();
  const far = [keys.keyAt(n >> 2), keys.keyAt((3 * n) >> 2)];
  for (const [q, shards] of [[far[0], 1], [far.join(' '), 2], [far.join(' ').toUpperCase(), 2], ['', 0], ['  ', 0]]) {
    const fresh = loadFolder(S, out), list = fresh.list, head = fresh.fetched.length;
    S.prefetch(list, q);
    // With the in-word pieces of its words' runs.
    const asked = fresh.fetched.slice(head);
    assert.equal(new Set(asked.filter((name) => list.names.includes(name))).size, shards, q);
    assert.deepEqual(asked.filter((name) => !list.names.includes(name) && !list.inWordNames.includes(name)), [], q);
    assert.ok(asked.length <= shards * 5, q);
    const after = fresh.fetched.length;
    searchAll(S, fresh.inPieces, q);
    assert.deepEqual(fresh.fetched.slice(after).filter((name) => asked.includes(name)), [], q);
  }
});

// A prefix whose keys span more than a few shards is answered from the vocabulary
// pieces of those shards alone, before the first results (and then only the shards of
// the keys the search takes); the rest of the vocabulary comes after them.
test('a short prefix reads only the vocabulary pieces of its shards', () => {
  const probe = loadFolder(S, out).list, pieceOf = [];
  probe.vocabularyPieces.forEach(([, shards], p) => { for (let i = 0; i < shards; i++) pieceOf.push(p); });
  assert.ok(probe.vocabularyPieces.length >= 3, `${probe.vocabularyPieces.length} vocabulary pieces`);
  let long = 0, fewer = 0;
  for (const q of ['k', 'ka', 'g', 'm', 'p', 's', 't', 'v', 'z', 'ga', 'to']) {
    const s = probe.shardOf(q), last = probe.rangeEnd(q, s);
    if (last - s < S.MAX_RANGE_SHARDS) continue;
    long++;
    const fresh = loadFolder(S, out), names = fresh.list.vocabularyPieces.map((v) => v[0]);
    const own = new Set(names.filter((_, p) => p >= pieceOf[s] && p <= pieceOf[last]));
    const shown = [];
    S.searchInPieces(fresh.inPieces, q, (result, complete) => {
      shown.push({ docs: result.docs, complete, read: fresh.fetched.filter((name) => names.includes(name)) });
      return (then) => then();
    }, () => true);
    assert.ok(shown.length >= 1 && shown[shown.length - 1].complete, q);
    assert.deepEqual(new Set(shown[0].read), own, q);
    if (own.size < names.length) fewer++;
    // The rest only when the answer wants every key (each piece read once).
    assert.equal(shown[shown.length - 1].read.length, shown.length === 1 ? own.size : names.length, q);
    assert.deepEqual(shown[0].docs, fresh.whole.search(q).docs, q);
    assert.deepEqual(shown[shown.length - 1].docs, fresh.whole.search(q).docs, q);
  }
  assert.ok(long >= 2 && fewer >= 1, `${long} prefixes span more than ${S.MAX_RANGE_SHARDS} shards, ${fewer} read less than the vocabulary`);
});

// A misspelt word matches nothing until its nearest words are known: they come from the
// near pieces of its first two letters and lengths, read before the first results, not from
// the vocabulary (which comes after them, for the in-word parts), and the answer does
// not change when it comes.
test('a typo reads only the near pieces of its first two letters before its first results', () => {
  const probe = loadFolder(S, out), keys = probe.whole.list, near = probe.list.near;
  assert.ok(near && near.length >= 2, `${near && near.length} near pieces`);
  const typos = ['kalomj', 'zentorqux', 'galtorep sto', 'stovendri'.replace('ven', 'vne')];
  for (let at = 0; at < keys.size() && typos.length < 20; at += 31) {
    const key = keys.keyAt(at);
    if (key.length >= 7) typos.push(key.slice(0, 3) + key[4] + key[3] + key.slice(5));
  }
  let suggested = 0, fewer = 0, ruledOut = 0;
  for (const q of typos) {
    const fresh = loadFolder(S, out), vocabulary = new Set(fresh.list.vocabularyPieces.map((v) => v[0]));
    const nearNames = new Set(near.map((p) => p[1])), shown = [];
    S.searchInPieces(fresh.inPieces, q, (result, complete) => {
      shown.push({ docs: result.docs.slice(), complete, read: fresh.fetched.slice(), everyKey: !!fresh.list.vocabulary });
      return (then) => then();
    }, () => true);
    const whole = fresh.whole.search(q);
    assert.deepEqual(shown[shown.length - 1].docs, whole.docs, q);
    if (whole.docs.length === 0 || !whole.terms.some((t) => t.suggestions.length > 0)) continue;
    suggested++;
    // Of the vocabulary, at most the pieces of the words that may hold it inside.
    assert.ok(!shown[0].everyKey, q);
    if (!q.includes(' ')) assert.ok(shown[0].read.filter((name) => vocabulary.has(name)).length < vocabulary.size, q);
    // Only pieces whose run, from their first word to the next piece's, may hold words
    // that begin with the typo's first or second letter.
    const read = shown[0].read.filter((name) => nearNames.has(name)), letters = [q.charCodeAt(0), q.charCodeAt(1)];
    assert.ok(read.length >= 1, q);
    for (const name of read) {
      const p = near.findIndex((piece) => piece[1] === name);
      assert.ok(letters.some((c) => near[p][2] <= c && (p + 1 === near.length || near[p + 1][2] >= c)), `${q}: ${near[p][0]}`);
    }
    if (read.length < near.length) fewer++;
    // (A second word's in-word parts still come with the vocabulary.)
    if (!q.includes(' ')) assert.deepEqual(shown[0].docs, whole.docs, q);
    // Its answer is whole at once; a word that no word holds inside it needs no vocabulary at all.
    if (!q.includes(' ')) assert.ok(shown.length === 1 && shown[0].complete, q);
    const inside = fresh.list.inWordParts(q);
    if (!q.includes(' ') && Array.isArray(inside) && inside.length === 0) {
      ruledOut++;
      assert.ok(fresh.fetched.every((name) => !vocabulary.has(name)), q);
    }
  }
  assert.ok(suggested >= 6 && fewer >= 1 && ruledOut >= 3,
    `${suggested} typos found their words, ${fewer} in some of the near pieces, ${ruledOut} without the vocabulary`);
  // A part that stands inside words waits for them, with no nearest words shown first;
  // no run inside a key is ever taken for one that stands in none.
  let inside = 0;
  for (let at = 5; at < keys.size() && inside < 4; at += 41) {
    const q = keys.keyAt(at).slice(1, 6), whole = probe.whole.search(q);
    if (q.length < 5 || whole.docs.length === 0 || whole.terms[0].suggestions.length > 0) continue;
    inside++;
    const shown = searchAll(S, loadFolder(S, out).inPieces, q);
    assert.ok(shown.every((answer) => JSON.stringify(answer.docs) === JSON.stringify(whole.docs)), q);
  }
  assert.equal(inside, 4);
  const list = loadFolder(S, out).list;
  list.gramNames.forEach((name, g) => list.fetch(name, (data) => list.keepGrams(g, data)));
  assert.ok(list.gramSets.every((piece) => piece && piece.set), 'the runs inside words came');
  for (let at = 0; at < keys.size(); at++) {
    const key = keys.keyAt(at);
    for (let i = 1; i + 3 <= key.length; i += 2) assert.ok(list.mayHoldInside(key.slice(i, i + 3 + (i % 5))), key);
  }
  // The nearest word of "zen" over every key is "de", a file name that begins with
  // neither of its first two letters, so the pieces offer none.
  assert.deepEqual(probe.whole.search('zen').terms[0].suggestions, ['de']);
  const shown = searchAll(S, loadFolder(S, out).inPieces, 'zen');
  assert.deepEqual(shown[shown.length - 1].docs, []);
});

// A typo one edit from a word reads only the near pieces that can hold such words (its
// first letter at its length or one off, and for its second letter the pieces of the
// words one edit makes that begin with it); one that is two edits from its nearest words
// reads the rest a round later. Both answer as the whole list does.
// A site of many words, so that each first letter and length has near pieces of its own,
// and typos of its keys one and two edits away.
let manyWords = null;
function manyWordsSite() {
  if (manyWords) return manyWords;
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-near-')), syllables = ['ka', 'lo', 'mi', 'nur', 'pe', 'sto', 'ven', 'dri', 'gal', 'tor', 'qua', 'zen'];
  let seed = 11;
  const next = (n) => { seed = (seed * 48271) % 2147483647; return seed % n; };
  const word = () => Array.from({ length: 2 + next(3) }, () => syllables[next(12)]).join('');
  fs.mkdirSync(path.join(work, 'site'));
  for (let p = 0; p < 200; p++) fs.writeFileSync(path.join(work, 'site', `p${p}.html`), `<title>${word()}</title><p>${Array.from({ length: 200 }, word).join(' ')}</p>`);
  execFileSync(cli, ['--quiet', path.join(work, 'site'), path.join(work, 'out'), '--content', 'all'], { stdio: 'pipe', env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1' } });
  const folder = path.join(work, 'out'), keys = loadFolder(S, folder).whole.list;
  const typos = { one: [], two: [] };
  for (let at = 3; at < keys.size() && typos.two.length < 12; at += 401) {
    const key = keys.keyAt(at);
    if (key.length < 8 || !/^[a-z]+$/.test(key)) continue;
    typos.one.push(key[1] + key[0] + key.slice(2), key.slice(1), key.slice(0, 4) + key.slice(5), key[1] + key);
    typos.two.push(key[1] + key[0] + key.slice(2, 5) + key[6] + key[5] + key.slice(7));
  }
  manyWords = { folder, typos };
  return manyWords;
}

test('a typo reads the near pieces of words two edits away only when none is one edit away', () => {
  const { folder, typos } = manyWordsSite(), probe = loadFolder(S, folder), nearNames = new Set(probe.list.near.map((p) => p[1]));
  const read = { one: [0, 0], two: [0, 0] };
  let seen = 0;
  for (const [kind, list] of Object.entries(typos)) {
    for (const q of list) {
      const whole = probe.whole.search(q), answers = [];
      if (!whole.terms[0].suggestions.length) continue;
      const distance = S.editDistance(q, whole.terms[0].suggestions[0], 3);
      if ((kind === 'one') !== (distance === 1)) continue;
      seen++;
      // This page, and one that reads every near piece of both letters and lengths first.
      [false, true].forEach((wide, i) => {
        const fresh = loadFolder(S, folder);
        if (wide) fresh.list.nearClose = (word, chosen) => chosen;
        let last = null;
        S.searchInPieces(fresh.inPieces, q, (result) => { last = { docs: result.docs.slice(), terms: result.terms }; }, () => true);
        answers.push(last);
        read[kind][i] += fresh.fetched.filter((name) => nearNames.has(name)).length;
      });
      assert.deepEqual(answers[0].docs, whole.docs, q);
      assert.deepEqual(answers[0].terms[0].suggestions, answers[1].terms[0].suggestions, q);
    }
  }
  assert.ok(seen >= 8 && typos.two.length >= 4, `${seen} typos`);
  assert.ok(read.one[0] < read.one[1], `one edit: ${read.one}`);
  assert.equal(read.two[0], read.two[1], `two edits: ${read.two}`);
});

// A top names the near pieces in lists, each by its first piece's first word: a typo
// reads only the lists its first two letters and lengths fall in, and then the very near
// pieces, and answer, of a page that has them all. A list out of order or unlike the
// first word the top gives it loses no answer: the vocabulary gives it.
test('a typo reads only the lists of near pieces its letters and lengths fall in', () => {
  const { folder, typos } = manyWordsSite(), probe = loadFolder(S, folder), near = probe.list.near;
  const size = 3, lists = [];
  for (let i = 0; i < near.length; i += size) lists.push(near.slice(i, i + size).map((p) => [p[0], p[1]]));
  assert.ok(lists.length >= 6, `${lists.length} lists`);
  const listName = (l) => 'l' + String(l).padStart(12, 'a').replace(/[^a-z2-7]/g, (c) => 'abcdefghij'[c]) + '.js';
  const top = { ...probe.head, nearLists: lists.map((list, l) => [list[0][0], listName(l)]) };
  delete top.near;
  const nearNames = new Set(near.map((p) => p[1])), listNames = new Set(lists.map((list, l) => listName(l)));
  const over = (damage) => {
    const fetched = [];
    const fetch = (name, done) => {
      fetched.push(name);
      const l = [...listNames].indexOf(name);
      if (l < 0) probe.fetch(name, done); else done(damage(l, lists[l].map((e) => e.slice())));
    };
    return { searcher: probe.over(top, fetch), fetched };
  };
  let fewer = 0, seen = 0;
  for (const q of [...typos.one.slice(0, 12), ...typos.two.slice(0, 4)]) {
    const whole = probe.whole.search(q);
    if (!whole.terms[0].suggestions.length) continue;
    seen++;
    const withHead = probe.fresh(), headRead = probe.fetched.length;
    const headAnswer = searchAll(S, withHead, q).pop().docs;
    const nearOfHead = probe.fetched.slice(headRead).filter((name) => nearNames.has(name)).sort();
    const topped = over((l, list) => list), answer = searchAll(S, topped.searcher, q).pop().docs;
    assert.deepEqual(answer, whole.docs, q);
    assert.deepEqual(headAnswer, whole.docs, q);
    assert.deepEqual(topped.fetched.filter((name) => nearNames.has(name)).sort(), nearOfHead, q);
    if (topped.fetched.filter((name) => listNames.has(name)).length < lists.length) fewer++;
    if (seen > 3) continue;
    for (const damage of [(l, list) => list.reverse(), (l, list) => (l > 0 ? list.slice(1) : list.concat([['~', list[0][1]]])), () => null]) {
      const damaged = over(damage);
      assert.deepEqual(searchAll(S, damaged.searcher, q).pop().docs, whole.docs, q);
    }
  }
  assert.ok(seen >= 6 && fewer === seen, `${fewer} of ${seen} typos read fewer lists than all`);
});

// A part that stands inside words reads the vocabulary pieces that the in-word pieces of
// its runs name, before its first results, and its first answer is whole; an index
// without in-word pieces (an older version's), or whose in-word pieces fail to load or
// name pieces that do not exist, answers the same once the vocabulary came.
test('in-word parts read the vocabulary pieces their runs name and answer as the whole index', () => {
  const probe = loadFolder(S, out), keys = probe.whole.list, parts = ['omin', 'ationx', 'alomi', 'torq', 'enqua'];
  for (let at = 7; at < keys.size() && parts.length < 16; at += 97) {
    const key = keys.keyAt(at);
    if (key.length >= 8) parts.push(key.slice(2, 7), key.slice(1, 4) + key.slice(5, 7));
  }
  const broken = (fresh, data) => {
    const fetch = fresh.list.fetch;
    fresh.list.fetch = (name, done) => fresh.list.inWordNames.includes(name) ? done(data) : fetch(name, done);
    return fresh;
  };
  let fewer = 0;
  for (const q of parts) {
    const whole = probe.whole.search(q).docs;
    const fresh = loadFolder(S, out), vocabulary = new Set(fresh.list.vocabularyPieces.map((v) => v[0]));
    const shown = searchAll(S, fresh.inPieces, q);
    assert.equal(shown.length, 1, q);
    assert.ok(shown[0].complete && !fresh.list.vocabulary, q);
    assert.deepEqual(shown[0].docs, whole, q);
    const named = fresh.list.inWordParts(q);
    assert.ok(Array.isArray(named), q);
    const read = fresh.fetched.filter((name) => vocabulary.has(name));
    assert.deepEqual(read.sort(), [...named].map((p) => fresh.list.vocabularyPieces[p][0]).sort(), q);
    if (read.length < vocabulary.size) fewer++;
    for (const other of [withoutInWord(loadFolder(S, out)), broken(loadFolder(S, out), null),
      broken(loadFolder(S, out), { runs: [[1, -1, 1e9, 'x']], many: 'x' })]) {
      const answers = searchAll(S, other.inPieces, q);
      assert.deepEqual(answers[answers.length - 1].docs, whole, q);
    }
  }
  assert.ok(fewer >= 8, `${fewer} of ${parts.length} parts read fewer vocabulary pieces than all`);
  // A word that matches by itself shows its first results without them: the words that
  // hold it inside come after, from the pieces named, not the whole vocabulary.
  let after = 0;
  for (let at = 3; at < keys.size() && after < 3; at += 53) {
    const q = keys.keyAt(at), fresh = loadFolder(S, out), vocabulary = new Set(fresh.list.vocabularyPieces.map((v) => v[0])), shown = [];
    S.searchInPieces(fresh.inPieces, q, (result, complete) => {
      shown.push({ docs: result.docs.slice(), complete, read: fresh.fetched.filter((name) => vocabulary.has(name)).length });
    }, () => true);
    assert.equal(shown[0].read, 0, q);
    assert.ok(shown[shown.length - 1].complete && !fresh.list.vocabulary, q);
    assert.deepEqual(shown[shown.length - 1].docs, probe.whole.search(q).docs, q);
    if (shown.length === 2 && shown[1].read > 0) after++;
  }
  assert.ok(after >= 1, `${after} words found the words that hold them after their first results`);
});

// A large site's pages file names a top beside the head: a page that knows no top reads
// the head, the very file a small site's job writes; this page reads the top, which
// answers as the head does, the names of the document pieces coming in lists for the
// documents shown and the near pieces' words in lists for a word that matches nothing.
// A list that fails loses no answer: its documents show without titles, a typo is
// answered from the vocabulary.
test('a top answers as its head and loads its lists only when needed', () => {
  const pagesOf = (dir) => { const box = {}; vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_pages.js'), 'utf8'), box); return box.pages; };
  const small = pagesOf(out), big = pagesOf(large);
  assert.equal(small.top, undefined);
  assert.equal(big.words, small.words);
  const topped = loadFolder(S, large), nearLists = topped.list.nearLists.map((l) => l[1]);
  const lists = new Set([...topped.head.docLists, ...nearLists, ...topped.list.listNames]);
  assert.ok(topped.head.docs === undefined && topped.head.near === undefined && lists.size >= 2);
  assert.deepEqual(topped.companion.titles, site.companion.titles);
  const keys = site.whole.list, word = keys.keyAt(keys.size() >> 1);
  const typos = ['kalomj', `${word} kalomiz`], nearNames = new Set(site.head.near.map((p) => p[1]));
  assert.ok(topped.head.shards === undefined && topped.head.shardLists.length >= 2, `${topped.head.shardLists.length} lists of shards`);
  for (const q of [word, 'ka', 'k', 'kalo', 'stoven', 'venqua stoven', 'omin', 'ationx', 'gr\u00f6\u00dfe', '\u540d\u524d\u89e3\u6c7a', 'p123', 'p12', 'html', ...typos]) {
    const fresh = loadFolder(S, large), shown = searchAll(S, fresh.inPieces, q);
    assert.deepEqual(shown[shown.length - 1].docs, site.whole.search(q).docs, q);
    fresh.inPieces.documents.ensure(shown[0].docs.slice(0, 20), () => {});
    const read = fresh.fetched.filter((name) => lists.has(name));
    const nearRead = fresh.fetched.some((name) => nearNames.has(name));
    assert.equal(read.some((name) => nearLists.includes(name)), nearRead, q);
    if (typos.includes(q)) assert.ok(nearRead, q);
    assert.ok(read.some((name) => topped.head.docLists.includes(name)) === shown[0].docs.length > 0, q);
  }
  const failed = new Set([...topped.head.docLists, ...nearLists]);
  const failing = (name, done) => done(failed.has(name) ? null : readStored(large, name));
  const stored = S.storeSearcher(topped.head, null, big.base, failing), typo = word.slice(0, -1) + 'q';
  assert.ok(site.whole.search(typo).docs.length > 0);
  assert.deepEqual(searchAll(S, stored.searcher, typo).pop().docs, site.whole.search(typo).docs);
  let came = false;
  stored.searcher.documents.ensure([0, 1], () => { came = true; });
  assert.ok(came);
  assert.deepEqual(stored.companion.titles.slice(0, 2), [null, null]);
});

// search.html asks, before search.js runs, for the pieces of the address's query as
// its head or top comes (with a top, the lists of shards first): those search.js's own
// prefetch asks for and no more than its first search reads (the shards of a prefix's
// range, or the vocabulary pieces of a long one), none for a query it cannot cut
// alone, and no name that a damaged top gives it; on a site of few groups of link
// shares, every group beside them. Its script runs here over a document
// that loads each script it adds in turn.
test('search.html asks for the pieces of the address query that search.js reads first', () => {
  const inline = /<script>([^]*?)<\/script>/.exec(fs.readFileSync(path.join(jsDir, 'search.html'), 'utf8'))[1];
  // loaderFirst: search.js has run (its loader's receivers set) before the head comes.
  // beside: the scripts asked for before the head ran (beside it) go there. pagesDamage: what
  // indexed_pages.js gives, changed.
  function early(dir, q, damage = (name, data) => data, loaderFirst = false, beside = [], pagesDamage = (pages) => pages) {
    const added = [], doc = { head: { appendChild: (s) => added.push(s) }, currentScript: null };
    doc.createElement = () => ({ attrs: {}, setAttribute(k, v) { this.attrs[k] = v; }, getAttribute(k) { return this.attrs[k]; } });
    const win = { document: doc, location: { search: '?q=' + encodeURIComponent(q) } };
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_pages.js'), 'utf8'), win);
    win.pages = pagesDamage(win.pages);
    vm.runInNewContext(inline, { window: win, document: doc, URLSearchParams });
    if (loaderFirst) new S.IndexLoader(win, () => {}, () => {});
    for (const script of added) {
      const name = script.src.replace(/^indexed_text\//, '');
      assert.match(name, /^[a-z2-7]{13}\.js$/);
      if (script.attrs['data-piece'] === 'head') beside.push(...added.filter((s) => s !== script).map((s) => s.src.replace(/^indexed_text\//, '')));
      doc.currentScript = script;
      // The piece calls its own receiver, which must be the page's by then.
      const receivers = {};
      for (const receiver of RECEIVERS) receivers[receiver] = (data) => { assert.equal(typeof win[receiver], 'function', receiver); win[receiver](damage(name, data)); };
      vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8'), receivers);
      script.onload();
    }
    return added.map((script) => script.src.replace(/^indexed_text\//, ''));
  }
  const keys = site.whole.list, n = keys.size(), words = [keys.keyAt(n >> 3), keys.keyAt(n >> 1), keys.keyAt(n - 1)];
  let ranges = 0;
  for (const dir of [out, large]) {
    const first = early(dir, '').length;
    for (const q of [words[0], words.join(' ').toUpperCase(), 'Kalomi STOVEN', 'k', 'ka', 'kalo', `${words[1]}-${words[2]}.x`, 'aaa', 'zzzz', 'gr\u00f6\u00dfe kalomi', '', '\u540d\u524d']) {
      const fresh = loadFolder(S, dir), list = fresh.list, head = fresh.fetched.length;
      S.prefetch(list, q);
      const prefetched = fresh.fetched.slice(head).filter((name) => list.names.includes(name) || (list.listNames || []).includes(name));
      // What the search reads before its first results (the pieces come at once here).
      const searcher = fresh.fresh(), from = fresh.fetched.length;
      let read = null;
      S.searchInPieces(searcher, q, () => { read ??= new Set(fresh.fetched.slice(from)); }, () => read === null);
      const all = early(dir, q).slice(first);
      assert.equal(all.length, new Set(all).size, q);
      assert.deepEqual(early(dir, q, undefined, true).slice(first), all, `${dir} ${q}: search.js first`);
      // The link shares of a site of few groups come with the shards of any query, and
      // those of the pages it finds are read before its first results.
      const links = q.trim() && Array.isArray(fresh.head.links) && fresh.head.links.length <= 4 ? fresh.head.links : [];
      const asked = all.filter((name) => !links.includes(name));
      assert.deepEqual(all.filter((name) => links.includes(name)).sort(), [...links].sort(), q);
      if (searchAll(S, fresh.fresh(), q)[0]?.docs.length) assert.ok(links.every((name) => read.has(name)), q);
      // A query with letters beyond ASCII is left to search.js.
      if (!/^[\x00-\x7f]*$/.test(q)) { assert.deepEqual(asked, [], q); continue; }
      assert.deepEqual(prefetched.filter((name) => !asked.includes(name)), [], `${dir} ${q}: not asked`);
      assert.deepEqual(asked.filter((name) => !prefetched.includes(name) && !read.has(name)), [], `${dir} ${q}: never read`);
      ranges += asked.length > prefetched.length;
    }
  }
  assert.ok(ranges >= 2, `${ranges} queries whose ranges were asked for`);
  assert.ok(site.head.links.length >= 1);
  // A head that names many groups of link shares, or names no pieces, has none asked for.
  const bare = early(out, '').length;
  for (const links of [Array(5).fill(site.head.links[0]), ['../../x.js'], 'x'.repeat(4)]) {
    const asked = early(out, 'kalomi', (name, data) => data && data.links ? { ...data, links } : data).slice(bare);
    assert.ok(asked.length >= 1 && !asked.some((name) => site.head.links.includes(name) || !/^[a-z2-7]{13}\.js$/.test(name)), String(links));
  }
  // With a top, the list of shards of each key is asked for beside it, from the lists
  // indexed_pages.js names (the top's own).
  const first = early(large, '').length, topLinks = loadFolder(S, large).head.links, topLists = loadFolder(S, large).list.listNames;
  const q = `${words[0]} ${words[1]}`, beside = [], asked = early(large, q, undefined, false, beside).slice(first);
  const besideLists = beside.filter((name) => topLists.includes(name));
  assert.ok(besideLists.length >= 1 && besideLists.every((name) => asked.includes(name)), `${besideLists.length} lists beside the top`);
  // Lists in indexed_pages.js that name no pieces, hold no entries or are not the top's
  // cost at most a piece a key, never a piece that is no list: the rest is asked for as
  // without them.
  for (const damage of [(lists) => lists.map(([key, , shards]) => [key, '../../x.js', shards]), () => [7, 'x', null], () => ({ length: 1e9 }),
    (lists) => lists.map(([key, name, shards], l) => [key, lists[(l + 1) % lists.length][1], shards]), () => undefined]) {
    const damaged = early(large, q, undefined, false, [], (pages) => ({ ...pages, lists: damage(pages.lists) })).slice(first);
    assert.ok(damaged.length - asked.length <= 2 && damaged.every((name) => asked.includes(name) || topLists.includes(name)), String(damage));
    assert.deepEqual(asked.filter((name) => !damaged.includes(name)), [], String(damage));
  }
  // A top whose lists name no pieces, or hold no entries, asks for nothing more than
  // its link shares and the lists indexed_pages.js names for the query's keys.
  for (const damage of [(lists) => lists.map(([key, , shards]) => [key, '../../x.js', shards]), () => [7, 'x', null], () => ({ length: 1e9 })]) {
    const asked = early(large, 'kalomi stoven', (name, data) => data && data.shardLists ? { ...data, shardLists: damage(data.shardLists) } : data);
    const more = asked.slice(first).filter((name) => !topLinks.includes(name));
    assert.ok(more.length <= 2 && more.every((name) => topLists.includes(name)), String(damage));
  }
});

const RECEIVERS = ['vantrelWordsHead', 'vantrelRanks', 'vantrelWords', 'vantrelKeys', 'vantrelNear', 'vantrelGrams', 'vantrelInWord', 'vantrelLinks', 'vantrelDocs', 'vantrelNames'];

function readStored(dir, name) {
  const piece = {};
  for (const receiver of RECEIVERS) piece[receiver] = (data) => { piece.data = data; };
  vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8'), piece);
  return piece.data;
}
