// Speed of the search page in headless Chromium, opened from disk:
//   node bench/search-page-bench.mjs INDEX_DIR [QUERY_FILE] [--plain PLAIN_DIR | --before BEFORE_DIR]
//   node bench/search-page-bench.mjs --site SOURCE_DIR [QUERY_FILE]
// INDEX_DIR holds indexed_docs.js, indexed_words.js (or the companion word index,
// indexed_terms.js, which the page reads instead) and the search page (the output of
// vantrelindexer-cli, or of bench/make-synthetic-index.mjs). Queries are taken from the
// index itself: a title word, two title words, a prefix, a part inside a word, a typo
// and the most frequent word; or from QUERY_FILE, one a line (so that two indexes can
// be measured with the same queries). Prints a Markdown table to stdout:
//   - open: from opening search.html?q=... to the first results on screen (median of
//     RUNS fresh loads, default 3), and the part of it that the browser took to load
//     and run the index files;
//   - keystrokes: each query typed one key at a time, from the key to the updated
//     results on screen (median and slowest key).
// With --plain (PLAIN_DIR: the same site indexed with --plain, without companion data)
// or --site (SOURCE_DIR indexed both ways with VANTREL_CLI, default
// build/bin/vantrelindexer-cli, into a temporary folder, with the search page of
// VANTREL_JS_DIR when given), a second table gives what the
// companion data costs, as ratios measured in the same run:
//   - bytes: the bytes the page loads before its first results, with and without it
//     (the page texts load only after them);
//   - first results: the medians above, with over without;
//   - texts loaded: the page texts loaded for the results screen of the query against
//     the texts of the results on that screen (in the 1280x720 window);
//   - keys with excerpts: each query typed again once the texts of the results of
//     each of its keys are here, from the key to the results and their excerpts made and laid out (the
//     page's own work, timed in the page; beside it the same keys over the plain
//     index), and to the frame that shows them (medians).
// With --loads, a third table tells where the time before the first results went, for
// each query on this version's page (median run): the page and search.js until the
// first index file is asked for, then each kind of file (the head, word shards,
// vocabulary pieces, link shares, document pieces, others) from the moment its script
// is added to the moment it has run (read, parsed and run, from disk), the time its
// scripts were in flight, and the page's own work between them (searching, ranking,
// laying out: the time no index script was in flight).
// With --before (BEFORE_DIR: the same site indexed by an earlier version, with its
// search page), the second table gives the same ratios of this version to that one.
// Needs playwright-core in tests/web/node_modules (make web-deps) and /usr/bin/chromium.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { execFileSync } from 'node:child_process';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { createRequire } from 'node:module';
import { companionOf } from '../tests/web/index-folder.mjs';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const args = process.argv.slice(2), option = (name) => {
  const at = args.indexOf(name);
  return at < 0 ? undefined : args.splice(at, 2)[1];
};
let plainDir = option('--plain'), work = null;
// --before DIR: the same site as written by an earlier version (its index files and
// search page), measured against INDEX_DIR as --plain is.
const beforeDir = option('--before');
const loadsAt = args.indexOf('--loads'), showLoads = loadsAt >= 0;
if (showLoads) args.splice(loadsAt, 1);
const against = beforeDir ? 'before' : 'plain';
if (beforeDir) plainDir = beforeDir;
const site = option('--site');
let [indexDir, queryFile] = args;
if (site) {
  queryFile = indexDir;
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-page-bench-'));
  const cli = process.env.VANTREL_CLI || path.join(root, 'build/bin/vantrelindexer-cli');
  indexDir = path.join(work, 'with');
  plainDir = path.join(work, 'plain');
  execFileSync(cli, ['--quiet', site, indexDir]);
  execFileSync(cli, ['--quiet', '--plain', site, plainDir]);
  // The page under test, when another than the one beside the command line.
  for (const dir of process.env.VANTREL_JS_DIR ? [indexDir, plainDir] : []) {
    for (const f of ['search.html', 'search.js', 'search_top.html', 'search.css']) fs.copyFileSync(path.join(process.env.VANTREL_JS_DIR, f), path.join(dir, f));
  }
}
if (!indexDir || !fs.existsSync(path.join(indexDir, 'search.html')) || (plainDir && !fs.existsSync(path.join(plainDir, 'search.html')))) {
  console.error('usage: node bench/search-page-bench.mjs INDEX_DIR [QUERY_FILE] [--plain PLAIN_DIR] | --site SOURCE_DIR [QUERY_FILE]\n' +
    '(INDEX_DIR, PLAIN_DIR: folders with search.html and the index files)');
  process.exit(2);
}
const runs = Number(process.env.RUNS || 3);
// A page that loads a whole word index of 100,000 pages takes minutes on a loaded machine.
const LOAD_TIMEOUT = 300000;
const { chromium } = await import(pathToFileURL(path.join(root, 'tests/web/node_modules/playwright-core/index.mjs')).href);

