// Two versions of the search page over the same index in pieces, in one Node process:
//   node bench/same-answers.mjs INDEX_DIR OTHER_SEARCH_JS [QUERY_FILE...] [--query Q]... [--time]
// Each query, and each keystroke on the way to it (its first 1, 2, ... letters), is
// searched on a page opened fresh (a new searcher over the same head) by INDEX_DIR's
// search.js and by OTHER_SEARCH_JS, the pieces read from disk at once: the first
// results and the complete answer must be the same (every page in order, the count of
// pages holding every word, whether the answer is partial, the suggestions). Prints the
// searches compared and each that differs; exits 1 when one does.
// With --time: the page's own work in CPU time (the pieces parsed beforehand, the two
// versions interleaved, medians of RUNS, default 5), per query: a new query on a page
// opened fresh (its pieces taken in), and its keystrokes on a page that has every piece
// they read, each key's words matched anew (the median key and the slowest).
// With --typed (and --time): the keystrokes as a reader types them instead, on a page
// that has every piece they read: each round matches the query's words anew at its
// first key, and each key keeps the words matched at the keys before it, as the page
// does; each answer read as the page reads it (its first two screens and its counts,
// not the whole order).
// With --best: this version's shards that have a best piece (a common key's best pages)
// come only after the search has run on what else came, as they would after their small
// best piece from disk; a first screen shown from the best pieces must be the first
// pages of the answers that follow, and is left out of the comparison. Prints how many
// first screens the best pieces settled; with --list-settled, each search whose first
// screen they settled, and each that waited for a shard with a best piece without a
// settled first screen (a search of several words reads no best piece).
// QUERY_FILE: one query a line, or the tab-separated query sets of bench/queries (lines
// of comment, beginning with #, left out).
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { createRequire } from 'node:module';

const args = process.argv.slice(2), asked = [];
for (let at; (at = args.indexOf('--query')) >= 0;) asked.push(args.splice(at, 2)[1]);
const timeAt = args.indexOf('--time'), timing = timeAt >= 0;
if (timing) args.splice(timeAt, 1);
const typedAt = args.indexOf('--typed'), asTyped = typedAt >= 0;
if (asTyped) args.splice(typedAt, 1);
const bestAt = args.indexOf('--best'), bestFirst = bestAt >= 0;
if (bestFirst) args.splice(bestAt, 1);
const listAt = args.indexOf('--list-settled'), listSettled = listAt >= 0;
if (listSettled) args.splice(listAt, 1);
const [indexDir, otherJs, ...queryFiles] = args;
if (!indexDir || !otherJs) {
  console.error('usage: node bench/same-answers.mjs INDEX_DIR OTHER_SEARCH_JS [QUERY_FILE...] [--query Q]... [--time]');
  process.exit(2);
}
const queries = [...asked, ...queryFiles.flatMap((f) => fs.readFileSync(f, 'utf8').split('\n').filter((l) => !l.startsWith('#')).map((l) => l.split('\t')[0]).filter(Boolean))];
const runs = Number(process.env.RUNS || 5);
const load = (file) => createRequire(import.meta.url)(path.resolve(file));
const versions = [['this', load(path.join(indexDir, 'search.js'))], ['other', load(otherJs)]];

// Every piece parsed once, shared by both versions (they only read them).
const parsed = new Map();
function readPiece(name) {
  if (!parsed.has(name)) {
    const piece = {};
    for (const call of ['vantrelWords', 'vantrelKeys', 'vantrelNear', 'vantrelGrams', 'vantrelInWord', 'vantrelLinks', 'vantrelWordsHead', 'vantrelDocs', 'vantrelRanks']) {
      piece[call] = (data) => { piece.data = data; };
    }
    vm.runInNewContext(fs.readFileSync(path.join(indexDir, 'indexed_text', name), 'utf8'), piece);
    parsed.set(name, piece.data);
  }
  return parsed.get(name);
}
const box = {};
vm.runInNewContext(fs.readFileSync(path.join(indexDir, 'indexed_pages.js'), 'utf8'), box);
const pages = box.pages;
// The shards whose best pieces come first (--best), and what waits for them.
const later = [];
let deferred = new Set();
const fresh = versions.map(([, S], v) => {
  const head = S.storeHeadData(readPiece(pages.words), pages);
  if (head.state !== 'ok') throw new Error(`${indexDir}: the head of the word index is ${head.state}`);
  if (v === 0 && bestFirst) deferred = new Set(head.head.shards.filter((e) => e.length > 3).map((e) => e[1]));
  const fetch = v === 0 && bestFirst
    ? (name, done) => (deferred.has(name) ? later.push(() => done(readPiece(name))) : done(readPiece(name)))
    : (name, done) => done(readPiece(name));
  return () => S.storeSearcher(head.head, null, pages.base, fetch).searcher;
});

