// The searcher: the two index files and what is worked out from them once, and the
// search of a query. Finding a query word's matches (matching.js, over the word list of
// wordlist.js, nearest words of nearest.js and title words of titles.js) and ranking
// the pages (ranking.js) work on its state.
define('searcher', ['words', 'wordrules', 'bytes', 'links', 'bounds', 'wordlist', 'titles', 'matching', 'ranking'],
  function (words, wordrules, bytes, links, bounds, wordlist, titles, matching, ranking) {

var SOME_WORDS = 20;         // pages holding every word below which those holding some follow
var MAX_TERMS = bounds.MAX_TERMS, MAX_WORD_LENGTH = bounds.MAX_WORD_LENGTH, MAX_QUERY_LENGTH = bounds.MAX_QUERY_LENGTH;

// Searches the pages of docs (indexed_docs.js) by the words of index
// (indexed_words.js), or by the companion word index when options.terms gives it
// (terms.termsData, with options.realTitles the companion data's titles; or {list: a
// WordPieces, links: its link shares}): its keys, stem groups and link shares, and its word rules for queries, titles and file names.
// options.titles: the titleWords already made for the same words (or, with
// options.places, the PlaceWords that gathers them from the shards). Of documents in
// pieces (docs then holds only the entries that came): options.bytesMode and
// options.urlPrefixLength, as worked out from every location, and options.dates, the
// date of each document.
function Searcher(docs, index, options) {
  options = options || {};
  var n = docs.length, terms = options.terms || null;
  this.docs = docs;
  this.unicode = terms !== null;
  this.list = terms ? terms.list || new wordlist.WordList(terms.words, terms.groups) : new wordlist.WordList(index);
  this.links = terms ? terms.links : null;
  this.realTitles = terms && Array.isArray(options.realTitles) ? options.realTitles : [];
  this.docCount = n;
  this.bytesMode = 'bytesMode' in options ? options.bytesMode : bytes.readAsBytes(docs);
  this.urlPrefixLength = 'urlPrefixLength' in options ? options.urlPrefixLength : links.sharedUrlPrefix(docs);
  this.dates = options.dates || null;
  this.documents = null;     // the documents in pieces (documents.DocumentPieces), when they are
  this.titles = options.titles || null; // distinct title words and their documents
  this.places = options.places || null; // those of the shards that came (placewords.PlaceWords), when used
  this.loadDates = null;     // loads dates (done) when they come with the order by date
  this.summaries = null;     // distinct summary words and their documents, when used
  this.summaryHits = null;   // query words each page's summary holds
  this.termCache = new Map();
  this.firstKept = [];       // the pages of the last common first terms, kept for the next searches (ranking.collect)
  this.termClass = new Uint8Array(n);
  this.termScore = new Float64Array(n);
  this.hits = new Uint8Array(n);
  this.worst = new Uint8Array(n);
  this.score = new Float64Array(n);
  this.rankKey = new Int32Array(n);
  this.titleStamp = new Uint32Array(n);
  this.titleCovered = new Uint32Array(n); // halves of title words
  this.titleBest = new Uint8Array(n * MAX_TERMS);
  this.stamp = 0;
  this.seen = new Uint32Array(n);
  this.mark = 0;
  this.byUnits = false;      // this search ranks by the units of unitHits
  this.runSizes = null;      // and its runs asked for so many pairs each
  this.pending = null;       // the pages of a search stopped before ranking (search)
  // How many words each page has, for the design's lists only: they rank pages that
  // mention a word only in passing by how rarely they do, which favours long pages
  // (indexes, change logs) that mention everything once; fused scores are divided by
  // the fourth root of a page's length over the mean, as relevance models do with long
  // documents. The word index weighs the length of a page into the order of its lists.
  this.lengthFactor = terms ? null : lengthFactors(this.list.index, n);
}

// 1 / the fourth root of each page's number of words over the mean, from the lists of index.
function lengthFactors(index, n) {
  var length = new Float64Array(n), total = 0, i, r, d;
  for (i = 0; i < index.length; i++) {
    var entry = index[i];
    for (r = 1; r < entry.length; r++) {
      if (entry[r] >= 0 && entry[r] < n) length[entry[r]]++;
    }
    total += entry.length - 1;
  }
  var mean = n > 0 ? Math.max(1, total / n) : 1;
  for (d = 0; d < n; d++) length[d] = 1 / Math.sqrt(Math.sqrt(Math.max(1, length[d] / mean)));
  return length;
}

// Searches for a query. Returns {query, terms, docs (best first), order (the same, put
// in order as far as it is read), whole, partial}:
// whole is the number of pages holding every query word (the first of docs); partial
// is true when no page holds every query word and docs lists pages holding some.
// waits, when given, tells whether the answer still waits for data: asked once the
// query's words are matched (waits(terms), the terms that match something) and once
// the pages to rank are known (waits(terms, docs)); when it does, the search stops there and returns null, since a
// ranking made without that data would be thrown away. Stopped at the pages, it keeps
// them: the same query again, with the same matched words (the search of the next
// round, once only the data of ranking came), ranks them without collecting again.
Searcher.prototype.search = function (query, waits) {
  var pending = this.pending;
  this.pending = null;
  var texts = [], taken = new Set(), typed = String(query).slice(0, MAX_QUERY_LENGTH);
  var asked = this.unicode ? withoutJoints(this.queryKeys(typed.replace(ELISION, '$1'))) : this.queryKeys(typed);
  for (var k = 0; k < asked.length && texts.length < MAX_TERMS; k++) {
    if (!taken.has(asked[k].key)) { taken.add(asked[k].key); texts.push(asked[k]); }
  }
  var result = { query: query, terms: [], docs: [], order: NO_PAGES, whole: 0, partial: false };
  if (texts.length === 0) { this.release(pending); return result; }
  // Words that match nothing at all are left out of the search (and offered nothing).
  var known = [];
  for (var t = 0; t < texts.length; t++) {
    var term = matching.matchTerm(this, texts[t]);
    result.terms.push(term);
    if (term.matches.length > 0 || term.places.length > 0) known.push(term);
  }
  var kept = pending !== null && pending.query === query && pending.result.terms.length === result.terms.length &&
    result.terms.every(function (term, k) { return term === pending.result.terms[k]; });
  var waiting = waits ? waits(known) : false;
  if (!kept || waiting) this.release(pending);
  if (waiting) return null;
  var hits = this.hits, met, docs = [], i;
  var lost = known.length < texts.length;
  if (kept) {
    result = pending.result;
    met = pending.met;
    docs = pending.docs;
    this.byUnits = pending.byUnits;
    this.runSizes = pending.runSizes;
  } else if (this.unicode && known.length > 1 && !known.some(function (x) { return x.run; }) &&
             (met = this.everyWord(known)) !== null) {
    // Enough pages hold every word: they are the answer, as below, without collecting
    // the pages of each word alone.
    docs = met.slice();
    result.whole = docs.length;
    this.byUnits = false;
    this.runSizes = new Map();
  } else if (this.unicode && known.length > 1) {
    // The query's units: its words, and its runs of unspaced letters, each with the
    // number of pairs asked for; a unit none of whose forms any page holds is lost.
    var sizes = new Map(), found = new Map();
    for (t = 0; t < texts.length; t++) if (texts[t].run) sizes.set(texts[t].run, (sizes.get(texts[t].run) || 0) + 1);
    for (t = 0; t < known.length; t++) if (known[t].run) found.set(known[t].run, (found.get(known[t].run) || 0) + 1);
    lost = texts.filter(function (x) { return !x.run; }).length > known.filter(function (x) { return !x.run; }).length;
    sizes.forEach(function (size, run) { if ((found.get(run) || 0) < runNeeds(size)) lost = true; });
    met = ranking.collect(this, known, false);
    docs = this.wholeAndNear(known, sizes, met, result);
    this.byUnits = true;
    this.runSizes = sizes;
  } else {
    met = ranking.collect(this, known, true);
    // One word: every page met holds it.
    if (known.length === 1) docs = met;
    else for (i = 0; i < met.length; i++) if (hits[met[i]] === known.length) docs.push(met[i]);
    result.whole = docs.length;
    // No page holds every word: the pages that hold some.
    if (known.length > 1 && docs.length === 0) {
      for (i = 0; i < met.length; i++) hits[met[i]] = 0;
      docs = met = ranking.collect(this, known, false);
    }
  }
  if (!kept) result.partial = docs.length > 0 && (lost || result.whole === 0);
  result.docs = docs;
  var stop = { query: query, result: result, met: met, docs: docs, byUnits: this.byUnits, runSizes: this.runSizes };
  this.byUnits = false;
  this.runSizes = null;
  if (waits && waits(known, docs)) {
    this.pending = stop;
    return null;
  }
  this.byUnits = stop.byUnits;
  this.runSizes = stop.runSizes;
  var order = ranking.rank(this, docs, known), self = this;
  // Ranked from best pieces: how many of its first pages (screen at most) are settled,
  // asked before the next search.
  if (this.list.bestUsed) result.settle = function (screen) { return ranking.settled(self, docs, known, order, screen); };
  this.release(stop);
  return ordered(result, order);
};

// Gives result its order: result.order (an Order, put in order as far as it is read)
// and result.docs, every page in order, made when it is first read.
function ordered(result, order) {
  result.order = order;
  Object.defineProperty(result, 'docs', {
    get: function () { return order.all(); },
    set: function (docs) { Object.defineProperty(result, 'docs', { value: docs, writable: true, enumerable: true, configurable: true }); },
    enumerable: true, configurable: true
  });
  return result;
}

// The pages holding every one of terms (words, no runs of unspaced letters), when
// there are SOME_WORDS of them or more, the answer wholeAndNear gives then; else null,
// the per-page arrays cleared.
Searcher.prototype.everyWord = function (terms) {
  // Not when a word's lists alone hold fewer pages: collecting twice would cost more.
  for (var t = 0; t < terms.length; t++) {
    var most = 0, m;
    for (m = 0; m < terms[t].matches.length && most < SOME_WORDS; m++) most += this.list.entry(terms[t].matches[m].at).length - 1;
    var places = terms[t].places || [];
    for (m = 0; m < places.length && most < SOME_WORDS; m++) most += places[m].docs.length;
    if (most < SOME_WORDS) return null;
  }
  var met = ranking.collect(this, terms, true), hits = this.hits, all = [], i;
  for (i = 0; i < met.length; i++) if (hits[met[i]] === terms.length) all.push(met[i]);
  if (all.length >= SOME_WORDS) {
    for (i = 0; i < met.length; i++) if (hits[met[i]] !== terms.length) hits[met[i]] = 0;
    return all;
  }
  for (i = 0; i < met.length; i++) hits[met[i]] = 0;
  return null;
};

// Clears what a search left in the per-page arrays for its pages (stopped: what it
// kept for the next round).
Searcher.prototype.release = function (stopped) {
  if (!stopped) return;
  var hits = this.hits, met = stopped.met, i;
  for (i = 0; i < met.length; i++) hits[met[i]] = 0;
  if (stopped.byUnits) for (i = 0; i < met.length; i++) this.unitHits[met[i]] = 0;
  this.byUnits = false;
  this.runSizes = null;
};

// The keys of a query but the pairs that only join its words or end them by
// convention: in a run of unspaced letters that has pairs without hiragana, the pairs
// with hiragana (particles and endings: "タの" and "の設" of "プリンタの設定"), and a
// last pair that ends in the prolonged sound mark, which katakana words are written
// with or without ("サーバー", "サーバ"). The run is still marked whole where it stands.
var HIRAGANA = /[\u3041-\u309f]/, PROLONGED = /.\u30fc$/;
function withoutJoints(keys) {
  var content = new Map(), kept = [], k, key;
  for (k = 0; k < keys.length; k++) {
    key = keys[k];
    if (key.kind === wordrules.PAIR && !HIRAGANA.test(key.key)) content.set(key.run, (content.get(key.run) || 0) + 1);
  }
  for (k = 0; k < keys.length; k++) {
    key = keys[k];
    var joint = key.kind === wordrules.PAIR && content.get(key.run) > 0 &&
      (HIRAGANA.test(key.key) || (content.get(key.run) > 1 && PROLONGED.test(key.key) && key.run.slice(-key.key.length) === key.key));
    if (!joint) kept.push(key);
  }
  return kept;
}

// A letter and an apostrophe before a word: the article or preposition of French or
// Italian ("l'impression", "d’amorçage"), which alone would match nearly every page.
var ELISION = /(^|[^\p{L}\p{M}\p{Nd}_])\p{L}['\u2019](?=\p{L})/gu;

var runNeeds = ranking.runNeeds;
var NO_PAGES = new ranking.Order(null, []);

// The pages of met (collected for every term, with hits) that the result shows, with
// the word index: those that hold every unit of the query first, a unit being a word
// or a run of unspaced letters, which a page holds when it holds all its pairs but one
// in three (a compound may be written apart, "ログ ファイル", or end otherwise,
// "スケジューリング"). When fewer than a screenful of pages hold every unit, they are
// followed by those that lack one: a reader's words are not always the page's
// ("Zeitzone einstellen" for the page on time zones, which says "konfigurieren"). Of
// these, a page must hold the rarest unit, or have a title or file name that holds a
// query word or its form (a page left untranslated, "Introduction to AppArmor", for
// "apparmor профили"). When no page holds every unit, all of met. sizes: the number
// of pairs the query asked for in each run (also those that match nothing). Sets
// result.whole to the number of pages holding every unit, and leaves in unitHits how
// many units each page of met holds, for ranking (search clears it).
Searcher.prototype.wholeAndNear = function (terms, sizes, met, result) {
  var n = this.docCount, reached = this.reached, units = [], byRun = new Map(), t, i, k;
  for (t = 0; t < terms.length; t++) {
    if (!terms[t].run) units.push({ terms: [t], size: 1 });
    else if (byRun.has(terms[t].run)) byRun.get(terms[t].run).terms.push(t);
    else { var run = { terms: [t], size: sizes.get(terms[t].run) }; byRun.set(terms[t].run, run); units.push(run); }
  }
  if (this.unitCount === undefined) { this.unitCount = new Uint8Array(n); this.unitHits = new Uint8Array(n); }
  var count = this.unitCount, unitHits = this.unitHits, rarest = -1, rarestSize = Infinity;
  for (var u = 0; u < units.length; u++) {
    var unit = units[u], need = runNeeds(unit.size), held = [];
    for (k = 0; k < unit.terms.length; k++) {
      var list = reached[unit.terms[k]];
      for (i = 0; i < list.length; i++) if (++count[list[i]] === need) held.push(list[i]);
    }
    for (k = 0; k < unit.terms.length; k++) {
      list = reached[unit.terms[k]];
      for (i = 0; i < list.length; i++) count[list[i]] = 0;
    }
    for (i = 0; i < held.length; i++) unitHits[held[i]]++;
    if (held.length < rarestSize) { rarestSize = held.length; rarest = u; }
    unit.held = held;
  }
  var whole = [], U = units.length, mark = ++this.mark, seen = this.seen;
  for (i = 0; i < met.length; i++) if (unitHits[met[i]] === U) whole.push(met[i]);
  result.whole = whole.length;
  var docs = whole;
  if (whole.length === 0) docs = met;
  else if (whole.length < SOME_WORDS && U > 1) {
    for (i = 0; i < units[rarest].held.length; i++) seen[units[rarest].held[i]] = mark;
    for (t = 0; t < terms.length; t++) {
      for (k = 0; !terms[t].run && k < terms[t].places.length; k++) {
        var place = terms[t].places[k];
        if (place.cls <= matching.FORM) for (i = 0; i < place.docs.length; i++) seen[place.docs[i]] = mark;
      }
    }
    for (i = 0; i < met.length; i++) if (unitHits[met[i]] === U - 1 && seen[met[i]] === mark) whole.push(met[i]);
  }
  return docs;
};

// The keys a query asks for ({key, kind, run}, as wordrules.queryKeys gives them): by
// the word rules of the companion word index, or the design's words (the first
// MAX_TERMS distinct ones, cut to MAX_WORD_LENGTH).
Searcher.prototype.queryKeys = function (query) {
  if (this.unicode) return wordrules.queryKeys(query);
  var keys = [], seen = new Set();
  words.forEachWord(query, function (w) {
    if (w.length > MAX_WORD_LENGTH) w = w.slice(0, MAX_WORD_LENGTH);
    if (!seen.has(w)) { seen.add(w); keys.push({ key: w, kind: wordrules.WORD, run: null }); }
    return keys.length < MAX_TERMS;
  });
  return keys;
};

// Calls done once the dates are here for the order by date (at once without it).
Searcher.prototype.whenDated = function (byDate, done) {
  if (byDate && this.dates === null && this.loadDates) this.loadDates(done); else done();
};

// Documents newest first; equal dates keep their order.
Searcher.prototype.byDate = function (docs) {
  var all = this.docs, dates = this.dates;
  return ranking.byDate(dates ? function (d) { return dates[d]; } : function (d) { return all[d] ? all[d][3] : ''; }, docs);
};

// The words of the titles and file names (titleWords), made on first use.
Searcher.prototype.buildTitles = function () {
  if (this.titles === null) {
    this.titles = titles.titleWords(this.docs, this.unicode ? { titles: this.realTitles, bytesMode: this.bytesMode } : null);
  }
  return this.titles;
};

// Ranks by summaries too (summaryWords of the documents).
Searcher.prototype.useSummaries = function (summaries) {
  this.summaries = summaries;
  this.summaryHits = new Uint8Array(this.docCount);
  this.termCache.clear();
};

return { Searcher: Searcher };
});
