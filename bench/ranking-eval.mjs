// How well the search page ranks and describes results on real documentation:
//   node bench/ranking-eval.mjs [SITE...]        (default: python git postgresql;
//                                                 also handbook-de, -fr, -ru, -ja, -es
//                                                 and -zh, reference-de, -fr, -ja, -zh)
// Each site (bench/eval-sites.mjs) is a Debian documentation package, found unpacked
// under build/ or build-js/ (docs/root, or corpora/x/PACKAGE) or fetched with
// apt-get download and dpkg -x. The handbook in Spanish and Chinese and the reference
// have held-out queries only.
// The site is indexed with the command line (VANTREL_CLI, default
// build-js/bin/vantrelindexer-cli) into a temporary folder and searched with the page's
// own code (VANTREL_JS_DIR, default build-js/bin/js, loaded in Node) for the queries of
// bench/queries/SITE-tune.tsv and SITE-held.tsv. Prints a Markdown table per half:
//   - MRR@10: the mean of 1/rank of the first answering page in the top 10 (0 if none);
//   - success@1: the share of queries whose first result answers them;
//   - excerpt marked: the share of top-3 results whose excerpt (from the page's text,
//     else the summary) holds a marked query word;
//   - real title: the share of top-3 results whose page has a title with lower-case
//     letters and whose shown title is that title (as the page's <title> element says);
//   - "Nothing to search for": the queries in which the page finds no word at all.
// EVAL_DEBUG=tune (or held) prints the queries of that half whose first result misses;
// EVAL_HALVES=tune runs the tuning halves alone; EVAL_WORDS=design searches
// indexed_words.js even where the companion word index is there.
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';
import { execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import { root, sites, siteFolder, siteQueries } from './eval-sites.mjs';

const cli = path.resolve(process.env.VANTREL_CLI || path.join(root, 'build-js/bin/vantrelindexer-cli'));
const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(root, 'build-js/bin/js'));
const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));

// The index files as the page reads them: docs as windows-1252 (here Latin-1, which
// keeps the same bytes for what the checks use), the rest as UTF-8.
function loadIndex(dir) {
  const box = {};
  vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_docs.js'), 'latin1'), box);
  vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_words.js'), 'latin1'), box);
  vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_pages.js'), 'utf8'), box);
  if (fs.existsSync(path.join(dir, 'indexed_terms.js'))) vm.runInNewContext(fs.readFileSync(path.join(dir, 'indexed_terms.js'), 'utf8'), box);
  return box;
}

function pageText(dir, companion, d, unicode) {
  const place = S.textPlace(companion.texts, d), box = { vantrelTexts: (list) => { box.list = list; } };
  if (!place) return null;
  try {
    vm.runInNewContext(fs.readFileSync(path.join(dir, place.file), 'utf8'), box);
  } catch { return null; }
  const data = box.list?.[place.at];
  return data ? new S.PageText(data.text, data.sections, unicode) : null;
}

// The page's <title>, references decoded and ASCII blanks collapsed (as document.title), or null.
function htmlTitle(file) {
  const html = fs.readFileSync(file, 'utf8');
  const m = /<title[^>]*>([^]*?)<\/title>/i.exec(html);
  if (!m) return null;
  return m[1].replace(/&(#x[0-9a-f]+|#\d+|amp|lt|gt|quot|apos|nbsp);/gi, (all, e) => {
    const named = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'", nbsp: '\u00a0' }[e.toLowerCase()];
    return named ?? String.fromCodePoint(e[1] === 'x' || e[1] === 'X' ? parseInt(e.slice(2), 16) : parseInt(e.slice(1), 10));
  }).replace(/[ \t\n\r\f]+/g, ' ').replace(/^ | $/g, '');
}

const rows = [];
const chosen = process.argv.slice(2);
for (const name of chosen.length ? chosen : Object.keys(sites).filter((s) => !sites[s].translated)) {
  const source = siteFolder(name), out = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-eval-'));
  try {
    execFileSync(cli, ['--quiet', source, out], { env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1' } });
    const { docs, index, pages, terms } = loadIndex(out);
    const companion = S.companionData(pages, docs);
    if (companion.state !== 'ok') throw new Error(`${name}: companion data ${companion.state}`);
    // As the page does: the companion word index when it is valid, else indexed_words.js.
    const words = S.termsData(process.env.EVAL_WORDS === 'design' ? undefined : terms, docs), unicode = words.state === 'ok';
    const searcher = unicode ? new S.Searcher(docs, null, { terms: words, realTitles: companion.titles }) : new S.Searcher(docs, index);
    searcher.useSummaries(S.summaryWords(companion.summaries, docs.length, unicode));
    const texts = new Map();
    for (const half of (process.env.EVAL_HALVES || 'tune held').split(' ')) {
      const queries = siteQueries(name, half);
      if (!queries) continue;
      let rr = 0, first = 0, shown = 0, marked = 0, titled = 0, real = 0, nothing = 0;
      for (const [q, answers] of queries) {
        const wanted = new Set(answers.split(' ')), result = searcher.search(q);
        if (result.terms.length === 0) nothing++;
        const rank = result.docs.slice(0, 10).findIndex((d) => wanted.has(docs[d][2]));
        if (rank >= 0) rr += 1 / (rank + 1);
        if (rank === 0) first++;
        if (process.env.EVAL_DEBUG === half && rank !== 0) console.error(`${name} ${half} ${q}: ${rank + 1 || '-'} ${result.docs.slice(0, 3).map((d) => docs[d][2]).join(' ')}`);
        for (const d of result.docs.slice(0, 3)) {
          if (!texts.has(d)) texts.set(d, pageText(out, companion, d, unicode));
          const excerpt = texts.get(d)?.excerpt(result.terms)?.text ?? S.summaryOf(companion, d);
          shown++;
          if (S.highlightSpans(excerpt, result.terms, unicode).length > 0) marked++;
          const title = htmlTitle(path.join(source, docs[d][2]));
          if (title && /[a-z]/.test(title)) {
            titled++;
            if (S.shortText(companion.titles[d]) === title) real++;
            else if (process.env.EVAL_DEBUG === half) console.error(`title: ${JSON.stringify(companion.titles[d])} vs ${JSON.stringify(title)}`);
          }
        }
      }
      const pct = (a, b) => (b ? (100 * a / b).toFixed(0) + '%' : '–');
      rows.push(`| ${name} | ${half === 'tune' ? 'tuning' : 'held-out'} | ${queries.length} | ${(rr / queries.length).toFixed(3)} | ` +
        `${pct(first, queries.length)} | ${pct(marked, shown)} | ${pct(real, titled)} | ${nothing} |`);
    }
  } finally {
    fs.rmSync(out, { recursive: true, force: true });
  }
}
console.log('| site | half | queries | MRR@10 | success@1 | excerpt marked (top 3) | real title (top 3) | "Nothing to search for" |');
console.log('|---|---|---:|---:|---:|---:|---:|---:|');
for (const row of rows) console.log(row);
