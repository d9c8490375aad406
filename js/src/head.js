/* generator: VantrelIndexer */
/*
 * VantrelIndexer search page.
 *
 * Reads the two index files that sit next to this script (loaded as classic scripts,
 * so the page also works when opened straight from disk):
 *   indexed_docs.js   var docs=[[number,"TITLE","location","dd-MM-yyyy"],...];
 *   indexed_words.js  var index=[["WORD",doc,doc,...],...];  words in ASCII order,
 *                     each word's documents best first.
 * and, when the indexer wrote them, the companion data (real titles, summaries, the
 * way to the pages) and the page texts of the results in view:
 *   indexed_pages.js          var pages={"format":2,"count":N,"check":"...","base":"...","words":"HEAD.js","ranks":[...]};
 *   indexed_text/NAME.js      vantrelTexts([{"text":"...","sections":[...]},...]);
 *                             the texts of a few pages, the file named by its bytes
 *
 * The search logic has no dependency on a browser, so Node can require this file and
 * test it; the page code (view, history, loader, page) runs only inside search.html.
 * The build joins this file from the modules in js/src, in the order CMakeLists.txt
 * gives, inside the wrapper below. Each module is one call of define(): its name, the
 * modules it takes from and a function that is given their namespace objects and
 * returns its own. Classic scripts, not ES modules, so that the page runs from file://.
 */
(function (root, factory) {
  'use strict';
  var api = factory();
  if (typeof module === 'object' && module.exports) {
    module.exports = api;
  } else {
    root.VantrelSearch = api;
    if (root.document && root.document.getElementById('q')) api.startPage(root);
  }
})(typeof self !== 'undefined' ? self : this, function () {
'use strict';

var modules = {};

// Makes module name: make is called with the namespace objects of the modules that
// needs names, each defined before it, and returns this module's.
function define(name, needs, make) {
  var given = needs.map(function (need) {
    if (!Object.prototype.hasOwnProperty.call(modules, need)) throw new Error('search.js: module ' + name + ' needs ' + need + ', which comes later');
    return modules[need];
  });
  modules[name] = make.apply(null, given);
}
