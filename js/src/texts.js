// Page texts, indexed_text/STAMP/N.js: loaded only for the results in view, with
// <script> elements (so the page works from disk), each of which calls
// vantrelText(N, {text, sections}). A few load at once; the ones that arrived are kept
// for the next searches; a text that fails to load is not asked for again, and its
// result keeps its summary.
define('texts', ['excerpts'], function (excerpts) {

var MAX_TEXT_LOADS = 4;      // page texts loading at once
var MAX_CACHED_TEXTS = 60;   // page texts kept
var TEXT_TIMEOUT = 20000;    // ms before a text that does not come counts as failed

// folder: the page texts' folder (from companion data); unicode: texts are cut by the
// word rules of the companion word index; shared: for a document whose file was indexed
// before under another number, that number (companion data's `shared`), or null;
// arrived(d, pageText or null) is called when the text of document d has come or
// failed.
function TextStore(win, folder, unicode, arrived, shared) {
  var self = this;
  this.win = win;
  this.folder = folder;
  this.shared = shared || null;
  this.arrived = arrived;
  this.unicode = unicode;    // texts are cut by the word rules of the companion word index
  this.pages = new Map();    // document: PageText, least recently used first
  this.failed = new Set();
  this.loading = new Map();  // document: its script element
  this.queue = [];           // documents waiting for a free load
  // A text counts only from the script that was asked for it, and only once.
  win.vantrelText = function (n, data) {
    var script = win.document.currentScript;
    if (!script || script.getAttribute('data-page') !== String(n) || self.loading.get(n) !== script) return;
    if (script.vantrelData === undefined && data && typeof data.text === 'string') script.vantrelData = data;
  };
}

// The text of document d when it has come.
TextStore.prototype.get = function (d) {
  var page = this.pages.get(d);
  if (page) { this.pages.delete(d); this.pages.set(d, page); }
  return page || null;
};

TextStore.prototype.want = function (d) {
  if (this.pages.has(d) || this.failed.has(d) || this.loading.has(d) || this.queue.indexOf(d) >= 0) return;
  this.queue.push(d);
  this.pump();
};

// Forgets the waiting documents that are no longer wanted (keep(d) false).
TextStore.prototype.keepOnly = function (keep) {
  this.queue = this.queue.filter(keep);
};

TextStore.prototype.pump = function () {
  while (this.loading.size < MAX_TEXT_LOADS && this.queue.length) this.load(this.queue.shift());
};

TextStore.prototype.load = function (d) {
  var self = this, doc = this.win.document, script = doc.createElement('script'), done = false;
  function end() {
    if (done) return;
    done = true;
    self.win.clearTimeout(timer);
    self.loaded(d, script);
  }
  var timer = this.win.setTimeout(end, TEXT_TIMEOUT);
  var file = this.fileOf(d);
  script.setAttribute('data-page', String(file));
  script.charset = 'utf-8';
  script.src = this.folder + file + '.js';
  script.onload = script.onerror = end;
  this.loading.set(d, script);
  doc.head.appendChild(script);
};

// The number of the file that holds the text of document d: its own, or that of the
// earlier document of the same page file.
TextStore.prototype.fileOf = function (d) {
  var first = this.shared && Object.prototype.hasOwnProperty.call(this.shared, d) ? this.shared[d] : d;
  return typeof first === 'number' && first >= 0 && first < d && first % 1 === 0 ? first : d;
};

TextStore.prototype.loaded = function (d, script) {
  this.loading.delete(d);
  if (script.parentNode) script.parentNode.removeChild(script);
  var data = script.vantrelData, page = null;
  if (data) {
    page = new excerpts.PageText(data.text, data.sections, this.unicode);
    this.pages.set(d, page);
    if (this.pages.size > MAX_CACHED_TEXTS) this.pages.delete(this.pages.keys().next().value);
  } else {
    this.failed.add(d);
  }
  this.pump();
  this.arrived(d, page);
};

return { TextStore: TextStore };
});
