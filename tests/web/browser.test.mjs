// The real search page in headless Chromium, opened from disk, over an index that the
// command line builds from a small tree with awkward file names. Run as a script
// (node browser.test.mjs): exits with 77, skipped, when playwright-core or Chromium is
// missing.
// VANTREL_CLI names the command-line indexer (default: build/bin/vantrelindexer-cli),
// VANTREL_JS_DIR the search page put beside the index (default: the indexer's own).
import { test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const cli = path.resolve(process.env.VANTREL_CLI || path.join(here, '../../build/bin/vantrelindexer-cli'));
const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(path.dirname(cli), 'js'));
const chromiumPath = '/usr/bin/chromium';
const skip = (why) => { console.log(`SKIP: ${why}`); process.exit(77); };
const { chromium } = await import('playwright-core').catch(() => skip('the npm package playwright-core is missing (make web-deps installs it)'));
const axePath = path.join(here, 'node_modules/axe-core/axe.min.js');
if (!fs.existsSync(axePath)) skip('the npm package axe-core is missing (make web-deps installs it)');
if (!fs.existsSync(chromiumPath)) skip(`${chromiumPath} is missing (apt-get install chromium)`);
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'vantrel-web-'));
// The index is written into the site itself, where relative locations resolve.
const site = Buffer.from(path.join(work, 'site'));
const out = site.toString();
const fullOut = path.join(work, 'full');
const urlOut = path.join(work, 'url');
// Written elsewhere: relative links go through the companion data's base.
const elsewhere = path.join(work, 'elsewhere', 'index');
const plainOut = path.join(work, 'plain');
// With a top beside the head, as a large site has.
const topOut = path.join(work, 'top');

// Name (bytes, relative to the site), title, a word found only on that page.
const pages = [
  ['index.html', 'Welcome to Lantern', 'homeword'],
  ['guide/memory allocation.html', 'Memory allocation', 'mallocword'],
  ['odd/hash#1.html', 'Hash page', 'hashword'],
  ['odd/what?.html', 'Question page', 'questionword'],
  ['odd/100%.html', 'Percent page', 'percentword'],
  ['odd/say "hi".html', 'Quote page', 'quoteword'],
  ["odd/it's a:b.html", 'Apostrophe page', 'apostropheword'],
  ['odd/caf\u00e9 \u65e5\u672c.html', 'Unicode page', 'unicodeword'],
  [Buffer.from('odd/latin\xe9\x92.html', 'latin1'), 'Latin page', 'latinword'],
  ['odd/back\\slash.html', 'Backslash page', 'backslashword'],
  ['odd/untitled.html', null, 'untitledword'],
  ['odd/\u202erlo.html', '\u202eRight to left', 'rloword'],
  ['odd/flood.html', 'Flood '.repeat(20000), 'floodword'],
];

function write(name, html, date) {
  const file = Buffer.concat([site, Buffer.from('/'), Buffer.from(name)]);
  fs.mkdirSync(file.subarray(0, file.lastIndexOf(47)), { recursive: true });
  fs.writeFileSync(file, html);
  if (date) fs.utimesSync(file, date, date);
}

let context, page;
const pageErrors = [];

