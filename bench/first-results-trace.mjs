// Where the time before a search page's first results goes, read from a Chromium trace
// of a fresh browser (the events the DevTools performance panel records):
//   node bench/first-results-trace.mjs INDEX_DIR QUERY          our page, from disk
//   node bench/first-results-trace.mjs --peer PEER_DIR QUERY    the peer's, over HTTP
//   node bench/first-results-trace.mjs --blank                  a page with one small script
// ALL=1 lists every script (else the first 12 and the last 6 of a long list).
// Prints, in ms from the navigation's start: the HTML read and parsed, each script
// asked for, read and run (its compile apart), the rounds of loads (scripts asked for
// once an earlier one ran), and the main thread's work by kind up to the first results
// (our page's vantrel-first-results mark; the peer's __first; the blank page's load).
// RUNS (default 3) fresh browsers; the median run by its first results is printed.
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');
const args = process.argv.slice(2);
const mode = args[0] === '--peer' ? 'peer' : args[0] === '--blank' ? 'blank' : 'ours';
if (mode !== 'ours') args.shift();
const [dir, query = ''] = args;
if (mode !== 'blank' && (!dir || !query)) {
  console.error('usage: node bench/first-results-trace.mjs INDEX_DIR QUERY | --peer PEER_DIR QUERY | --blank');
  process.exit(2);
}
const runs = Number(process.env.RUNS || 3);
const { chromium } = await import(pathToFileURL(path.join(root, 'tests/web/node_modules/playwright-core/index.mjs')).href);

