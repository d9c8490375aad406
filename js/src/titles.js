// Titles, file names and summaries: their words, for pages the word list lacks and for
// ranking. With the companion word index, the real titles of the companion data and the
// file names are cut by its word rules; else the titles of indexed_docs.js by the
// design's rule.
define('titles', ['words', 'wordrules', 'bytes', 'bounds'], function (words, wordrules, bytes, bounds) {

var MAX_SUMMARY = bounds.MAX_SUMMARY, WORD = wordrules.WORD, PAIR = wordrules.PAIR;
var NO_NAME = 'Document has no name';  // the title of indexed_docs.js for a page without one
var MAX_NAME_WORDS = 16;               // file-name words weighed in the rank of a page

// Calls add(key, weighs) for each word of text: the design's words, or the keys of the
// word rules, of which the words and pairs weigh in the size of a title (their other
// keys, German spellings and single characters, only find it).
function eachKey(text, unicode, add) {
  if (!unicode) words.forEachWord(text, function (w) { add(w, true); });
  else wordrules.forEachToken(text, function (key, start, end, kind, german) {
    add(key, kind === WORD || kind === PAIR);
    if (german) add(german, false);
  }, true);
}

// The keys a query would give for text, as for the words of a file name.
function queryWords(text, unicode) {
  return unicode ? wordrules.queryKeys(text).map(function (k) { return k.key; }) : words.tokenize(text);
}

// The distinct words of all titles, each with its documents; which of them stand in
// a large share of the titles (a site's name, say), so tell nothing about a page;
// the number of other distinct words of each title ("Document has no name" has
// none); and the words of each page's file name without its extension. The page
// builds this while the word index is still loading. real: for the companion word
// index, {titles: the real titles of the companion data, bytesMode: how locations were
// read (see bytes.textBytes)}.
function titleWords(docs, real) {
  var unicode = !!real;
  return wordsOfTitles(docs.length, unicode, function (d) {
    var title = docs[d][1];
    if (typeof title !== 'string' || title === NO_NAME) return null;
    return unicode && typeof real.titles[d] === 'string' ? real.titles[d] : title;
  }, function (d) {
    var location = String(docs[d][2]);
    if (unicode) location = bytes.displayText(location, real.bytesMode);
    return location.slice(location.lastIndexOf('/') + 1);
  });
}

// As titleWords, from what the store's ranking pieces say of each page: ranks[d] is
// [title or null, file name as shown, ...] (the word rules of the word index).
function titleWordsOfRanks(ranks) {
  return wordsOfTitles(ranks.length, true, function (d) {
    return typeof ranks[d][0] === 'string' ? ranks[d][0] : null;
  }, function (d) {
    return String(ranks[d][1]);
  });
}

// titleWords of n pages, titleOf(d) giving the title whose words count (null for
// none) and fileOf(d) the file name.
function wordsOfTitles(n, unicode, titleOf, fileOf) {
  var byWord = new Map(), size = new Uint16Array(n), names = new Array(n);
  var byName = new Map(), distinct = 0, titled = 0, d, i;
  function add(w, weighs) {
    var entry = byWord.get(w);
    if (!entry) byWord.set(w, entry = { docs: [], weighs: [] });
    else if (entry.docs[entry.docs.length - 1] === d) return;
    entry.docs.push(d);
    entry.weighs.push(weighs);
    if (weighs) distinct++;
  }
  function addName(w) {
    var named = byName.get(w);
    if (!named) byName.set(w, [d]);
    else if (named[named.length - 1] !== d) named.push(d);
  }
  for (d = 0; d < n; d++) {
    var file = fileOf(d), dot = file.lastIndexOf('.');
    names[d] = queryWords(dot > 0 ? file.slice(0, dot) : file, unicode);
    // The extension is found too (a query may be a file name) but is no part of the name.
    eachKey(file, unicode, addName);
    if (names[d].length > MAX_NAME_WORDS) names[d].length = MAX_NAME_WORDS;
    var title = titleOf(d);
    if (title === null) continue;
    distinct = 0;
    eachKey(title, unicode, add);
    size[d] = Math.min(65535, distinct);
    if (distinct) titled++;
  }
  var found = Array.from(byWord.keys()), entries = Array.from(byWord.values()), lists = new Array(entries.length);
  var common = new Uint8Array(found.length), limit = Math.max(8, titled / 4);
  for (i = 0; i < found.length; i++) {
    var list = lists[i] = entries[i].docs;
    if (list.length <= limit) continue;
    common[i] = 1;
    for (var k = 0; k < list.length; k++) {
      if (entries[i].weighs[k] && size[list[k]] > 0) size[list[k]]--;
    }
  }
  return {
    words: found, docs: lists, common: common, size: size, names: names,
    nameWords: Array.from(byName.keys()), nameDocs: Array.from(byName.values())
  };
}

// The distinct words of the pages' summaries (companion data), each with its
// documents, as for titles: a page whose opening words hold the query's words is more
// likely about them than one that only mentions them. Only the first MAX_SUMMARY
// characters of a summary are read, as only they are shown. unicode: by the word rules
// of the companion word index.
function summaryWords(summaries, n, unicode) {
  var byWord = new Map(), d;
  function add(w) {
    var list = byWord.get(w);
    if (!list) byWord.set(w, [d]);
    else if (list[list.length - 1] !== d) list.push(d);
  }
  for (d = 0; d < n; d++) {
    if (typeof summaries[d] === 'string') eachKey(summaries[d].slice(0, MAX_SUMMARY), unicode, add);
  }
  return { words: Array.from(byWord.keys()), docs: Array.from(byWord.values()) };
}

return { NO_NAME: NO_NAME, titleWords: titleWords, titleWordsOfRanks: titleWordsOfRanks, summaryWords: summaryWords };
});
