// Excerpts: the passage of a page's text that holds the most query words close
// together, and the sections of the page that hold them. A page's text is read once,
// when it arrives (PageText); a search then costs what its words match on the page.
define('excerpts', ['words', 'wordrules', 'wordlist', 'matching'], function (words, wordrules, wordlist, matching) {

var forEachWord = words.forEachWord, forEachToken = wordrules.forEachToken, WORD = wordrules.WORD, PAIR = wordrules.PAIR, joinWords = wordlist.joinWords, innerWordsOf = wordlist.innerWordsOf;
var FORM = matching.FORM, FUZZY = matching.FUZZY, NONE = matching.NONE, MIN_INNER = matching.MIN_INNER;
var pluralOf = matching.pluralOf, wordClass = matching.wordClass;

var EXCERPT_WORDS = 30;         // words in an excerpt
var MAX_EXCERPT_CHARS = 360;    // characters of an excerpt, whatever stands between its words
var MAX_EDGE = 16;              // characters taken beyond its first and last word, up to a blank
var MAX_TEXT_CHARS = 4194304;   // characters of a page's text read (the indexer writes 4 MiB at most)
var MAX_TEXT_WORDS = 300000;    // words of a page's text read
var MAX_PLACES = 2000;          // places of one query word weighed on a page: the first ones
var MAX_TERM_WORDS = 2000;      // words of a page one query word stands for: the first found
var MAX_SECTIONS = 4000;        // sections of a page read
var MAX_ANCHOR = 256;           // characters of an anchor linked to (a longer one is no anchor)
var MAX_HEADING_WORDS = 24;     // words of a heading matched
var MAX_SECTIONS_LISTED = 3;    // further sections listed under a result
var TERM_BITS = 16;             // places are packed as place * TERM_BITS + term
var TOC_CHARS = 65536, TOC_HEADINGS = 200; // where and for what tables of contents are looked for
var QUOTE_WORDS = 5;            // words of each end of a passage quoted to the browser
var PLAIN_GAP = /^(?:[,'\u2019]? |[.'\u2019\-])$/;  // what may stand between two words quoted together

function isBlank(c) {
  return c === 32 || (c >= 9 && c <= 13) || c === 160;
}

function bits(x) {
  var n = 0;
  for (; x; x &= x - 1) n++;
  return n;
}

// text: the page's text; sections: [[start, anchor, heading], ...] by rising start,
// in UTF-16 code units of text. The first MAX_SECTIONS entries are read; those that
// are not so are passed over. unicode: the text is cut by the word rules of the
// companion word index, else by the design's rule.
function PageText(text, sections, unicode) {
  if (text.length > MAX_TEXT_CHARS) text = text.slice(0, MAX_TEXT_CHARS);
  this.text = text;
  this.unicode = !!unicode;
  var starts = [], ends = [], byWord = new Map(), chars = 0, paired = false;
  // Puts word at the last place, or at a new one from start to end.
  function place(word, start, end, fresh) {
    if (fresh) { starts.push(start); ends.push(end); } else if (end > ends[ends.length - 1]) ends[ends.length - 1] = end;
    var at = starts.length - 1, list = byWord.get(word);
    if (!list) byWord.set(word, [at]); else if (list[list.length - 1] !== at) list.push(at);
  }
  if (!unicode) {
    forEachWord(text, function (word, start, end) {
      place(word, start, end, true);
      return starts.length < MAX_TEXT_WORDS;
    });
  } else {
    // A word takes a place, and so do every two characters of an unspaced run (the
    // excerpt's words are places); a pair stands at the place of its first character.
    forEachToken(text, function (key, start, end, kind, german) {
      if (kind === PAIR) {
        paired = true;
        place(key, start, start, false);
        return true;
      }
      chars = kind === WORD || !paired ? 0 : chars + 1;
      paired = false;
      place(key, start, end, chars % 2 === 0);
      if (german) place(german, start, end, false);
      return starts.length < MAX_TEXT_WORDS;
    });
  }
  this.starts = Int32Array.from(starts);
  this.ends = Int32Array.from(ends);
  // The distinct words in the order of their code units with their places, and joined
  // for in-word search.
  var words = Array.from(byWord.keys()).sort();
  this.words = words;
  this.places = words.map(function (word) { return byWord.get(word); });
  joinWords(this, words);
  // Each section: where it starts in the text and in words, its anchor and heading;
  // the words of the headings, each with its sections.
  var list = [], heads = new Map(), last = 0, w = 0;
  if (!Array.isArray(sections)) sections = [];
  for (var k = 0; k < sections.length && k < MAX_SECTIONS; k++) {
    var s = sections[k];
    if (!Array.isArray(s) || typeof s[0] !== 'number' || !(s[0] >= last && s[0] <= text.length)) continue;
    last = s[0];
    while (w < starts.length && starts[w] < last) w++;
    var at = list.length, heading = typeof s[2] === 'string' ? s[2] : '';
    var anchor = typeof s[1] === 'string' && s[1].length <= MAX_ANCHOR ? s[1] : '';
    // Where the heading's own text ends, when the text holds it as it stands (-1 when not).
    var headEnd = heading && text.startsWith(heading, last) ? last + heading.length : -1;
    list.push({ start: last, word: w, anchor: anchor, heading: heading, headEnd: headEnd });
    headingKeys(heading.slice(0, 40 * MAX_HEADING_WORDS), unicode, function (word) {
      var secs = heads.get(word);
      if (!secs) heads.set(word, [at]); else if (secs[secs.length - 1] !== at) secs.push(at);
    });
  }
  this.sections = list;
  // A section that holds the headings of three other sections before they come is a
  // table of contents: it holds the query words of the sections it lists, but says
  // nothing of them. Looked for in the first TOC_CHARS characters, for the first
  // TOC_HEADINGS headings.
  var listed = new Int32Array(list.length), top = text.slice(0, TOC_CHARS);
  for (k = 0; k < list.length && k < TOC_HEADINGS; k++) {
    var at = list[k].heading.length >= 4 ? top.indexOf(list[k].heading) : -1;
    if (at < 0 || at >= list[k].start) continue;
    var holder = this.sectionAtChar(at);
    if (holder >= 0 && holder !== k) listed[holder]++;
  }
  for (k = 0; k < list.length; k++) list[k].contents = listed[k] >= 3;
  this.headingWords = heads;
  this.cache = new Map();        // term key: its places and the sections whose heading holds it
}

// Calls add(key) for the keys of the first MAX_HEADING_WORDS words of a heading: the
// design's words, or by the word rules every key (with a word's German spelling, and
// the pairs of unspaced characters, which count as their characters).
function headingKeys(heading, unicode, add) {
  var n = 0;
  if (!unicode) {
    forEachWord(heading, function (word) { add(word); return ++n < MAX_HEADING_WORDS; });
    return;
  }
  forEachToken(heading, function (key, start, end, kind, german) {
    add(key);
    if (german) add(german);
    return kind === PAIR || ++n < MAX_HEADING_WORDS;
  }, true);
}

// The section that character c of the text stands in, or -1 before the first.
PageText.prototype.sectionAtChar = function (c) {
  var list = this.sections, lo = 0, hi = list.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (list[mid].start <= c) lo = mid + 1; else hi = mid;
  }
  return lo - 1;
};

// Position of the first of the page's words that is not below word.
PageText.prototype.lowerBound = function (word) {
  var words = this.words, lo = 0, hi = words.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (words[mid] < word) lo = mid + 1; else hi = mid;
  }
  return lo;
};