// The peer's page as bench/peer-first-results.mjs serves it; the blank page from disk.
const peerPage = `<!doctype html><meta charset="utf-8"><title>peer</title><script type="module">
const q = new URLSearchParams(location.search).get('q');
const peer = await import('/search-peer/pagefind.js');
await peer.init();
const found = await peer.search(q);
await Promise.all(found.results.slice(0, 5).map((r) => r.data()));
performance.mark('vantrel-first-results');
</script>`;
let server = null, url = '';
if (mode === 'peer') {
  const output = path.resolve(dir);
  const types = { '.js': 'text/javascript', '.json': 'application/json', '.wasm': 'application/wasm' };
  server = http.createServer((req, res) => {
    const p = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    if (p === '/bench.html') { res.writeHead(200, { 'content-type': 'text/html' }).end(peerPage); return; }
    const file = path.join(output, p.replace(/^\/search-peer\//, '/'));
    if (!p.startsWith('/search-peer/') || !file.startsWith(output + path.sep)) { res.writeHead(404).end(); return; }
    fs.readFile(file, (err, data) => {
      if (err) { res.writeHead(404).end(); return; }
      res.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' }).end(data);
    });
  });
  await new Promise((done) => server.listen(0, '127.0.0.1', done));
  url = `http://127.0.0.1:${server.address().port}/bench.html?q=${encodeURIComponent(query)}`;
} else if (mode === 'blank' && dir) {
  url = pathToFileURL(path.resolve(dir, 'blank.html')).href;
} else if (mode === 'blank') {
  const blank = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-trace-'));
  fs.writeFileSync(path.join(blank, 'blank.html'), '<!doctype html><meta charset="utf-8"><title>blank</title><p>blank<script src="blank.js"></script>');
  fs.writeFileSync(path.join(blank, 'blank.js'), "requestAnimationFrame(function () { performance.mark('vantrel-first-results'); });");
  url = pathToFileURL(path.join(blank, 'blank.html')).href;
} else {
  url = pathToFileURL(path.resolve(dir, 'search.html')).href + '?q=' + encodeURIComponent(query);
}

const CATEGORIES = ['devtools.timeline', 'disabled-by-default-devtools.timeline', 'blink.user_timing', 'v8', 'loading', '__metadata'];
const short = (u) => decodeURIComponent(u.replace(/[?#].*$/, '').split('/').pop());

// One fresh browser: the trace's events, summed as described above.
async function traceOnce() {
  const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  try {
    const page = await (await browser.newContext({ viewport: { width: 1280, height: 720 } })).newPage();
    await browser.startTracing(page, { categories: CATEGORIES });
    await page.goto(url, { waitUntil: 'commit', timeout: 120000 });
    await page.waitForFunction(() => performance.getEntriesByName('vantrel-first-results').length > 0, null, { timeout: 120000 });
    const events = JSON.parse((await browser.stopTracing()).toString()).traceEvents;
    return summarize(events);
  } finally {
    await browser.close();
  }
}

function summarize(events) {
  const nav = events.find((e) => e.name === 'navigationStart' && e.args?.data?.isLoadingMainFrame && /^(file|http)/.test(e.args.data.documentLoaderURL || ''));
  const first = events.find((e) => e.name === 'vantrel-first-results' && e.ph !== 'e');
  if (!nav || !first) return null;
  const t = (ts) => (ts - nav.ts) / 1000, end = first.ts;
  const main = { pid: nav.pid, tid: nav.tid };
  const onMain = (e) => e.pid === main.pid && e.tid === main.tid && e.ts >= nav.ts && e.ts <= end;
  // Requests by id: asked for, response, finished; scripts run by url.
  const requests = new Map();
  for (const e of events) {
    const d = e.args?.data;
    if (!d?.requestId) continue;
    const r = requests.get(d.requestId) || { url: '', sent: NaN, finished: NaN };
    if (e.name === 'ResourceSendRequest') { r.url = d.url; r.sent = t(e.ts); r.initiator = d.renderBlocking; }
    if (e.name === 'ResourceFinish') r.finished = t(e.ts);
    requests.set(d.requestId, r);
  }
  const ran = new Map(); // url: [start, end, compile ms]
  for (const e of events.filter(onMain)) {
    if (e.name === 'EvaluateScript' && e.args?.data?.url) ran.set(e.args.data.url, [t(e.ts), t(e.ts + e.dur)]);
  }
  for (const e of events.filter(onMain)) {
    if ((e.name === 'v8.compile' || e.name === 'V8.CompileCode') && e.args?.data?.url && ran.has(e.args.data.url)) {
      const r = ran.get(e.args.data.url);
      r[2] = (r[2] || 0) + e.dur / 1000;
    }
  }
  // The main thread's work by kind: top-level tasks' children summed by name.
  const kinds = { 'HTML parsed': ['ParseHTML'], 'scripts run (compile in it)': ['EvaluateScript', 'v8.evaluateModule'],
    'page code called (events, timers, frames)': ['FunctionCall', 'TimerFire', 'EventDispatch', 'FireAnimationFrame', 'v8.run', 'RunMicrotasks'],
    'style and layout': ['UpdateLayoutTree', 'Layout', 'RecalculateStyles'], 'paint': ['Paint', 'PaintImage', 'UpdateLayer', 'Layerize', 'PrePaint'],
    'garbage collection': ['MinorGC', 'MajorGC', 'V8.GC_SCAVENGER', 'BlinkGC.AtomicPhase'] };
  const busy = {}, tasks = events.filter((e) => onMain(e) && e.ph === 'X' && e.name === 'RunTask');
  // The tasks' wall time, and their thread (CPU) time, steadier under load.
  let taskTime = 0, taskCpu = 0;
  for (const task of tasks) { taskTime += task.dur / 1000; taskCpu += (task.tdur ?? task.dur) / 1000; }
  for (const [kind, names] of Object.entries(kinds)) {
    // Only outermost events of the kind, so nested calls are not counted twice.
    const list = events.filter((e) => onMain(e) && e.ph === 'X' && names.includes(e.name)).sort((a, b) => a.ts - b.ts);
    let total = 0, until = -Infinity;
    for (const e of list) {
      if (e.ts >= until) { total += e.dur / 1000; until = e.ts + e.dur; }
    }
    busy[kind] = total;
  }
  const scripts = [...requests.values()].filter((r) => /^(file|http)/.test(r.url) && r.sent <= t(end)).sort((a, b) => a.sent - b.sent);
  // A round: the scripts asked for after every script of the round before it had been asked for and one of them read.
  let rounds = 0, roundEnd = -Infinity;
  for (const r of scripts) {
    if (r.sent >= roundEnd) { rounds++; roundEnd = Infinity; }
    roundEnd = Math.min(roundEnd, r.finished);
  }
  // The main thread's long tasks (TASKS=1): when, how long, and what ran in them.
  const long = process.env.TASKS ? tasks.filter((task) => task.dur >= 5000).map((task) => {
    const inside = events.filter((e) => onMain(e) && e.ph === 'X' && e !== task && e.ts >= task.ts && e.ts + e.dur <= task.ts + task.dur && e.dur >= 2000);
    const what = inside.map((e) => `${e.name}${e.args?.data?.url ? ' ' + short(e.args.data.url) : ''}${e.args?.data?.functionName ? ' ' + e.args.data.functionName : ''} ${(e.dur / 1000).toFixed(0)}`);
    return `${t(task.ts).toFixed(0)}+${(task.dur / 1000).toFixed(0)}: ${[...new Set(what)].slice(0, 6).join('; ')}`;
  }) : [];
  const html = scripts[0];
  const parsed = events.filter((e) => onMain(e) && e.name === 'ParseHTML');
  return {
    first: t(end), rounds, taskTime, taskCpu, busy, long,
    html: html ? { sent: html.sent, finished: html.finished } : null,
    parsed: parsed.length ? t(parsed[0].ts) : NaN,
    scripts: scripts.map((r) => ({ file: short(r.url), sent: r.sent, finished: r.finished, ran: ran.get(r.url) })),
  };
}

const all = [];
for (let r = 0; r < runs; r++) {
  const s = await traceOnce();
  if (s) all.push(s);
}
if (server) server.close();
all.sort((a, b) => a.first - b.first);
function median(list) {
  const sorted = [...list].sort((a, b) => a - b);
  return sorted[Math.floor((sorted.length - 1) / 2)];
}
const s = all[Math.floor((all.length - 1) / 2)];
const f = (x) => (Number.isFinite(x) ? x.toFixed(0) : '–');
console.log(`${mode} ${query ? '`' + query + '`' : ''}: first results ${f(s.first)} ms (runs: ${all.map((a) => f(a.first)).join(', ')}), ` +
  `${s.rounds} rounds of loads, main thread busy ${f(s.taskTime)} ms (CPU ${f(s.taskCpu)}; median of the runs ${f(median(all.map((a) => a.taskCpu)))}), load ${os.loadavg()[0].toFixed(1)}`);
console.log(`  HTML parse starts ${f(s.parsed)}; ` + Object.entries(s.busy).map(([k, v]) => `${k} ${f(v)}`).join(', '));
for (const line of s.long) console.log('  task ' + line);
const many = s.scripts.length > 24 && !process.env.ALL;
for (const [i, r] of s.scripts.entries()) {
  if (many && i >= 12 && i < s.scripts.length - 6) { if (i === 12) console.log(`  ... ${s.scripts.length - 18} more`); continue; }
  const ran = r.ran ? `, ran ${f(r.ran[0])}-${f(r.ran[1])}${r.ran[2] ? ` (compile ${r.ran[2].toFixed(1)})` : ''}` : '';
  console.log(`  ${r.file}: asked ${f(r.sent)}, read ${f(r.finished)}${ran}`);
}