before(async () => {
  for (const [name, title, word] of pages) {
    const head = title ? `<title>${title}</title>` : '';
    write(name, `<html><head>${head}</head><body><p>${word} lantern marker-${word}</p></body></html>`);
  }
  // A long section whose query words stand far below its heading.
  const paragraphs = Array.from({ length: 120 }, (_, i) => `<p>Paragraph ${i} of plain padding text.</p>`).join('');
  write('guide/long.html', `<title>Long page</title><h1 id="top">Long page</h1><p>Opening words.</p><h2 id="far">Far section</h2>
    ${paragraphs}<p>A needleword haystack in the last paragraph of all.</p>${paragraphs}`);
  // Sections with anchors (one awkward), hostile markup in title, heading and text.
  const filler = Array(80).fill('filler').join(' ');
  write('guide/sections.html', `<title>Sections &lt;img src=x onerror=alert(1)&gt; page</title><body><h1 id="top">Sections page</h1>
    <p>${filler} lampword</p><h2 id="set up">Setting up the lamp</h2><p>${filler} lampword wickword. ${filler}</p>
    <h2 id="care">Care &lt;b&gt;x&lt;/b&gt; of the wick</h2><p>${filler} wickword lampword ${filler}</p></body>`);
  // Pages in other scripts, found through the companion word index.
  write('intl/größe.html', '<html lang="de"><title>Größe ändern</title><p>Die Größe der Partition ändern. Partitionsgröße.</p></html>');
  write('intl/квоты.html', '<html lang="ru"><title>Квоты</title><p>Квоты на диске для пользователей.</p></html>');
  write('intl/名前解決.html', '<html lang="ja"><title>名前解決の設定</title><p>名前解決サービスを設定する。</p></html>');
  for (let i = 0; i < 25; i++) {
    const date = new Date(Date.UTC(2001 + i, 0, 15));
    write(`many/p${String(i).padStart(2, '0')}.html`, `<title>Common ${i}</title><p>commonword</p>`, date);
  }
  // With the word index whole too, for the test of a page of an older version.
  execFileSync(cli, [out, out, '--content', 'all'], { stdio: 'pipe', env: { ...process.env, VANTREL_WHOLE_WORD_INDEX: '1' } });
  execFileSync(cli, [out, fullOut, '--content', 'all', '--path', 'full'], { stdio: 'pipe' });
  execFileSync(cli, [out, urlOut, '--content', 'all', '--path', 'url', '--url-prefix', pathToFileURL(out).href], { stdio: 'pipe' });
  execFileSync(cli, [out, elsewhere], { stdio: 'pipe' });
  execFileSync(cli, [out, plainOut, '--plain'], { stdio: 'pipe' });
  execFileSync(cli, [out, topOut, '--content', 'all'], { stdio: 'pipe', env: { ...process.env, VANTREL_TOP_FROM: '1' } });
  for (const dir of [out, fullOut, urlOut, elsewhere, plainOut, topOut]) {
    for (const f of ['search.html', 'search.js', 'search_top.html', 'search.css']) fs.copyFileSync(path.join(jsDir, f), path.join(dir, f));
  }
  context = await chromium.launchPersistentContext(fs.mkdtempSync(path.join(work, 'profile-')), {
    executablePath: chromiumPath,
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--no-first-run'],
  });
  page = await context.newPage();
  page.on('pageerror', (e) => pageErrors.push(e.message));
});

afterEach(() => assert.deepEqual(pageErrors.splice(0), [], 'errors in the page'));

after(async () => {
  if (context) await context.close();
  fs.rmSync(work, { recursive: true, force: true });
});

const searchUrl = (dir, q) => pathToFileURL(path.join(dir, 'search.html')).href + (q === undefined ? '' : '?q=' + encodeURIComponent(q));

// Opens search.html in dir, with ?q= unless q is undefined, and waits for the index.
async function open(q, dir = out) {
  await page.goto(searchUrl(dir, q));
  await page.waitForFunction(() => document.documentElement.dataset.ready || document.querySelector('#status.error'));
}

// The titles shown once the results for q are on the page.
async function shown(q) {
  await page.waitForFunction((want) => document.getElementById('results').dataset.query === want, q, { timeout: 10000 });
  return page.$$eval('#results li a.title', (links) => links.map((a) => a.textContent));
}

const results = async (q, dir = out) => { await open(q, dir); return shown(q); };
const texts = (selector) => page.$$eval(selector, (els) => els.map((e) => e.textContent));
const inAddress = (name) => new URL(page.url()).searchParams.get(name);
async function enter(q) {
  await page.fill('#q', q);
  await page.keyboard.press('Enter');
  return shown(q);
}

