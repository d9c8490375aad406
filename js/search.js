/* generator: VantrelIndexer */
/*
 * VantrelIndexer search page.
 *
 * Reads the two index files that sit next to this script (loaded as classic scripts,
 * so the page also works when opened straight from disk):
 *   indexed_docs.js   var docs=[[number,"TITLE","location","dd-MM-yyyy"],...];
 *   indexed_words.js  var index=[["WORD",doc,doc,...],...];  words in ASCII order,
 *                     each word's documents best first.
 *
 * The search logic below has no dependency on a browser, so Node can require this
 * file and test it; the page code at the end runs only inside search.html.
 */
(function (root, factory) {
  'use strict';
  var api = factory();
  if (typeof module === 'object' && module.exports) {
    module.exports = api;
  } else {
    root.VantrelSearch = api;
    if (root.document && root.document.getElementById('q')) api.startPage(root);
  }
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  // ---------------------------------------------------------------------------------
  // Words: the indexer's rule. A word is a run of ASCII letters, digits and "_" that
  // starts with a letter or "_"; only a-z are upper-cased; every other character,
  // including every non-ASCII one, separates words.

  function isWordStart(c) {
    return (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 95;
  }
  function isWordChar(c) {
    return isWordStart(c) || (c >= 48 && c <= 57);
  }
  function upperAscii(text) {
    return text.replace(/[a-z]+/g, function (run) { return run.toUpperCase(); });
  }

  // Calls visit(word, start, end) for each word of text, in order, until it returns
  // false.
  function forEachWord(text, visit) {
    var n = text.length, i = 0, c;
    while (i < n) {
      while (i < n && !isWordStart(text.charCodeAt(i))) i++;
      if (i >= n) break;
      var start = i, lower = false;
      for (; i < n && isWordChar(c = text.charCodeAt(i)); i++) {
        if (c >= 97) lower = true;
      }
      var word = text.slice(start, i);
      if (visit(lower ? upperAscii(word) : word, start, i) === false) break;
    }
  }

  function tokenize(text) {
    var words = [];
    forEachWord(String(text), function (w) { words.push(w); });
    return words;
  }

  // ---------------------------------------------------------------------------------
  // Bytes. indexed_docs.js is loaded as windows-1252, which maps every byte to its own
  // character, so a location keeps the exact bytes of the file name (Linux names need
  // not be UTF-8). When a server forces another charset, the text is taken as Unicode.

  var CP1252_HIGH = '\u20ac\u0081\u201a\u0192\u201e\u2026\u2020\u2021\u02c6\u2030\u0160\u2039\u0152\u008d\u017d\u008f' +
    '\u0090\u2018\u2019\u201c\u201d\u2022\u2013\u2014\u02dc\u2122\u0161\u203a\u0153\u009d\u017e\u0178';
  var CP1252_BYTE = {};
  for (var b = 0; b < 32; b++) CP1252_BYTE[CP1252_HIGH.charAt(b)] = 0x80 + b;
  var NOT_CP1252 = new RegExp('[^\\u0000-\\u00ff' + CP1252_HIGH + ']');

  function utf8Bytes(text) {
    return new TextEncoder().encode(text);
  }

  // The bytes behind a string read from indexed_docs.js.
  function textBytes(text, bytesMode) {
    if (!bytesMode) return utf8Bytes(text);
    var out = new Uint8Array(text.length);
    for (var i = 0; i < text.length; i++) {
      var c = text.charCodeAt(i);
      out[i] = c <= 0xff ? c : (CP1252_BYTE[text.charAt(i)] || 0x3f);
    }
    return out;
  }

  // Text for people: the bytes as UTF-8 when they are valid UTF-8, else as read.
  function displayText(text, bytesMode) {
    if (!bytesMode || !/[^\x00-\x7f]/.test(text)) return text;
    try {
      return new TextDecoder('utf-8', { fatal: true }).decode(textBytes(text, true));
    } catch (e) {
      return text;
    }
  }

  var ENTITIES = {
    AMP: '&', LT: '<', GT: '>', QUOT: '"', APOS: "'", NBSP: '\u00a0', COPY: '\u00a9', REG: '\u00ae',
    TRADE: '\u2122', HELLIP: '\u2026', MDASH: '\u2014', NDASH: '\u2013', LSQUO: '\u2018',
    RSQUO: '\u2019', LDQUO: '\u201c', RDQUO: '\u201d', LAQUO: '\u00ab', RAQUO: '\u00bb',
    MIDDOT: '\u00b7', BULL: '\u2022', SZLIG: 'SS', TIMES: '\u00d7', DEG: '\u00b0'
  };
  var ACCENTS = { ACUTE: '\u0301', GRAVE: '\u0300', CIRC: '\u0302', UML: '\u0308', TILDE: '\u0303',
    RING: '\u030a', CEDIL: '\u0327', CARON: '\u030c' };

  // Titles keep the character entities of the page, upper-cased (&AMP;): decode the
  // common ones for display.
  function decodeEntities(text) {
    return text.replace(/&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[A-Za-z]{2,8});/g, function (all, name) {
      if (name.charAt(0) === '#') {
        var code = name.charAt(1) === 'x' || name.charAt(1) === 'X' ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
        return code > 0 && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff) ? String.fromCodePoint(code) : all;
      }
      var key = name.toUpperCase();
      if (ENTITIES.hasOwnProperty(key)) return ENTITIES[key];
      var accent = /^([A-Z])(ACUTE|GRAVE|CIRC|UML|TILDE|RING|CEDIL|CARON)$/.exec(key);
      return accent ? (accent[1] + ACCENTS[accent[2]]).normalize('NFC') : all;
    });
  }

  // ---------------------------------------------------------------------------------
  // Links. Locations are relative paths, full paths or URL-prefixed paths.

  var SCHEME = /^[A-Za-z][A-Za-z0-9+.\-]*:\/\//;
  var HEX = '0123456789ABCDEF';

  function percent(byte) {
    return '%' + HEX.charAt(byte >> 4) + HEX.charAt(byte & 15);
  }

  // Percent-escapes the bytes of text: in a path every byte but letters, digits,
  // "-._~/"; in a URL only those that can never stand in one.
  function escapeBytes(text, bytesMode, path) {
    var bytes = textBytes(text, bytesMode), out = '';
    for (var i = 0; i < bytes.length; i++) {
      var c = bytes[i], plain = path
        ? (c >= 48 && c <= 57) || (c >= 65 && c <= 90) || (c >= 97 && c <= 122) || c === 45 || c === 46 || c === 95 || c === 126 || c === 47
        : c > 0x20 && c < 0x7f && '"<>\\^`{|}'.indexOf(String.fromCharCode(c)) < 0;
      out += plain ? String.fromCharCode(c) : percent(c);
    }
    return out;
  }

  // The href of a location, resolved against base (the search page's address).
  // A path is taken byte by byte, so blanks, #, ?, %, quotes and any other byte of a
  // file name reach the right file. A location that starts with a URL scheme is used as
  // it stands, but for bytes that can never appear in a URL; when kept is given, only
  // its first kept characters (the URL prefix that all such locations share) stand as
  // they are and the rest is a path.
  function locationHref(location, base, bytesMode, kept) {
    if (SCHEME.test(location)) {
      var cut = kept === undefined ? location.length : Math.min(kept, location.length);
      return escapeBytes(location.slice(0, cut), bytesMode, false) + escapeBytes(location.slice(cut), bytesMode, true);
    }
    // "//x" would name a host; on disk it is the same file as "/x".
    var out = escapeBytes(location, bytesMode, true).replace(/^\/{2,}/, '/');
    if (base === undefined) return out;
    try {
      return new URL(out, base).href;
    } catch (e) {
      return out;
    }
  }

  // The length of the URL prefix shared by the locations that start with a URL scheme,
  // up to its last "/" (so the file and folder names after it are paths); undefined
  // when no location has a scheme.
  function sharedUrlPrefix(docs) {
    var shared = null;
    for (var d = 0; d < docs.length; d++) {
      var location = String(docs[d][2]);
      if (!SCHEME.test(location)) continue;
      if (shared === null) { shared = location; continue; }
      var n = 0, max = Math.min(shared.length, location.length);
      while (n < max && shared.charCodeAt(n) === location.charCodeAt(n)) n++;
      shared = shared.slice(0, n);
    }
    if (shared === null) return undefined;
    var start = SCHEME.exec(shared);
    return start ? Math.max(start[0].length, shared.lastIndexOf('/') + 1) : undefined;
  }

  // ---------------------------------------------------------------------------------
  // Matching and ranking.

  // How a query word matches an indexed word, best first.
  var EXACT = 0, PLURAL = 1, PREFIX = 2, INNER = 3, FUZZY = 4, NONE = 255;
  var RRF_K = 10;              // reciprocal-rank fusion constant
  var MIN_INNER = 3;           // shortest query word looked for inside longer words
  var EXPANSION_BUDGET = 120000; // postings read for the prefix or inner words of a term
  var MAX_INNER_WORDS = 1500;
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

  // First position whose word is not below word.
  Searcher.prototype.lowerBound = function (word) {
    var index = this.index, lo = 0, hi = index.length;
    while (lo < hi) {
      var mid = (lo + hi) >>> 1;
      if (index[mid][0] < word) lo = mid + 1; else hi = mid;
    }
    return lo;
  };

  // [first, end) of the words that start with prefix (the word itself included).
  // Words hold only 0-9, A-Z and "_", all below "\x7f".
  Searcher.prototype.prefixRange = function (prefix) {
    return [this.lowerBound(prefix), this.lowerBound(prefix + '\x7f')];
  };

  Searcher.prototype.buildJoined = function () {
    if (this.joined !== null) return;
    var index = this.index, n = index.length, parts = new Array(n);
    var offsets = new Int32Array(n + 1), pos = 1;
    for (var i = 0; i < n; i++) {
      parts[i] = index[i][0];
      offsets[i] = pos;
      pos += parts[i].length + 1;
    }
    offsets[n] = pos;
    this.joined = '\n' + parts.join('\n') + '\n';
    this.offsets = offsets;
  };

  // Positions of the words that hold part inside them (not at their start).
  Searcher.prototype.innerWords = function (part, limit) {
    this.buildJoined();
    var joined = this.joined, offsets = this.offsets, found = [], from = 0;
    while (found.length < limit) {
      var at = joined.indexOf(part, from);
      if (at < 0) break;
      var lo = 0, hi = offsets.length - 1;
      while (lo < hi) {
        var mid = (lo + hi + 1) >>> 1;
        if (offsets[mid] <= at) lo = mid; else hi = mid - 1;
      }
      if (offsets[lo] !== at) found.push(lo);
      from = offsets[lo + 1];
    }
    return found;
  };

  var rowA = new Int32Array(64), rowB = new Int32Array(64), rowC = new Int32Array(64);
  // Cells of edit distance computed so far, for the budget of nearestWords.
  var work = { cells: 0 };

  // Optimal string alignment distance of a and b, or max + 1 once it exceeds max. Only
  // the cells at most max off the diagonal can hold max or less, so only they are
  // computed: the cost is about (2 max + 1) times the length of a.
  function editDistance(a, b, max) {
    var la = a.length, lb = b.length, i, j, far = max + 1;
    if (Math.abs(la - lb) > max) return far;
    if (lb + 2 > rowA.length) {
      rowA = new Int32Array(2 * lb + 2); rowB = new Int32Array(2 * lb + 2); rowC = new Int32Array(2 * lb + 2);
    }
    var prev2 = rowA, prev = rowB, cur = rowC;
    for (j = 0; j <= lb; j++) prev[j] = j <= max ? j : far;
    prev[lb + 1] = far;
    for (i = 1; i <= la; i++) {
      var lo = i > max ? i - max : 1, hi = i + max < lb ? i + max : lb;
      cur[lo - 1] = lo === 1 ? i : far;
      cur[hi + 1] = far;
      var rowMin = lo === 1 && i < far ? i : far, ca = a.charCodeAt(i - 1), cb = i > 1 ? a.charCodeAt(i - 2) : -1;
      for (j = lo; j <= hi; j++) {
        var bj = b.charCodeAt(j - 1);
        var v = prev[j - 1] + (ca === bj ? 0 : 1);
        if (prev[j] + 1 < v) v = prev[j] + 1;
        if (cur[j - 1] + 1 < v) v = cur[j - 1] + 1;
        if (j > 1 && ca === b.charCodeAt(j - 2) && cb === bj && prev2[j - 2] + 1 < v) v = prev2[j - 2] + 1;
        cur[j] = v;
        if (v < rowMin) rowMin = v;
      }
      work.cells += hi - lo + 1;
      if (rowMin > max) return far;
      var t = prev2; prev2 = prev; prev = cur; cur = t;
    }
    return prev[lb] <= max ? prev[lb] : far;
  }

  // A word's letters as bits: A to Z, any digit, "_".
  function letterMask(word) {
    var mask = 0;
    for (var i = 0; i < word.length; i++) {
      var c = word.charCodeAt(i);
      mask |= c >= 65 && c <= 90 ? 1 << (c - 65) : c === 95 ? 1 << 27 : 1 << 26;
    }
    return mask;
  }

  function bitCount(x) {
    x -= (x >>> 1) & 0x55555555;
    x = (x & 0x33333333) + ((x >>> 2) & 0x33333333);
    return (((x + (x >>> 4)) & 0x0f0f0f0f) * 0x01010101) >>> 24;
  }

  // The words nearest to word, among the indexed words and the words of titles and
  // file names: smallest edit distance (1 for words of up to 5 letters, 2 beyond), then
  // most pages. Each letter that one word has and the other lacks costs an edit, so
  // words with too many such letters are passed over before their distance is measured.
  // The search ends once FUZZY_CELL_BUDGET cells of edit distance are spent.
  Searcher.prototype.nearestWords = function (word, limit) {
    if (word.length < 3 || word.length > MAX_WORD_LENGTH) return [];
    var index = this.index, titles = this.buildTitles(), i;
    if (this.masks === null) {
      this.masks = new Int32Array(index.length);
      for (i = 0; i < index.length; i++) this.masks[i] = letterMask(index[i][0]);
    }
    var mine = letterMask(word), max = word.length <= 5 ? 1 : 2, best = max + 1, found = new Map();
    var spent = work.cells + FUZZY_CELL_BUDGET;
    function consider(w, m, pages) {
      if (bitCount(mine & ~m) > best || bitCount(m & ~mine) > best) return;
      if (w.length < word.length - max || w.length > word.length + max || work.cells > spent) return;
      var d = editDistance(word, w, best);
      if (d > best) return;
      if (d < best) { best = d; found.clear(); }
      found.set(w, Math.max(found.get(w) || 0, pages));
    }
    if (!titles.masks) titles.masks = titles.words.concat(titles.nameWords).map(letterMask);
    for (i = 0; i < index.length; i++) consider(index[i][0], this.masks[i], index[i].length - 1);
    var places = titles.words.length;
    for (i = 0; i < places; i++) consider(titles.words[i], titles.masks[i], titles.docs[i].length);
    for (i = 0; i < titles.nameWords.length; i++) consider(titles.nameWords[i], titles.masks[places + i], titles.nameDocs[i].length);
    return Array.from(found.keys()).sort(function (x, y) {
      return found.get(y) - found.get(x) || (x < y ? -1 : x > y ? 1 : 0);
    }).slice(0, limit);
  };

  // The word positions kept for a term within the postings budget: shortest words
  // (the closest completions) first, in list order within one length.
  function withinBudget(index, positions, budget) {
    var total = 0, i;
    for (i = 0; i < positions.length; i++) total += index[positions[i]].length - 1;
    if (total <= budget) return positions;
    var byLength = [];
    for (i = 0; i < positions.length; i++) {
      var len = index[positions[i]][0].length;
      (byLength[len] || (byLength[len] = [])).push(positions[i]);
    }
    var chosen = [];
    total = 0;
    for (var l = 0; l < byLength.length && total < budget; l++) {
      var list = byLength[l] || [];
      for (i = 0; i < list.length && total < budget; i++) {
        chosen.push(list[i]);
        total += index[list[i]].length - 1;
      }
    }
    return chosen;
  }

  // How a query word matches: in the index, the word itself, its plural or singular,
  // the words it begins and the words it stands inside (matches, a list of {word
  // position, class, weight}); in titles and file names the same (places). When nothing
  // matches, the nearest words instead, which are offered as suggestions too.
  Searcher.prototype.matchTerm = function (text) {
    var cached = this.termCache.get(text);
    if (cached) return cached;
    var index = this.index, matches = [], term = { text: text, matches: matches, suggestions: [], fuzzy: null };
    var range = this.prefixRange(text), i, positions = [];
    if (range[0] < range[1] && index[range[0]][0] === text) {
      matches.push({ at: range[0], cls: EXACT, weight: 1 });
      range[0]++;
    }
    // Plural and singular forms rank just below the word itself.
    for (i = range[0]; i < range[1]; i++) {
      if (pluralOf(text, index[i][0])) matches.push({ at: i, cls: PLURAL, weight: 1 });
      else positions.push(i);
    }
    var singular = /^[A-Z0-9_]{3,}E?S$/.test(text) ? [text.slice(0, -1), text.slice(0, -2)] : [];
    for (i = 0; i < singular.length; i++) {
      var at = this.lowerBound(singular[i]);
      if (at < index.length && index[at][0] === singular[i] && pluralOf(singular[i], text)) {
        matches.push({ at: at, cls: PLURAL, weight: 1 });
      }
    }
    // One or two letters begin most words: read fewer of them.
    var budget = EXPANSION_BUDGET * Math.min(1, text.length / 4);
    positions = withinBudget(index, positions, budget);
    for (i = 0; i < positions.length; i++) {
      matches.push({ at: positions[i], cls: PREFIX, weight: text.length / index[positions[i]][0].length });
    }
    if (text.length >= MIN_INNER) {
      positions = withinBudget(index, this.innerWords(text, MAX_INNER_WORDS), budget);
      for (i = 0; i < positions.length; i++) {
        matches.push({ at: positions[i], cls: INNER, weight: text.length / index[positions[i]][0].length });
      }
    }
    term.places = this.placeMatches(term);
    if (matches.length === 0 && term.places.length === 0) {
      var near = this.nearestWords(text, 5);
      term.fuzzy = new Set();
      for (i = 0; i < near.length; i++) {
        var pos = this.lowerBound(near[i]);
        if (pos < index.length && index[pos][0] === near[i]) matches.push({ at: pos, cls: FUZZY, weight: 1 / (1 + i) });
        term.suggestions.push(near[i]);
        term.fuzzy.add(near[i]);
      }
      term.places = this.placeMatches(term);
    }
    if (this.termCache.size >= 64) this.termCache.clear();
    this.termCache.set(text, term);
    return term;
  };

  // The distinct words of all titles, each with its documents; which of them stand in
  // a large share of the titles (a site's name, say), so tell nothing about a page;
  // the number of other distinct words of each title ("Document has no name" has
  // none); and the words of each page's file name without its extension. The page
  // builds this while the word index is still loading.
  function titleWords(docs) {
    var byWord = new Map(), size = new Uint16Array(docs.length), names = new Array(docs.length);
    var byName = new Map(), distinct = 0, titled = 0, d, i;
    function add(w) {
      var list = byWord.get(w);
      if (!list) byWord.set(w, [d]);
      else if (list[list.length - 1] !== d) list.push(d);
      else return;
      distinct++;
    }
    for (d = 0; d < docs.length; d++) {
      var title = docs[d][1], location = String(docs[d][2]);
      var file = location.slice(location.lastIndexOf('/') + 1), dot = file.lastIndexOf('.');
      names[d] = tokenize(dot > 0 ? file.slice(0, dot) : file);
      // The extension is found too (a query may be a file name) but is no part of the name.
      var found = dot > 0 ? names[d].concat(tokenize(file.slice(dot))) : names[d];
      for (i = 0; i < found.length; i++) {
        var named = byName.get(found[i]);
        if (!named) byName.set(found[i], [d]);
        else if (named[named.length - 1] !== d) named.push(d);
      }
      if (names[d].length > MAX_NAME_WORDS) names[d].length = MAX_NAME_WORDS;
      if (typeof title !== 'string' || title === NO_NAME) continue;
      distinct = 0;
      forEachWord(title, add);
      size[d] = Math.min(65535, distinct);
      if (distinct) titled++;
    }
    var words = Array.from(byWord.keys()), lists = Array.from(byWord.values());
    var common = new Uint8Array(words.length), limit = Math.max(8, titled / 4);
    for (i = 0; i < words.length; i++) {
      if (lists[i].length <= limit) continue;
      common[i] = 1;
      for (var k = 0; k < lists[i].length; k++) size[lists[i][k]]--;
    }
    return {
      words: words, docs: lists, common: common, size: size, names: names,
      nameWords: Array.from(byName.keys()), nameDocs: Array.from(byName.values())
    };
  }

  Searcher.prototype.buildTitles = function () {
    if (this.titles === null) this.titles = titleWords(this.docs);
    return this.titles;
  };

  // Whether plural is word with "S" or "ES" added (but not "S" to a word ending in S:
  // CLASS is no plural of CLAS).
  function pluralOf(word, plural) {
    var extra = plural.length - word.length, S = 83, E = 69;
    return word.length >= 3 && (extra === 1 ? word.charCodeAt(word.length - 1) !== S : extra === 2 && plural.charCodeAt(plural.length - 2) === E) &&
      plural.charCodeAt(plural.length - 1) === S && plural.lastIndexOf(word, 0) === 0;
  }

  // The best class by which a query word matches one word, or NONE.
  function wordClass(term, word) {
    var t = term.text;
    if (term.fuzzy) return term.fuzzy.has(word) ? FUZZY : NONE;
    if (word === t) return EXACT;
    if (pluralOf(t, word) || pluralOf(word, t)) return PLURAL;
    if (word.lastIndexOf(t, 0) === 0) return PREFIX;
    if (t.length >= MIN_INNER && word.indexOf(t) > 0) return INNER;
    return NONE;
  }

  // The pages whose title or file name holds a word that term matches, as lists of
  // documents with a class: they match the term even when the index lacks the word
  // (an index of META keywords only; a page without a title, known by its name).
  // One or two letters begin too many words to be worth it: they take whole words only.
  Searcher.prototype.placeMatches = function (term) {
    var titles = this.buildTitles(), places = [], worst = term.text.length < 3 ? PLURAL : FUZZY, v, c;
    for (v = 0; v < titles.words.length; v++) {
      if ((c = wordClass(term, titles.words[v])) <= worst) places.push({ docs: titles.docs[v], cls: c });
    }
    for (v = 0; v < titles.nameWords.length; v++) {
      if ((c = wordClass(term, titles.nameWords[v])) <= worst) places.push({ docs: titles.nameDocs[v], cls: c });
    }
    return places;
  };

  // Marks the documents whose titles the query's words match: for each word the best
  // class, and how many of the title's words some query word matches.
  Searcher.prototype.matchTitles = function (terms) {
    var titles = this.buildTitles(), stamp = ++this.stamp, T = terms.length;
    var stamps = this.titleStamp, covered = this.titleCovered, best = this.titleBest;
    for (var v = 0; v < titles.words.length; v++) {
      var word = titles.words[v], classes = null;
      for (var t = 0; t < T; t++) {
        var c = wordClass(terms[t], word);
        if (c !== NONE) (classes || (classes = []))[t] = c;
      }
      if (classes === null) continue;
      var list = titles.docs[v], telling = titles.common[v] === 0;
      for (var k = 0; k < list.length; k++) {
        var d = list[k], base = d * MAX_TERMS;
        if (stamps[d] !== stamp) {
          stamps[d] = stamp;
          covered[d] = 0;
          for (t = 0; t < T; t++) best[base + t] = NONE;
        }
        if (telling) covered[d]++;
        for (t = 0; t < T; t++) {
          if (classes[t] !== undefined && classes[t] < best[base + t]) best[base + t] = classes[t];
        }
      }
    }
  };

  // Title rank after matchTitles: 1 + (FUZZY - worst class) when the title holds every
  // query word, else 0; then 3 when the words of the file name are the query's words,
  // 2 when they hold all of them, 1 when they hold some; then the share of the title's
  // telling words matched, 0 to 10.
  Searcher.prototype.titleRank = function (d, terms) {
    var titles = this.titles, tier = 0, t, matched = this.titleStamp[d] === this.stamp;
    if (matched) {
      var worst = EXACT, base = d * MAX_TERMS;
      for (t = 0; t < terms.length; t++) {
        if (this.titleBest[base + t] > worst) worst = this.titleBest[base + t];
      }
      if (worst !== NONE) tier = 1 + FUZZY - worst;
    }
    var name = titles.names[d], used = 0, all = true;
    for (t = 0; t < terms.length; t++) {
      var hit = false;
      for (var w = 0; w < name.length; w++) {
        if (wordClass(terms[t], name[w]) !== NONE) { hit = true; used++; }
      }
      all = all && hit;
    }
    var nameTier = used === 0 ? 0 : !all ? 1 : used >= name.length ? 3 : 2;
    var size = titles.size[d], share = matched && size > 0 ? Math.round(10 * Math.min(size, this.titleCovered[d]) / size) : 0;
    return tier * 64 + nameTier * 16 + share;
  };

  // Adds each term's matches to the documents' hits (terms matched), worst class and
  // fused score; a term counts for a document through its best match. With every set,
  // only documents that matched all the terms before are followed (AND). Returns the
  // documents met; hits must be 0 for every document on entry.
  Searcher.prototype.collect = function (terms, every) {
    var n = this.docCount, index = this.index, hits = this.hits, worst = this.worst, score = this.score;
    var termClass = this.termClass, termScore = this.termScore, seen = this.seen, met = [];
    for (var t = 0; t < terms.length; t++) {
      var mark = ++this.mark, touched = [], matches = terms[t].matches;
      for (var m = 0; m < matches.length; m++) {
        var entry = index[matches[m].at], cls = matches[m].cls, weight = matches[m].weight;
        var groups = this.weightGroups(matches[m].at), group = 0;
        for (var r = 1; r < entry.length; r++) {
          var doc = entry[r];
          if (r > 1 && doc < entry[r - 1]) group++;
          if (!(doc >= 0 && doc < n)) continue;
          var s = weight / (RRF_K + r);
          // Deep in the list, the later a page's weight group the more often its running
          // text uses the word: from the third group on, a page is also scored by its
          // group's place from the end (the first groups hold the headings and titles).
          if (group > 1) s = Math.max(s, weight / (RRF_K + 1 + groups - group));
          if (seen[doc] !== mark) {
            if (every && hits[doc] !== t) continue;
            seen[doc] = mark;
            if (hits[doc] === 0) { worst[doc] = 0; score[doc] = 0; met.push(doc); }
            touched.push(doc);
            termClass[doc] = cls;
            termScore[doc] = s;
          } else if (cls < termClass[doc] || (cls === termClass[doc] && s > termScore[doc])) {
            termClass[doc] = cls;
            termScore[doc] = s;
          }
        }
      }
      // Title and file-name matches, scored as if far down a word's list: they make a
      // page a result; where it stands comes from the index and the title rank.
      var places = terms[t].places || [];
      for (var p = 0; p < places.length; p++) {
        var list = places[p].docs, pcls = places[p].cls, ps = 1 / (RRF_K + PLACE_RANK);
        for (var j = 0; j < list.length; j++) {
          var pd = list[j];
          if (seen[pd] !== mark) {
            if (every && hits[pd] !== t) continue;
            seen[pd] = mark;
            if (hits[pd] === 0) { worst[pd] = 0; score[pd] = 0; met.push(pd); }
            touched.push(pd);
            termClass[pd] = pcls;
            termScore[pd] = ps;
          } else if (pcls < termClass[pd]) {
            termClass[pd] = pcls;
          }
        }
      }
      for (var k = 0; k < touched.length; k++) {
        var d = touched[k];
        hits[d]++;
        if (termClass[d] > worst[d]) worst[d] = termClass[d];
        score[d] += termScore[d];
      }
    }
    return met;
  };

  // A word's list holds its pages by falling weight, equal weights in ascending page
  // order; pages whose words stand only in running text weigh less the more often they
  // use the word. A page number lower than the one before starts a new, lower weight:
  // the number of such starts, kept per word.
  Searcher.prototype.weightGroups = function (at) {
    if (this.groupCount === null) this.groupCount = new Int32Array(this.index.length).fill(-1);
    var count = this.groupCount[at];
    if (count < 0) {
      var entry = this.index[at];
      count = 0;
      for (var r = 2; r < entry.length; r++) {
        if (entry[r] < entry[r - 1]) count++;
      }
      this.groupCount[at] = count;
    }
    return count;
  };

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

  var DOC_BITS = 131072, SCORE_STEPS = 1048576; // 2^17, 2^20: keys stay below 2^53

  // Orders documents in place: most query words, best worst class, title holding the
  // query, file name, share of the title matched, fused score, document number.
  Searcher.prototype.rank = function (docs, terms) {
    var hits = this.hits, worst = this.worst, score = this.score, rankKey = this.rankKey, i, d;
    this.matchTitles(terms);
    var top = 0;
    for (i = 0; i < docs.length; i++) {
      d = docs[i];
      rankKey[d] = hits[d] * 2560 + (FUZZY - worst[d]) * 512 + this.titleRank(d, terms); // below 2^16
      score[d] *= this.lengthFactor[d];
      if (score[d] > top) top = score[d];
    }
    if (this.docCount <= DOC_BITS) {
      // One number per document, sorted natively: rank key, score in 2^20 steps of the
      // best score (so sums of the same ranks in another order tie), document number.
      var keys = new Float64Array(docs.length), scale = top > 0 ? (SCORE_STEPS - 1) / top : 0;
      for (i = 0; i < docs.length; i++) {
        d = docs[i];
        keys[i] = (rankKey[d] * SCORE_STEPS + Math.round(score[d] * scale)) * DOC_BITS + (DOC_BITS - 1 - d);
      }
      keys.sort();
      for (i = 0; i < docs.length; i++) docs[i] = DOC_BITS - 1 - keys[docs.length - 1 - i] % DOC_BITS;
      return;
    }
    for (i = 0; i < docs.length; i++) score[docs[i]] = Math.round(score[docs[i]] * 1e12) / 1e12;
    docs.sort(function (a, b) {
      return rankKey[b] - rankKey[a] || score[b] - score[a] || a - b;
    });
  };

  // "dd-MM-yyyy" as a number that sorts by date, or -1.
  function dateKey(date) {
    var m = /^(\d\d)-(\d\d)-(\d{4})$/.exec(date || '');
    return m ? Number(m[3]) * 10000 + Number(m[2]) * 100 + Number(m[1]) : -1;
  }

  // Documents newest first; equal dates keep their order.
  Searcher.prototype.byDate = function (docs) {
    var all = this.docs, keyed = docs.map(function (d, i) { return [dateKey(all[d][3]), i, d]; });
    keyed.sort(function (a, b) { return b[0] - a[0] || a[1] - b[1]; });
    return keyed.map(function (k) { return k[2]; });
  };

  // Spans [start, end) of text to mark for the query's terms, at most MAX_MARKS.
  function highlightSpans(text, terms) {
    var spans = [];
    forEachWord(text, function (word, start, end) {
      var best = null;
      for (var t = 0; t < terms.length; t++) {
        var term = terms[t], c = wordClass(term, word), span = null;
        if (c === EXACT || c === PLURAL || c === FUZZY) span = [start, end];
        else if (c === PREFIX) span = [start, start + term.text.length];
        else if (c === INNER) {
          var at = word.indexOf(term.text, 1);
          span = [start + at, start + at + term.text.length];
        }
        if (span && (!best || span[1] - span[0] > best[1] - best[0])) best = span;
      }
      if (best) spans.push(best);
      return spans.length < MAX_MARKS;
    });
    return spans;
  }

  // Text as shown: at most MAX_SHOWN characters, cut after a word and ended with an
  // ellipsis when longer.
  function shortText(text) {
    if (text.length <= MAX_SHOWN) return text;
    var cut = MAX_SHOWN, blank = /\s/;
    while (cut > MAX_SHOWN / 2 && !blank.test(text.charAt(cut))) cut--;
    if (cut <= MAX_SHOWN / 2) {
      cut = MAX_SHOWN;
      if (/[\ud800-\udbff]/.test(text.charAt(cut - 1))) cut--;
    }
    while (cut > 0 && blank.test(text.charAt(cut - 1))) cut--;
    return text.slice(0, cut) + '\u2026';
  }

  // A title (entities decoded) or location as shown. One shown character takes at
  // most ten of the text (an entity; UTF-8 takes four), so only the start of a longer
  // text is read, cut before a character's UTF-8 bytes are split.
  function shownText(text, bytesMode, entities) {
    var cut = text.length > 10 * MAX_SHOWN;
    if (cut) {
      var end = 10 * MAX_SHOWN, bytes = textBytes(text.slice(end - 3, end + 1), true);
      for (var k = 3; bytesMode && k > 0 && (bytes[k] & 0xc0) === 0x80; k--) end--;
      if (!bytesMode && /[\udc00-\udfff]/.test(text.charAt(end))) end--;
      text = text.slice(0, end);
    }
    text = displayText(text, bytesMode);
    text = shortText(entities ? decodeEntities(text) : text);
    return cut && text.charAt(text.length - 1) !== '\u2026' ? text + '\u2026' : text;
  }

  // ---------------------------------------------------------------------------------
  // The page.

  var PAGE_SIZE = 20;

  function startPage(win) {
    var doc = win.document;
    var box = doc.getElementById('q'), form = doc.getElementById('search-form');
    var list = doc.getElementById('results'), count = doc.getElementById('count');
    var status = doc.getElementById('status'), more = doc.getElementById('more');
    var suggest = doc.getElementById('suggest'), sortBox = doc.getElementById('sort');
    var searcher = null, current = null, order = [], shown = 0, active = -1;
    var timer = 0, lastMs = 0, lastKeyAt = 0, lastUrlChange = 0, entrySettled = true;

    function say(text, isError) {
      status.textContent = text;
      status.className = isError ? 'error' : '';
      status.setAttribute('role', isError ? 'alert' : 'status');
    }

    function urlQuery() {
      var params = new URLSearchParams(win.location.search);
      return { q: params.get('q') || '', sort: params.get('sort') === 'date' ? 'date' : 'relevance' };
    }

    // History: a search the visitor settled on (Enter, a pause, a choice) keeps its own
    // entry; the keystrokes of one burst of typing share one entry.
    function setUrl(q, how) {
      var params = new URLSearchParams();
      if (q) params.set('q', q);
      if (sortBox.value === 'date') params.set('sort', 'date');
      var search = params.toString();
      search = search ? '?' + search : '';
      if (how === 'history') {
        entrySettled = true;
        return;
      }
      if (search !== win.location.search) {
        var url = win.location.pathname + search;
        try {
          if (entrySettled || Date.now() - lastUrlChange > 1500) win.history.pushState({ q: q }, '', url);
          else win.history.replaceState({ q: q }, '', url);
        } catch (e) { /* some browsers refuse history changes on file: pages */ }
        lastUrlChange = Date.now();
      }
      entrySettled = how === 'commit';
    }

    function nameOf(d) {
      var entry = searcher.docs[d], title = typeof entry[1] === 'string' ? entry[1] : '';
      if (title === NO_NAME || !/\S/.test(title)) return shownText(String(entry[2]), searcher.bytesMode, false);
      return shownText(title, searcher.bytesMode, true);
    }

    function appendMarked(parent, text, terms) {
      var spans = highlightSpans(text, terms), pos = 0;
      spans.forEach(function (span) {
        if (span[0] > pos) parent.appendChild(doc.createTextNode(text.slice(pos, span[0])));
        var mark = doc.createElement('mark');
        mark.textContent = text.slice(span[0], span[1]);
        parent.appendChild(mark);
        pos = span[1];
      });
      if (pos < text.length) parent.appendChild(doc.createTextNode(text.slice(pos)));
    }

    function resultItem(d, i) {
      var entry = searcher.docs[d];
      var li = doc.createElement('li');
      li.id = 'result-' + i;
      li.setAttribute('role', 'option');
      li.setAttribute('aria-selected', 'false');
      var a = doc.createElement('a');
      a.href = locationHref(String(entry[2]), win.location.href, searcher.bytesMode, searcher.urlPrefixLength);
      a.className = 'title';
      a.dir = 'auto';
      appendMarked(a, nameOf(d), current.terms);
      li.appendChild(a);
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
        date.textContent = shortText(String(entry[3]));
        meta.appendChild(date);
      }
      li.appendChild(meta);
      return li;
    }

    function showMore() {
      var end = Math.min(order.length, shown + PAGE_SIZE), frag = doc.createDocumentFragment();
      for (var i = shown; i < end; i++) frag.appendChild(resultItem(order[i], i));
      list.appendChild(frag);
      shown = end;
      more.hidden = shown >= order.length;
      more.textContent = 'Show more (' + shown + ' of ' + order.length + ')';
    }

    function plural(n, word) {
      return n.toLocaleString('en-US') + ' ' + word + (n === 1 ? '' : 's');
    }

    function renderSuggestions() {
      suggest.textContent = '';
      var offers = current.terms.filter(function (t) { return t.suggestions.length > 0; });
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
            var words = current.terms.map(function (t) { return t === term ? word.toLowerCase() : t.text.toLowerCase(); });
            box.value = words.join(' ');
            run('commit');
            box.focus();
          });
          suggest.appendChild(button);
        });
      });
      suggest.appendChild(doc.createTextNode('?'));
    }

    function render(result) {
      current = result;
      order = sortBox.value === 'date' ? searcher.byDate(result.docs) : result.docs;
      list.textContent = '';
      shown = 0;
      setActive(-1);
      showMore();
      box.setAttribute('aria-expanded', order.length > 0 ? 'true' : 'false');
      if (result.terms.length === 0) {
        count.textContent = /\S/.test(result.query) ? 'Nothing to search for: words start with a letter or \u201c_\u201d.' : '';
      }
      else if (order.length === 0) {
        // The query in a <bdi>, so that its own direction cannot reorder the sentence.
        var asked = doc.createElement('bdi');
        asked.textContent = result.query.trim();
        count.textContent = 'No results for \u201c';
        count.appendChild(asked);
        count.appendChild(doc.createTextNode('\u201d.'));
      }
      else if (result.partial) count.textContent = 'No page holds all the words; ' + plural(order.length, 'page') + ' hold some of them.';
      else count.textContent = plural(order.length, 'result') + '.';
      renderSuggestions();
      list.setAttribute('data-query', result.query);
    }

    function run(how) {
      win.clearTimeout(timer);
      timer = 0;
      if (!searcher) return;
      var q = box.value, started = Date.now();
      render(searcher.search(q));
      lastMs = Date.now() - started;
      doc.title = q.trim() ? q.trim() + ' \u2013 Search' : 'Search';
      setUrl(q, how);
    }

    function setActive(i) {
      var old = doc.getElementById('result-' + active);
      if (old) old.setAttribute('aria-selected', 'false');
      active = i;
      var item = doc.getElementById('result-' + i);
      if (item) {
        item.setAttribute('aria-selected', 'true');
        box.setAttribute('aria-activedescendant', item.id);
        if (item.scrollIntoView) item.scrollIntoView({ block: 'nearest' });
      } else {
        box.removeAttribute('aria-activedescendant');
      }
    }

    function move(step) {
      if (order.length === 0) return;
      var next = active + step;
      if (next >= shown && shown < order.length) showMore();
      if (next < -1) next = shown - 1;
      if (next >= shown) next = -1;
      setActive(next);
    }

    function open(i) {
      var item = doc.getElementById('result-' + i);
      var link = item && item.querySelector('a');
      if (link) win.location.assign(link.href);
    }

    function clear() {
      box.value = '';
      run('commit');
    }

    box.addEventListener('input', function () {
      win.clearTimeout(timer);
      // Debounce: keystrokes that come while a search is pending are coalesced into one
      // search. A keystroke is answered at once unless searches are slow (on a very
      // large site or a slow machine) and the keys come faster than they are answered;
      // then the search waits about one search's time for the next key.
      var now = Date.now(), slow = lastMs >= 60 && now - lastKeyAt < lastMs;
      lastKeyAt = now;
      timer = win.setTimeout(function () { run('type'); }, slow ? Math.min(150, lastMs) : 0);
    });
    form.addEventListener('submit', function (e) {
      e.preventDefault();
      run('commit');
    });
    box.addEventListener('keydown', function (e) {
      if (e.key === 'ArrowDown' || e.key === 'ArrowUp') {
        e.preventDefault();
        if (timer) run('type');
        move(e.key === 'ArrowDown' ? 1 : -1);
      } else if (e.key === 'Enter' && active >= 0) {
        e.preventDefault();
        open(active);
      } else if (e.key === 'Escape') {
        e.preventDefault();
        if (box.value) clear();
      }
    });
    more.addEventListener('click', function () {
      showMore();
      box.focus();
    });
    sortBox.addEventListener('change', function () {
      if (current) run('commit');
    });
    // Arrows also move between the result links once one of them has the focus.
    list.addEventListener('keydown', function (e) {
      if (e.key !== 'ArrowDown' && e.key !== 'ArrowUp') return;
      var item = e.target.closest && e.target.closest('li[role=option]');
      if (!item) return;
      e.preventDefault();
      var next = Number(item.id.slice(7)) + (e.key === 'ArrowDown' ? 1 : -1);
      if (next >= shown && shown < order.length) showMore();
      var link = doc.querySelector('#result-' + next + ' a');
      if (link) { setActive(next); link.focus(); } else if (next < 0) { setActive(-1); box.focus(); }
    });
    list.addEventListener('mousemove', function (e) {
      var item = e.target.closest && e.target.closest('li[role=option]');
      if (item && item.id !== 'result-' + active) setActive(Number(item.id.slice(7)));
    });
    doc.addEventListener('keydown', function (e) {
      var t = e.target, typing = t && (t.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(t.tagName));
      if ((e.key === 'k' || e.key === 'K') && (e.ctrlKey || e.metaKey) && !e.altKey) {
        e.preventDefault();
        box.focus();
        box.select();
      } else if (e.key === '/' && !typing && !e.ctrlKey && !e.metaKey && !e.altKey) {
        e.preventDefault();
        box.focus();
        box.select();
      }
    });
    win.addEventListener('popstate', function () {
      var wanted = urlQuery();
      box.value = wanted.q;
      sortBox.value = wanted.sort;
      run('history');
    });

    var initial = urlQuery();
    box.value = initial.q;
    sortBox.value = initial.sort;
    say('Loading the search index\u2026');

    function mark(name) {
      if (win.performance && win.performance.mark) win.performance.mark(name);
    }

    var waiting = 2, failed = [], titles = null;
    function validDocs(docs) {
      return Array.isArray(docs) && (docs.length === 0 || Array.isArray(docs[0]));
    }
    function loaded(name, ok) {
      mark('vantrel-loaded-' + name);
      if (!ok) failed.push(name);
      var docs = win.docs, index = win.index;
      // The documents come first (a much smaller file): index their titles meanwhile.
      if (--waiting > 0) {
        if (validDocs(docs)) titles = titleWords(docs);
        return;
      }
      if (!validDocs(docs)) failed.push('indexed_docs.js');
      if (!(Array.isArray(index) && (index.length === 0 || (Array.isArray(index[0]) && typeof index[0][0] === 'string')))) failed.push('indexed_words.js');
      if (failed.length) {
        failed = Array.from(new Set(failed));
        say('The search index could not be loaded: ' + failed.join(' and ') + (failed.length > 1 ? ' are' : ' is') +
          ' missing or damaged next to this page. Build the index again with VantrelIndexer.', true);
        box.setAttribute('aria-invalid', 'true');
        return;
      }
      searcher = new Searcher(docs, index, titles && titles.size.length === docs.length ? titles : null);
      say(docs.length === 0 ? 'The index holds no pages.' : '');
      box.placeholder = 'Search ' + plural(docs.length, 'page');
      mark('vantrel-index-ready');
      // A query typed while the index loaded is a new search; the address's is not.
      run(box.value === initial.q ? 'history' : 'commit');
      mark('vantrel-first-results');
      doc.documentElement.setAttribute('data-ready', 'true');
      // Once the results are on screen: get the word list ready for in-word matching
      // and run two searches, so that the first keystrokes find the search code
      // compiled. One step per task, so a keystroke waits for one step at most.
      var warmUp = ['S', 'ION SE'];
      var step = function () {
        if (searcher.joined === null) searcher.buildJoined();
        else if (warmUp.length) searcher.search(warmUp.shift());
        else return;
        win.setTimeout(step, 0);
      };
      if (win.requestAnimationFrame) win.requestAnimationFrame(function () { win.setTimeout(step, 0); });
      else win.setTimeout(step, 0);
    }
    function load(name, charset) {
      var script = doc.createElement('script');
      script.src = name;
      if (charset) script.charset = charset;
      script.onload = function () { loaded(name, true); };
      script.onerror = function () { loaded(name, false); };
      doc.head.appendChild(script);
    }
    load('indexed_docs.js', 'windows-1252');
    load('indexed_words.js', 'windows-1252');
  }

  return {
    tokenize: tokenize,
    forEachWord: forEachWord,
    textBytes: textBytes,
    displayText: displayText,
    decodeEntities: decodeEntities,
    locationHref: locationHref,
    sharedUrlPrefix: sharedUrlPrefix,
    editDistance: editDistance,
    work: work,
    highlightSpans: highlightSpans,
    shortText: shortText,
    shownText: shownText,
    dateKey: dateKey,
    Searcher: Searcher,
    titleWords: titleWords,
    startPage: startPage,
    EXACT: EXACT, PLURAL: PLURAL, PREFIX: PREFIX, INNER: INNER, FUZZY: FUZZY,
    limits: { MAX_WORD_LENGTH: MAX_WORD_LENGTH, MAX_TERMS: MAX_TERMS, FUZZY_CELL_BUDGET: FUZZY_CELL_BUDGET,
      MAX_SHOWN: MAX_SHOWN, MAX_MARKS: MAX_MARKS }
  };
});
