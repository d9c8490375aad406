// Loads indexed_docs.js and indexed_words.js of a destination folder the way a search
// page does (each file run as a script), checks that they define `docs` and `index`
// with consistent numbers, and prints a summary as JSON:
//   {"docs": [[number, title, location, date], ...], "words": {WORD: [documents]}}
// With --count-only the docs and words are replaced by their counts. With --unpaired the
// words file may name documents that the documents file does not hold (a job that could
// replace the words file but not the documents file).
// Exit status 0 when both files are sound, 1 with the reason on stderr otherwise.
'use strict';
const fs = require('fs');
const path = require('path');
const vm = require('vm');

function fail(message) {
  process.stderr.write(`check_index: ${message}\n`);
  process.exit(1);
}

function load(folder, file, name) {
  const bytes = fs.readFileSync(path.join(folder, file));
  if (bytes.length < 2 || bytes[bytes.length - 1] !== 0x3b || bytes[bytes.length - 2] !== 0x5d)
    fail(`${file} does not end with "];" (${bytes.length} bytes)`);
  const context = {};
  try {
    vm.runInNewContext(bytes.toString('utf8'), context, { filename: file });
  } catch (error) {
    fail(`${file} does not run: ${error}`);
  }
  if (!Array.isArray(context[name]))
    fail(`${file} does not define the array ${name}`);
  return context[name];
}

const args = process.argv.slice(2);
const countOnly = args.includes('--count-only');
const unpaired = args.includes('--unpaired');
const folder = args.filter((a) => !a.startsWith('--'))[0];
if (!folder)
  fail('usage: node check_index.js DESTINATION [--count-only]');

const docs = load(folder, 'indexed_docs.js', 'docs');
const index = load(folder, 'indexed_words.js', 'index');

docs.forEach((entry, k) => {
  if (!Array.isArray(entry) || entry.length !== 4 || entry[0] !== k)
    fail(`docs[${k}] is not [${k}, title, location, date]`);
  for (let f = 1; f < 4; ++f)
    if (typeof entry[f] !== 'string')
      fail(`docs[${k}][${f}] is not a string`);
  if (entry[3] !== '' && !/^\d\d-\d\d-\d{4}$/.test(entry[3]))
    fail(`docs[${k}] has the date ${JSON.stringify(entry[3])}`);
});

let previous = null;
const words = {};
index.forEach((entry, i) => {
  if (!Array.isArray(entry) || entry.length < 2 || typeof entry[0] !== 'string')
    fail(`index[${i}] is not [word, documents...]`);
  const word = entry[0];
  if (!/^[A-Z_][A-Z0-9_]*$/.test(word))
    fail(`index[${i}] holds the word ${JSON.stringify(word)}`);
  if (previous !== null && !(previous < word))
    fail(`index[${i}]: ${word} does not come after ${previous}`);
  previous = word;
  const numbers = entry.slice(1);
  const seen = new Set();
  for (const n of numbers) {
    if (!Number.isInteger(n) || n < 0 || (n >= docs.length && !unpaired))
      fail(`${word}: document ${n} is not below docs.length ${docs.length}`);
    if (seen.has(n))
      fail(`${word}: document ${n} listed twice`);
    seen.add(n);
  }
  words[word] = numbers;
});

process.stdout.write(JSON.stringify(countOnly ? { docs: docs.length, words: index.length }
                                              : { docs, words }));
