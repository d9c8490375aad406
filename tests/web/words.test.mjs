// The search page over the companion word index (indexed_terms.js), run in Node: its
// word rules against the shared cases, the word list, searching, ranking, marks and
// excerpts by those rules, and what hostile text costs (counted, not timed).
// VANTREL_JS_DIR names the folder of the built page (default: build/bin/js).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { S, here, arrayScans } from './search-js.mjs';

// A page's text cut into keys as the index column says, a query as the query column
// says ("=": the same keys).
test('page texts and queries follow the shared word cases', () => {
  const table = readFileSync(path.join(here, '../data/word-cases.tsv'), 'utf8');
  const cases = table.split('\n').filter((line) => line && !line.startsWith('#'));
  assert.ok(cases.length >= 20);
  const escapes = { t: '\t', n: '\n' };
  for (const line of cases) {
    const [input, index, query] = line.split('\t');
    const text = input.replace(/\\(u[0-9A-Fa-f]{4}|t|n)/g, (_, e) => escapes[e] ?? String.fromCharCode(parseInt(e.slice(1), 16)));
    const keys = [];
    S.forEachToken(text, (key, start, end, kind, german) => {
      assert.ok(start < end && end <= text.length, `${line}: ${key} at ${start}-${end}`);
      keys.push(key);
      if (german) keys.push(german);
    });
    assert.equal(keys.join(' '), index, `${line} (index)`);
    assert.equal(S.queryKeys(text).map((k) => k.key).join(' '), query === '=' ? index : query, `${line} (query)`);
  }
});

// A word index as the indexer writes one, from pages [title, text, link share]: every
// key of the title and text, its pages by weight (a title use 3, each other use a
// little), and the stem groups given as [stem, word, ...].
// pages: [title, text, share of the text in links, file name]; groups: [stem, key...].
function site(pages, groups = []) {
  const weights = new Map();
  pages.forEach(([title, text], d) => {
    for (const [part, weight] of [[title, 3], [text, 0.1]]) {
      S.forEachToken(part, (key, start, end, kind, german) => {
        for (const k of german ? [key, german] : [key]) {
          const byPage = weights.get(k) || weights.set(k, new Map()).get(k);
          byPage.set(d, (byPage.get(d) || 0) + weight);
        }
      });
    }
  });
  const words = [...weights.keys()].sort().map((k) => [k, ...[...weights.get(k)].sort((a, b) => b[1] - a[1] || a[0] - b[0]).map(([d]) => d)]);
  const at = (k) => words.findIndex((e) => e[0] === k);
  const docs = pages.map(([title, , , file], d) => [d, title.toUpperCase(), file || `p${d}.html`, '']);
  const terms = { format: 2, count: docs.length, check: S.documentsCheck(docs), words,
    groups: groups.map(([stem, ...forms]) => [stem, ...forms.map(at).filter((p) => p >= 0)]).sort((a, b) => (a[0] < b[0] ? -1 : 1)),
    links: pages.map((p) => p[2] || 0) };
  const searcher = new S.Searcher(docs, null, { terms: S.termsData(terms, docs), realTitles: pages.map((p) => p[0]) });
  return { docs, terms, searcher, find: (q) => searcher.search(q).docs };
}

const handbook = site([
  ['8.7. Druckereinrichtung', 'Der Drucker wird mit CUPS eingerichtet. Die Druckereinrichtung einstellen.'],
  ['Einrichten von Freigaben mit Samba', 'Drucker und Dateien freigeben; einrichten und einstellen von Samba'],
  ['8.9. Weitere Konfigurationen', 'Die Zeitzone konfigurieren. Zeitsynchronisation.'],
  ['Kapitel 8. Basis-Konfigurierung', 'Die Zeitzone einstellen, die Sprache einstellen.', 15],
  ['Inhalt', 'Druckereinrichtung Zeitzone einstellen Квоты 名前解決 プリンタ設定 résolution', 90],
  ['Квоты', 'Квоты на диске: квота пользователя. Ёжик.'],
  ['名前解決サービスの設定', '名前解決は東京都のサーバで行う。'],
  ['8.7. プリンタ設定', 'プリンタ設定は CUPS で行う。'],
  ['Résolution de noms', "La résolution de l'adresse. Größe."],
  ['Zertifikat', 'Ein Zertifikat erstellen; des Zertifikats. f-string'],
  ['ログの管理', 'ログ ファイルを循環する。タスクのスケジューリング。'],
], [['einricht', 'einrichten', 'eingerichtet'], ['квот', 'квоты', 'квота'], ['zertifikat', 'zertifikat', 'zertifikats']]);