// Positions of the page's words that a term matches, found as the search finds them
// in the word list: its nearest words; else the words it begins (its plural among
// them), its singular, and from MIN_INNER letters the words it stands inside.
PageText.prototype.wordsOf = function (term, whole) {
  var words = this.words, found = [], t = term.text, i;
  function exact(word) {
    var k = this.lowerBound(word);
    if (k < words.length && words[k] === word) found.push(k);
  }
  if (term.fuzzy) {
    term.fuzzy.forEach(exact, this);
    return found;
  }
  if (wordrules.unspaced(term)) {
    exact.call(this, t);
    return found;
  }
  // A page may hold any number of words that a query word begins or stands inside:
  // the search reads the first MAX_TERM_WORDS, so a keystroke costs no more on it.
  var forms = term.forms;
  for (i = this.lowerBound(t); i < words.length && found.length < MAX_TERM_WORDS && words[i].lastIndexOf(t, 0) === 0; i++) {
    if (!whole || words[i] === t || (forms ? forms.has(words[i]) : pluralOf(t, words[i]))) found.push(i);
  }
  if (forms) forms.forEach(function (w) { if (w.lastIndexOf(t, 0) !== 0) exact.call(this, w); }, this);
  else if (/E?S$/.test(t)) [t.slice(0, -1), t.slice(0, -2)].filter(function (w) { return pluralOf(w, t); }).forEach(exact, this);
  if (whole || t.length < MIN_INNER) return found;
  return innerWordsOf(this, t, MAX_TERM_WORDS, found);
};

