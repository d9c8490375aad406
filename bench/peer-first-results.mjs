// The peer's first results in headless Chromium, measured as bench/search-page-bench.mjs
// measures ours: a fresh browser for each run, timed in the page from its navigation to
// the data of the first five results, the bytes served before them and the JS heap
// after them. The peer is served over a local web server (it needs one), which favours
// it against our page from disk.
//   node bench/peer-first-results.mjs PEER_OUTPUT_DIR QUERY_FILE
// PEER_OUTPUT_DIR: what the peer wrote for a site (its pagefind.js and pieces);
// QUERY_FILE: one query a line. RUNS (default 3) loads each, medians. Prints a Markdown table.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const [output, queryFile] = process.argv.slice(2).map((p) => p && path.resolve(p));
if (!output || !queryFile || !fs.existsSync(path.join(output, 'pagefind.js'))) {
  console.error('usage: node bench/peer-first-results.mjs PEER_OUTPUT_DIR QUERY_FILE');
  process.exit(2);
}
const runs = Number(process.env.RUNS || 3);
const queries = fs.readFileSync(queryFile, 'utf8').split('\n').filter(Boolean);
const { chromium } = await import(pathToFileURL(path.join(root, 'tests/web/node_modules/playwright-core/index.mjs')).href);

const page = `<!doctype html><meta charset="utf-8"><title>peer</title><script type="module">
const q = new URLSearchParams(location.search).get('q');
const peer = await import('/search-peer/pagefind.js');
await peer.init();
const found = await peer.search(q);
await Promise.all(found.results.slice(0, 5).map((r) => r.data()));
window.__first = performance.now();
window.__count = found.results.length;
</script>`;
const types = { '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json', '.wasm': 'application/wasm' };
let served = 0;
const server = http.createServer((req, res) => {
  const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
  if (url === '/bench.html') { res.writeHead(200, { 'content-type': 'text/html' }).end(page); return; }
  const file = path.join(output, url.replace(/^\/search-peer\//, '/'));
  if (!url.startsWith('/search-peer/') || !file.startsWith(output + path.sep)) { res.writeHead(404).end(); return; }
  fs.readFile(file, (err, data) => {
    if (err) { res.writeHead(404).end(); return; }
    served += data.length;
    res.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' }).end(data);
  });
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', '--js-flags=--expose-gc'] });
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor((s.length - 1) / 2)]; };
console.log('| query | peer: first results (ms) | bytes before them | JS heap | results |');
console.log('|---|---:|---:|---:|---:|');
try {
  for (const q of queries) {
    const first = [], bytes = [], heaps = [];
    let count = 0;
    for (let r = 0; r < runs; r++) {
      const context = await browser.newContext();
      const tab = await context.newPage();
      served = 0;
      await tab.goto(`http://127.0.0.1:${server.address().port}/bench.html?q=${encodeURIComponent(q)}`);
      await tab.waitForFunction(() => window.__first > 0, null, { timeout: 120000 });
      first.push(await tab.evaluate(() => window.__first));
      bytes.push(served);
      count = await tab.evaluate(() => window.__count);
      await tab.waitForTimeout(1500);
      heaps.push(await tab.evaluate(() => { window.gc(); return performance.memory.usedJSHeapSize; }));
      await context.close();
    }
    console.log(`| \`${q}\` | ${Math.round(median(first))} | ${(median(bytes) / 1024).toFixed(0)} KB | ${(median(heaps) / 1048576).toFixed(1)} MB | ${count} |`);
  }
} finally {
  await browser.close();
  server.close();
}