test('the word list: prefixes of any script, stem groups, words that are not indexed', () => {
  const list = site([['квота квоты квотой кво кван über', '']]).searcher.list;
  const words = (range) => list.index.slice(...range).map((e) => e[0]);
  // The keys after a prefix may hold any character, above "\x7f" too.
  assert.deepEqual(['кво', 'квот', 'кв', 'ub', 'ü', 'zz'].map((p) => words(list.prefixRange(p))),
    [['кво', 'квота', 'квотой', 'квоты'], ['квота', 'квотой', 'квоты'], ['кван', 'кво', 'квота', 'квотой', 'квоты'], ['uber'], [], []]);
  const { searcher } = handbook, key = (p) => searcher.list.index[p][0];
  for (const [word, forms] of [
    ['квоты', ['квота']], ['zertifikat', ['zertifikats']],
    // Not indexed: the group of the longest stem it begins with, a few letters on.
    ['zertifikate', ['zertifikat', 'zertifikats']], ['квотами', ['квота', 'квоты']],
    ['zertifikatsverwaltung', []], ['drucker', []],
  ]) {
    const found = searcher.list.formsOf(word, searcher.list.find(word));
    assert.deepEqual(found.positions.map(key).sort(), forms, word);
  }
});

test('word index data: tied to its docs by count and check, parts checked before use', () => {
  const { docs, terms } = handbook;
  for (const [changed, state] of [[undefined, 'none'], [{ format: 1 }, 'format'], [{ count: 3 }, 'stale'], [{ check: '00000000' }, 'stale'],
    [{ words: 'x' }, 'damaged'], [{ words: [['a', 1], [7, 2]] }, 'damaged'], [{}, 'ok']]) {
    assert.equal(S.termsData(changed && { ...terms, ...changed }, docs).state, state, JSON.stringify(changed));
  }
  const odd = S.termsData({ ...terms, groups: [['a', 0], 'b'], links: [-5, 250, '40', 33.4] }, docs);
  assert.deepEqual([odd.groups, [...odd.links.slice(0, 4)]], [[], [0, 100, 0, 33]]);
});

test('searching the word index: accents, forms, compounds, runs of unspaced letters', () => {
  const { find, searcher } = handbook;
  for (const [q, want] of [
    // Accents and case folded both ways; German spellings as readers type them.
    ['resolution', [8, 4]], ['RÉSOLUTION', [8, 4]], ['groesse', [8]], ['grosse', [8]], ['ежик', [5]],
    // Forms by the stem groups (the word itself first), also of a word not indexed.
    ['квота', [5, 4]], ['zertifikate', [9]],
    // A stem stands inside a compound; a word begins one.
    ['einrichten', [1, 0, 4]], ['drucker einrichten', [0, 1, 4]],
    // Unspaced runs by their pairs; hiragana pairs of a mixed run only join it, and a
    // katakana word is found with or without its last prolonged sound mark; an article
    // elided before a word is no word.
    ['名前解決', [6, 4]], ['東京都', [6]], ['プリンタの設定', [7, 4]], ['サーバー', [6]], ["l'adresse", [8]], ['f-string', [9]],
    // A page holds a run when it holds all its pairs but one in three: a compound
    // written apart, a word that ends otherwise.
    ['ログファイル', [10]], ['スケジュール タスク', [10]],
  ]) {
    const result = searcher.search(q);
    assert.deepEqual([result.docs, result.partial], [want, false], q);
  }
  // Without its last prolonged sound mark, a run may lack one pair less.
  const server = site([['A', 'ログ用のサーバ'], ['B', 'ログ']]).searcher.search('ログサーバー');
  assert.deepEqual([server.docs, server.whole], [[0], 1]);
  assert.deepEqual(["l'adresse", 'd’une qu\'il'].map((q) => searcher.search(q).terms.map((t) => t.text)), [['adresse'], ['une', 'qu', 'il']]);
  // The terms of a run of unspaced letters are its pairs, marked as the run.
  assert.deepEqual(searcher.search('プリンタの設定').terms.map((t) => [t.text, t.run]),
    [['プリ', 'プリンタの設定'], ['リン', 'プリンタの設定'], ['ンタ', 'プリンタの設定'], ['設定', 'プリンタの設定']]);
  // Nearest words of any script, offered as keys.
  assert.deepEqual(['кваты', 'zertifkat'].map((q) => searcher.search(q).terms[0].suggestions), [['квоты'], ['zertifikat']]);
});

