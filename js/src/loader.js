// Loads indexed_docs.js, indexed_pages.js and indexed_words.js with <script> elements
// (so the page works from disk) and makes the searcher. The documents come first (a
// much smaller file): their titles are indexed while the words still load; the
// companion data (smaller than the words too) loads beside them and is optional: an
// index written with --plain or by an older version has none. Calls ready(searcher,
// pages), pages being the companion data's object or undefined, or failed(names) with
// the index files that are missing or damaged.

function IndexLoader(win, ready, failed) {
  this.win = win;
  this.ready = ready;
  this.failed = failed;
  this.waiting = 3;        // files not loaded yet
  this.missing = [];       // names of the files that failed
  this.titles = null;      // titleWords of the documents, once loaded
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
  var docs = this.win.docs, index = this.win.index;
  if (--this.waiting > 0) {
    if (name === 'indexed_docs.js' && validDocs(docs)) this.titles = titleWords(docs);
    return;
  }
  if (!validDocs(docs)) this.missing.push('indexed_docs.js');
  if (!validIndex(index)) this.missing.push('indexed_words.js');
  if (this.missing.length) {
    this.failed(Array.from(new Set(this.missing)));
    return;
  }
  var titles = this.titles && this.titles.size.length === docs.length ? this.titles : null;
  this.ready(new Searcher(docs, index, titles), this.win.pages);
};