test('opens from disk with ?q=: marked titles, dates, untitled pages, file names, hostile titles', async () => {
  assert.deepEqual(await results('memory'), ['Memory allocation']);
  assert.deepEqual(await texts('#count, #results .title mark'), ['1 result.', 'Memory']);
  // The date in the reader's own locale, the day itself for machines; a fresh page puts
  // it in once the screen is drawn.
  await page.waitForFunction(() => document.querySelector('#results .date').textContent !== '', null, { timeout: 5000 });
  const [dateText, dateTime] = await page.$eval('#results .date', (e) => [e.textContent, e.dateTime]);
  assert.match(dateTime, /^\d{4}-\d\d-\d\d$/);
  assert.equal(dateText, await page.evaluate((iso) => new Intl.DateTimeFormat(undefined,
    { dateStyle: 'medium', timeZone: 'UTC' }).format(new Date(iso)), dateTime));
  // A page without a title is named by its location; file names are searched too.
  assert.deepEqual(await results('untitledword'), ['odd/untitled.html']);
  assert.deepEqual(await results('say "hi".html'), ['Quote page']);
  // A flood of words is cut short with few marks; a right-to-left override stays inside
  // its own title and location.
  const [title] = await results('flood');
  assert.ok(title.length <= 301 && title.endsWith('\u2026') && (await texts('#results .title mark')).length <= 30, title);
  await results('rloword');
  assert.deepEqual(await page.$$eval('#results .title, #results .location, #results .date',
    (els) => els.map((e) => getComputedStyle(e).unicodeBidi)), ['isolate', 'isolate', 'isolate']);
});

test('links open pages with awkward names: relative paths, full paths, URL prefix', async () => {
  for (const [dir, [, , word]] of [out, fullOut, urlOut, elsewhere].flatMap((dir) => pages.map((p) => [dir, p]))) {
    assert.equal((await results(word, dir)).length, 1, word);
    await Promise.all([page.waitForEvent('load'), page.click('#results li a.title')]);
    assert.match(await page.textContent('body'), new RegExp(`marker-${word}`), word);
  }
});

test('typing searches as you go and keeps ?q= in step; back and forward restore', async () => {
  await open();
  await page.focus('#q');
  await page.keyboard.type('lant');
  assert.ok((await shown('lant')).length >= pages.length);
  await page.waitForURL(/\?q=lant$/);
  assert.equal(await page.title(), 'lant \u2013 Search');
  // A key is answered in its own event once the pieces it reads are here, not after a timer.
  assert.equal(await page.evaluate(() => {
    const box = document.getElementById('q');
    box.value = 'lante';
    box.dispatchEvent(new Event('input', { bubbles: true }));
    return document.getElementById('results').dataset.query;
  }), 'lante');
  assert.deepEqual(await enter('hashword'), ['Hash page']);
  assert.equal(await page.title(), 'hashword \u2013 Search');
  assert.deepEqual(await enter('percentword'), ['Percent page']);
  assert.equal(inAddress('q'), 'percentword');
  await page.goBack();
  assert.deepEqual([await shown('hashword'), await page.inputValue('#q')], [['Hash page'], 'hashword']);
  await page.goForward();
  assert.deepEqual(await shown('percentword'), ['Percent page']);
});