test('ranking the word index: navigation pages, titles, pages that lack a word', () => {
  const { find, searcher } = handbook;
  // The table of contents (90% links) holds every word but comes after the sections;
  // the title holding both words (as parts) before the page using both in its text.
  assert.deepEqual(find('druckereinrichtung'), [0, 4]);
  // A word of one or two letters does not rank a title or file name that a longer word
  // of it begins.
  assert.deepEqual(site([['Comptes', 'le mot de passe'], ['Détection des intrusions', 'le mot de passe']]).find('mot de passe'), [0, 1]);
  assert.deepEqual(site([['Upgrades', 'mise a jour, mise a jour', 0, 'upgrade.html'], ['Tools', 'mise a jour', 0, 'apt.html']]).find('mise a jour'), [0, 1]);
  // A page's uses of the forms of a word add up (the others at half weight).
  assert.deepEqual(site([['A', 'квота'], ['B', 'квота квоты квотами']], [['квот', 'квота', 'квоты', 'квотами']]).find('квота'), [1, 0]);
  // The table of contents first in the word's list, as it uses the word most.
  assert.deepEqual(site([['Chapter 1', 'gamma delta gamma', 80], ['1.1 Section', 'gamma delta']]).find('gamma'), [1, 0]);
  // What titles say: a chapter's title listing many topics gives no rank for one of them
  // (the section that uses it most comes first); a pair of a run found in a title apart
  // from the rest of the run ("ンド" of "ハンドブック") is no title match; a run counts
  // once, however many of its pairs a page holds (the page lacking "ト管" of
  // "アカウントの管理" holds the run too, and its title is all "ldap"); a title word
  // that only begins with the query word's stem (a compound) covers half a word; a
  // title a little more about the query gives no place before a page using it far more;
  // of two titles holding every query word, one half about them comes before one that
  // lists them among others, though the other page holds the word as typed.
  for (const [pages, q, want, groups] of [
    [[['Network services: Postfix, Apache, NFS, Samba, Squid, LDAP, SIP, XMPP', 'squid'], ['HTTP proxy', 'squid '.repeat(40)]], 'squid', [1, 0]],
    [[['Debian ハンドブック', 'ウィンドウマネージャ'], ['13.2 グラフィカル', 'ウィンドウマネージャ ウィンドウマネージャ']], 'ウィンドウマネー', [1, 0]],
    [[['Network services: Postfix, Apache, LDAP', 'アカウント管理 ldap'], ['LDAP', 'アカウントの管理']], 'LDAP アカウント管理', [1, 0]],
    [[['Tâches : anacron, planification', 'tâches'], ['Tâches avec cron et atd', 'tâches '.repeat(50)], ['Autre', 'tâches '.repeat(40)]], 'tâches', [1, 0, 2]],
    [[['Configuration de base : réseau, comptes, impression, clavier', 'configurer impression'], ["Configuration de l'impression", 'configuration impression']],
      'configurer impression', [1, 0], [['configur', 'configurer', 'configuration']]],
    [[['Paketbetreuer werden', 'abhängigkeiten ' + 'pakets '.repeat(40)], ['Pakets Information', 'abhängigkeiten pakets']], 'abhängigkeiten pakets', [1, 0], [['paket', 'paket', 'pakets']]],
  ]) assert.deepEqual(site(pages, groups).find(q), want, q);
  // Fewer than a screenful hold every word: then the pages lacking one, but the rarest.
  const result = searcher.search('zeitzone einstellen');
  assert.deepEqual([result.docs, result.whole, result.partial], [[3, 4, 2], 2, false]);
  // Or a page whose title holds a query word, though it lacks the rarest (a page left
  // in English in a Russian manual).
  const apparmor = site([['Структура книги', 'apparmor профили'], ['Introduction to AppArmor', 'apparmor profile'],
    ['Профили', 'профили'], ['SELinux', 'apparmor selinux']]).searcher.search('apparmor профили');
  assert.deepEqual([[...apparmor.docs].sort(), apparmor.whole], [[0, 1, 2], 1]);
});