// Where a term's words stand on the page, by the rules of the search: {places, the
// first MAX_PLACES word numbers in order; heads, the sections whose heading holds
// one}. One or two letters begin too many words: they match whole words only.
PageText.prototype.matchesOf = function (term) {
  var key = term.fuzzy ? '~' + Array.from(term.fuzzy).join(' ') : term.text;
  var found = this.cache.get(key);
  if (found) return found;
  var whole = term.text.length < 3, lists = [], total = 0, heads = [], places = this.places;
  function matches(word) {
    var c = wordClass(term, word);
    return c !== NONE && (!whole || c <= FORM || c === FUZZY);
  }
  // Each word's places are in order: only the first MAX_PLACES of each can be among the
  // first MAX_PLACES of all.
  this.wordsOf(term, whole).forEach(function (k) {
    var list = places[k].length > MAX_PLACES ? places[k].slice(0, MAX_PLACES) : places[k];
    lists.push(list);
    total += list.length;
  });
  var all = new Int32Array(total), at = 0;
  for (var i = 0; i < lists.length; i++) { all.set(lists[i], at); at += lists[i].length; }
  if (lists.length > 1) all.sort();
  // Two keys of one place (a word and its German spelling) count once.
  for (i = 1, at = Math.min(1, total); i < total; i++) if (all[i] !== all[at - 1]) all[at++] = all[i];
  if (at < total) all = all.slice(0, at);
  this.headingWords.forEach(function (secs, word) {
    if (matches(word)) heads.push.apply(heads, secs);
  });
  found = { places: all.length > MAX_PLACES ? all.slice(0, MAX_PLACES) : all, heads: heads };
  if (this.cache.size >= 32) this.cache.clear();
  this.cache.set(key, found);
  return found;
};