test('keyboard: / and Ctrl+K focus, arrows choose, Enter opens, Escape clears', async () => {
  await open('quoteword');
  for (const key of ['/', 'Control+k']) {
    await page.evaluate(() => document.activeElement.blur());
    await page.keyboard.press(key);
    assert.equal(await page.evaluate(() => document.activeElement.id), 'q', key);
  }
  await enter('lantern');
  for (const key of ['ArrowDown', 'ArrowDown', 'ArrowUp']) await page.keyboard.press(key);
  assert.deepEqual([await page.getAttribute('#q', 'aria-activedescendant'), await page.getAttribute('#result-0', 'aria-selected')],
    ['result-0', 'true']);
  const href = await page.getAttribute('#result-0 a.title', 'href');
  await Promise.all([page.waitForEvent('load'), page.keyboard.press('Enter')]);
  assert.equal(page.url().replace(/#?:~:.*$/, ''), href.replace(/#?:~:.*$/, ''));

  await open('lantern');
  await page.focus('#q');
  await page.keyboard.press('Escape');
  assert.deepEqual([await page.inputValue('#q'), await shown('')], ['', []]);
  await page.keyboard.type('404');
  assert.deepEqual(await shown('404'), []);
  assert.match(await page.textContent('#count'), /words start with a letter/);
});

test('partial matches, typos, show more and sorting by date', async () => {
  assert.deepEqual(await results('hashword nosuchthing'), ['Hash page']);
  assert.match(await page.textContent('#count'), /all the words/);
  assert.deepEqual(await results('hashwrod'), ['Hash page']);
  assert.match(await page.textContent('#suggest'), /Did you mean: hashword\?/);

  assert.equal((await results('commonword')).length, 20);
  assert.equal(await page.textContent('#count'), '25 results.');
  await page.click('#more');
  // The rows wait for their documents' piece when it has not come yet.
  await page.waitForFunction(() => document.querySelectorAll('#results li').length >= 25, null, { timeout: 10000 });
  assert.equal((await texts('#results li')).length, 25);
  await page.selectOption('#sort', 'date');
  // The same query is shown again once the pages' dates have come: until then the
  // order by relevance stays on screen.
  await page.waitForFunction(() => document.querySelector('#results li a.title')?.textContent === 'Common 24', null, { timeout: 10000 });
  assert.deepEqual((await shown('commonword')).slice(0, 3), ['Common 24', 'Common 23', 'Common 22']);
  assert.equal(inAddress('sort'), 'date');
});

test('says plainly when the index is missing or damaged', async () => {
  const bare = path.join(work, 'bare');
  fs.mkdirSync(bare);
  for (const f of ['search.html', 'search.js', 'search.css']) fs.copyFileSync(path.join(out, f), path.join(bare, f));
  await open('x', bare);
  assert.match(await page.textContent('#status'), /indexed_docs\.js and indexed_words\.js are missing or damaged/);
  // A file that ends in a zero byte does not run in the browser.
  fs.writeFileSync(path.join(bare, 'indexed_docs.js'), 'var docs=[];\0');
  fs.copyFileSync(path.join(out, 'indexed_words.js'), path.join(bare, 'indexed_words.js'));
  await open('x', bare);
  assert.match(await page.textContent('#status'), /indexed_docs\.js is missing or damaged/);
  assert.equal(await page.getAttribute('#status', 'role'), 'alert');
  assert.equal(pageErrors.splice(0).length, 1);
});

test('every script from disk through the word index; neither indexed_words.js nor indexed_docs.js loaded', async () => {
  const asked = [];
  const note = (request) => asked.push(path.basename(new URL(request.url()).pathname));
  page.on('request', note);
  for (const [q, title, marks] of [['grosse', 'Größe ändern', ['Größe']], ['GROESSE', 'Größe ändern', ['Größe']],
    ['квоты', 'Квоты', ['Квоты']], ['名前解決', '名前解決の設定', ['名前解決']]]) {
    assert.deepEqual(await results(q), [title], q);
    assert.deepEqual(await texts('#results .title mark'), marks, q);
  }
  // Typed key by key, as an input method commits it: every key finds the page.
  await open();
  for (const [i, ch] of [...'名前解決の設定'].entries()) {
    await page.evaluate((c) => { const box = document.getElementById('q'); box.value += c; box.dispatchEvent(new Event('input')); }, ch);
    assert.ok((await shown([...'名前解決の設定'].slice(0, i + 1).join(''))).includes('名前解決の設定'), ch);
  }
  page.off('request', note);
  // The word index and the documents in pieces of the store: neither word file nor indexed_docs.js.
  assert.ok(['indexed_terms.js', 'indexed_words.js', 'indexed_docs.js'].every((f) => !asked.includes(f)), asked.join(' '));
  assert.ok(asked.filter((name) => /^[a-z2-7]{13}\.js$/.test(name)).length >= 2, asked.join(' '));
});

// A large site's top: read instead of the head, its lists as the query needs them, the
// same answers (a word, a prefix, a typo, another script, the order by date).
test('a top beside the head answers as the head does', async () => {
  const asked = [];
  const note = (request) => asked.push(path.basename(new URL(request.url()).pathname));
  const pages = fs.readFileSync(path.join(topOut, 'indexed_pages.js'), 'utf8');
  const [, head, top] = pages.match(/"words":"([a-z2-7]{13}\.js)","top":"([a-z2-7]{13}\.js)"/);
  page.on('request', note);
  for (const q of ['commonword', 'comm', 'comonword', '\u043a\u0432\u043e\u0442\u044b', 'grosse']) {
    const topped = await results(q, topOut);
    assert.deepEqual(topped, await results(q, fullOut), q);
    assert.ok(topped.length > 0, q);
  }
  page.off('request', note);
  assert.ok(asked.includes(top) && !asked.includes(head), asked.join(' '));
  // search.html asks for indexed_pages.js and the top before search.js runs, and for
  // the query's list of shards and shard as they come: search.js takes those over, so
  // that no script is asked for twice.
  const early = await context.newPage();
  await early.addInitScript(() => {
    window.__added = [];
    new MutationObserver((records) => records.forEach((r) => r.addedNodes.forEach((node) => {
      if (node.nodeName === 'SCRIPT' && node.src) window.__added.push([node.src.split('/').pop(), !!window.VantrelSearch]);
    }))).observe(document, { childList: true, subtree: true });
  });
  await early.goto(searchUrl(topOut, 'commonword'));
  await early.waitForFunction(() => document.getElementById('results').dataset.query === 'commonword');
  const added = await early.evaluate(() => window.__added);
  await early.close();
  assert.deepEqual(added.filter(([name]) => name === top || name === 'indexed_pages.js'), [['indexed_pages.js', false], [top, false]], JSON.stringify(added));
  assert.equal(new Set(added.map(([name]) => name)).size, added.length, JSON.stringify(added));
});

test('a word index of another run or version is left aside for indexed_words.js', async () => {
  const stale = path.join(work, 'stale-terms'), foreign = path.join(work, 'foreign-terms');
  const edit = (file, from, to) => fs.writeFileSync(file, fs.readFileSync(file, 'utf8').replace(from, to));
  // The head of the pieces of another run; a pages file that names no head, beside a
  // word index of another format.
  copyIndex(out, stale);
  edit(path.join(stale, 'indexed_text', /"words":"([a-z2-7]{13}\.js)"/.exec(fs.readFileSync(path.join(out, 'indexed_pages.js'), 'utf8'))[1]), /"count":\d+/, '"count":1');
  // A pages file whose ranking pieces are not those its head names, though they hold
  // the same (asked for beside the head, they must not be taken with it).
  const mixed = path.join(work, 'mixed-ranks'), ranked = /"ranks":\["([a-z2-7]{13}\.js)"/;
  copyIndex(out, mixed);
  const headName = /"words":"([a-z2-7]{13}\.js)"/.exec(fs.readFileSync(path.join(mixed, 'indexed_pages.js'), 'utf8'))[1];
  const ranks = ranked.exec(fs.readFileSync(path.join(mixed, 'indexed_text', headName), 'utf8'))[1];
  fs.copyFileSync(path.join(mixed, 'indexed_text', ranks), path.join(mixed, 'indexed_text', 'aaaaaaaaaaaaa.js'));
  edit(path.join(mixed, 'indexed_pages.js'), /\};\s*$/, ',"ranks":["aaaaaaaaaaaaa.js"]};\n');
  copyIndex(out, foreign);
  edit(path.join(foreign, 'indexed_pages.js'), /,"words":"[^"]*"/, '');
  edit(path.join(foreign, 'indexed_terms.js'), '"format":2', '"format":3');
  // Neither holds real titles: a store that does not hold together is left whole.
  // The whole word index of this run still finds every script; indexed_words.js does not.
  for (const [dir, status, german] of [[stale, '', ['GR\u00f6\u00dfE \u00e4NDERN']], [mixed, '', ['GR\u00f6\u00dfE \u00e4NDERN']],
    [foreign, /indexed_terms\.js.*another version.*build the index again/, []]]) {
    assert.deepEqual(await results('mallocword', dir), ['MEMORY ALLOCATION'], dir);
    assert.deepEqual(await results('grosse', dir), german, dir);
    if (status) assert.match(await page.textContent('#status'), status); else assert.equal(await page.textContent('#status'), '');
  }
});

test('search_top.html opens the search page in the top window', async () => {
  const host = path.join(out, 'host.html');
  fs.writeFileSync(host, '<!doctype html><title>Host</title><iframe src="search_top.html"></iframe>');
  await page.goto(pathToFileURL(host).href);
  const bar = page.frameLocator('iframe');
  await bar.locator('#q').fill('memory');
  await Promise.all([page.waitForURL(/search\.html\?q=memory$/), bar.locator('#q').press('Enter')]);
  await page.waitForFunction(() => document.documentElement.dataset.ready);
  assert.deepEqual(await shown('memory'), ['Memory allocation']);
});

// A copy of the index in from (no pages).
function copyIndex(from, to) {
  fs.cpSync(from, to, { recursive: true, filter: (f) => f === from || /^(search|indexed_)/.test(path.relative(from, f)) });
  return to;
}

// The excerpt, title link and section links of the one result for q, once its text came.
async function described(q, dir = out) {
  await results(q, dir);
  await page.waitForFunction(() => document.querySelectorAll('script[data-texts]').length === 0);
  return firstResult();
}

const firstResult = () => page.$eval('#results li', (li) => ({
    title: li.querySelector('a.title').textContent, href: li.querySelector('a.title').href,
    excerpt: li.querySelector('.excerpt')?.textContent ?? null, marks: [...li.querySelectorAll('.excerpt mark')].map((m) => m.textContent),
    sections: [...li.querySelectorAll('.sections a')].map((a) => [a.textContent, new URL(a.href).hash]),
    markup: li.querySelectorAll('img, b').length,
  }));

test('excerpts with marks, links to sections, hostile text kept as text', async () => {
  const got = await described('wickword lampword', elsewhere);
  assert.equal(got.title, 'Sections <img src=x onerror=alert(1)> page');
  assert.match(got.excerpt, /^\u2026(filler ){8}lampword wickword\. (filler ){19}filler\u2026$/);
  assert.deepEqual([got.marks, got.sections, got.markup],
    [['lampword', 'wickword'], [['Care <b>x</b> of the wick', '#care:~:text=wickword%20lampword%20filler%20filler%20filler']], 0]);
  // The link opens the page at the section, also from an index written elsewhere, and
  // asks the browser to mark the passage.
  assert.equal(new URL(got.href).hash, '#set%20up:~:text=lampword%20wickword.');
  // A result made while its text is here (kept from the search before) shows the same
  // passage, marks, sections and link at once, with no text asked for again.
  await described('wickword', elsewhere);
  await page.focus('#q');
  await page.keyboard.press('End');
  await page.keyboard.type(' lampword');
  await shown('wickword lampword');
  assert.deepEqual([await firstResult(), await page.$$eval('script[data-texts]', (s) => s.length)], [got, 0]);
  await Promise.all([page.waitForEvent('load'), page.click('#results li a.title')]);
  assert.equal(await page.evaluate(() => document.getElementById(decodeURIComponent(location.hash.slice(1)))?.textContent), 'Setting up the lamp');
  // Without the text, the summary stands in, with its marks.
  const textless = copyIndex(elsewhere, path.join(work, 'textless')), store = path.join(textless, 'indexed_text');
  const head = fs.readFileSync(path.join(store, /"words":"([a-z2-7]{13}\.js)"/.exec(fs.readFileSync(path.join(textless, 'indexed_pages.js'), 'utf8'))[1]), 'utf8');
  const groups = fs.readFileSync(path.join(store, /"groups":"([a-z2-7]{13}\.js)"/.exec(head)[1]), 'utf8');
  for (const name of groups.match(/[a-z2-7]{13}\.js/g)) fs.rmSync(path.join(store, name));
  assert.match((await results('filler', textless)).join(), /Sections/);
  assert.match((await texts('#results .excerpt')).join(), /^filler filler/);
  assert.ok((await texts('#results .excerpt mark')).length > 1);
});

test('a result link lands on the matched passage, marked, far below its section\'s anchor', async () => {
  const got = await described('needleword haystack');
  assert.match(got.href, /long\.html#far:~:text=needleword%20haystack%20in%20the%20last$/);
  const landed = async () => page.evaluate(() => {
    const p = [...document.querySelectorAll('p')].find((e) => e.textContent.includes('needleword'));
    const box = p.getBoundingClientRect();
    return box.top >= 0 && box.bottom <= innerHeight;
  });
  await Promise.all([page.waitForEvent('load'), page.click('#results li a.title')]);
  await page.waitForFunction(() => scrollY > 0);
  assert.ok(await landed(), 'the passage is in view');
  // Without the directive (a browser that knows none) the anchor is where it lands.
  await page.goto('about:blank');
  await page.goto(got.href.replace(/:~:.*$/, ''));
  await page.waitForFunction(() => scrollY > 0);
  assert.equal(await landed(), false);
});

test('an accessibility engine finds nothing in the empty, results and no-results states', async () => {
  const axe = fs.readFileSync(axePath, 'utf8');
  for (const q of [undefined, 'wickword lampword', 'nosuchwordanywhere']) {
    if (q === undefined) await open(); else if (q === 'wickword lampword') await described(q); else await results(q);
    await page.addScriptTag({ content: axe });
    const found = await page.evaluate(() => window.axe.run(document, {
      runOnly: { type: 'tag', values: ['wcag2a', 'wcag2aa', 'wcag21a', 'wcag21aa', 'wcag22aa', 'best-practice'] },
    }).then((r) => r.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`)));
    assert.deepEqual(found, [], q);
  }
  // The flow a screen reader follows: the box controls the grid, the arrows choose a
  // cell, which the box names as its active descendant.
  await described('wickword lampword');
  await page.focus('#q');
  await page.keyboard.press('ArrowDown');
  assert.deepEqual(await page.evaluate(() => {
    const box = document.getElementById('q'), cell = document.getElementById(box.getAttribute('aria-activedescendant'));
    return [box.getAttribute('role'), document.getElementById(box.getAttribute('aria-controls')).getAttribute('role'),
      cell.getAttribute('role'), cell.getAttribute('aria-selected'), box.getAttribute('aria-expanded')];
  }), ['combobox', 'grid', 'gridcell', 'true', 'true']);
});

test('at 320 and 375 pixels nothing scrolls sideways and section links wrap', async () => {
  for (const width of [320, 375]) {
    await page.setViewportSize({ width, height: 700 });
    for (const q of ['wickword lampword', 'flood', 'commonword']) {
      await described(q);
      const sizes = await page.evaluate(() => [document.documentElement.scrollWidth, innerWidth,
        Math.max(0, ...[...document.querySelectorAll('#results a, #results .excerpt')].map((e) => e.getBoundingClientRect().right))]);
      assert.ok(sizes[0] <= sizes[1] && sizes[2] <= sizes[1], `${width} ${q}: ${sizes}`);
    }
  }
  await page.setViewportSize({ width: 1280, height: 720 });
});

test('page texts: only the results in view, a file\'s texts taken once, failures keep the summary', async () => {
  const copy = copyIndex(out, path.join(work, 'texts'));
  // The group of each document's text, from the documents in pieces the head names.
  const store = (name) => fs.readFileSync(path.join(copy, 'indexed_text', name), 'utf8');
  const head = store(/"words":"([a-z2-7]{13}\.js)"/.exec(fs.readFileSync(path.join(copy, 'indexed_pages.js'), 'utf8'))[1]);
  const entries = JSON.parse(/"docs":(\[[^\]]*\])/.exec(head)[1]).flatMap((name) => JSON.parse(/vantrelDocs\((.*)\);/s.exec(store(name))[1]));
  const groups = [...new Set(entries.map((e) => e[5]).filter(Boolean))];
  // The first result's file gives no text for it, then tries again with a forged one;
  // the second result's file is missing (or is the same file).
  const [first, second] = ['p00', 'p01'].map((p) => entries.find((e) => e[1] === `many/${p}.html`)[5]);
  fs.writeFileSync(path.join(copy, 'indexed_text', first), 'vantrelTexts([]);vantrelTexts(Array(64).fill({"text":"forged commonword","sections":[]}));');
  if (second !== first) fs.rmSync(path.join(copy, 'indexed_text', second));
  let loaded = 0;
  // Files of page texts (the store holds the word index's pieces too).
  const count = (request) => { loaded += groups.some((g) => request.url().endsWith('/indexed_text/' + g)); };
  page.on('request', count);
  await page.setViewportSize({ width: 800, height: 600 });
  await results('commonword', copy);
  await page.waitForFunction(() => document.querySelectorAll('script[data-texts]').length === 0);
  const inView = await page.$$eval('#results li', (lis) => lis.filter((li) => li.getBoundingClientRect().top < innerHeight).length);
  assert.ok(loaded > 0 && loaded <= inView && inView < 20, `${loaded} files of texts for ${inView} results in view`);
  const before = loaded;
  await page.evaluate(() => document.querySelector('#results li:last-child').scrollIntoView());
  for (let i = 0; i < 100 && loaded === before; i++) await page.waitForTimeout(50);
  assert.ok(loaded > before);
  const excerpts = await texts('#results .excerpt');
  assert.deepEqual([excerpts.filter((e) => /forged/.test(e)), excerpts[1]], [[], 'commonword']);
  page.off('request', count);
  await page.setViewportSize({ width: 1280, height: 720 });
});

test('old, plain and foreign companion data: the page works with the two index files', async () => {
  const foreign = path.join(work, 'foreign'), stale = path.join(work, 'stale');
  for (const [dir, from, to] of [[foreign, '"format":2', '"format":3'], [stale, /"count":\d+/, '"count":1']]) {
    copyIndex(out, dir);
    const file = path.join(dir, 'indexed_pages.js');
    fs.writeFileSync(file, fs.readFileSync(file, 'utf8').replace(from, to));
  }
  for (const [dir, status] of [[plainOut, ''], [foreign, /another version.*build the index again/], [stale, '']]) {
    assert.deepEqual(await results('mallocword', dir), ['MEMORY ALLOCATION'], dir);
    assert.equal((await texts('#results .excerpt')).length, 0, dir);
    if (status) assert.match(await page.textContent('#status'), status); else assert.equal(await page.textContent('#status'), '');
  }
});

const shownTitle = (title) => page.waitForFunction((want) => document.querySelector('#results li a.title')?.textContent === want, title, { timeout: 8000 });

test('an open page takes up the next run: results for the query in the box, or a button while the reader types', async () => {
  const live = path.join(work, 'live');
  const addPage = (name, word) => {
    fs.writeFileSync(path.join(live, name), `<title>${word} page</title><p>${word}</p>`);
    execFileSync(cli, [live, live], { stdio: 'pipe' });
    for (const f of ['search.html', 'search.js', 'search.css']) fs.copyFileSync(path.join(jsDir, f), path.join(live, f));
  };
  fs.mkdirSync(live);
  addPage('first.html', 'firstword');
  assert.deepEqual(await results('laterword', live), []);
  await page.evaluate(() => { window.sameDocument = true; document.getElementById('q').blur(); });
  addPage('later.html', 'laterword');
  await shownTitle('laterword page');
  assert.deepEqual(await page.evaluate(() => [window.sameDocument, document.getElementById('q').value]), [true, 'laterword']);
  // While keys keep coming in the box, the next run waits for the reader's click.
  await page.focus('#q');
  await page.evaluate(() => {
    const box = document.getElementById('q');
    box.value = 'thirdword';
    window.typing = setInterval(() => box.dispatchEvent(new Event('input')), 200);
  });
  addPage('third.html', 'thirdword');
  await page.waitForSelector('#newer:not([hidden])', { timeout: 8000 });
  assert.deepEqual(await texts('#results li a.title'), []);
  await page.evaluate(() => clearInterval(window.typing));
  await page.click('#newer');
  await shownTitle('thirdword page');
  assert.equal(await page.isHidden('#newer'), true);
});
