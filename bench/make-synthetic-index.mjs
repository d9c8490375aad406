// Writes a large synthetic index for measuring the search page:
//   node bench/make-synthetic-index.mjs OUT_DIR [DOCS] [WORDS] [--hostile]
// DOCS pages (default 20000) and WORDS words (default 300000) whose document counts
// follow a Zipf law, as the words of a real site do, in the exact format of the indexer
// (indexed_docs.js, indexed_words.js), plus the search page from VANTREL_JS_DIR
// (default build/bin/js). Deterministic.
// --hostile makes some of the pages what an attacker could add to a site: a title of
// 50,000 words, a title of the most frequent word 200,000 times, 1,000 pages with one
// long title, 4,000-byte locations, right-to-left overrides, 2,000 words of 2,000
// letters (200 of them the title of one page), 20,000 look-alike words of 60 letters
// and a word listed 100,000 times; and writes OUT_DIR/hostile-queries.txt, queries
// that meet them, for bench/search-page-bench.mjs.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const args = process.argv.slice(2).filter((a) => a !== '--hostile');
const hostile = args.length < process.argv.length - 2;
const [outDir, docArg, wordArg] = args;
if (!outDir) {
  console.error('usage: node bench/make-synthetic-index.mjs OUT_DIR [DOCS] [WORDS] [--hostile]');
  process.exit(2);
}
const docCount = Number(docArg || 20000);
const wordCount = Number(wordArg || 300000);

let seed = 12345;
function random() {
  seed = (Math.imul(seed, 1103515245) + 12345) >>> 0;
  return seed / 4294967296;
}
const pick = (n) => Math.floor(random() * n);

// Pronounceable words, a few in snake_case or with digits, like identifiers in docs.
const syllables = ['AL', 'LOC', 'MAL', 'FREE', 'STR', 'ING', 'VEC', 'TOR', 'MAP', 'SET', 'GET', 'READ', 'WRITE',
  'FILE', 'OPEN', 'CLOSE', 'SOCK', 'ET', 'THREAD', 'MU', 'TEX', 'LOCK', 'SORT', 'FIND', 'LIST', 'HASH', 'TREE',
  'NODE', 'CON', 'FIG', 'PAR', 'SE', 'TIME', 'DATE', 'BUF', 'FER', 'IN', 'PUT', 'OUT', 'ER', 'AN', 'RE', 'DE',
  'PRO', 'CESS', 'SIG', 'NAL', 'MEM', 'CPY', 'PRINT', 'SCAN', 'FORM', 'AT', 'ION', 'ABLE', 'QU', 'EUE', 'STACK'];
function makeWord() {
  let w = '';
  const parts = 1 + pick(4);
  for (let i = 0; i < parts; i++) {
    w += syllables[pick(syllables.length)];
    if (i < parts - 1 && random() < 0.15) w += '_';
  }
  if (random() < 0.1) w += String(pick(100));
  return w;
}
const words = new Set();
while (words.size < wordCount) words.add(makeWord());
const byFrequency = [...words];
const sorted = [...words].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));

const titles = [];
const titledIn = new Map();
for (let d = 0; d < docCount; d++) {
  const n = 1 + pick(5), t = [];
  for (let i = 0; i < n; i++) {
    const w = byFrequency[pick(Math.min(20000, wordCount))];
    t.push(w);
    if (!titledIn.has(w)) titledIn.set(w, new Set());
    titledIn.get(w).add(d);
  }
  titles.push(t.join(' '));
}

// Documents per word: Zipf, capped at every page; pages with the word in their title
// first, as the indexer's weights rank them.
const postings = new Map();
let total = 0;
byFrequency.forEach((word, rank) => {
  const df = Math.max(1, Math.min(docCount, Math.floor(docCount * 8 / (rank + 1) ** 0.85)));
  const chosen = new Set(titledIn.get(word) || []);
  while (chosen.size < df) chosen.add(pick(docCount));
  postings.set(word, [...chosen]);
  total += chosen.size;
});

const locations = titles.map((_, d) => `section${d % 40}/page ${d}.html`);
let hostileQueries = null;
if (hostile) {
  const last = docCount - 1;
  titles[last] = Array.from({ length: 50000 }, (_, i) => 'T' + i.toString(36).toUpperCase()).join(' ');
  titles[last - 1] = (byFrequency[0] + ' ').repeat(200000);
  const same = Array.from({ length: 100 }, () => byFrequency[pick(20000)]).join(' ');
  for (let d = last - 1001; d < last - 1; d++) titles[d] = same;
  for (let d = last - 1101; d < last - 1001; d++) locations[d] = 'deep/'.repeat(800) + `\u202e${d}.html`;
  for (let d = last - 1201; d < last - 1101; d++) titles[d] = '\u202e' + titles[d] + ' \u202e';
  const long = [];
  for (let i = 0; i < 2000; i++) {
    let w = '';
    while (w.length < 2000) w += syllables[pick(syllables.length)];
    long.push(w.slice(0, 2000));
    postings.set(long[i], [last - 1202]);
    sorted.push(long[i]);
    total++;
  }
  titles[last - 1202] = long.slice(0, 200).join(' ');
  // 20,000 look-alike words of 60 letters, for a typo of their common stem.
  const stem = long[1].slice(0, 50);
  for (let i = 0; i < 20000; i++) {
    const w = stem + i.toString(26).toUpperCase().padStart(10, 'Q');
    postings.set(w, [pick(docCount)]);
    sorted.push(w);
    total++;
  }
  sorted.sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));
  const cycled = Array.from({ length: 100000 }, (_, i) => i % docCount);
  postings.set(byFrequency[1], cycled);
  total += cycled.length;
  const typo = long[0].slice(0, 1000) + long[0][1001] + long[0][1000] + long[0].slice(1002);
  const alike = stem.slice(0, 20) + stem[21] + stem[20] + stem.slice(22) + 'QQQQQQQQZZ';
  hostileQueries = [byFrequency[0], byFrequency[1], 'T1', typo, alike, 'ABC DEF GHI JKL MNO PQR STU VWX YZA BCD EFG HIJ'];
}

fs.mkdirSync(outDir, { recursive: true });
if (hostileQueries) {
  fs.writeFileSync(path.join(outDir, 'hostile-queries.txt'), hostileQueries.map((q) => q.toLowerCase()).join('\n') + '\n');
}
const docParts = [];
for (let d = 0; d < docCount; d++) {
  const date = `${String(1 + pick(28)).padStart(2, '0')}-${String(1 + pick(12)).padStart(2, '0')}-${2000 + pick(26)}`;
  docParts.push(`[${d},"${titles[d]}","${locations[d]}","${date}"]`);
}
fs.writeFileSync(path.join(outDir, 'indexed_docs.js'), 'var docs=[' + docParts.join(',') + '];');
const lines = sorted.map((w) => `["${w}",${postings.get(w).join(',')}]`);
fs.writeFileSync(path.join(outDir, 'indexed_words.js'), 'var index=[' + lines.join(',\n') + '\n];');

const jsDir = process.env.VANTREL_JS_DIR || path.join(path.dirname(fileURLToPath(import.meta.url)), '../build/bin/js');
for (const f of ['search.html', 'search.js', 'search_top.html', 'search.css']) {
  fs.copyFileSync(path.join(jsDir, f), path.join(outDir, f));
}
const size = (f) => (fs.statSync(path.join(outDir, f)).size / 1e6).toFixed(1) + ' MB';
console.log(`${docCount} documents, ${wordCount} words, ${total} postings; ` +
  `indexed_docs.js ${size('indexed_docs.js')}, indexed_words.js ${size('indexed_words.js')}`);
