// The word index in pieces against the same index whole, on every query set of
// bench/queries (English and the languages): each site is indexed with VANTREL_CLI
// (default build/bin/vantrelindexer-cli) into a temporary folder, and each query's
// complete answer over the pieces must list the same pages in the same order as the
// whole-index page's (indexed_docs.js, indexed_terms.js and every title and summary).
// Prints a Markdown table: queries, answers that differ, and the bytes the page reads
// before a query's first results (indexed_pages.js, the head, the ranking pieces unless
// the shards hold titles, file names and summaries, the
// shards the query reaches and the document pieces of its first 20 results, median and
// largest, each query on a page opened fresh) against the whole-index page's. Exits 1 when an answer differs.
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
    // Before any query: indexed_pages.js, the head and the ranking pieces.
    const piece = (f) => size(path.join('indexed_text', f)), head = site.fetched[0];
    const base = size('indexed_pages.js') + site.fetched.reduce((sum, f) => sum + piece(f), 0);
    // The document pieces of the screen (and, under a top, their lists), as the page loads them.
    const screenDocs = (docs) => {
      const from = site.fetched.length;
      site.inPieces.documents.ensure(docs.slice(0, 20), () => {});
      return site.fetched.splice(from);
    };
    const firstBytes = [];
    let wrong = 0;
    for (const q of queries) {
      // A page opened fresh for each query: a new list over the same head.
      site.fetched.length = 0;
      site.inPieces = site.fresh();
      let first = -1, last = null;
      S.searchInPieces(site.inPieces, q, (result) => {
        if (first < 0) first = [...site.fetched, ...screenDocs(result.docs)].reduce((sum, f) => sum + piece(f), 0);
        last = result.docs.slice();
      }, () => true);
      firstBytes.push(base + first);
      const whole = site.whole.search(q).docs;
      if (JSON.stringify(last) !== JSON.stringify(whole)) {
        wrong++;
        console.error(`${name}: ${q}: ${last.slice(0, 5)} against ${whole.slice(0, 5)}`);
      }
    }
    differ += wrong;
    rows.push(`| ${name} | ${site.docs.length} | ${queries.length} | ${wrong} | ${kb(median(firstBytes))} | ${kb(Math.max(...firstBytes))} | ` +
      `${kb(size('indexed_docs.js') + size('indexed_pages.js') + size('indexed_terms.js'))} | ${site.list.names.length} | ${(size(path.join('indexed_text', head)) / 1024).toFixed(1)} KB |`);
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}
console.log('| site | pages | queries | answers that differ | read before first results, median | largest | whole word index page | shards | head |');
console.log('|---|---|---|---|---|---|---|---|---|');
for (const row of rows) console.log(row);
process.exit(differ ? 1 : 0);
