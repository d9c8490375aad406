// The peer search tool of bench/run-bench.sh on the reader queries of bench/queries,
// to compare with bench/ranking-eval.mjs:
//   node bench/peer-ranking-eval.mjs [SITE...]   (default: handbook-de handbook-fr
//                                                 handbook-ru handbook-ja)
// Each site (as ranking-eval.mjs finds it) is indexed by the peer, told the site's
// language, into a temporary folder; the folder and the site are served on localhost
// and the peer's own search script answers each query in headless Chromium (its
// output runs only from a server). Prints a Markdown table per half: MRR@10 and
// success@1, as ranking-eval.mjs counts them.
// PEER names the peer's program (default: build/bench-tools, where run-bench.sh
// installs it, or `make bench` once); needs playwright-core (make web-deps).
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { pathToFileURL } from 'node:url';
import { root, sites, siteFolder, siteQueries } from './eval-sites.mjs';

const peer = path.resolve(process.env.PEER || path.join(root, 'build/bench-tools/node_modules/@pagefind/linux-x64/bin/pagefind_extended'));
if (!fs.existsSync(peer)) {
  console.error(`${peer} is missing: run bench/run-bench.sh (make bench) once, or name it with PEER`);
  process.exit(2);
}
const { chromium } = await import(pathToFileURL(path.join(root, 'tests/web/node_modules/playwright-core/index.mjs')).href);

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.json': 'application/json', '.wasm': 'application/wasm' };
// Serves folder at /, and the peer's output at /search-peer/.
function serve(folder, output) {
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = url === '/' ? path.join(output, 'blank.html')
      : url.startsWith('/search-peer/') ? path.join(output, url.slice(13)) : path.join(folder, url);
    if (!file.startsWith(folder + path.sep) && !file.startsWith(output + path.sep)) { res.writeHead(403).end(); return; }
    fs.readFile(file, (err, data) => {
      if (err) { res.writeHead(404).end(); return; }
      res.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' }).end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run'] });
const rows = [];
try {
  const chosen = process.argv.slice(2);
  for (const name of chosen.length ? chosen : Object.keys(sites).filter((s) => sites[s].translated)) {
    const source = siteFolder(name, false), out = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-peer-'));
    try {
      execFileSync(peer, ['--quiet', '--site', source, '--output-path', out, '--force-language', sites[name].lang]);
      fs.writeFileSync(path.join(out, 'blank.html'), '<!doctype html><meta charset="utf-8"><title>peer</title>');
      const server = await serve(source, out);
      const page = await browser.newPage();
      await page.goto(`http://127.0.0.1:${server.address().port}/`);
      await page.evaluate(async () => {
        window.peer = await import('/search-peer/pagefind.js');
        await window.peer.init();
      });
      for (const half of ['tune', 'held']) {
        const queries = siteQueries(name, half);
        if (!queries) continue;
        let rr = 0, first = 0;
        for (const [q, answers] of queries) {
          const found = await page.evaluate(async (query) => {
            const result = await window.peer.search(query);
            const data = await Promise.all(result.results.slice(0, 10).map((r) => r.data()));
            return data.map((d) => decodeURIComponent(d.url.replace(/[?#].*$/, '')));
          }, q);
          const wanted = new Set(answers.split(' '));
          const rank = found.findIndex((url) => wanted.has(url.replace(/^\//, '')));
          if (rank >= 0) rr += 1 / (rank + 1);
          if (rank === 0) first++;
        }
        rows.push(`| ${name} | ${half === 'tune' ? 'tuning' : 'held-out'} | ${queries.length} | ${(rr / queries.length).toFixed(3)} | ${(100 * first / queries.length).toFixed(0)}% |`);
      }
      await page.close();
      server.close();
    } finally {
      fs.rmSync(out, { recursive: true, force: true });
    }
  }
} finally {
  await browser.close();
}
console.log('| site | half | queries | peer MRR@10 | peer success@1 |');
console.log('|---|---|---:|---:|---:|');
for (const row of rows) console.log(row);
