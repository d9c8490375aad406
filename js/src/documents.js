// The documents in pieces of the store, for an index whose indexed_pages.js (format 2)
// names only the head: what ranking reads of every page (its title, file name, date and
// summary, a few large pieces loaded before the first search) and what a result shows
// (DocumentPieces, pieces of a few pages loaded for the results on screen). Every field
// is checked before use: anyone who can add a page to the site chooses its title.
define('documents', ['pieces', 'links', 'titles', 'searcher', 'placewords'], function (pieces, links, titles, searcher, placewords) {

var PIECE_NAME = /^[a-z2-7]{13}\.js$/;
var TEXT_FOLDER = 'indexed_text/';

function names(list, count) {
  return Array.isArray(list) && list.length === count && list.every(function (name) { return PIECE_NAME.test(name); });
}

function wholeNumber(n) {
  return typeof n === 'number' && n >= 0 && n % 1 === 0;
}

// What the page takes from a head for the companion data pages (format 2): {state:
// 'ok', head} or 'stale' (another run's) or 'damaged'.
function storeHeadData(head, pages) {
  if (!pages || !wholeNumber(pages.count) || typeof pages.check !== 'string') return { state: 'damaged' };
  var checked = pieces.headOf(head, pages.count, pages.check);
  if (checked.state !== 'ok') return checked;
  var n = pages.count, docGroup = head.docGroup, rankGroup = head.rankGroup;
  if (!(docGroup > 0) || docGroup % 1 !== 0 || !(names(head.docs, Math.ceil(n / docGroup)) || docListsOf(head, n)) ||
      !(rankGroup > 0) || rankGroup % 1 !== 0 || !names(head.ranks, Math.ceil(n / rankGroup)) ||
      (head.urlPrefix !== undefined && !wholeNumber(head.urlPrefix))) return { state: 'damaged' };
  return checked;
}

// Whether a top names the document pieces' names in lists (docListGroup names each)
// instead of naming them itself.
function docListsOf(head, n) {
  var group = head.docListGroup;
  return group > 0 && group % 1 === 0 && head.docs === undefined &&
    names(head.docLists, Math.ceil(Math.ceil(n / head.docGroup) / group));
}

// The ranking pieces that came, in order, as one array of [title or null, file name,
// date, summary] a page; null when one of them is missing or damaged.
function ranksOf(head, parts) {
  var n = head.count, ranks = new Array(n), d = 0;
  for (var p = 0; p < parts.length; p++) {
    var part = parts[p], expected = Math.min(head.rankGroup, n - p * head.rankGroup);
    if (!Array.isArray(part) || part.length !== expected) return null;
    for (var i = 0; i < part.length; i++, d++) {
      var e = part[i];
      if (!Array.isArray(e) || (e[0] !== null && typeof e[0] !== 'string') || typeof e[1] !== 'string' ||
          typeof e[2] !== 'string' || typeof e[3] !== 'string') return null;
      ranks[d] = e;
    }
  }
  return d === n ? ranks : null;
}

// head: checked by storeHeadData; base: the companion data's way to the pages;
// fetch(name, done) loads a piece as WordPieces' does. docs holds, for each document
// whose piece came, the entry indexed_docs.js would give it ([d, title, location,
// date]), and companion its real title, summary and text place, as companionData gives
// them (the same arrays, filled as pieces come).
function DocumentPieces(head, base, fetch) {
  var n = head.count;
  this.group = head.docGroup;
  this.count = n;
  var count = Math.ceil(n / this.group);
  // The pieces' names: from the head, or from the lists of a top as they come.
  this.names = head.docs || new Array(count).fill(null);
  this.listGroup = head.docs ? 0 : head.docListGroup;
  this.lists = head.docs ? [] : head.docLists;
  this.listLoading = new Map();  // list: callbacks waiting for it
  this.fetch = fetch;
  this.docs = pieces.sparseArray(n);
  this.came = new Uint8Array(count); // 1 loading, 2 come
  this.loading = new Map();  // piece: callbacks waiting for it
  this.groupIndex = new Map();
  this.companion = {
    state: 'ok', titles: pieces.sparseArray(n), summaries: pieces.sparseArray(n), base: links.siteBaseOf(base),
    texts: { folder: TEXT_FOLDER, groups: [], places: [] }
  };
}

// Whether the entries of every document of list have come.
DocumentPieces.prototype.has = function (list) {
  for (var i = 0; i < list.length; i++) if (this.came[Math.floor(list[i] / this.group)] !== 2) return false;
  return true;
};

// Loads the pieces of the documents of list that have not come, then calls done (at
// once when there are none). A piece that fails shows its documents without title.
DocumentPieces.prototype.ensure = function (list, done) {
  var self = this, waiting = 1;
  function one() { if (--waiting === 0) done(); }
  var wanted = new Set();
  for (var i = 0; i < list.length; i++) {
    var p = Math.floor(list[i] / this.group);
    if (p >= 0 && p < this.names.length && this.came[p] !== 2) wanted.add(p);
  }
  wanted.forEach(function (p) {
    waiting++;
    self.came[p] = 1;
    self.nameOf(p, function (name) {
      if (name === null) { self.keep(p, null); one(); return; }
      pieces.loadOnce(self.loading, p, name, self.fetch, function (data) { self.keep(p, data); }, one);
    });
  });
  one();
};

// Calls done with the name of piece p (null when its list failed or does not hold it),
// loading its list first when the top names lists.
DocumentPieces.prototype.nameOf = function (p, done) {
  var self = this;
  if (this.names[p] !== null || !this.listGroup) { done(this.names[p] || null); return; }
  this.loadList(Math.floor(p / this.listGroup), function () { done(self.names[p] || null); });
};

// Loads list l of the pieces' names once, then calls done.
DocumentPieces.prototype.loadList = function (l, done) {
  var self = this, first = l * this.listGroup;
  if (l < 0 || l >= this.lists.length || this.names[first] !== null) { done(); return; }
  pieces.loadOnce(this.listLoading, l, this.lists[l], this.fetch, function (list) {
    var expected = Math.min(self.listGroup, self.names.length - first);
    var ok = names(list, expected);
    for (var i = 0; i < expected; i++) self.names[first + i] = ok ? list[i] : '';
  }, done);
};

// Asks for the list of names of the documents whose link shares were asked for (pages
// a search ranks), when it covers the same pages: so that the names of the screen's
// pieces come beside the shares, not in a round of loads of their own.
DocumentPieces.prototype.besideLinks = function (linkGroup) {
  var self = this, pages = this.listGroup * this.group;
  if (!this.listGroup || pages !== linkGroup) return null;
  return function (g) { self.loadList(g, function () {}); };
};

// Takes the entries of piece p.
DocumentPieces.prototype.keep = function (p, data) {
  var first = p * this.group, end = Math.min(this.count, first + this.group), c = this.companion, texts = c.texts;
  var ok = Array.isArray(data) && data.length === end - first;
  for (var d = first; d < end; d++) {
    var e = ok ? data[d - first] : null;
    if (!Array.isArray(e)) e = [];
    this.docs[d] = [d, typeof e[0] === 'string' ? e[0] : '', typeof e[1] === 'string' ? e[1] : '', typeof e[2] === 'string' ? e[2] : ''];
    c.titles[d] = typeof e[3] === 'string' ? e[3] : null;
    c.summaries[d] = typeof e[4] === 'string' ? e[4] : null;
    if (typeof e[5] === 'string' && PIECE_NAME.test(e[5]) && wholeNumber(e[6])) {
      if (!this.groupIndex.has(e[5])) { this.groupIndex.set(e[5], texts.groups.length); texts.groups.push(e[5]); }
      texts.places[2 * d] = this.groupIndex.get(e[5]);
      texts.places[2 * d + 1] = e[6];
    }
  }
  this.came[p] = 2;
};

// The searcher of an index in the store: over the word pieces, ranking by the ranks
// (ranksOf) of every page, or, when ranks is null, by the titles, file names and
// summaries of the shards a search reaches (head.places); its documents in pieces;
// list: the word pieces of head when some were asked for already. Returns {searcher,
// companion}.
function storeSearcher(head, ranks, base, fetch, list) {
  list = list || new pieces.WordPieces(head, head.count, fetch);
  var docs = new DocumentPieces(head, base, fetch), places = ranks ? null : new placewords.PlaceWords(list, head.count);
  var found = new searcher.Searcher(docs.docs, null, {
    terms: { list: list, links: list.links }, titles: places || titles.titleWordsOfRanks(ranks), places: places,
    bytesMode: true, urlPrefixLength: head.urlPrefix, dates: ranks ? ranks.map(function (r) { return r[2]; }) : null
  });
  found.useSummaries(places ? places.summaries : titles.summaryWords(ranks.map(function (r) { return r[3]; }), head.count, true));
  found.documents = docs;
  list.linksAsked = docs.besideLinks(head.linkGroup);
  if (places) found.loadDates = function (done) { loadDates(head, fetch, found, done); };
  return { searcher: found, companion: docs.companion };
}

// The date of every page for the order by date, from the ranking pieces, once the
// reader asks for it; a piece that fails leaves its pages without a date (last).
function loadDates(head, fetch, found, done) {
  if (found.datesLoading) { found.datesLoading.push(done); return; }
  var n = head.count, dates = new Array(n).fill(''), waiting = head.ranks.length;
  found.datesLoading = [done];
  function finished() {
    found.dates = dates;
    var callbacks = found.datesLoading;
    found.datesLoading = null;
    callbacks.forEach(function (f) { f(); });
  }
  head.ranks.forEach(function (name, p) {
    fetch(name, function (part) {
      var first = p * head.rankGroup;
      if (Array.isArray(part) && part.length === Math.min(head.rankGroup, n - first)) {
        for (var i = 0; i < part.length; i++) if (Array.isArray(part[i]) && typeof part[i][2] === 'string') dates[first + i] = part[i][2];
      }
      if (--waiting === 0) finished();
    });
  });
  if (head.ranks.length === 0) finished();
}

return { storeSearcher: storeSearcher, storeHeadData: storeHeadData, ranksOf: ranksOf, DocumentPieces: DocumentPieces };
});