// What a reader sees of each answer searchInPieces shows.
let settled = 0, differ = 0;
function answers(S, searcher, q) {
  const shown = [];
  let screen = null;
  S.searchInPieces(searcher, q, (result, complete) => {
    if (result.firstScreen && shown.length === 0 && !screen) { screen = result.docs.slice(); return null; }
    shown.push(JSON.stringify([complete, result.docs, result.whole, result.partial, result.terms.map((t) => t.suggestions)]));
  }, () => true);
  if (listSettled && !screen && later.length > 0) console.log(`waited, not settled: ${JSON.stringify(q)}`);
  while (later.length > 0) later.shift()();
  if (screen) {
    settled++;
    if (listSettled) console.log(`settled: ${JSON.stringify(q)}`);
    for (const answer of shown) {
      if (JSON.stringify(JSON.parse(answer)[1].slice(0, screen.length)) !== JSON.stringify(screen)) {
        differ++;
        console.error(`a first screen from best pieces differs: ${JSON.stringify(q)}`);
      }
    }
  }
  return shown;
}

// What the page reads of each answer searchInPieces shows: its first two screens and
// its counts.
function screens(S, searcher, q) {
  let read = 0;
  S.searchInPieces(searcher, q, (result) => { read += result.order.slice(0, 40).length + result.whole + result.order.length; }, () => true);
  return read;
}

const typed = (q) => Array.from({ length: q.length }, (_, i) => q.slice(0, i + 1)).filter((k) => k.trim());
let compared = 0;
if (!timing) {
  for (const q of queries) {
    // A page opened fresh for the query, then its keys typed one after another.
    const searchers = fresh.map((make) => make());
    for (const [k, own] of [[q, false], ...typed(q).map((k) => [k, true])]) {
      const [mine, other] = versions.map(([, S], v) => answers(S, own ? searchers[v] : fresh[v](), k));
      compared++;
      if (mine.join('\n') !== other.join('\n')) {
        differ++;
        console.error(`differs: ${JSON.stringify(k)} (of ${JSON.stringify(q)})`);
      }
    }
  }
  console.log(`${compared} searches compared, ${differ} differ (${queries.length} queries and their keystrokes)` +
    (bestFirst ? `; ${settled} first screens settled by best pieces` : ''));
  process.exit(differ ? 1 : 0);
}

// Timing: medians of runs, the versions interleaved, in CPU time (the machine's load
// moves wall times more than the change).
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor((xs.length - 1) / 2)];
const timed = (f) => { const start = process.cpuUsage(); f(); const used = process.cpuUsage(start); return (used.user + used.system) / 1000; };
console.log(`| query | new query on a page opened fresh, this / other ms | its keystrokes once every piece came${asTyped ? ', as typed' : ''}, median, this / other ms | slowest keystroke |`);
console.log('|---|---:|---:|---:|');
for (const q of queries) {
  const times = versions.map(() => ({ fresh: [], key: [], slowest: [] }));
  for (let r = 0; r < runs; r++) {
    versions.forEach(([, S], v) => {
      // Warm: the pieces the query reads come once before it is timed.
      answers(S, fresh[v](), q);
      times[v].fresh.push(timed(() => answers(S, fresh[v](), q)));
      // Its keys typed again on a page that has every piece they read, its words
      // matched anew (as a key that the page has not answered yet).
      const searcher = fresh[v](), keys = typed(q);
      for (const k of keys) answers(S, searcher, k);
      if (asTyped) searcher.termCache.clear();
      const each = keys.map((k) => {
        if (!asTyped) searcher.termCache.clear();
        return timed(() => (asTyped ? screens(S, searcher, k) : answers(S, searcher, k)));
      });
      times[v].key.push(median(each));
      times[v].slowest.push(Math.max(...each));
    });
  }
  const cell = (f) => `${median(times[0][f]).toFixed(1)} / ${median(times[1][f]).toFixed(1)} (${(median(times[0][f]) / median(times[1][f])).toFixed(2)})`;
  console.log(`| \`${q}\` | ${cell('fresh')} | ${cell('key')} | ${cell('slowest')} |`);
}
