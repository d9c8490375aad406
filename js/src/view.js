// The results on the page: the list, the count, "Did you mean" and "Show more", and
// the result chosen with the arrows; with companion data, each result's real title,
// its excerpt (the summary until the page's text has come) and the sections that hold
// the query words. Every text from the data files reaches the page as text nodes,
// never as markup.
// The results are the grid that the search box (a combobox) controls: a row per result
// whose one cell holds the title link, the location and date, the excerpt and the
// section links, so that the links are no part of an interactive option. The arrows
// choose a cell (aria-activedescendant from the box, aria-selected on the cell).
define('view', ['links', 'titles', 'shown', 'companion'], function (links, titles, shown, companion) {

var shownText = shown.shownText, shortText = shown.shortText, highlightSpans = shown.highlightSpans;

var PAGE_SIZE = 20;

// el: the page's elements {box, list, count, more, suggest}. suggested(query) runs the
// query of a suggestion the visitor chose.
function ResultsView(doc, el, suggested) {
  this.doc = doc;
  this.el = el;
  this.suggested = suggested;
  this.searcher = null;
  this.result = null;      // the search shown
  this.order = [];         // its documents in the order shown (an array, or an Order)
  this.shown = 0;          // how many of them are on the page
  this.active = -1;        // the chosen result, or -1
  this.companion = null;   // companion data when it belongs to this index
  this.texts = null;       // the page texts (a TextStore), when there are any
  this.observer = null;    // asks for the texts of the results that come into view
  this.items = new Map();  // document: its result shown
  var self = this;
  // Arrows also move between the result links once one of them has the focus.
  el.list.addEventListener('keydown', function (e) {
    if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp') return;
    var item = e.target.closest && e.target.closest('[role=gridcell]');
    if (!item) return;
    e.preventDefault();
    var next = Number(item.id.slice(7)) + (e.key === 'ArrowDown' ? 1 : -1);
    if (next >= self.shown && self.shown < self.order.length) self.showMore();
    var link = doc.querySelector('#result-' + next + ' a');
    if (link) { self.setActive(next); link.focus(); } else if (next < 0) { self.setActive(-1); el.box.focus(); }
  });
  el.list.addEventListener('mousemove', function (e) {
    var item = e.target.closest && e.target.closest('[role=gridcell]');
    if (item && item.id !== 'result-' + self.active) self.setActive(Number(item.id.slice(7)));
  });
  el.more.addEventListener('click', function () {
    self.showMore();
    el.box.focus();
  });
}

// "1,234 pages". The number is grouped by hand: the first toLocaleString of a page loads
// the browser's locale data (40 ms in Chromium), which would hold back the first results.
function plural(n, word) {
  return String(n).replace(/\B(?=(\d{3})+$)/g, ',') + ' ' + word + (n === 1 ? '' : 's');
}

// A page's date ("dd-MM-yyyy", a day in UTC, as the index holds it) as the reader's
// own locale writes it, with the machine-readable date for <time>; a text of another
// form stays as it is.
// The locale's medium date style: the browser makes it from the locale's own patterns,
// where a set of fields (year, short month, day) first builds a pattern for them out of
// the locale's data, 2 to 4 times the cost (20 to 120 ms in a fresh page under load).
// Each date is worked out once: a site's pages
// share few dates, and formatting one costs the browser tens of microseconds, a
// millisecond or more of every screen.
var dateFormat = null, datesShown = new Map(), MAX_DATES_SHOWN = 4096;
function shownDate(text) {
  var known = datesShown.get(text);
  if (known) return known;
  if (datesShown.size >= MAX_DATES_SHOWN) datesShown.clear();
  known = dateOf(text);
  datesShown.set(text, known);
  return known;
}

// Writes the date text into time. The page's first date format costs 15 to 60 ms (the
// browser's locale data, for the first Intl object of any kind), which a fresh page
// would pay between its index's pieces and its first results: until it is made, a row's
// date is put in once the frame that draws the row is done, every row of that frame
// together, and the format is made then.
var undated = [];
function putDate(win, time, text) {
  if (dateFormat || !win || datesShown.has(text) || !DATE_TEXT.test(text)) { writeDate(time, shownDate(text)); return; }
  if (undated.push([time, text]) === 1) afterFrame(win, dateUndated);
}

function dateUndated() {
  var rows = undated;
  undated = [];
  rows.forEach(function (row) { writeDate(row[0], shownDate(row[1])); });
}

function writeDate(time, day) {
  time.textContent = day.text;
  if (day.iso) time.dateTime = day.iso;
}

var DATE_TEXT = /^(\d\d)-(\d\d)-(\d{4})$/;
function dateOf(text) {
  var m = DATE_TEXT.exec(text), day = new Date(0);
  if (m) day.setUTCFullYear(+m[3], +m[2] - 1, +m[1]);  // years below 100 too, as they stand
  if (!m || day.getUTCDate() !== +m[1] || day.getUTCMonth() !== +m[2] - 1 || typeof Intl !== 'object') return { text: text, iso: '' };
  if (!dateFormat) dateFormat = new Intl.DateTimeFormat(undefined, { dateStyle: 'medium', timeZone: 'UTC' });
  return { text: dateFormat.format(day), iso: m[3] + '-' + m[2] + '-' + m[1] };
}

// Shows a search's results, newest first when byDate.
ResultsView.prototype.show = function (result, byDate) {
  var el = this.el, items;
  this.result = result;
  this.order = byDate ? this.searcher.byDate(result.docs) : result.order;
  if (this.observer) this.observer.disconnect();
  this.items = items = new Map();
  el.list.textContent = '';
  this.shown = 0;
  this.setActive(-1);
  this.showMore();
  if (this.texts) this.texts.keepOnly(function (d) { return items.has(d); });
  el.box.setAttribute('aria-expanded', this.order.length > 0 ? 'true' : 'false');
  this.showCount(result);
  el.list.setAttribute('data-query', result.query);
};

// The line that counts the results, and the suggestions.
ResultsView.prototype.showCount = function (result) {
  var count = this.el.count;
  if (result.terms.length === 0) {
    count.textContent = /\S/.test(result.query) ? 'Nothing to search for: words start with a letter or \u201c_\u201d.' : '';
  } else if (this.order.length === 0) {
    // The query in a <bdi>, so that its own direction cannot reorder the sentence.
    var asked = this.doc.createElement('bdi');
    asked.textContent = result.query.trim();
    count.textContent = 'No results for \u201c';
    count.appendChild(asked);
    count.appendChild(this.doc.createTextNode('\u201d.'));
  } else if (result.partial) {
    count.textContent = 'No page holds all the words; ' + plural(this.order.length, 'page') + ' hold some of them.';
  } else if (result.atLeast > this.order.length) {
    count.textContent = 'At least ' + plural(result.atLeast, 'result') + '.';
  } else if (result.whole < this.order.length) {
    count.textContent = plural(result.whole, 'result') + ', then ' + plural(this.order.length - result.whole, 'page') + ' with some of the words.';
  } else {
    count.textContent = plural(this.order.length, 'result') + '.';
  }
  this.showSuggestions();
};

// Shows the whole answer of the search whose first results are on screen: the rows
// shown stay as they are (their focus, marks and texts too) when the answer begins with
// them; else as show does.
ResultsView.prototype.update = function (result, byDate) {
  var order = byDate ? this.searcher.byDate(result.docs) : result.order, i;
  var same = this.result !== null && this.result.query === result.query && order.length >= this.shown;
  var now = same ? order.slice(0, this.shown) : [], before = same ? this.order.slice(0, this.shown) : [];
  for (i = 0; same && i < this.shown; i++) same = now[i] === before[i];
  if (!same) { this.show(result, byDate); return; }
  this.result = result;
  this.order = order;
  this.el.more.hidden = this.shown >= order.length;
  this.el.more.textContent = 'Show more (' + this.shown + ' of ' + order.length + ')';
  this.showCount(result);
};

ResultsView.prototype.showMore = function () {
  var el = this.el, end = Math.min(this.order.length, this.shown + PAGE_SIZE), documents = this.searcher.documents;
  // Documents in pieces: the rows wait for theirs, and the next screen's are asked for.
  // They are shown when their pieces come unless the list was shown anew meanwhile (the
  // whole answer of the same search keeps the list, and its items, as they are).
  if (documents) {
    var self = this, items = this.items, rows = this.order.slice(this.shown, end);
    if (!documents.has(rows)) {
      documents.ensure(rows, function () { if (self.items === items && self.shown < end) self.showMore(); });
      return;
    }
    // Asked for once this screen is drawn: each script added costs the page time that
    // the screen would wait for.
    var next = this.order.slice(end, end + PAGE_SIZE);
    afterFrame(this.doc.defaultView, function () { documents.ensure(next, function () {}); });
  }
  var frag = this.doc.createDocumentFragment(), shown = this.order.slice(this.shown, end);
  for (var i = this.shown; i < end; i++) frag.appendChild(this.item(shown[i - this.shown], i));
  el.list.appendChild(frag);
  this.shown = end;
  el.more.hidden = this.shown >= this.order.length;
  el.more.textContent = 'Show more (' + this.shown + ' of ' + this.order.length + ')';
};

// Calls later once the browser has drawn the next frame (without frames, on a timer;
// without a window, at once).
function afterFrame(win, later) {
  if (win && win.requestAnimationFrame) win.requestAnimationFrame(function () { win.setTimeout(later, 0); });
  else if (win && win.setTimeout) win.setTimeout(later, 0);
  else later();
}

// Uses companion data (see companionData) and the page texts it names, if any, in place
// of those of an index used before.
ResultsView.prototype.useCompanion = function (data, texts) {
  var self = this, win = this.doc.defaultView;
  if (this.observer) this.observer.disconnect();
  this.observer = null;
  this.companion = data;
  this.texts = texts;
  if (texts && win && win.IntersectionObserver) {
    this.observer = new win.IntersectionObserver(function (entries) {
      entries.forEach(function (entry) {
        if (!entry.isIntersecting) return;
        self.observer.unobserve(entry.target);
        texts.want(Number(entry.target.getAttribute('data-doc')));
      });
    });
  }
};

// The title of document d as shown: its real title from companion data, else the
// indexed one; a page without a title is named by its location.
ResultsView.prototype.nameOf = function (d) {
  var entry = this.searcher.docs[d], title = typeof entry[1] === 'string' ? entry[1] : '';
  if (title === titles.NO_NAME || !/\S/.test(title)) return shownText(String(entry[2]), this.searcher.bytesMode, false);
  return companion.realTitle(this.companion, d) || shownText(title, this.searcher.bytesMode, true);
};

// The address of document d, at anchor when one is given, asking a browser that can
// (one with document.fragmentDirective) to scroll to and mark quote, the passage as
// PageText.quote gives it. Elsewhere the link opens the anchor as it always did: a
// browser that knows no text fragment would take all of it for an anchor's name.
ResultsView.prototype.hrefOf = function (d, anchor, quote) {
  var searcher = this.searcher, href = links.locationHref(String(searcher.docs[d][2]), this.doc.location.href,
    searcher.bytesMode, searcher.urlPrefixLength, this.companion ? this.companion.base : '');
  var directive = quote && this.doc.fragmentDirective ? links.textFragment(quote) : '';
  if (!anchor && !directive) return href;
  return href.replace(/#[^]*$/, '') + (anchor ? links.fragmentOf(anchor) : '#') + directive;
};

// Adds text to parent with the query words marked (by the word rules of the companion
// word index when unicode).
function appendMarked(doc, parent, text, terms, unicode) {
  var pos = 0;
  highlightSpans(text, terms, unicode).forEach(function (span) {
    if (span[0] > pos) parent.appendChild(doc.createTextNode(text.slice(pos, span[0])));
    var mark = doc.createElement('mark');
    mark.textContent = text.slice(span[0], span[1]);
    parent.appendChild(mark);
    pos = span[1];
  });
  if (pos < text.length) parent.appendChild(doc.createTextNode(text.slice(pos)));
}

// Title, location and date each keep their own direction (dir=auto isolates them), so
// that a right-to-left override in one cannot reorder the others.
ResultsView.prototype.item = function (d, i) {
  var doc = this.doc, searcher = this.searcher, entry = searcher.docs[d];
  var li = doc.createElement('li'), row = doc.createElement('div'), cell = doc.createElement('div');
  li.setAttribute('role', 'none');
  row.setAttribute('role', 'row');
  cell.id = 'result-' + i;
  cell.className = 'result';
  cell.setAttribute('role', 'gridcell');
  cell.setAttribute('aria-selected', 'false');
  cell.setAttribute('data-doc', String(d));
  row.appendChild(cell);
  li.appendChild(row);
  var a = doc.createElement('a');
  a.href = this.hrefOf(d, '');
  a.className = 'title';
  a.dir = 'auto';
  appendMarked(doc, a, this.nameOf(d), this.result.terms, searcher.unicode);
  cell.appendChild(a);
  var meta = doc.createElement('div');
  meta.className = 'meta';
  var loc = doc.createElement('span');
  loc.className = 'location';
  loc.dir = 'auto';
  loc.textContent = shownText(String(entry[2]), searcher.bytesMode, false);
  meta.appendChild(loc);
  if (entry[3]) {
    var date = doc.createElement('time');
    date.className = 'date';
    date.dir = 'auto';
    putDate(doc.defaultView, date, shortText(String(entry[3])));
    meta.appendChild(date);
  }
  cell.appendChild(meta);
  this.items.set(d, cell);
  if (this.companion) this.describe(cell, d);
  return li;
};

// The excerpt of a result: from the page's text when it is here, else the summary
// until it comes. The space of the section links is kept while it may still come, so
// that nothing moves when it does.
// A page whose text is here shows its passage at once, its summary not marked first.
ResultsView.prototype.describe = function (item, d) {
  var doc = this.doc, texts = this.texts, page = texts && texts.get(d), found = page ? page.excerpt(this.result.terms) : null;
  if (found) {
    this.fill(item, d, page, found);
    return;
  }
  var excerpt = doc.createElement('p');
  excerpt.className = 'excerpt';
  excerpt.dir = 'auto';
  appendMarked(doc, excerpt, companion.summaryOf(this.companion, d), this.result.terms, this.searcher.unicode);
  item.appendChild(excerpt);
  if (page) return;
  if (texts && texts.mayCome(d)) {
    var sections = doc.createElement('div');
    sections.className = 'sections';
    item.appendChild(sections);
    if (this.observer) this.observer.observe(item);
    else if (this.items.size <= 10) texts.want(d);
  }
};

// Puts the excerpt of page (document d's text) into its result (item, its cell), links
// the title to the passage and the section it stands in, and lists the other sections
// that hold the query words. Each part is made whole before it replaces the old one
// (or, in a result being made, takes its place). found: the page's excerpt for the
// query, when already worked out.
ResultsView.prototype.fill = function (item, d, page, found) {
  var doc = this.doc, terms = this.result.terms, unicode = this.searcher.unicode;
  found = found || page.excerpt(terms);
  if (!found) return;
  var excerpt = doc.createElement('p');
  excerpt.className = 'excerpt';
  excerpt.dir = 'auto';
  if (found.heading) {
    // The heading the passage opens with stands apart from the sentence after it.
    var heading = doc.createElement('strong');
    heading.className = 'heading';
    appendMarked(doc, heading, found.heading, terms, unicode);
    excerpt.appendChild(heading);
    excerpt.appendChild(doc.createTextNode(' \u2014 '));
  }
  appendMarked(doc, excerpt, found.text, terms, unicode);
  var before = item.querySelector('.excerpt');
  if (before) item.replaceChild(excerpt, before); else item.appendChild(excerpt);
  var main = found.section >= 0 ? page.sections[found.section].anchor : '';
  item.querySelector('a.title').href = this.hrefOf(d, main, found.quote);
  var old = item.querySelector('.sections');
  if (!found.more.length && !old) return;
  var list = doc.createElement('div');
  list.className = 'sections';
  for (var k = 0; k < found.more.length; k++) {
    var section = page.sections[found.more[k]], link = doc.createElement('a');
    link.href = this.hrefOf(d, section.anchor, found.quotes[k]);
    link.dir = 'auto';
    appendMarked(doc, link, shortText(section.heading), terms, unicode);
    list.appendChild(link);
  }
  if (old) item.replaceChild(list, old); else item.appendChild(list);
};

// The text of document d has come (page) or failed (null).
ResultsView.prototype.textArrived = function (d, page) {
  var item = this.items.get(d);
  if (item && page) this.fill(item, d, page);
};

ResultsView.prototype.showSuggestions = function () {
  var self = this, doc = this.doc, suggest = this.el.suggest, terms = this.result.terms;
  suggest.textContent = '';
  var offers = terms.filter(function (t) { return t.suggestions.length > 0; });
  if (offers.length === 0) { suggest.hidden = true; return; }
  suggest.hidden = false;
  suggest.appendChild(doc.createTextNode('Did you mean: '));
  offers.forEach(function (term, k) {
    term.suggestions.forEach(function (word, j) {
      if (k > 0 || j > 0) suggest.appendChild(doc.createTextNode(', '));
      var button = doc.createElement('button');
      button.type = 'button';
      button.className = 'link';
      button.textContent = word.toLowerCase();
      button.addEventListener('click', function () {
        // The query again with the suggestion for its word; a run of unspaced letters
        // (asked for by its pairs) as it was typed.
        var parts = [], runs = new Set();
        terms.forEach(function (t) {
          if (t === term) parts.push(word.toLowerCase());
          else if (!t.run) parts.push(t.text.toLowerCase());
          else if (!runs.has(t.run)) { runs.add(t.run); parts.push(t.run); }
        });
        self.suggested(parts.join(' '));
      });
      suggest.appendChild(button);
    });
  });
  suggest.appendChild(doc.createTextNode('?'));
};

ResultsView.prototype.setActive = function (i) {
  var doc = this.doc, box = this.el.box, old = doc.getElementById('result-' + this.active);
  if (old) old.setAttribute('aria-selected', 'false');
  this.active = i;
  var item = doc.getElementById('result-' + i);
  if (item) {
    item.setAttribute('aria-selected', 'true');
    box.setAttribute('aria-activedescendant', item.id);
    if (item.scrollIntoView) item.scrollIntoView({ block: 'nearest' });
  } else {
    box.removeAttribute('aria-activedescendant');
  }
};

// Moves the choice by step results, showing more when it passes the last one shown;
// past either end it comes back to the search box.
ResultsView.prototype.move = function (step) {
  if (this.order.length === 0) return;
  var next = this.active + step;
  if (next >= this.shown && this.shown < this.order.length) this.showMore();
  if (next < -1) next = this.shown - 1;
  if (next >= this.shown) next = -1;
  this.setActive(next);
};

// The address of the chosen result, or null.
ResultsView.prototype.activeHref = function () {
  var link = this.doc.querySelector('#result-' + this.active + ' a.title');
  return link ? link.href : null;
};

return { ResultsView: ResultsView, plural: plural, shownDate: shownDate, afterFrame: afterFrame, PAGE_SIZE: PAGE_SIZE };
});
