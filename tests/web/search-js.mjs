// What the Node tests of the search page share: the built search.js (VANTREL_JS_DIR
// names its folder, default build/bin/js), this folder, and a count of the work done
// inside Array searches.
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

export const here = path.dirname(fileURLToPath(import.meta.url));
export const jsDir = path.resolve(process.env.VANTREL_JS_DIR || path.join(here, '../../build/bin/js'));
export const S = createRequire(import.meta.url)(path.join(jsDir, 'search.js'));

// Work done inside Array searches (indexOf and the like) while run runs, counted by
// the length of the arrays searched: membership tests that scan arrays make long
// titles quadratic.
export function arrayScans(run) {
  const saved = { indexOf: [].indexOf, lastIndexOf: [].lastIndexOf, includes: [].includes, some: [].some };
  let scanned = 0;
  for (const [name, f] of Object.entries(saved)) Array.prototype[name] = function (...a) { scanned += this.length; return f.apply(this, a); };
  try { run(); } finally { Object.assign(Array.prototype, saved); }
  return scanned;
}