// The index, read as the page reads it.
const sandbox = {};
for (const f of ['indexed_docs.js', 'indexed_words.js']) {
  vm.runInNewContext(fs.readFileSync(path.join(indexDir, f), 'latin1').replace(/\0$/, ''), sandbox);
}
const { docs, index } = sandbox;
const postings = index.reduce((n, e) => n + e.length - 1, 0);
const byCount = [...index].sort((a, b) => b.length - a.length);
const isTitleWord = (w) => /^[A-Z][A-Z0-9_]{3,}$/.test(w);

// A word of middling frequency that stands in titles, and a title with two such words.
const words = (t) => t.split(/[^A-Za-z0-9_]+/).filter(isTitleWord);
const titled = docs.filter((d) => words(d[1]).length >= 2 && d[1] !== 'Document has no name');
const sample = titled[Math.floor(titled.length / 2)] || docs[0];
const [w1, w2] = words(sample[1]).length >= 2 ? words(sample[1]) : [byCount[0][0], byCount[1][0]];
const long = byCount.slice(50, 5000).find((e) => e[0].length >= 9 && /^[A-Z]+$/.test(e[0]))?.[0] || w1;
const typo = (w) => w.slice(0, 2) + w[3] + w[2] + w.slice(4);
const queries = queryFile ? fs.readFileSync(queryFile, 'utf8').split('\n').filter(Boolean).map((q, i) => [`query ${i + 1}`, q]) : [
  ['one word', w1.toLowerCase()],
  ['two words', `${w1} ${w2}`.toLowerCase()],
  ['prefix', long.slice(0, 4).toLowerCase()],
  ['inside a word', long.slice(2, 7).toLowerCase()],
  ['typo', typo(long).toLowerCase()],
  ['most frequent word', byCount[0][0].toLowerCase()],
];

