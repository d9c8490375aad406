// Loads indexed_docs.js, indexed_pages.js and indexed_words.js with <script> elements
// (so the page works from disk) and makes the searcher. The documents come first (a
// much smaller file): their titles are indexed while the words still load; the
// companion data (smaller than the words too) loads beside them and is optional: an
// index written with --plain or by an older version has none. Calls ready(searcher,
// companion), companion being what companionData made of the companion data, or
// failed(names) with the index files that are missing or damaged. The summaries'
// words are indexed, for ranking, while the words file still loads.
define('loader', ['titles', 'searcher', 'companion'], function (titles, searcher, companion) {

function IndexLoader(win, ready, failed) {
  this.win = win;
  this.ready = ready;
  this.failed = failed;
  this.waiting = 3;        // files not loaded yet
  this.missing = [];       // names of the files that failed
  this.arrived = {};       // names of the files loaded or failed
  this.titles = null;      // titleWords of the documents, once loaded
  this.companion = null;   // companionData of the documents, once both loaded
  this.summaries = null;   // summaryWords of valid companion data
}

function validDocs(docs) {
  return Array.isArray(docs) && (docs.length === 0 || Array.isArray(docs[0]));
}

function validIndex(index) {
  return Array.isArray(index) && (index.length === 0 || (Array.isArray(index[0]) && typeof index[0][0] === 'string'));
}

function performanceMark(win, name) {
  if (win.performance && win.performance.mark) win.performance.mark(name);
}

IndexLoader.prototype.start = function () {
  this.load('indexed_docs.js', 'windows-1252');
  this.load('indexed_pages.js', 'utf-8');
  this.load('indexed_words.js', 'windows-1252');
};

IndexLoader.prototype.load = function (name, charset) {
  var self = this, script = this.win.document.createElement('script');
  script.src = name;
  if (charset) script.charset = charset;
  script.onload = function () { self.loaded(name, true); };
  script.onerror = function () { self.loaded(name, false); };
  this.win.document.head.appendChild(script);
};

IndexLoader.prototype.loaded = function (name, ok) {
  performanceMark(this.win, 'vantrel-loaded-' + name);
  if (!ok && name !== 'indexed_pages.js') this.missing.push(name);
  this.arrived[name] = true;
  var docs = this.win.docs, index = this.win.index;
  if (--this.waiting > 0) {
    if (name === 'indexed_docs.js' && validDocs(docs)) this.titles = titles.titleWords(docs);
    if (this.arrived['indexed_docs.js'] && this.arrived['indexed_pages.js'] && validDocs(docs)) this.readCompanion(docs);
    return;
  }
  if (!validDocs(docs)) this.missing.push('indexed_docs.js');
  if (!validIndex(index)) this.missing.push('indexed_words.js');
  if (this.missing.length) {
    this.failed(Array.from(new Set(this.missing)));
    return;
  }
  var made = this.titles && this.titles.size.length === docs.length ? this.titles : null;
  var found = new searcher.Searcher(docs, index, made);
  if (!this.companion) this.readCompanion(docs);
  if (this.summaries) found.useSummaries(this.summaries);
  this.ready(found, this.companion);
};

IndexLoader.prototype.readCompanion = function (docs) {
  this.companion = companion.companionData(this.win.pages, docs);
  if (this.companion.state === 'ok') this.summaries = titles.summaryWords(this.companion.summaries, docs.length);
};

return { IndexLoader: IndexLoader, performanceMark: performanceMark };
});