// The excerpt for a search's terms: {text, the passage with "\u2026" where cut; section,
// the section it stands in or -1; more, up to MAX_SECTIONS_LISTED other sections with
// an anchor that hold every query word the page holds, in page order}; null when no
// query word is on the page.
// The passage is the window of EXCERPT_WORDS words, not reaching into the next
// section, that stands outside a table of contents; holds the most query words
// counting its section's heading; then most query words in its heading; then in the
// window; then the most uses of them (up to 3 each); then the first.
PageText.prototype.excerpt = function (terms) {
  var T = Math.min(terms.length, TERM_BITS), matched = [], total = 0, t, i, k;
  for (t = 0; t < T; t++) {
    matched.push(this.matchesOf(terms[t]));
    total += matched[t].places.length;
  }
  if (total === 0) return null;
  var packed = new Int32Array(total), sections = this.sections, S = sections.length;
  for (t = 0, k = 0; t < T; t++) {
    var places = matched[t].places;
    for (i = 0; i < places.length; i++) packed[k++] = places[i] * TERM_BITS + t;
  }
  packed.sort();
  var headMask = new Int32Array(S), bodyMask = new Int32Array(S + 1), pageMask = 0;
  for (t = 0; t < T; t++) {
    for (i = 0; i < matched[t].heads.length; i++) headMask[matched[t].heads[i]] |= 1 << t;
  }
  // Two pointers: the window of the place at i ends before j. Its limit (EXCERPT_WORDS
  // on, and the next section's start) never falls as i rises.
  var counts = new Int32Array(T), mask = 0, uses = 0, j = 0, sec = -1, next = S > 0 ? sections[0].word : Infinity;
  var best = -1, bestI = 0, bestJ = 0, bestSec = -1;
  for (i = 0; i < total; i++) {
    var place = packed[i] / TERM_BITS | 0;
    while (place >= next) {
      sec++;
      next = sec + 1 < S ? sections[sec + 1].word : Infinity;
    }
    bodyMask[sec + 1] |= 1 << (packed[i] % TERM_BITS);
    var limit = Math.min(place + EXCERPT_WORDS, next);
    for (; j < total && (packed[j] / TERM_BITS | 0) < limit; j++) {
      t = packed[j] % TERM_BITS;
      if (counts[t]++ < 3) uses++;
      mask |= 1 << t;
    }
    var heading = sec >= 0 ? headMask[sec] : 0, prose = sec >= 0 && sections[sec].contents ? 0 : 1;
    var score = (((prose * 16 + bits(mask | heading)) * 16 + bits(heading)) * 16 + bits(mask)) * 64 + uses;
    if (score > best) { best = score; bestI = i; bestJ = j; bestSec = sec; }
    t = packed[i] % TERM_BITS;
    if (--counts[t] < 3) uses--;
    if (counts[t] === 0) mask &= ~(1 << t);
    pageMask |= 1 << t;
  }
  var more = [], chosen = [];
  for (k = 0; k < S; k++) {
    var s = sections[k];
    if (k === bestSec || !s.anchor || s.contents || ((bodyMask[k + 1] | headMask[k]) & pageMask) !== pageMask || !/\S/.test(s.heading)) continue;
    if (bestSec >= 0 && s.anchor === sections[bestSec].anchor) continue;
    more.push(k);
  }
  more.sort(function (a, b) { return bits(headMask[b]) - bits(headMask[a]) || a - b; });
  for (k = 0; k < more.length && chosen.length < MAX_SECTIONS_LISTED; k++) {
    if (chosen.every(function (c) { return sections[c].anchor !== sections[more[k]].anchor; })) chosen.push(more[k]);
  }
  chosen.sort(function (a, b) { return a - b; });
  var first = packed[bestI] / TERM_BITS | 0, last = packed[bestJ - 1] / TERM_BITS | 0, self = this;
  var found = this.passage(first, last, bestSec);
  found.section = bestSec;
  found.more = chosen;
  // The browser is asked to find the query words of the text, not of the heading: the
  // anchor already leads there, and a heading's words stand in every table of contents
  // too, which the browser would find first.
  var body = this.bodyStart(bestSec), i = bestI;
  while (i < bestJ && this.starts[packed[i] / TERM_BITS | 0] < body) i++;
  var sectionEnd = bestSec + 1 < S ? sections[bestSec + 1].word : this.starts.length;
  found.quote = i < bestJ ? this.quote(packed[i] / TERM_BITS | 0, last, sectionEnd - 1) : null;
  // Each section listed is quoted at its first query word.
  found.quotes = chosen.map(function (k) {
    var from = self.bodyStart(k), end = k + 1 < S ? sections[k + 1].word : self.starts.length, j = 0;
    while (j < total && self.starts[packed[j] / TERM_BITS | 0] < from) j++;
    var at = j < total ? packed[j] / TERM_BITS | 0 : end;
    return at < end ? self.quote(at, at, end - 1) : null;
  });
  return found;
};

// Where the text of section sec starts after its heading (its start when the heading is
// not known to be there; 0 before the first section).
PageText.prototype.bodyStart = function (sec) {
  if (sec < 0) return 0;
  var s = this.sections[sec];
  return s.headEnd >= 0 ? s.headEnd : s.start;
};

// Whether the words w and w + 1 of the text may stand in different blocks of the page
// for all the text tells, or apart otherwise than the text has them: a sentence ends
// between them, a heading starts or ends, or more than a blank and a comma, dot, dash
// or apostrophe stands there (code, whose blanks the text collapsed, and tables).
PageText.prototype.partedAfter = function (w) {
  var end = this.ends[w], next = this.starts[w + 1];
  if (!PLAIN_GAP.test(this.text.slice(end, next))) return true;
  var sec = this.sectionAtChar(next);
  if (sec < 0) return false;
  var s = this.sections[sec];
  return s.start > end || (s.headEnd >= end && s.headEnd <= next);
};

