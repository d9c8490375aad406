// Titles, file names and summaries: their words, for pages the word list lacks and for
// ranking.
define('titles', ['words', 'bounds'], function (words, bounds) {

var forEachWord = words.forEachWord, tokenize = words.tokenize, MAX_SUMMARY = bounds.MAX_SUMMARY;
var NO_NAME = 'Document has no name';  // the title of indexed_docs.js for a page without one
var MAX_NAME_WORDS = 16;               // file-name words weighed in the rank of a page

// The distinct words of all titles, each with its documents; which of them stand in
// a large share of the titles (a site's name, say), so tell nothing about a page;
// the number of other distinct words of each title ("Document has no name" has
// none); and the words of each page's file name without its extension. The page
// builds this while the word index is still loading.
function titleWords(docs) {
  var byWord = new Map(), size = new Uint16Array(docs.length), names = new Array(docs.length);
  var byName = new Map(), distinct = 0, titled = 0, d, i;
  function add(w) {
    var list = byWord.get(w);
    if (!list) byWord.set(w, [d]);
    else if (list[list.length - 1] !== d) list.push(d);
    else return;
    distinct++;
  }
  for (d = 0; d < docs.length; d++) {
    var title = docs[d][1], location = String(docs[d][2]);
    var file = location.slice(location.lastIndexOf('/') + 1), dot = file.lastIndexOf('.');
    names[d] = tokenize(dot > 0 ? file.slice(0, dot) : file);
    // The extension is found too (a query may be a file name) but is no part of the name.
    var found = dot > 0 ? names[d].concat(tokenize(file.slice(dot))) : names[d];
    for (i = 0; i < found.length; i++) {
      var named = byName.get(found[i]);
      if (!named) byName.set(found[i], [d]);
      else if (named[named.length - 1] !== d) named.push(d);
    }
    if (names[d].length > MAX_NAME_WORDS) names[d].length = MAX_NAME_WORDS;
    if (typeof title !== 'string' || title === NO_NAME) continue;
    distinct = 0;
    forEachWord(title, add);
    size[d] = Math.min(65535, distinct);
    if (distinct) titled++;
  }
  var words = Array.from(byWord.keys()), lists = Array.from(byWord.values());
  var common = new Uint8Array(words.length), limit = Math.max(8, titled / 4);
  for (i = 0; i < words.length; i++) {
    if (lists[i].length <= limit) continue;
    common[i] = 1;
    for (var k = 0; k < lists[i].length; k++) size[lists[i][k]]--;
  }
  return {
    words: words, docs: lists, common: common, size: size, names: names,
    nameWords: Array.from(byName.keys()), nameDocs: Array.from(byName.values())
  };
}

// The distinct words of the pages' summaries (companion data), each with its
// documents, as for titles: a page whose opening words hold the query's words is more
// likely about them than one that only mentions them. Only the first MAX_SUMMARY
// characters of a summary are read, as only they are shown.
function summaryWords(summaries, n) {
  var byWord = new Map(), d;
  function add(w) {
    var list = byWord.get(w);
    if (!list) byWord.set(w, [d]);
    else if (list[list.length - 1] !== d) list.push(d);
  }
  for (d = 0; d < n; d++) {
    if (typeof summaries[d] === 'string') forEachWord(summaries[d].slice(0, MAX_SUMMARY), add);
  }
  return { words: Array.from(byWord.keys()), docs: Array.from(byWord.values()) };
}

return { NO_NAME: NO_NAME, titleWords: titleWords, summaryWords: summaryWords };
});
