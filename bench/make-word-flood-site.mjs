// Two sites of the same size for the page texts' cost per keystroke:
//   node bench/make-word-flood-site.mjs DIR
// DIR/flood: four pages of 290,000 distinct words that "qconfig" begins (QCONFIG0,
// QCONFIGA1, ...), the hostile case; DIR/normal: four pages of the same bytes in words of
// an ordinary vocabulary, a few of which "qconfig" begins. Each page's title holds
// "qconfig", so both show the four pages for it. Index both with vantrelindexer-cli and
// time the keys with bench/search-page-bench.mjs INDEX_DIR QUERY_FILE (query: qconfig).
import fs from 'node:fs';
import path from 'node:path';

const [dir] = process.argv.slice(2);
if (!dir) {
  console.error('usage: node bench/make-word-flood-site.mjs DIR');
  process.exit(2);
}
const WORDS = 290000, PAGES = 4;
function page(n, words) {
  return `<html><head><title>qconfig page ${n}</title></head><body><h1>Options</h1><p>${words.join(' ')}</p></body></html>\n`;
}
const vocabulary = ['option', 'value', 'setting', 'build', 'module', 'qconfigure', 'qconfig', 'platform',
  'compiler', 'feature', 'library', 'default', 'target', 'install', 'path', 'header'];
for (const kind of ['flood', 'normal']) {
  fs.mkdirSync(path.join(dir, kind), { recursive: true });
  for (let n = 0; n < PAGES; n++) {
    const flood = Array.from({ length: WORDS }, (_, i) => 'qconfig' + (i * PAGES + n).toString(36));
    let words = flood;
    if (kind === 'normal') {
      // The same bytes in ordinary words.
      const size = flood.join(' ').length;
      words = [];
      for (let length = 0, i = 0; length < size; i++) {
        const word = vocabulary[(i * 7 + n) % vocabulary.length] + (i % 50 === 0 ? String(i % 997) : '');
        words.push(word);
        length += word.length + 1;
      }
    }
    fs.writeFileSync(path.join(dir, kind, `p${n}.html`), page(n, words));
  }
}
