// Page texts: loaded only for the results in view, a few pages to a file
// (indexed_text/NAME.js, each calling vantrelTexts([{text, sections}, ...])), with
// <script> elements (so the page works from disk). A few files load at once; the texts
// that arrived are kept for the next searches; a text that fails to load is not asked
// for again, and its result keeps its summary.
define('texts', ['excerpts', 'companion'], function (excerpts, companion) {

var MAX_TEXT_LOADS = 4;      // files of page texts loading at once
var MAX_CACHED_TEXTS = 60;   // page texts kept
var TEXT_TIMEOUT = 20000;    // ms before a file that does not come counts as failed

// texts: where the page texts are (companion data's texts); unicode: texts are cut by
// the word rules of the companion word index; arrived(d, pageText or null) is called
// when the text of document d has come or failed.
function TextStore(win, texts, unicode, arrived) {
  var self = this;
  this.win = win;
  this.texts = texts;
  this.arrived = arrived;
  this.unicode = unicode;
  this.pages = new Map();    // document: PageText, least recently used first
  this.failed = new Set();
  this.loading = new Map();  // file: {script, docs waiting for it}
  this.queue = [];           // documents waiting for a free load
  // A file's texts count only from the script that was asked for it, and only once.
  win.vantrelTexts = function (list) {
    var script = win.document.currentScript, file = script && script.getAttribute('data-texts');
    var load = file && self.loading.get(file);
    if (!load || load.script !== script || script.vantrelData !== undefined || !Array.isArray(list)) return;
    script.vantrelData = list;
  };
}

// The text of document d when it has come.
TextStore.prototype.get = function (d) {
  var page = this.pages.get(d);
  if (page) { this.pages.delete(d); this.pages.set(d, page); }
  return page || null;
};

// Whether the text of document d may still come.
TextStore.prototype.mayCome = function (d) {
  return !this.failed.has(d) && companion.textPlace(this.texts, d) !== null;
};

TextStore.prototype.want = function (d) {
  if (this.pages.has(d) || !this.mayCome(d) || this.queue.indexOf(d) >= 0 || this.waiting(d)) return;
  var file = companion.textPlace(this.texts, d).file, load = this.loading.get(file);
  if (load) load.docs.push(d); else this.queue.push(d);
  this.pump();
};

// Whether document d waits for a file that is loading.
TextStore.prototype.waiting = function (d) {
  var found = false;
  this.loading.forEach(function (load) { found = found || load.docs.indexOf(d) >= 0; });
  return found;
};

// Forgets the waiting documents that are no longer wanted (keep(d) false).
TextStore.prototype.keepOnly = function (keep) {
  this.queue = this.queue.filter(keep);
};

TextStore.prototype.pump = function () {
  while (this.loading.size < MAX_TEXT_LOADS && this.queue.length) {
    var d = this.queue.shift(), file = companion.textPlace(this.texts, d).file, load = this.loading.get(file);
    if (load) load.docs.push(d); else this.load(file, d);
  }
};

TextStore.prototype.load = function (file, d) {
  var self = this, doc = this.win.document, script = doc.createElement('script'), done = false;
  function end() {
    if (done) return;
    done = true;
    self.win.clearTimeout(timer);
    self.loaded(file, script);
  }
  var timer = this.win.setTimeout(end, TEXT_TIMEOUT);
  script.setAttribute('data-texts', file);
  script.charset = 'utf-8';
  script.src = file;
  script.onload = script.onerror = end;
  this.loading.set(file, { script: script, docs: [d] });
  doc.head.appendChild(script);
};

TextStore.prototype.loaded = function (file, script) {
  var waiting = this.loading.get(file).docs, list = script.vantrelData;
  this.loading.delete(file);
  if (script.parentNode) script.parentNode.removeChild(script);
  this.pump();
  for (var k = 0; k < waiting.length; k++) {
    var d = waiting[k], data = list && list[companion.textPlace(this.texts, d).at], page = null;
    if (data && typeof data.text === 'string') {
      page = new excerpts.PageText(data.text, data.sections, this.unicode);
      this.pages.set(d, page);
      if (this.pages.size > MAX_CACHED_TEXTS) this.pages.delete(this.pages.keys().next().value);
    } else {
      this.failed.add(d);
    }
    this.arrived(d, page);
  }
};

return { TextStore: TextStore };
});