// The passage from word first to word last as the browser is asked to find it on the
// page (a URL text fragment): [its words] when they are few and stand together, else
// [its first words, its last words], each run at most QUOTE_WORDS words that do not
// reach over a sentence or heading. A single run goes on towards word limit, when given,
// so that it is more likely to stand on the page once.
// Each run is widened to the blanks around it, since the browser finds only whole words
// as it cuts them ("re.sub", "doesn't").
PageText.prototype.quote = function (first, last, limit) {
  var text = this.text, starts = this.starts, ends = this.ends, w = first;
  var stop = limit !== undefined ? Math.max(last, limit) : last;
  while (w < stop && w - first < QUOTE_WORDS - 1 && !this.partedAfter(w)) w++;
  var head = this.blankToBlank(starts[first], ends[w]);
  if (w >= last) return [text.slice(head[0], head[1])];
  var v = last;
  while (v > w + 1 && last - v < QUOTE_WORDS - 1 && !this.partedAfter(v - 1)) v--;
  var tail = this.blankToBlank(starts[v], ends[last]);
  return [text.slice(head[0], head[1]), text.slice(tail[0], tail[1])];
};

// Characters from to to of the text, widened to the blanks around them (up to MAX_EDGE
// characters each way): [from, to].
PageText.prototype.blankToBlank = function (from, to) {
  var text = this.text, k;
  for (k = from; k > 0 && from - k < MAX_EDGE && !isBlank(text.charCodeAt(k - 1)); k--);
  if (k === 0 || isBlank(text.charCodeAt(k - 1))) from = k;
  for (k = to; k < text.length && k - to < MAX_EDGE && !isBlank(text.charCodeAt(k)); k++);
  if (k === text.length || isBlank(text.charCodeAt(k))) to = k;
  return [from, to];
};

// The text around words first to last (at most EXCERPT_WORDS apart) in section sec:
// EXCERPT_WORDS words from a little before first (from the section's start when that
// is near), widened to the blanks around them, at most MAX_EXCERPT_CHARS characters,
// with "\u2026" where the text goes on. {heading, the part of it that is the section's
// heading ("" when none), and text, the rest}.
PageText.prototype.passage = function (first, last, sec) {
  var text = this.text, starts = this.starts, ends = this.ends, top = sec >= 0 ? this.sections[sec].word : 0;
  var start = Math.max(top, first - Math.min(8, (EXCERPT_WORDS - (last - first + 1)) >> 1));
  if (first - top < EXCERPT_WORDS / 2 && last - top < EXCERPT_WORDS) start = top;
  var end = Math.min(starts.length, start + EXCERPT_WORDS) - 1;
  var widened = this.blankToBlank(starts[start], ends[end]), from = widened[0], to = widened[1];
  if (to - from > MAX_EXCERPT_CHARS) {
    // Whatever stands between the words is long: keep the first query word in view.
    if (ends[first] - from > MAX_EXCERPT_CHARS / 2) { from = starts[first]; start = first; }
    var w = start;
    while (w < end && ends[w + 1] - from <= MAX_EXCERPT_CHARS) w++;
    to = Math.min(ends[w], from + MAX_EXCERPT_CHARS);
    if (/[\ud800-\udbff]/.test(text.charAt(to - 1))) to--;
  }
  // A passage from its section's start opens with the heading, which is set apart: it
  // is no part of the sentence after it.
  var head = sec >= 0 ? this.sections[sec] : null, headEnd = head && head.headEnd >= 0 && from === head.start ? Math.min(head.headEnd, to) : -1;
  var tail = (to < text.length ? '\u2026' : '');
  if (headEnd < 0) return { heading: '', text: (from > 0 ? '\u2026' : '') + text.slice(from, to) + tail };
  return { heading: text.slice(from, headEnd).trim(), text: text.slice(headEnd, to).replace(/^\s+/, '') + tail };
};

return {
  PageText: PageText,
  limits: { EXCERPT_WORDS: EXCERPT_WORDS, MAX_EXCERPT_CHARS: MAX_EXCERPT_CHARS, MAX_PLACES: MAX_PLACES, MAX_TERM_WORDS: MAX_TERM_WORDS,
    MAX_SECTIONS: MAX_SECTIONS, MAX_SECTIONS_LISTED: MAX_SECTIONS_LISTED }
};
});