// Installed before the page's own scripts: times keys and result renders to the frame
// that paints them.
function probe() {
  const bench = (window.__bench = { key: 0, first: 0, firstWall: 0, keys: [], work: [], scripts: [] });
  // Each script the page adds: its file, when it was added and when it had run.
  const added = new Map();
  new MutationObserver((records) => records.forEach((r) => r.addedNodes.forEach((node) => {
    if (node.nodeName === 'SCRIPT' && node.src && !added.has(node)) added.set(node, bench.scripts.push({ src: node.src, added: performance.now(), ran: 0 }) - 1);
  }))).observe(document, { childList: true, subtree: true });
  document.addEventListener('load', (e) => { if (added.has(e.target)) bench.scripts[added.get(e.target)].ran = performance.now(); }, true);
  document.addEventListener('error', (e) => { if (added.has(e.target)) bench.scripts[added.get(e.target)].ran = performance.now(); }, true);
  document.addEventListener('keydown', () => { bench.key = performance.now(); }, true);
  document.addEventListener('DOMContentLoaded', () => {
    // Results shown before this (an empty query over pieces that came already).
    if (document.getElementById('results').dataset.query !== undefined) {
      requestAnimationFrame(() => { if (!bench.first) { bench.first = performance.now(); bench.firstWall = Date.now(); } });
    }
    new MutationObserver(() => {
      const key = bench.key;
      bench.key = 0;
      // The page's own work: the results and their excerpts made and laid out.
      if (key && bench.first) {
        void document.body.offsetHeight;
        bench.work.push(performance.now() - key);
      }
      // The frame that paints the new results.
      requestAnimationFrame(() => {
        const now = performance.now();
        if (!bench.first) { bench.first = now; bench.firstWall = Date.now(); }
        else if (key) bench.keys.push(now - key);
      });
    }).observe(document.getElementById('results'), { attributes: true, attributeFilter: ['data-query'] });
  });
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', '--js-flags=--expose-gc'],
});
const pageUrl = pathToFileURL(path.resolve(indexDir, 'search.html')).href;
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s.length ? s[Math.floor((s.length - 1) / 2)] : NaN; };
const ms = (x) => (Number.isFinite(x) ? Math.round(x).toLocaleString('en-US') : '–');

