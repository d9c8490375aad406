// Speed of the search page in headless Chromium, opened from disk:
//   node bench/search-page-bench.mjs INDEX_DIR [QUERY_FILE]
// INDEX_DIR holds indexed_docs.js, indexed_words.js and the search page (the output of
// vantrelindexer-cli, or of bench/make-synthetic-index.mjs). Queries are taken from the
// index itself: a title word, two title words, a prefix, a part inside a word, a typo
// and the most frequent word; or from QUERY_FILE, one a line (so that two indexes can
// be measured with the same queries). Prints a Markdown table to stdout:
//   - open: from opening search.html?q=... to the first results on screen (median of
//     RUNS fresh loads, default 3), and the part of it that the browser took to load
//     and run the two index files;
//   - keystrokes: each query typed one key at a time, from the key to the updated
//     results on screen (median and slowest key).
// Needs playwright-core in tests/web/node_modules (make web-deps) and /usr/bin/chromium.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const [indexDir, queryFile] = process.argv.slice(2);
if (!indexDir || !fs.existsSync(path.join(indexDir, 'search.html'))) {
  console.error('usage: node bench/search-page-bench.mjs INDEX_DIR [QUERY_FILE] (INDEX_DIR: a folder with search.html and the index files)');
  process.exit(2);
}
const runs = Number(process.env.RUNS || 3);
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
  const bench = (window.__bench = { key: 0, first: 0, keys: [] });
  document.addEventListener('keydown', () => { bench.key = performance.now(); }, true);
  document.addEventListener('DOMContentLoaded', () => {
    new MutationObserver(() => {
      const key = bench.key;
      bench.key = 0;
      // The frame that paints the new results.
      requestAnimationFrame(() => {
        const now = performance.now();
        if (!bench.first) bench.first = now;
        else if (key) bench.keys.push(now - key);
      });
    }).observe(document.getElementById('results'), { attributes: true, attributeFilter: ['data-query'] });
  });
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
const pageUrl = pathToFileURL(path.resolve(indexDir, 'search.html')).href;
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s.length ? s[Math.floor((s.length - 1) / 2)] : NaN; };
const ms = (x) => (Number.isFinite(x) ? Math.round(x).toLocaleString('en-US') : '–');

async function freshPage() {
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.addInitScript(probe);
  return { context, page };
}

const rows = [];
try {
  for (const [kind, q] of queries) {
    const first = [], ready = [];
    let count = '';
    for (let r = 0; r < runs; r++) {
      const { context, page } = await freshPage();
      await page.goto(pageUrl + '?q=' + encodeURIComponent(q));
      await page.waitForFunction(() => window.__bench.first > 0, null, { timeout: 60000 });
      first.push(await page.evaluate(() => window.__bench.first));
      ready.push(await page.evaluate(() => Math.max(...['indexed_docs.js', 'indexed_words.js']
        .map((f) => performance.getEntriesByName('vantrel-loaded-' + f)[0]?.startTime))));
      count = await page.textContent('#count');
      await context.close();
    }
    rows.push({ kind, q, count, first: median(first), ready: median(ready) });
  }

  const { context, page } = await freshPage();
  await page.goto(pageUrl);
  await page.waitForFunction(() => window.__bench.first > 0, null, { timeout: 60000 });
  await page.focus('#q');
  for (const row of rows) {
    await page.fill('#q', '');
    await page.waitForTimeout(50);
    // A long query is pasted but for its last 10 keys.
    const typed = Math.max(0, row.q.length - 10);
    if (typed) {
      await page.fill('#q', row.q.slice(0, typed));
      await page.waitForFunction((q) => document.getElementById('results').dataset.query === q, row.q.slice(0, typed));
    }
    await page.evaluate(() => { window.__bench.keys = []; });
    for (let i = typed; i < row.q.length; i++) {
      await page.keyboard.press(row.q[i] === ' ' ? 'Space' : row.q[i]);
      await page.waitForFunction((n) => window.__bench.keys.length >= n, i - typed + 1, { timeout: 30000 });
    }
    const keys = await page.evaluate(() => window.__bench.keys);
    if (process.env.BENCH_DEBUG) console.error(row.q, keys.map(Math.round).join(" "));
    row.keyMedian = median(keys);
    row.keyMax = Math.max(...keys);
  }
  await context.close();
} finally {
  await browser.close();
}

const all = rows.flatMap((r) => [r.first]);
console.error(`search page bench: ${docs.length} documents, ${index.length} words, ${postings} postings, ` +
  `${os.cpus().length} processors, load ${os.loadavg().map((x) => x.toFixed(2)).join(' ')}`);
console.log(`| query (${docs.length.toLocaleString('en-US')} documents, ${index.length.toLocaleString('en-US')} words) | results | index files loaded ms | open to first results ms | key to results ms, median | slowest key ms |`);
console.log('|---|---|---:|---:|---:|---:|');
for (const r of rows) {
  const q = r.q.length > 40 ? r.q.slice(0, 20) + '\u2026' + r.q.slice(-8) + ` (${r.q.length} letters)` : r.q;
  console.log(`| ${r.kind}: \`${q}\` | ${r.count.replace(/\|/g, '\\|').replace(/\u201c.{40,}\u201d/, '\u201c\u2026\u201d')} | ${ms(r.ready)} | ${ms(r.first)} | ${ms(r.keyMedian)} | ${ms(r.keyMax)} |`);
}
console.log(`| worst | | | ${ms(Math.max(...all))} | ${ms(Math.max(...rows.map((r) => r.keyMedian)))} | ${ms(Math.max(...rows.map((r) => r.keyMax)))} |`);
