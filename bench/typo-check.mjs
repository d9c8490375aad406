// Misspelt words over the word index in pieces against the same index whole: typos made
// from the site's own keys (a letter dropped, doubled, swapped with the next or
// replaced, at a place drawn at random, the same for every run), each searched on a
// page opened fresh. Prints a Markdown table: typos whose whole-index page suggests
// something, how many of them get other suggestions or results over the pieces (the
// nearest words there share the word's first letter), and the bytes of the pieces read
// before the first results (near pieces, shards, document pieces; median and largest),
// against the whole vocabulary that the page read for them before, how many typos
// still waited for it (a run of theirs stands inside too many words) and how many read
// some vocabulary pieces for the words that may hold them inside.
//   node bench/typo-check.mjs INDEX_DIR... (indexed with VANTREL_WHOLE_WORD_INDEX=1)
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { root } from './eval-sites.mjs';
import { loadFolder } from '../tests/web/index-folder.mjs';

const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(root, 'build/bin/js'));
const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));
const TYPOS = Number(process.env.TYPOS || 300);
const median = (a) => a.slice().sort((x, y) => x - y)[Math.floor(a.length / 2)] || 0;
const kb = (bytes) => (bytes / 1024).toFixed(0) + ' KB';

let seed = 12345;
const next = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return Math.floor(seed / 65536) % n; };
function typoOf(word) {
  const at = next(word.length), letter = 'abcdefghijklmnopqrstuvwxyz'[next(26)];
  switch (next(4)) {
    case 0: return word.slice(0, at) + word.slice(at + 1);
    case 1: return word.slice(0, at) + word[at] + word.slice(at);
    case 2: return at + 1 < word.length ? word.slice(0, at) + word[at + 1] + word[at] + word.slice(at + 2) : word + letter;
    default: return word.slice(0, at) + letter + word.slice(at + 1);
  }
}

console.log('| site | keys | typos with a suggestion | other answer over the pieces | of them: suggestion with another first letter | waited for the whole vocabulary | read vocabulary pieces (in-word) | read before first results, median | largest | whole vocabulary |');
console.log('|---|---|---|---|---|---|---|---|---|---|');
for (const dir of process.argv.slice(2)) {
  const site = loadFolder(S, dir), keys = site.whole.list, size = (f) => fs.statSync(path.join(dir, 'indexed_text', f)).size;
  const vocabulary = site.list.vocabularyPieces.reduce((sum, v) => sum + size(v[0]), 0);
  const vocabularyNames = new Set(site.list.vocabularyPieces.map((v) => v[0]));
  const screenDocs = (docs) => [...new Set(docs.slice(0, 20).map((d) => site.head.docs[Math.floor(d / site.head.docGroup)]))];
  let asked = 0, differ = 0, otherLetter = 0, waited = 0, someVocabulary = 0;
  const read = [];
  for (let tries = 0; asked < TYPOS && tries < 50 * TYPOS; tries++) {
    const key = keys.keyAt(next(keys.size()));
    if (key.length < 5 || !/^[a-z]+$/.test(key)) continue;
    const q = typoOf(key), whole = site.whole.search(q);
    if (!whole.terms[0] || whole.terms[0].suggestions.length === 0) continue;
    asked++;
    site.fetched.length = 0;
    const searcher = site.fresh();
    let first = -1, last = null;
    S.searchInPieces(searcher, q, (result) => {
      if (first < 0) {
        first = [...site.fetched, ...screenDocs(result.docs)].reduce((sum, f) => sum + size(f), 0);
        if (searcher.list.vocabulary) waited++;
        if (site.fetched.some((f) => vocabularyNames.has(f))) someVocabulary++;
      }
      last = result;
    }, () => true);
    read.push(first);
    if (JSON.stringify(last.docs) !== JSON.stringify(whole.docs) ||
        JSON.stringify(last.terms[0].suggestions) !== JSON.stringify(whole.terms[0].suggestions)) {
      differ++;
      if (whole.terms[0].suggestions.some((w) => w[0] !== q[0])) otherLetter++;
      if (process.env.VERBOSE) console.error(`${q}: ${last.terms[0].suggestions} against ${whole.terms[0].suggestions}`);
    }
  }
  console.log(`| ${path.basename(dir)} | ${keys.size()} | ${asked} | ${differ} | ${otherLetter} | ${waited} | ${someVocabulary} | ${kb(median(read))} | ${kb(Math.max(...read))} | ${kb(vocabulary)} |`);
}
