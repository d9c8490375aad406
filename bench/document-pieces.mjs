// What a results screen would read of the documents in pieces: for each query, the
// complete answer of the whole-index page, its first SCREEN results, and the pieces of
// documents they stand in, with pieces of the size the index has and of twice that.
// The bytes of a piece of twice the size are the sums of the entries of its two halves.
//   node bench/document-pieces.mjs INDEX_DIR QUERY_FILE...
// INDEX_DIR: the output of vantrelindexer-cli with companion data; QUERY_FILE: one query
// a line, a tab and anything after it ignored, "#" lines skipped. Prints a Markdown row:
// queries, pieces and KB a screen reads, medians and largest, for both sizes.
import fs from 'node:fs';
import path from 'node:path';
import vm from 'node:vm';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import { loadFolder } from '../tests/web/index-folder.mjs';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(root, 'build/bin/js'));
const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));
const SCREEN = 20;
const [dir, ...queryFiles] = process.argv.slice(2);
if (!dir || queryFiles.length === 0) {
  console.error('usage: node bench/document-pieces.mjs INDEX_DIR QUERY_FILE...');
  process.exit(2);
}
const queries = queryFiles.flatMap((f) => fs.readFileSync(f, 'utf8').split('\n'))
  .filter((line) => line.trim() && !line.startsWith('#')).map((line) => line.split('\t')[0]);

const site = loadFolder(S, dir);
const pages = fs.readFileSync(path.join(dir, 'indexed_pages.js'), 'utf8');
const headName = /"words":"([a-z2-7]{13}\.js)"/.exec(pages)[1];
const box = {};
box.vantrelWordsHead = (data) => { box.head = data; };
vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_text', headName), 'utf8'), box);
const { docGroup, docs } = box.head;
// The bytes of each document's entry, from the pieces as written (one entry a line).
const entryBytes = [];
for (const name of docs) {
  const lines = fs.readFileSync(path.join(dir, 'indexed_text', name), 'utf8').split('\n').slice(1, -1);
  for (const line of lines) entryBytes.push(Buffer.byteLength(line) + 1);
}
const pieceBytes = (group) => {
  const sums = [];
  entryBytes.forEach((b, d) => { sums[Math.floor(d / group)] = (sums[Math.floor(d / group)] || 0) + b; });
  return sums;
};
const sizes = [docGroup, 2 * docGroup].map((group) => ({ group, bytes: pieceBytes(group), pieces: [], kb: [] }));
for (const q of queries) {
  const screen = site.whole.search(q).docs.slice(0, SCREEN);
  for (const size of sizes) {
    const read = new Set(screen.map((d) => Math.floor(d / size.group)));
    size.pieces.push(read.size);
    size.kb.push([...read].reduce((sum, p) => sum + size.bytes[p], 0) / 1024);
  }
}
const median = (a) => a.slice().sort((x, y) => x - y)[Math.floor(a.length / 2)];
const cells = sizes.flatMap((s) => [`${s.group}: ${median(s.pieces)} / ${Math.max(...s.pieces)}`,
  `${median(s.kb).toFixed(0)} KB / ${Math.max(...s.kb).toFixed(0)} KB`]);
console.log(`| ${path.basename(dir)} | ${site.docs.length} | ${queries.length} | ${cells.join(' | ')} | ${docs.length} |`);
