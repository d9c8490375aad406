// The browser's own part of the first results: what a fresh page costs before any index
// file, and what each round of loads adds, timed as bench/search-page-bench.mjs times
// its first results (performance.now() in the frame after, from the navigation's start).
//   node bench/first-results-floor.mjs INDEX_DIR QUERY_FILE [--before BEFORE_DIR]
// Opens, interleaved load by load (the two pages each first every other round), each in
// a new browser context from disk:
//   blank  a page with one small script that notes the time in its next frame;
//   head   the same page loading indexed_pages.js, then the head (or top) it names;
//   page   INDEX_DIR's search.html?q=QUERY to its first results (and BEFORE_DIR's).
// Prints the medians of RUNS (default 5) loads a query, and the share of the page's
// first results that the blank page and the head take.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const args = process.argv.slice(2);
const beforeAt = args.indexOf('--before');
const beforeDir = beforeAt >= 0 ? args.splice(beforeAt, 2)[1] : null;
const [indexDir, queryFile] = args;
if (!indexDir || !queryFile) {
  console.error('usage: node bench/first-results-floor.mjs INDEX_DIR QUERY_FILE [--before BEFORE_DIR]');
  process.exit(2);
}
const runs = Number(process.env.RUNS || 5);
const queries = fs.readFileSync(queryFile, 'utf8').split('\n').filter(Boolean);
const { chromium } = await import(pathToFileURL(path.join(root, 'tests/web/node_modules/playwright-core/index.mjs')).href);

// The two bare pages stand beside the index, so that the head loads as the page's does.
const floorDir = fs.mkdtempSync(path.join(path.resolve(indexDir), '.floor-'));
const up = '../';
fs.writeFileSync(path.join(floorDir, 'blank.js'), 'requestAnimationFrame(function () { window.__first = performance.now(); });');
fs.writeFileSync(path.join(floorDir, 'blank.html'), '<!doctype html><meta charset="utf-8"><title>blank</title><p>blank<script src="blank.js"></script>');
fs.writeFileSync(path.join(floorDir, 'head.html'), `<!doctype html><meta charset="utf-8"><title>head</title><p>head
<script src="${up}indexed_pages.js"></script><script>
window.vantrelWordsHead = function () {};
var s = document.createElement('script');
s.src = '${up}indexed_text/' + (pages.top || pages.words);
s.onload = s.onerror = function () { requestAnimationFrame(function () { window.__first = performance.now(); }); };
document.head.appendChild(s);
</script>`);

// Installed before the search page's scripts: the frame that paints its first results.
function probe() {
  document.addEventListener('DOMContentLoaded', () => {
    const results = document.getElementById('results');
    if (!results) return;
    const seen = () => requestAnimationFrame(() => { if (!window.__first) window.__first = performance.now(); });
    if (results.dataset.query !== undefined) seen();
    new MutationObserver(seen).observe(results, { attributes: true, attributeFilter: ['data-query'] });
  });
}

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run'],
});
async function load(url) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 720 } });
  const page = await context.newPage();
  await page.addInitScript(probe);
  await page.goto(url, { waitUntil: 'commit', timeout: 60000 });
  await page.waitForFunction(() => window.__first > 0, null, { timeout: 60000 });
  const t = await page.evaluate(() => window.__first);
  await context.close();
  return t;
}
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor((s.length - 1) / 2)]; };
const href = (dir, file) => pathToFileURL(path.join(path.resolve(dir), file)).href;

const kinds = { blank: href(floorDir, 'blank.html'), head: href(floorDir, 'head.html') };
const times = { blank: [], head: [] };
const rows = [];
try {
  for (const q of queries) {
    const page = [], before = [];
    for (let r = 0; r < runs; r++) {
      times.blank.push(await load(kinds.blank));
      times.head.push(await load(kinds.head));
      // The two pages in turn, each first every other round.
      const ours = () => load(href(indexDir, 'search.html') + '?q=' + encodeURIComponent(q)).then((t) => page.push(t));
      const theirs = () => load(href(beforeDir, 'search.html') + '?q=' + encodeURIComponent(q)).then((t) => before.push(t));
      if (!beforeDir) await ours();
      else if (r % 2 === 0) { await ours(); await theirs(); } else { await theirs(); await ours(); }
    }
    rows.push([q, median(page), beforeDir ? median(before) : NaN]);
  }
} finally {
  await browser.close();
  fs.rmSync(floorDir, { recursive: true, force: true });
}
const ms = (x) => (Number.isFinite(x) ? Math.round(x) + ' ms' : '–');
const blank = median(times.blank), head = median(times.head);
console.log(`blank page: ${ms(blank)}; with the head: ${ms(head)} (medians of ${times.blank.length} loads)\n`);
console.log('| query | first results | blank / it | head / it |' + (beforeDir ? ' before | this / before |' : ''));
console.log('|---|---:|---:|---:|' + (beforeDir ? '---:|---:|' : ''));
for (const [q, t, b] of rows) {
  console.log(`| \`${q}\` | ${ms(t)} | ${(blank / t).toFixed(2)} | ${(head / t).toFixed(2)} |` +
    (beforeDir ? ` ${ms(b)} | ${(t / b).toFixed(2)} |` : ''));
}
