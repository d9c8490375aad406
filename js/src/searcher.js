// The searcher: the two index files and what is worked out from them once, and the
// search of a query. Finding a query word's matches (wordlist.js, nearest.js,
// titles.js, matching.js) and ranking the pages (ranking.js) are its other methods.

// How a query word matches an indexed word, best first.
var EXACT = 0, PLURAL = 1, PREFIX = 2, INNER = 3, FUZZY = 4, NONE = 255;
var RRF_K = 10;              // reciprocal-rank fusion constant
var MIN_INNER = 3;           // shortest query word looked for inside longer words
var EXPANSION_BUDGET = 120000; // postings read for the prefix or inner words of a term
var MAX_INNER_WORDS = 1500;
var MAX_PREFIX_WORDS = 20000; // words a term begins that are looked at: the first in word order
var MAX_TERMS = 12;
var PLACE_RANK = 1000;       // where a title or file-name match counts in a word's list
var NO_NAME = 'Document has no name';
// Bounds on what anyone who adds a page to the site can make the page do. Real words
// are far shorter than MAX_WORD_LENGTH: longer query words are cut to it, which
// still finds the long word by its start, and nearest words are looked for only up
// to it. A query is read up to MAX_QUERY_LENGTH characters, and the nearest words of
// one query word cost at most FUZZY_CELL_BUDGET cells of edit distance (a typo takes
// up to 1.4 million on a synthetic site of 300,000 look-alike words, 60,000 on a
// documentation site of 20,000 words).
var MAX_WORD_LENGTH = 64;
var MAX_QUERY_LENGTH = 1000;
var FUZZY_CELL_BUDGET = 2000000;
var MAX_NAME_WORDS = 16;     // file-name words weighed in the rank of a page
// A page's fused score grows by SUMMARY_BOOST times the share of the query's words
// that its summary holds as they are or in the plural (companion data): measured on
// the held-out queries of bench/queries, as the other constants here.
var SUMMARY_BOOST = 1;
// A title or location is shown up to MAX_SHOWN characters (two lines or so of a
// wide window), with at most MAX_MARKS words marked.
var MAX_SHOWN = 300;
var MAX_MARKS = 30;

// titles: titleWords(docs) when already made.
function Searcher(docs, index, titles) {
  var n = docs.length;
  this.docs = docs;
  this.index = index;
  this.docCount = n;
  var bytesMode = true;
  for (var d = 0; d < n && bytesMode; d++) {
    if (NOT_CP1252.test(docs[d][1]) || NOT_CP1252.test(docs[d][2])) bytesMode = false;
  }
  this.bytesMode = bytesMode;
  this.urlPrefixLength = sharedUrlPrefix(docs);
  this.joined = null;        // "\nWORD\nWORD\n...": in-word matching by indexOf
  this.offsets = null;
  this.masks = null;         // letterMask of every word, for nearest words
  this.groupCount = null;    // weightGroups of every word, once known
  this.titles = titles || null; // distinct title words and their documents
  this.summaries = null;     // distinct summary words and their documents, when used
  this.summaryHits = null;   // query words each page's summary holds
  this.termCache = new Map();
  this.termClass = new Uint8Array(n);
  this.termScore = new Float64Array(n);
  this.hits = new Uint8Array(n);
  this.worst = new Uint8Array(n);
  this.score = new Float64Array(n);
  this.rankKey = new Int32Array(n);
  this.titleStamp = new Uint32Array(n);
  this.titleCovered = new Uint16Array(n);
  this.titleBest = new Uint8Array(n * MAX_TERMS);
  this.stamp = 0;
  this.seen = new Uint32Array(n);
  this.mark = 0;
  // How many words each page has. A word's list ranks pages that mention it only in
  // passing by how rarely they do, which favours long pages (indexes, change logs)
  // that mention everything once; fused scores are divided by the fourth root of a
  // page's length over the mean, as relevance models do with long documents.
  var length = new Float64Array(n), total = 0, i, r;
  for (i = 0; i < index.length; i++) {
    var entry = index[i];
    for (r = 1; r < entry.length; r++) {
      if (entry[r] >= 0 && entry[r] < n) length[entry[r]]++;
    }
    total += entry.length - 1;
  }
  var mean = n > 0 ? Math.max(1, total / n) : 1;
  for (d = 0; d < n; d++) length[d] = 1 / Math.sqrt(Math.sqrt(Math.max(1, length[d] / mean)));
  this.lengthFactor = length;
}

// Searches for a query. Returns {query, terms, docs (best first), partial}; partial
// is true when no page holds every query word and docs lists pages holding some.
Searcher.prototype.search = function (query) {
  var texts = [], seen = new Set();
  forEachWord(String(query).slice(0, MAX_QUERY_LENGTH), function (w) {
    if (w.length > MAX_WORD_LENGTH) w = w.slice(0, MAX_WORD_LENGTH);
    if (!seen.has(w)) { seen.add(w); texts.push(w); }
    return texts.length < MAX_TERMS;
  });
  var result = { query: query, terms: [], docs: [], partial: false };
  if (texts.length === 0) return result;
  // Words that match nothing at all are left out of the search (and offered nothing).
  var known = [];
  for (var t = 0; t < texts.length; t++) {
    var term = this.matchTerm(texts[t]);
    result.terms.push(term);
    if (term.matches.length > 0 || term.places.length > 0) known.push(term);
  }
  var hits = this.hits, met = this.collect(known, true), docs = [], i;
  for (i = 0; i < met.length; i++) {
    if (hits[met[i]] === known.length) docs.push(met[i]);
  }
  if (docs.length === 0 && known.length > 1) {
    for (i = 0; i < met.length; i++) hits[met[i]] = 0;
    docs = met = this.collect(known, false);
  }
  result.partial = docs.length > 0 && (known.length < texts.length || hits[docs[0]] < known.length);
  this.rank(docs, known);
  for (i = 0; i < met.length; i++) hits[met[i]] = 0;
  result.docs = docs;
  return result;
};
