// The word index in pieces against the same index whole, on every query set of
// bench/queries (English and the languages): each site is indexed with VANTREL_CLI
// (default build/bin/vantrelindexer-cli) into a temporary folder, and each query's
// complete answer over the pieces must list the same pages in the same order as the
// whole-index page's. Prints a Markdown table: queries, answers that differ, and the
// bytes the page reads before a query's first results (the documents, the companion
// data, the head and the shards the query reaches, median and largest, each query on
// a page opened fresh) against the whole word index's. Exits 1 when an answer differs.
//   node bench/pieces-check.mjs [SITE...]
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { root, sites, siteFolder, siteQueries } from './eval-sites.mjs';
import { loadFolder } from '../tests/web/index-folder.mjs';

const cli = path.resolve(process.env.VANTREL_CLI || path.join(root, 'build/bin/vantrelindexer-cli'));
const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(path.dirname(cli), 'js'));
const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));
const median = (a) => a.slice().sort((x, y) => x - y)[Math.floor(a.length / 2)];
const kb = (bytes) => (bytes / 1024).toFixed(0) + ' KB';

let differ = 0;
const rows = [];
const chosen = process.argv.slice(2);
for (const name of chosen.length ? chosen : Object.keys(sites)) {
  const queries = [...(siteQueries(name, 'tune') || []), ...(siteQueries(name, 'held') || [])].map((q) => q[0]);
  if (queries.length === 0) continue;
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-pieces-'));
  try {
    execFileSync(cli, ['--quiet', siteFolder(name), out], { env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1' } });
    const site = loadFolder(S, out), size = (f) => fs.statSync(path.join(out, f)).size;
    const base = size('indexed_docs.js') + size('indexed_pages.js'), head = site.fetched[0];
    const firstBytes = [];
    let wrong = 0;
    for (const q of queries) {
      // A page opened fresh for each query: a new list over the same head.
      site.fetched.length = 0;
      site.inPieces.list = new S.WordPieces(site.list.head, site.docs.length, site.list.fetch);
      site.inPieces.links = site.inPieces.list.links;
      site.inPieces.termCache.clear();
      let first = -1, last = null;
      S.searchInPieces(site.inPieces, q, (result) => {
        if (first < 0) first = site.fetched.reduce((sum, f) => sum + size(path.join('indexed_text', f)), 0);
        last = result.docs.slice();
      }, () => true);
      firstBytes.push(base + size(path.join('indexed_text', head)) + first);
      const whole = site.whole.search(q).docs;
      if (JSON.stringify(last) !== JSON.stringify(whole)) {
        wrong++;
        console.error(`${name}: ${q}: ${last.slice(0, 5)} against ${whole.slice(0, 5)}`);
      }
    }
    differ += wrong;
    rows.push(`| ${name} | ${site.docs.length} | ${queries.length} | ${wrong} | ${kb(median(firstBytes))} | ${kb(Math.max(...firstBytes))} | ` +
      `${kb(base + size('indexed_terms.js'))} | ${site.list.names.length} | ${(size(path.join('indexed_text', head)) / 1024).toFixed(1)} KB |`);
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}
console.log('| site | pages | queries | answers that differ | read before first results, median | largest | whole word index page | shards | head |');
console.log('|---|---|---|---|---|---|---|---|---|');
for (const row of rows) console.log(row);
process.exit(differ ? 1 : 0);
