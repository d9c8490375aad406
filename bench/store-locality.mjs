// Where the words a query reaches lie in a word index cut into shards, measured with the
// page's own search over the whole index (what docs/store.md's layout was chosen by):
//   node bench/store-locality.mjs INDEX_DIR QUERY_FILE [SHARD_BYTES]
// INDEX_DIR: an index written with companion data (indexed_docs.js, indexed_pages.js,
// indexed_terms.js: written with VANTREL_WHOLE_WORD_INDEX=1); QUERY_FILE: one query a line, or bench/queries' tab-separated rows.
// The keys are cut, in key order, into shards of about SHARD_BYTES (default 65536) of
// key and page numbers (5 bytes a page). For each query: the shards holding its exact,
// form and prefix matches (what the first results need) and those holding all its
// matches (in-word and nearest words too), with their bytes; then the means, and what
// carrying the in-word matches' pages in buckets by three-letter part would copy.
// VANTREL_JS_DIR: the folder of search.js (default build/bin/js).
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const S = createRequire(import.meta.url)(path.join(path.resolve(process.env.VANTREL_JS_DIR || path.join(root, 'build/bin/js')), 'search.js'));
const [dir, queryFile, shardBytes] = process.argv.slice(2);
if (!dir || !queryFile) {
  console.error('usage: node bench/store-locality.mjs INDEX_DIR QUERY_FILE [SHARD_BYTES]');
  process.exit(2);
}
const box = {};
vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_docs.js'), 'latin1'), box);
for (const f of ['indexed_pages.js', 'indexed_terms.js']) vm.runInNewContext(fs.readFileSync(path.join(dir, f), 'utf8'), box);
const companion = S.companionData(box.pages, box.docs), words = S.termsData(box.terms, box.docs);
if (words.state !== 'ok') throw new Error(`no word index of every script in ${dir}: ${words.state}`);
const searcher = new S.Searcher(box.docs, null, { terms: words, realTitles: companion.titles });
searcher.useSummaries(S.summaryWords(companion.summaries, box.docs.length, true));

const index = words.words, limit = Number(shardBytes || 65536);
const shardOf = new Int32Array(index.length), sizes = [0];
for (let i = 0; i < index.length; i++) {
  const bytes = index[i][0].length + 2 + 5 * (index[i].length - 1);
  if (sizes[sizes.length - 1] > 0 && sizes[sizes.length - 1] + bytes > limit) sizes.push(0);
  shardOf[i] = sizes.length - 1;
  sizes[sizes.length - 1] += bytes;
}
const queries = fs.readFileSync(queryFile, 'utf8').split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split('\t')[0]);
const kb = (set) => [...set].reduce((n, s) => n + sizes[s], 0) / 1024;
let first = 0, all = 0, firstKb = 0, allKb = 0;
console.log(`| query (${index.length} keys in ${sizes.length} shards of about ${limit} bytes) | shards, first results | KB | shards, all matches | KB |`);
console.log('|---|---:|---:|---:|---:|');
for (const q of queries) {
  searcher.termCache.clear();
  const found = searcher.search(q), near = new Set(), every = new Set();
  for (const term of found.terms) {
    for (const m of term.matches) {
      every.add(shardOf[m.at]);
      if (m.cls <= S.PREFIX) near.add(shardOf[m.at]);
    }
  }
  console.log(`| ${q} | ${near.size} | ${kb(near).toFixed(0)} | ${every.size} | ${kb(every).toFixed(0)} |`);
  first += near.size; all += every.size; firstKb += kb(near); allKb += kb(every);
}
const n = Math.max(1, queries.length);
console.log(`| mean | ${(first / n).toFixed(1)} | ${(firstKb / n).toFixed(0)} | ${(all / n).toFixed(1)} | ${(allKb / n).toFixed(0)} |`);

// Pages copied into in-word buckets: each key under each distinct three-letter part it
// holds after its first letter, its pages inline when there are at most `inline` of them.
let postings = 0;
const copied = { 8: 0, 32: 0, 128: 0, all: 0 };
for (const entry of index) {
  const pages = entry.length - 1, parts = new Set();
  postings += pages;
  for (let i = 1; i + 3 <= entry[0].length; i++) parts.add(entry[0].slice(i, i + 3));
  for (const inline of Object.keys(copied)) copied[inline] += (inline === 'all' || pages <= Number(inline) ? pages : 0) * parts.size;
}
console.log('');
console.log(`In-word buckets would copy, for pages inline up to 8 / 32 / 128 / any: ` +
  Object.values(copied).map((c) => (c / postings).toFixed(2)).join(' / ') + ` times the ${postings} pages of the word index.`);