// A page that records the files it asks for (every file but the page texts is asked
// for before the first results).
async function freshPage() {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  const page = await context.newPage();
  await page.addInitScript(probe);
  const files = [];
  files.times = [];          // when each was asked for
  page.on('request', (r) => { if (r.url().startsWith('file:')) { files.push(fileURLToPath(r.url().replace(/[?#].*$/, ''))); files.times.push(Date.now()); } });
  return { context, page, files };
}
const size = (file) => { try { return fs.statSync(file).size; } catch { return 0; } };
// A file of page texts (the store also holds the pieces of the word index).
const isText = (file) => file.split(path.sep).includes('indexed_text') &&
  fs.readFileSync(file, 'utf8').slice(0, 80).includes('vantrelTexts(');

// Opens the search page of dir for q RUNS times: medians of the first results and of the
// index files' loading, the count, and the bytes loaded before the first results; with
// texts, the page texts loaded for the screen over those of the results in view.
async function open(dir, q, texts) {
  const first = [], ready = [], url = pathToFileURL(path.resolve(dir, 'search.html')).href;
  let count = '', bytes = 0, heap = 0;
  const loads = [];
  for (let r = 0; r < runs; r++) {
    const { context, page, files } = await freshPage();
    await page.goto(url + '?q=' + encodeURIComponent(q), { waitUntil: 'commit', timeout: LOAD_TIMEOUT });
    await page.waitForFunction(() => window.__bench.first > 0, null, { timeout: LOAD_TIMEOUT });
    first.push(await page.evaluate(() => window.__bench.first));
    ready.push(await page.evaluate(() => Math.max(...['indexed_docs.js', 'indexed_words.js', 'indexed_terms.js', 'store']
      .map((f) => performance.getEntriesByName('vantrel-loaded-' + f)[0]?.startTime).filter((t) => t !== undefined))));
    count = await page.textContent('#count');
    if (showLoads) loads.push(await page.evaluate(() => ({ first: window.__bench.first, scripts: window.__bench.scripts })));
    const firstWall = await page.evaluate(() => window.__bench.firstWall);
    bytes = files.filter((f, i) => files.times[i] <= firstWall && !isText(f)).reduce((n, f) => n + size(f), 0);
    // The page's heap once what the query asked for has come (the vocabulary too).
    await page.waitForTimeout(1500);
    heap = await page.evaluate(() => { window.gc(); return performance.memory.usedJSHeapSize; });
    if (texts && r === runs - 1) {
      await textsSettled(page);
      // The result cells carry the document's number (their list items do not).
      const inView = await page.$$eval('#results [data-doc]', (cells) => cells.filter((cell) => {
        const box = cell.getBoundingClientRect();
        return box.bottom > 0 && box.top < innerHeight;
      }).map((cell) => Number(cell.getAttribute('data-doc'))));
      const own = inView.reduce((n, d) => n + textBytes(dir, d), 0);
      texts = own > 0 ? [...new Set(files.filter(isText))].reduce((n, f) => n + size(f), 0) / own : NaN;
    }
    await context.close();
  }
  return { count, first: median(first), ready: median(ready), bytes, heap, textRatio: texts, loads: loads.sort((a, b) => a.first - b.first)[Math.floor((loads.length - 1) / 2)] };
}

// The bytes of document d's own text in its file of texts (0 without one).
const textPlaces = new Map();  // folder: [search.js, the text places of its documents]
function textBytes(dir, d) {
  if (!textPlaces.has(dir)) {
    const box = {}, S = createRequire(import.meta.url)(path.resolve(dir, 'search.js'));
    vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_pages.js'), 'utf8'), box);
    vm.runInNewContext(new TextDecoder('windows-1252').decode(fs.readFileSync(path.join(dir, 'indexed_docs.js'))), box);
    textPlaces.set(dir, [S, companionOf(S, dir, box.pages, box.docs).texts]);
  }
  const [S, texts] = textPlaces.get(dir), place = texts ? S.textPlace(texts, d) : null;
  if (!place) return 0;
  const list = {};
  vm.runInNewContext(fs.readFileSync(path.join(dir, place.file), 'utf8'), { vantrelTexts: (l) => { list.l = l; } });
  return Buffer.byteLength(JSON.stringify(list.l[place.at]));
}

// Waits until no page text is loading and none has started for 300 ms.
async function textsSettled(page) {
  let quiet = 0;
  for (let i = 0; i < 200 && quiet < 6; i++) {
    await page.waitForTimeout(50);
    quiet = (await page.evaluate(() => document.querySelectorAll('script[data-texts]').length)) ? 0 : quiet + 1;
  }
}

// Types q into the box one key at a time (a long query pasted but for its last 10
// keys): the times from each key to the results on screen.
async function typeKeys(page, q) {
  await page.fill('#q', '');
  await page.waitForTimeout(50);
  const typed = Math.max(0, q.length - 10);
  if (typed) {
    await page.fill('#q', q.slice(0, typed));
    await page.waitForFunction((want) => document.getElementById('results').dataset.query === want, q.slice(0, typed));
  }
  await page.evaluate(() => { window.__bench.keys = []; window.__bench.work = []; });
  for (let i = typed; i < q.length; i++) {
    // A character that no key gives (kana, Han) comes as an input method commits it.
    if (/^[\x20-\x7e]$/.test(q[i])) await page.keyboard.press(q[i] === ' ' ? 'Space' : q[i]);
    else {
      await page.evaluate((c) => {
        window.__bench.key = performance.now();
        const box = document.getElementById('q');
        box.value += c;
        box.dispatchEvent(new Event('input', { bubbles: true }));
      }, q[i]);
    }
    await page.waitForFunction((n) => window.__bench.keys.length >= n, i - typed + 1, { timeout: 30000 });
  }
  const [keys, work] = await page.evaluate(() => [window.__bench.keys, window.__bench.work]);
  if (process.env.BENCH_DEBUG) console.error(q, keys.map(Math.round).join(' '), '/', work.map(Math.round).join(' '));
  keys.work = work;
  return keys;
}

// The kind of a file the page loaded: a piece by the call it makes, else its name.
const KINDS = [['vantrelWordsHead(', 'head'], ['vantrelWords(', 'shards'], ['vantrelKeys(', 'vocabulary'], ['vantrelLinks(', 'links'], ['vantrelDocs(', 'documents'], ['vantrelRanks(', 'ranking'], ['vantrelTexts(', 'texts'], ['vantrelNames(', 'lists']];
function kindOf(file) {
  if (!file.split(path.sep).includes('indexed_text')) return path.basename(file) === 'search.js' ? 'search.js' : 'index files';
  let start = '';
  try { start = fs.readFileSync(file, 'utf8').slice(0, 120); } catch { return 'others'; }
  return (KINDS.find(([call]) => start.includes(call)) || [, 'others'])[1];
}

// Where the time before the first results went: [{kind, ms, files, bytes}], and the
// page's own work, from the scripts a fresh page added (loads of open()).
function loadShares({ first, scripts }) {
  const before = scripts.filter((s) => s.added < first).map((s) => {
    const file = fileURLToPath(s.src.replace(/[?#].*$/, ''));
    return { ...s, kind: kindOf(file), bytes: size(file), ran: Math.min(s.ran || first, first) };
  });
  // The time covered by the intervals [added, ran) of some scripts.
  const covered = (list) => {
    let total = 0, end = -Infinity;
    for (const s of [...list].sort((a, b) => a.added - b.added)) {
      if (s.ran > end) { total += s.ran - Math.max(s.added, end); end = s.ran; }
    }
    return total;
  };
  const startup = Math.min(first, ...before.filter((s) => s.kind !== 'search.js').map((s) => s.added));
  const shares = [{ kind: 'page and search.js until the first index file is asked for', ms: startup, files: 1, bytes: 0 }];
  for (const kind of [...new Set(before.map((s) => s.kind))].filter((k) => k !== 'search.js')) {
    const list = before.filter((s) => s.kind === kind);
    shares.push({ kind, ms: covered(list), files: list.length, bytes: list.reduce((n, s) => n + s.bytes, 0) });
  }
  const inFlight = covered(before.filter((s) => s.kind !== 'search.js' && s.added >= startup));
  shares.push({ kind: 'page work (no index script in flight)', ms: first - startup - inFlight, files: 0, bytes: 0 });
  return { first, inFlight, shares };
}

const rows = [];
try {
  for (const [kind, q] of queries) {
    rows.push({ kind, q, ...(await open(indexDir, q, !!plainDir)), plain: plainDir ? await open(plainDir, q) : null });
  }

  const { context, page } = await freshPage();
  await page.goto(pageUrl, { waitUntil: 'commit', timeout: LOAD_TIMEOUT });
  await page.waitForFunction(() => window.__bench.first > 0, null, { timeout: LOAD_TIMEOUT });
  await page.focus('#q');
  for (const row of rows) {
    const keys = await typeKeys(page, row.q);
    row.keyMedian = median(keys);
    row.keyMax = Math.max(...keys);
    if (!plainDir) continue;
    // The same query typed again once the texts of every screen on the way are here.
    for (let i = 1; i <= row.q.length; i++) {
      await page.fill('#q', row.q.slice(0, i));
      await textsSettled(page);
    }
    const cached = await typeKeys(page, row.q);
    row.cachedKeys = median(cached);
    row.cachedWork = median(cached.work);
  }
  await context.close();
  if (plainDir) {
    // The same keys over the plain index, in the same run.
    const { context, page } = await freshPage();
    await page.goto(pathToFileURL(path.resolve(plainDir, 'search.html')).href, { waitUntil: 'commit', timeout: LOAD_TIMEOUT });
    await page.waitForFunction(() => window.__bench.first > 0, null, { timeout: LOAD_TIMEOUT });
    await page.focus('#q');
    for (const row of rows) {
      await typeKeys(page, row.q);
      row.plainWork = median((await typeKeys(page, row.q)).work);
    }
    await context.close();
  }
} finally {
  await browser.close();
  if (work) fs.rmSync(work, { recursive: true, force: true });
}

const all = rows.flatMap((r) => [r.first]);
console.error(`search page bench: ${docs.length} documents, ${index.length} words, ${postings} postings, ` +
  `${os.cpus().length} processors, load ${os.loadavg().map((x) => x.toFixed(2)).join(' ')}`);
console.log(`| query (${docs.length.toLocaleString('en-US')} documents, ${index.length.toLocaleString('en-US')} words) | results | index files loaded ms | open to first results ms | key to results ms, median | slowest key ms | KB read before first results | JS heap MB |`);
console.log('|---|---|---:|---:|---:|---:|---:|---:|');
for (const r of rows) {
  const q = r.q.length > 40 ? r.q.slice(0, 20) + '\u2026' + r.q.slice(-8) + ` (${r.q.length} letters)` : r.q;
  console.log(`| ${r.kind}: \`${q}\` | ${r.count.replace(/\|/g, '\\|').replace(/\u201c.{40,}\u201d/, '\u201c\u2026\u201d')} | ${ms(r.ready)} | ${ms(r.first)} | ${ms(r.keyMedian)} | ${ms(r.keyMax)} | ${ms(r.bytes / 1024)} | ${(r.heap / 1048576).toFixed(1)} |`);
}
console.log(`| worst | | | ${ms(Math.max(...all))} | ${ms(Math.max(...rows.map((r) => r.keyMedian)))} | ${ms(Math.max(...rows.map((r) => r.keyMax)))} |`);

if (showLoads) {
  console.log('');
  console.log('| query (this version; median run) | first results ms | where the time went: ms (share of the first results), files, KB |');
  console.log('|---|---:|---|');
  for (const r of rows) {
    const { first, shares } = loadShares(r.loads);
    const cells = shares.map((s) => `${s.kind} ${ms(s.ms)} (${(100 * s.ms / first).toFixed(0)}%)${s.files && s.bytes ? `, ${s.files}, ${ms(s.bytes / 1024)}` : ''}`);
    console.log(`| ${r.kind}: \`${r.q.length > 40 ? r.q.slice(0, 20) + '\u2026' : r.q}\` | ${ms(first)} | ${cells.join('; ')} |`);
  }
}

if (plainDir) {
  const ratio = (x) => (Number.isFinite(x) ? x.toFixed(2) : '–');
  const sum = (f) => rows.reduce((n, r) => n + f(r), 0);
  console.log('');
  console.log(against === 'plain'
    ? '| query (companion data against --plain) | bytes before first results, with / plain | first results, with / plain | texts loaded / texts of the results in view | key to results with excerpts laid out, texts cached, median ms | the same keys, plain index, median ms | key to the frame showing the excerpts, median ms | JS heap, with / plain |'
    : '| query (this version against --before) | bytes before first results, this / before | first results, this / before | texts loaded / texts of the results in view | key to results with excerpts laid out, texts cached, median ms | the same keys, before, median ms | key to the frame showing the excerpts, median ms | JS heap, this / before |');
  console.log('|---|---:|---:|---:|---:|---:|---:|---:|');
  for (const r of rows) {
    console.log(`| ${r.kind}: \`${r.q.length > 40 ? r.q.slice(0, 20) + '\u2026' : r.q}\` | ${ratio(r.bytes / r.plain.bytes)} | ${ratio(r.first / r.plain.first)} | ${ratio(r.textRatio)} | ${ms(r.cachedWork)} | ${ms(r.plainWork)} | ${ms(r.cachedKeys)} | ${ratio(r.heap / r.plain.heap)} |`);
  }
  console.log(`| all (bytes and times summed; worst ratio of texts; worst median) | ${ratio(sum((r) => r.bytes) / sum((r) => r.plain.bytes))} | ` +
    `${ratio(sum((r) => r.first) / sum((r) => r.plain.first))} | ${ratio(Math.max(...rows.map((r) => r.textRatio)))} | ${ms(Math.max(...rows.map((r) => r.cachedWork)))} | ${ms(Math.max(...rows.map((r) => r.plainWork)))} | ${ms(Math.max(...rows.map((r) => r.cachedKeys)))} |`);
}
