// The documentation sites that bench/ranking-eval.mjs and bench/peer-ranking-eval.mjs
// search with the reader queries of bench/queries: each a Debian documentation package
// and the folder of its pages, with the language the peer is told (translated manuals).
import fs from 'node:fs';
import path from 'node:path';
import { execFileSync } from 'node:child_process';
import { fileURLToPath } from 'node:url';

export const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..');

// English sites, searched by default; the translated manuals when named.
export const sites = {
  python: { pkg: 'python3.11-doc', dir: 'usr/share/doc/python3.11/html' },
  git: { pkg: 'git-doc', dir: 'usr/share/doc/git-doc' },
  postgresql: { pkg: 'postgresql-doc-15', dir: 'usr/share/doc/postgresql-doc-15/html', queries: 'pg' },
};
// The Debian handbook in six languages with different scripts: German, French, Russian
// and Japanese with tuning and held-out halves, Spanish and Chinese held out only.
for (const [lang, folder] of [['de', 'de-DE'], ['fr', 'fr-FR'], ['ru', 'ru-RU'], ['ja', 'ja-JP'], ['es', 'es-ES'], ['zh', 'zh-CN']]) {
  sites['handbook-' + lang] = { pkg: 'debian-handbook', dir: 'usr/share/doc/debian-handbook/html/' + folder, lang, translated: true };
}
// The Debian reference, one page a chapter, held out only.
for (const [lang, suffix] of [['de', 'de'], ['fr', 'fr'], ['ja', 'ja'], ['zh', 'zh-cn']]) {
  sites['reference-' + lang] = { pkg: 'debian-reference-' + suffix, dir: 'usr/share/debian-reference', lang, translated: true, perPackage: true };
}

// The folder of a site's pages: unpacked under build/docs/root or build-js/docs/root (or,
// for the packages that share a folder, build/corpora/x/PACKAGE or
// build-js/corpora/x/PACKAGE); else fetched with apt-get download and dpkg -x when fetch.
export function siteFolder(name, fetch = true) {
  const site = sites[name];
  const bases = [];
  for (const build of ['build', 'build-js']) {
    if (!site.perPackage) bases.push(path.join(root, build, 'docs/root'));
    bases.push(path.join(root, build, 'corpora/x', site.pkg));
  }
  for (const base of bases) {
    const dir = path.join(base, site.dir);
    if (fs.existsSync(dir)) return dir;
  }
  if (!fetch) throw new Error(`${name}: run bench/ranking-eval.mjs ${name} first, which fetches it`);
  const docs = path.join(root, 'build-js/corpora');
  fs.mkdirSync(docs, { recursive: true });
  console.error(`fetching ${site.pkg}`);
  execFileSync('apt-get', ['download', site.pkg], { cwd: docs, stdio: ['ignore', 'ignore', 'inherit'] });
  const deb = fs.readdirSync(docs).find((f) => f.startsWith(site.pkg + '_') && f.endsWith('.deb'));
  execFileSync('dpkg', ['-x', deb, path.join('x', site.pkg)], { cwd: docs });
  return path.join(docs, 'x', site.pkg, site.dir);
}

// The queries of a site's half ('tune' or 'held') as [query, answers], or null when the
// site has no such half.
export function siteQueries(name, half) {
  const file = path.join(root, 'bench/queries', `${sites[name].queries || name}-${half}.tsv`);
  if (!fs.existsSync(file)) return null;
  return fs.readFileSync(file, 'utf8').split('\n').filter((l) => l && !l.startsWith('#')).map((l) => l.split('\t'));
}