// As a query grows key by key, a searcher that answered the keys before it (its words
// matched, the pages of a common first word kept) answers as one that never searched.
test('a query typed key by key answers as on a page opened fresh', () => {
  let seed = 3;
  const next = (n) => { seed = (seed * 1103515245 + 12345) % 2147483648; return seed % n; };
  const vocabulary = ['the', 'then', 'these', 'other', 'together', 'java', 'javadoc', 'jar', 'get', 'getter', 'target', 'widget', 'lone'];
  const pages = Array.from({ length: 160 }, (_, d) => {
    const text = Array.from({ length: 2 + next(12) }, () => vocabulary[next(12)]).join(' ');
    return [`${vocabulary[next(12)]} ${d % 5 === 0 ? 'java' : 'page'}`, (d % 4 ? 'the ' : '') + text, next(60), d % 7 ? `p${d}.html` : `get-${d}.html`];
  });
  pages.push(['Alone', 'lone lone', 0, 'alone.html']);
  const grown = site(pages, [['get', 'get', 'getter']]).searcher;
  const typed = ['the', 'the ', 'the j', 'the jav', 'the java', 'the lone', 'th', 'get', 'get java', 'target', 'the get', 'the get lone'];
  for (const query of typed.flatMap((q) => Array.from({ length: q.length }, (_, i) => q.slice(0, i + 1)))) {
    const fresh = site(pages, [['get', 'get', 'getter']]).searcher.search(query), again = grown.search(query);
    assert.deepEqual([again.docs, again.whole, again.partial], [fresh.docs, fresh.whole, fresh.partial], query);
  }
  // Those of "the" were kept, and put back for each query it begins ("the lone": no page
  // holds both, so they are put back twice).
  assert.deepEqual([grown.firstKept[0].term.text, grown.search('the lone').partial], ['the', true]);
  // A common word asked again after others is put back, not collected again: the last
  // four are kept, the last asked first, whatever the number of words asked.
  const keptOf = (text) => grown.firstKept.find((k) => k.term.text === text);
  const the = keptOf('the');
  for (const query of ['get', 'java', 'the', 'other', 'together', 'get java', 'the', 'then', 'page', 'java']) {
    const fresh = site(pages, [['get', 'get', 'getter']]).searcher.search(query), again = grown.search(query);
    assert.deepEqual([again.docs, again.whole, again.partial], [fresh.docs, fresh.whole, fresh.partial], query);
    if (query === 'the') assert.equal(grown.firstKept[0], the, 'put back, not collected again');
  }
  assert.deepEqual(grown.firstKept.map((k) => k.term.text), ['java', 'page', 'the', 'get']);
  // A word matched anew (as when a piece came) replaces what it kept, not beside it.
  grown.termCache.clear();
  grown.search('page');
  assert.deepEqual(grown.firstKept.map((k) => k.term.text), ['page', 'java', 'the', 'get']);
});

test('marks by the word rules: whole words, runs where the query run stands', () => {
  const { searcher } = handbook;
  const marks = (text, q) => S.highlightSpans(text, searcher.search(q).terms, true).map(([a, b]) => text.slice(a, b));
  for (const [text, q, want] of [
    ['Die Größe der Größenordnung', 'gro', ['Größe', 'Größenordnung']],
    ['Die GRÖSSE und groesse', 'größe', ['GRÖSSE']],
    ['Resolution, résolution', 'resolution', ['Resolution', 'résolution']],
    ['Die Druckereinrichtung einrichten', 'einrichten', ['Druckereinrichtung', 'einrichten']],
    // The run where it stands whole, else its pairs; never a part of a character.
    ['東京都の名前解決と名前', '名前解決', ['名前解決']],
    ['名前と解決', '名前解決', ['名前', '解決']],
    ['ﾌﾟﾘﾝﾀ設定。プリンタの設定', 'プリンタの設定', ['ﾌﾟﾘﾝﾀ設定', 'プリンタの設定']], ['ｶﾞｷﾞ ｷﾞ', 'ギ', ['ｷﾞ', 'ｷﾞ']],
  ]) assert.deepEqual(marks(text, q), want, `${text} / ${q}`);
});

test('excerpts by the word rules: unspaced text, forms and German spellings', () => {
  const { searcher } = handbook;
  const text = '前書き。'.repeat(40) + 'プリンタ設定は CUPS で行う。' + 'その他。'.repeat(40);
  const page = new S.PageText(text, [[0, 'top', '前書き']], true);
  const found = page.excerpt(searcher.search('プリンタの設定').terms);
  assert.match(found.text, /^\u2026.*プリンタ設定は CUPS で行う。.*\u2026$/);
  // Two characters of unspaced text weigh as one word: an excerpt of about 60.
  assert.ok(found.text.length >= 55 && found.text.length <= 80, found.text);
  // A word and its German spelling at one place are one use of it.
  const german = new S.PageText('Die Größe, nicht die Grösse.', [], true);
  assert.deepEqual(german.matchesOf(searcher.search('gro').terms[0]).places, Int32Array.of(1, 4));
  assert.equal(new S.PageText('Квоты и квота.', [], true).excerpt(searcher.search('квоты').terms).text, 'Квоты и квота.');
});

test('hostile text and queries cost bounded work by the word rules', () => {
  const { searcher } = handbook, L = S.limits;
  // A query of a thousand unspaced letters asks for a few pairs.
  assert.deepEqual(searcher.search('名前'.repeat(2000)).terms.map((t) => t.text), ['名前', '前名']);
  assert.equal(searcher.search(Array.from({ length: 500 }, (_, i) => String.fromCharCode(0x4e00 + i)).join('')).terms.length, L.MAX_TERMS);
  // Marks in a long run of one character: bounded, and found without scanning arrays.
  const run = 'あ'.repeat(3000);
  let spans;
  assert.ok(arrayScans(() => { spans = S.highlightSpans(run, searcher.search('ああ').terms, true); }) < 10000);
  assert.ok(spans.length <= L.MAX_MARKS);
  // A page of a million unspaced letters keeps a bounded number of places.
  const big = new S.PageText('字'.repeat(1000000), [], true);
  assert.ok(big.starts.length <= 300000);
});
