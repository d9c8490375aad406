// Loads the index files with <script> elements (so the page works from disk) and makes
// the searcher: indexed_docs.js, the companion data indexed_pages.js and the companion
// word index: the head of its pieces in the store when indexed_pages.js names one (the
// shards then come as searches need them), else indexed_terms.js; indexed_words.js only
// when there is no valid word index (an index written with --plain or by an older
// version). The documents come first (a
// much smaller file); the companion data is smaller than either word file too, so the
// words of the titles and summaries are indexed while the word file still loads. Calls
// ready(searcher, companion, termsState), companion being what companionData made of
// the companion data and termsState the state termsData gave the word index, or
// failed(names) with the index files that are missing or damaged. fresh, when given, is
// a query put after the names of the four files, so that a run written since is read.
// With indexed_pages.js of format 2, which names the head and the ranking pieces, the
// page loads neither indexed_docs.js nor a word file: the head and the ranking pieces
// side by side, the shards of the address's query once the head came, and then the
// shards and documents searches reach.
define('loader', ['bytes', 'titles', 'searcher', 'companion', 'terms', 'pieces', 'documents'], function (bytes, titles, searcher, companion, terms, pieces, documents) {

var DOCS = 'indexed_docs.js', PAGES = 'indexed_pages.js', TERMS = 'indexed_terms.js', WORDS = 'indexed_words.js';
var STORE = 'indexed_text/', HEAD = 'head', PIECE_NAME = /^[a-z2-7]{13}\.js$/;

function IndexLoader(win, ready, failed, fresh) {
  this.win = win;
  this.fresh = fresh || '';
  this.ready = ready;
  this.failed = failed;
  this.waiting = 3;        // files not loaded yet
  this.missing = [];       // names of the files that failed
  this.arrived = {};       // names of the files loaded or failed
  this.titles = null;      // titleWords of the documents, once loaded
  this.companion = null;   // companionData of the documents, once both loaded
  this.summaries = null;   // summaryWords of valid companion data
  this.unicode = false;    // whether titles and summaries are cut for the word index
  this.words = null;       // termsData of the word index, once it and the documents came
  this.head = null;        // the head of the word index in pieces, once it came
  this.list = null;        // the word pieces of that head, once it was checked
  this.query = '';         // the query whose shards are asked for with the head
  var self = this;
  // A piece counts only from the script that was asked for it, and only once.
  function take(data) {
    var script = win.document.currentScript;
    if (script && script.getAttribute('data-piece') && script.vantrelData === undefined) script.vantrelData = data;
  }
  win.vantrelWords = win.vantrelKeys = win.vantrelNear = win.vantrelGrams = win.vantrelInWord = win.vantrelLinks = win.vantrelDocs = win.vantrelRanks = win.vantrelNames = take;
  // The head is kept on its script too, for what search.html asks for as it comes.
  win.vantrelWordsHead = function (data) {
    var script = win.document.currentScript;
    if (script && script.getAttribute('data-piece') === HEAD && self.head === null) self.head = data;
    take(data);
  };
}

// Loads the piece name of the store and calls done(its data, or null).
IndexLoader.prototype.fetchPiece = function (name, done) {
  if (this.takeEarly(name, done)) return;
  var doc = this.win.document, script = doc.createElement('script');
  script.src = STORE + name;
  script.charset = 'utf-8';
  script.setAttribute('data-piece', name);
  script.onload = script.onerror = function () {
    var data = script.vantrelData;
    script.remove();
    done(data === undefined ? null : data);
  };
  doc.head.appendChild(script);
};

function validDocs(docs) {
  return Array.isArray(docs) && (docs.length === 0 || Array.isArray(docs[0]));
}

function validIndex(index) {
  return Array.isArray(index) && (index.length === 0 || (Array.isArray(index[0]) && typeof index[0][0] === 'string'));
}

function performanceMark(win, name) {
  if (win.performance && win.performance.mark) win.performance.mark(name);
}

// indexed_pages.js first: it tells whether the documents are in the store. The page
// that search.html opened with has run it already (or found it missing).
IndexLoader.prototype.start = function () {
  if (this.earlyScripts()) this.loaded(PAGES, true); else this.load(PAGES, 'utf-8');
};

// The scripts search.html asked for before this code ran, by piece name: only for the
// run the page opened with, since a later run's files are read afresh.
IndexLoader.prototype.earlyScripts = function () {
  var early = this.win.vantrelEarly;
  return this.fresh === '' && early && typeof early === 'object' ? early : null;
};

// Takes over the script that search.html asked for the piece name, once: calls
// done(its data, or null) once it has run, and returns true; false when there is none.
IndexLoader.prototype.takeEarly = function (name, done) {
  var early = this.earlyScripts(), script = early && Object.prototype.hasOwnProperty.call(early, name) ? early[name] : null;
  if (!script) return false;
  delete early[name];
  function taken() {
    script.remove();
    done(script.vantrelData === undefined ? null : script.vantrelData);
  }
  // As a script's load event would: in a later task, never within this call.
  if (script.vantrelCame) this.win.setTimeout(taken, 0); else script.vantrelThen = taken;
  return true;
};

function storeNamed(pages) {
  return !!pages && pages.format === 2 && typeof pages.words === 'string' && PIECE_NAME.test(pages.words);
}

IndexLoader.prototype.load = function (name, charset) {
  var self = this, script = this.win.document.createElement('script');
  var head = name === HEAD && this.win.pages.words;
  script.src = head ? STORE + head : name + this.fresh;
  if (head) script.setAttribute('data-piece', HEAD);
  if (charset) script.charset = charset;
  script.onload = function () { self.loaded(name, true); };
  script.onerror = function () { self.loaded(name, false); };
  this.win.document.head.appendChild(script);
};

IndexLoader.prototype.loaded = function (name, ok) {
  performanceMark(this.win, 'vantrel-loaded-' + name);
  if (!ok && (name === DOCS || name === WORDS)) this.missing.push(name);
  this.arrived[name] = true;
  // The word index: the head its pages file names, or the whole file.
  if (name === PAGES) {
    var named = this.win.pages && this.win.pages.words;
    if (storeNamed(this.win.pages)) { this.loadStore(); return; }
    this.load(DOCS, 'windows-1252');
    this.load(typeof named === 'string' && PIECE_NAME.test(named) ? HEAD : TERMS, 'utf-8');
  }
  var docs = this.win.docs, valid = validDocs(docs);
  if (valid && this.words === null && this.arrived[DOCS] && this.arrived[TERMS]) this.words = terms.termsData(this.win.terms, docs);
  if (valid && this.words === null && this.arrived[DOCS] && this.arrived[HEAD]) this.words = this.piecesOf(docs);
  if (--this.waiting > 0) {
    // While a word file loads: the words of titles and summaries.
    if (valid && this.titles === null && this.arrived[PAGES]) this.readCompanion(docs, this.words ? this.words.state === 'ok' : 'maybe');
    return;
  }
  var unicode = valid && this.words.state === 'ok';
  if (!unicode && !this.arrived[WORDS]) {
    this.waiting = 1;
    this.load(WORDS, 'windows-1252');
    return;
  }
  if (!valid) this.missing.push(DOCS);
  if (!unicode && !validIndex(this.win.index)) this.missing.push(WORDS);
  if (this.missing.length) {
    this.failed(Array.from(new Set(this.missing)));
    return;
  }
  if (this.titles === null || this.unicode !== unicode) this.readCompanion(docs, unicode);
  var found = unicode
    ? new searcher.Searcher(docs, null, { terms: this.words, titles: this.titles, realTitles: this.companion.titles })
    : new searcher.Searcher(docs, this.win.index, { titles: this.titles });
  if (this.summaries) found.useSummaries(this.summaries);
  this.ready(found, this.companion, this.words ? this.words.state : 'none');
};

// Format 2: the head and the ranking pieces side by side (indexed_pages.js names both;
// an index that names only the head has its ranking pieces asked for once the head
// came, unless its shards hold titles, file names and summaries), and the shards of the query's words as soon as the head is here; then the
// searcher over the word pieces and the documents in pieces. The ranking pieces are
// taken only when the head names the very same ones, so a page never ranks the words of
// one run with the documents of another.
IndexLoader.prototype.loadStore = function () {
  var self = this, win = this.win, pages = win.pages, doc = win.document, script = doc.createElement('script');
  var named = rankNames(pages.ranks), parts = named ? new Array(named.length) : null, waiting = 1, head = null, over = false;
  function one() {
    if (--waiting > 0 || over) return;
    over = true;
    // Titles, file names and summaries in the shards: the ranking pieces are for the
    // order by date, loaded when the reader asks for it.
    if (head.places === 1) { self.storeReady(head, null); return; }
    var ranks = documents.ranksOf(head, parts);
    if (!ranks) { self.fallBack(); return; }
    self.storeReady(head, ranks);
  }
  function fetchRanks(names) {
    waiting += names.length;
    names.forEach(function (name, i) {
      self.fetchPiece(name, function (data) { parts[i] = data; one(); });
    });
  }
  if (named) fetchRanks(named);
  function headCame(data) {
    // The head that came before this code did is kept on its script.
    if (self.head === null && data) self.head = data;
    var checked = documents.storeHeadData(self.head, pages);
    if (checked.state !== 'ok' || (named && !sameNames(named, checked.head.ranks))) { over = true; self.fallBack(); return; }
    head = checked.head;
    self.list = new pieces.WordPieces(head, head.count, function (name, done) { self.fetchPiece(name, done); });
    if (self.query) pieces.prefetch(self.list, self.query);
    if (!named && head.places !== 1) { parts = new Array(head.ranks.length); fetchRanks(head.ranks); }
    one();
  }
  if (this.takeEarly(headName(pages), headCame)) return;
  script.src = STORE + headName(pages);
  script.charset = 'utf-8';
  script.setAttribute('data-piece', HEAD);
  script.onload = script.onerror = function () {
    script.remove();
    headCame(null);
  };
  doc.head.appendChild(script);
};

// Asks, once the head came, for the shards that the words of query stand in, so that
// they load beside the ranking pieces.
IndexLoader.prototype.expect = function (query) {
  this.query = query;
  return this;
};

// The head to read: a large site's top when the pages file names one (the head less
// the lists that grow with the site, which it names in pieces), else the head.
function headName(pages) {
  return typeof pages.top === 'string' && PIECE_NAME.test(pages.top) ? pages.top : pages.words;
}

function rankNames(list) {
  return Array.isArray(list) && list.length > 0 && list.every(function (name) { return PIECE_NAME.test(name); }) ? list : null;
}

function sameNames(a, b) {
  return Array.isArray(b) && a.length === b.length && a.every(function (name, i) { return name === b[i]; });
}

// A store that does not hold together (a run written meanwhile, a damaged piece): the
// design's two files, and the whole word index when it is of this run.
IndexLoader.prototype.fallBack = function () {
  this.head = null;
  this.list = null;
  this.waiting = 2;
  this.load(DOCS, 'windows-1252');
  this.load(TERMS, 'utf-8');
};

IndexLoader.prototype.storeReady = function (head, ranks) {
  var self = this, made = documents.storeSearcher(head, ranks, this.win.pages.base, function (name, done) { self.fetchPiece(name, done); }, this.list);
  performanceMark(this.win, 'vantrel-loaded-store');
  this.ready(made.searcher, made.companion, 'ok');
};

// The word index in pieces for docs from the head that came: {state: 'ok', list,
// links}, or the state that tells why not.
IndexLoader.prototype.piecesOf = function (docs) {
  var checked = pieces.headData(this.head, docs), self = this;
  if (checked.state !== 'ok') return { state: checked.state === 'stale' ? 'stale' : 'damaged' };
  var list = new pieces.WordPieces(checked.head, docs.length, function (name, done) { self.fetchPiece(name, done); });
  return { state: 'ok', list: list, links: list.links };
};

// Reads the companion data of docs and indexes the words of its titles and summaries:
// by the word rules of the word index when unicode is true (or 'maybe' and the
// companion data is valid, since both are written together), else as the design's
// words.
IndexLoader.prototype.readCompanion = function (docs, unicode) {
  this.companion = companion.companionData(this.win.pages, docs);
  var ok = this.companion.state === 'ok';
  this.unicode = unicode === 'maybe' ? ok : unicode;
  this.titles = titles.titleWords(docs, this.unicode ? { titles: ok ? this.companion.titles : [], bytesMode: bytes.readAsBytes(docs) } : null);
  this.summaries = ok ? titles.summaryWords(this.companion.summaries, docs.length, this.unicode) : null;
};

return { IndexLoader: IndexLoader, performanceMark: performanceMark };
});
