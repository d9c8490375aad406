// Writes a large synthetic index for measuring the search page:
//   node bench/make-synthetic-index.mjs OUT_DIR [DOCS] [WORDS]
// DOCS pages (default 20000) and WORDS words (default 300000) whose document counts
// follow a Zipf law, as the words of a real site do, in the exact format of the indexer
// (indexed_docs.js, indexed_words.js), plus the search page from js/. Deterministic.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const [outDir, docArg, wordArg] = process.argv.slice(2);
if (!outDir) {
  console.error('usage: node bench/make-synthetic-index.mjs OUT_DIR [DOCS] [WORDS]');
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

fs.mkdirSync(outDir, { recursive: true });
const docParts = [];
for (let d = 0; d < docCount; d++) {
  const date = `${String(1 + pick(28)).padStart(2, '0')}-${String(1 + pick(12)).padStart(2, '0')}-${2000 + pick(26)}`;
  docParts.push(`[${d},"${titles[d]}","section${d % 40}/page ${d}.html","${date}"]`);
}
fs.writeFileSync(path.join(outDir, 'indexed_docs.js'), 'var docs=[' + docParts.join(',') + '];');
const lines = sorted.map((w) => `["${w}",${postings.get(w).join(',')}]`);
fs.writeFileSync(path.join(outDir, 'indexed_words.js'), 'var index=[' + lines.join(',\n') + '\n];');

const jsDir = path.join(path.dirname(fileURLToPath(import.meta.url)), '../js');
for (const f of ['search.html', 'search.js', 'search_top.html', 'search.css']) {
  fs.copyFileSync(path.join(jsDir, f), path.join(outDir, f));
}
const size = (f) => (fs.statSync(path.join(outDir, f)).size / 1e6).toFixed(1) + ' MB';
console.log(`${docCount} documents, ${wordCount} words, ${total} postings; ` +
  `indexed_docs.js ${size('indexed_docs.js')}, indexed_words.js ${size('indexed_words.js')}`);
