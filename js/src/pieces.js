// The companion word index in pieces (indexed_text/NAME.js): a head naming the word
// shards, runs of keys in key order, and the vocabulary pieces, the keys alone with
// their numbers of pages. WordPieces answers the look-ups of a WordList from the shards
// that have come, and notes the shards a look-up reached that have not (wanted) and
// whether it needed every key (in-word and nearest words: the vocabulary, or only the
// vocabulary pieces that the in-word pieces of a part's runs name). A search
// over it is exact once it wants nothing; searchInPieces runs a search again as the
// pieces it wanted come.
define('pieces', ['wordlist', 'companion', 'wordrules', 'bounds'], function (wordlist, companion, wordrules, bounds) {

var MIN_STEM = 3, MAX_STEM_TAIL = 4; // as the whole list takes a stem of a word it lacks
var NO_SHARD = { words: [], groups: new Map(), forms: new Map(), places: new Map(), placeKeys: [] };
var PIECE_NAME = /^[a-z2-7]{13}\.js$/;
var VOCABULARY = -1;         // wanted: the vocabulary, before the answer
// Wanted: vocabulary piece p, before the answer (below VOCABULARY, so shards stay >= 0).
function partWanted(p) { return -2 - p; }

// What the page takes from a head for these docs: {state: 'ok', head} or the state
// that tells why not ('stale', 'damaged').
function headData(head, docs) {
  return headOf(head, docs.length, head && typeof head === 'object' ? companion.documentsCheck(docs) : '');
}

// The same for count documents whose check is check.
function headOf(head, count, check) {
  if (!head || typeof head !== 'object') return { state: 'damaged' };
  if (head.count !== count || head.check !== check) return { state: 'stale' };
  if (head.shards === undefined) return shardListsOf(head) && linksOf(head, count) ? { state: 'ok', head: head } : { state: 'damaged' };
  var shards = head.shards, vocabulary = head.vocabulary, total = 0, i;
  if (!Array.isArray(shards) || !Array.isArray(vocabulary)) return { state: 'damaged' };
  for (i = 0; i < shards.length; i++) {
    var s = shards[i];
    if (!Array.isArray(s) || typeof s[0] !== 'string' || !PIECE_NAME.test(s[1]) || !(s[2] > 0) || s[2] % 1 !== 0) return { state: 'damaged' };
    total += s[2];
  }
  var covered = 0;
  for (i = 0; i < vocabulary.length; i++) {
    var v = vocabulary[i];
    if (!Array.isArray(v) || !PIECE_NAME.test(v[0]) || !(v[1] > 0) || v[1] % 1 !== 0) return { state: 'damaged' };
    covered += v[1];
  }
  return covered === shards.length && total === head.keys && linksOf(head, count) ? { state: 'ok', head: head } : { state: 'damaged' };
}

function linksOf(head, count) {
  var links = head.links, group = head.linkGroup;
  return Array.isArray(links) && group > 0 && group % 1 === 0 && links.length === Math.ceil(count / group) &&
    links.every(function (name) { return PIECE_NAME.test(name); });
}

function wholePositive(n) {
  return typeof n === 'number' && n > 0 && n % 1 === 0;
}

// Whether a top's lists of shards hold together with its vocabulary pieces: each list
// [first key, name, shards] holds whole vocabulary pieces, each [name, shards, keys].
function shardListsOf(head) {
  var lists = head.shardLists, vocabulary = head.vocabulary, keys = 0, shards = 0, v = 0;
  if (!Array.isArray(lists) || !Array.isArray(vocabulary)) return false;
  for (var l = 0; l < lists.length; l++) {
    var list = lists[l];
    if (!Array.isArray(list) || typeof list[0] !== 'string' || !PIECE_NAME.test(list[1]) || !wholePositive(list[2])) return false;
    for (var end = shards + list[2]; shards < end; v++) {
      var piece = vocabulary[v];
      if (!Array.isArray(piece) || !PIECE_NAME.test(piece[0]) || !wholePositive(piece[1]) || !wholePositive(piece[2])) return false;
      shards += piece[1];
      keys += piece[2];
    }
    if (shards !== end) return false;
  }
  return v === vocabulary.length && keys === head.keys;
}

// An array of n holes whose room grows with the entries set, for what the page holds
// of each document it reached: new Array(n), or setting the length, takes room for all
// n at once in V8, while an element set far past the end makes the array sparse.
function sparseArray(n) {
  var list = [];
  if (n > 0) {
    list[n - 1] = undefined;
    delete list[n - 1];
  }
  return list;
}

// head: checked by headData; docCount: the documents; fetch(name, done): loads the
// piece name and calls done(its data, or null when it failed), at once or later.
function WordPieces(head, docCount, fetch) {
  var shards = head.shards, lists = shards ? null : head.shardLists, s;
  var n = shards ? shards.length : lists.reduce(function (sum, l) { return sum + l[2]; }, 0);
  this.head = head;
  this.fetch = fetch;
  this.starts = new Float64Array(n + 1);
  // The best pieces of the shards of one common key (their key's best pages): named
  // beside the shard, null when none is; each piece once it came (NO_SHARD: failed).
  this.bestNames = new Array(n).fill(null);
  this.best = new Array(n).fill(null);
  this.bestLoading = new Map();
  this.useBest = false;      // look-ups take a best piece for a shard that has not come
  this.bestUsed = false;     // and one did since useBest was set
  this.bestFirst = false;    // a shard wanted that has a best piece loads that first
  this.wholeFirst = new Set(); // but these shards, which in-word or nearest matches want
  if (shards) {
    this.firsts = shards.map(function (e) { return e[0]; });
    this.names = shards.map(function (e) { return e[1]; });
    for (s = 0; s < n; s++) this.bestNames[s] = bestNameOf(shards[s]);
    for (s = 0; s < n; s++) this.starts[s + 1] = this.starts[s] + shards[s][2];
  } else {
    this.placeShards(lists, head.vocabulary);
  }
  this.keyCount = head.keys;
  this.vocabularyPieces = head.vocabulary;
  this.shards = new Array(n).fill(null);
  this.loading = new Map();  // shard: callbacks waiting for it
  this.wanted = new Set();   // shards a look-up reached that have not come
  this.wantsVocabulary = false;
  this.vocabulary = null;    // every key, once the vocabulary pieces came
  this.counts = null;
  this.vocabularyLoading = null;
  // The vocabulary pieces one by one (a short prefix reads those of its shards): the
  // first shard of each, and its data once it came.
  this.partFirsts = new Int32Array(head.vocabulary.length + 1);
  for (var p = 0; p < head.vocabulary.length; p++) this.partFirsts[p + 1] = this.partFirsts[p] + head.vocabulary[p][1];
  this.parts = new Array(head.vocabulary.length).fill(null);
  this.partLoading = new Map(); // piece: callbacks waiting for it
  this.links = new Uint8Array(docCount);
  this.linkGroup = head.linkGroup;
  this.linkNames = head.links;
  this.linksCame = new Uint8Array(head.links.length); // 1 loading, 2 come
  this.wantedLinks = new Set();
  this.linkLoading = new Map(); // group: callbacks waiting for it
  this.linksAsked = null;       // called with each group of link shares asked for
  this.groups = true;        // the search takes forms from stem groups
  this.joined = null;
  this.masks = null;
  this.placeVocabulary = null; // the title and file-name words of every shard, with the vocabulary
  // The near pieces (nearest words by first letter and length): their first words'
  // places, the pieces that came, and those a look-up reached that have not.
  // A top names them in lists instead, each by its first piece's first word: a word
  // reads the lists its first units and lengths fall in, and the pieces come from the
  // lists that came so far (nearListCame).
  this.nearLists = head.near === undefined ? nearPiecesOf(head.nearLists) : null;
  this.nearListCame = this.nearLists ? new Array(this.nearLists.length).fill(null) : null;
  this.nearData = new Map();    // near piece's name: its {words, counts} once it came
  this.near = this.nearLists ? [] : nearPiecesOf(head.near);
  this.wantedNear = new Set();  // names of near pieces wanted, gramWanted(g) for the runs inside words, nearListWanted(l)
  this.nearLoading = new Map();
  var grams = head.grams;
  this.gramNames = (this.near || this.nearLists) && Array.isArray(grams) && grams.length > 0 && (grams.length & (grams.length - 1)) === 0 &&
    grams.every(function (name) { return PIECE_NAME.test(name); }) ? grams : null;
  this.gramShift = this.gramNames ? 32 - Math.round(Math.log2(this.gramNames.length)) : 32;
  // Each piece of the set, {bits, set: Uint8Array} once it came (set null: it failed).
  this.gramSets = this.gramNames ? new Array(this.gramNames.length).fill(null) : [];
  // The in-word pieces: for a run of units, the vocabulary pieces whose words hold it
  // inside; each {runs: Map, many: Set} once it came (runs null: it failed).
  var inWord = head.inWord;
  this.inWordNames = Array.isArray(inWord) && inWord.length > 0 && (inWord.length & (inWord.length - 1)) === 0 &&
    inWord.every(function (name) { return PIECE_NAME.test(name); }) ? inWord : null;
  this.inWordShift = this.inWordNames ? 32 - Math.round(Math.log2(this.inWordNames.length)) : 32;
  this.inWordCame = this.inWordNames ? new Array(this.inWordNames.length).fill(null) : [];
  this.wantedInWord = new Set();
  this.inWordLoading = new Map();
  this.laterParts = new Set();  // vocabulary pieces of in-word matches, wanted after the first results
  this.laterInWord = new Set(); // and the in-word pieces that name them
}

// Wanted in wantedNear: list l of near pieces of a top.
function nearListWanted(l) { return 'list ' + l; }

// Takes list l of a top's near pieces. A list that failed or does not fit (its entries
// out of order, or outside the first words the top gives it and the next list) leaves
// no near pieces: the vocabulary answers then. The near pieces are those of every list
// that came, in order.
WordPieces.prototype.keepNearList = function (l, data) {
  if (!this.nearLists) return;
  var lists = this.nearLists, entries = nearPiecesOf(data);
  if (!entries || entries[0][0] !== lists[l][0] || (l + 1 < lists.length && nearOrder(entries[entries.length - 1][0], lists[l + 1][0]) >= 0)) {
    this.nearLists = this.nearListCame = this.near = null;
    return;
  }
  this.nearListCame[l] = entries;
  this.near = [].concat.apply([], this.nearListCame.filter(Boolean));
};

// The lists of near pieces that hold every piece nearRun and nearPieceOf may give for
// words of first unit c and lengths lo to hi: from the last list that begins before
// that range (which holds the piece before its first word) to the last that begins in it.
WordPieces.prototype.nearListsOf = function (c, lo, hi) {
  var lists = this.nearLists, first = 0, last = 0;
  for (var l = 0; l < lists.length; l++) {
    if (nearCell(lists[l], c, lo) < 0) first = l;
    if (nearCell(lists[l], c, hi) <= 0) last = l;
  }
  return [first, Math.max(first, last)];
};

// A top names its shards in lists: until a list came, each of its shards has the list's
// first key, and the keys of each vocabulary piece stand in its first shard, so that
// positions are exact at the vocabulary pieces (whose keys the top gives) and a look-up
// that reaches a shard of the list wants the list (reach).
WordPieces.prototype.placeShards = function (lists, vocabulary) {
  var n = this.starts.length - 1, s = 0, l, v, at = 0;
  this.firsts = new Array(n);
  this.names = new Array(n).fill(null);
  this.listNames = lists.map(function (e) { return e[1]; });
  this.listFirsts = new Int32Array(lists.length + 1);
  this.listCame = new Uint8Array(lists.length);
  this.listLoading = new Map();
  for (l = 0; l < lists.length; l++) {
    this.listFirsts[l + 1] = this.listFirsts[l] + lists[l][2];
    for (; s < this.listFirsts[l + 1]; s++) this.firsts[s] = lists[l][0];
  }
  for (s = 0, v = 0; v < vocabulary.length; v++) {
    this.starts[s] = at;
    at += vocabulary[v][2];
    for (var end = s + vocabulary[v][1], k = s + 1; k <= end; k++) this.starts[k] = at;
    s = end;
  }
};

// The list of shard s.
WordPieces.prototype.listOf = function (s) {
  return runOf(this.listFirsts, s);
};

// Whether the list of shard s came (or the head names every shard); else it is wanted.
WordPieces.prototype.listReady = function (s) {
  if (!this.listCame) return true;
  var l = this.listOf(s);
  if (this.listCame[l] === 2) return true;
  this.wanted.add('l' + l);
  return false;
};

// Takes list l: each shard's first key, name and keys, which must add up to the keys
// of the list's vocabulary pieces; a list that fails or does not fit leaves its shards
// empty.
WordPieces.prototype.keepList = function (l, data) {
  var first = this.listFirsts[l], end = this.listFirsts[l + 1], ok = Array.isArray(data) && data.length === end - first, s;
  var at = this.starts[first], starts = new Float64Array(end - first + 1);
  for (s = first; ok && s < end; s++) {
    var e = data[s - first];
    ok = Array.isArray(e) && typeof e[0] === 'string' && PIECE_NAME.test(e[1]) && wholePositive(e[2]);
    if (ok) starts[s - first + 1] = starts[s - first] + e[2];
  }
  // The vocabulary pieces' ends within the list stay where the top put them.
  for (var p = this.partOf(first); ok && p < this.partFirsts.length - 1 && this.partFirsts[p] < end; p++) {
    ok = at + starts[this.partFirsts[p + 1] - first] === this.starts[this.partFirsts[p + 1]];
  }
  for (s = first; s < end; s++) {
    if (ok) {
      this.firsts[s] = data[s - first][0];
      this.names[s] = data[s - first][1];
      this.bestNames[s] = bestNameOf(data[s - first]);
      this.starts[s + 1] = at + starts[s - first + 1];
    } else {
      this.shards[s] = NO_SHARD;
    }
  }
  this.listCame[l] = 2;
};

// In-word pieces list runs of IN_WORD_MIN to IN_WORD_MAX units; a part is looked up by
// at most MAX_IN_WORD_RUNS of its longest runs, spread over it.
var IN_WORD_MIN = 3, IN_WORD_MAX = 5, MAX_IN_WORD_RUNS = 4;

// FNV-1a over units [at, at + length) of text, from 2166136261 XOR length.
function runHash(text, at, length) {
  var hash = (2166136261 ^ length) >>> 0;
  for (var k = at; k < at + length; k++) hash = Math.imul(hash ^ text.charCodeAt(k), 16777619) >>> 0;
  return hash;
}

// Takes in-word piece i: its runs' vocabulary pieces (numbers of pieces the head names,
// ascending, each once) and the runs of too many words; a piece that failed or does not
// fit tells nothing.
WordPieces.prototype.keepInWord = function (i, data) {
  var count = this.vocabularyPieces.length, runs = new Map(), many = new Set();
  if (!data || !Array.isArray(data.runs) || !Array.isArray(data.many)) {
    this.inWordCame[i] = { runs: null, many: null };
    return;
  }
  data.runs.forEach(function (run) {
    if (!Array.isArray(run) || typeof run[0] !== 'number') return;
    var list = run.slice(1).filter(function (p) { return typeof p === 'number' && p >= 0 && p < count && p % 1 === 0; });
    list.sort(function (x, y) { return x - y; });
    runs.set(run[0], list.filter(function (p, k) { return k === 0 || p !== list[k - 1]; }));
  });
  data.many.forEach(function (low) { if (typeof low === 'number') many.add(low); });
  this.inWordCame[i] = { runs: runs, many: many };
};

// The vocabulary pieces whose words may hold part inside them (not at their start), by
// the in-word pieces of some of its runs: piece numbers ascending ([] when no word holds
// part inside), null while in-word pieces are wanted, undefined when they cannot tell
// (none named, a part shorter than their runs, every run of too many words, a piece
// that failed). In-word pieces that have not come are wanted before the answer, or
// after the first results when later is true.
WordPieces.prototype.inWordParts = function (part, later) {
  if (!this.inWordNames || part.length < IN_WORD_MIN) return undefined;
  var length = Math.min(part.length, IN_WORD_MAX), places = part.length - length + 1;
  var runs = Math.min(places, MAX_IN_WORD_RUNS), lists = [], ready = true;
  for (var r = 0; r < runs; r++) {
    var hash = runHash(part, runs === 1 ? 0 : Math.round(r * (places - 1) / (runs - 1)), length);
    var i = this.inWordShift >= 32 ? 0 : hash >>> this.inWordShift, came = this.inWordCame[i];
    var low = this.inWordShift >= 32 ? hash : hash & (Math.pow(2, this.inWordShift) - 1);
    if (came === null) { (later ? this.laterInWord : this.wantedInWord).add(i); ready = false; continue; }
    if (!came.runs || came.many.has(low)) continue;
    var list = came.runs.get(low);
    if (!list) return [];  // a run that stands inside no word
    lists.push(list);
  }
  if (!ready) return null;
  if (lists.length === 0) return undefined;
  return lists.reduce(function (a, b) {
    var both = [], x = 0, y = 0;
    while (x < a.length && y < b.length) {
      if (a[x] === b[y]) { both.push(a[x]); x++; y++; } else if (a[x] < b[y]) x++; else y++;
    }
    return both;
  });
};

// Whether vocabulary pieces parts all came; those that did not are wanted before the
// answer, or after the first results when later is true.
WordPieces.prototype.reachEach = function (parts, later) {
  var all = true;
  for (var k = 0; k < parts.length; k++) {
    if (this.parts[parts[k]] !== null) continue;
    if (later) this.laterParts.add(parts[k]); else this.wanted.add(partWanted(parts[k]));
    all = false;
  }
  return all;
};

// Wanted: piece g of the runs inside words (below -1, so near pieces stay >= 0).
function gramWanted(g) { return -1 - g; }
var BASE64 = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';

// The bytes of text (base64, as a piece writes them), at most max of them.
function bytesOfBase64(text, max) {
  var bytes = new Uint8Array(Math.min(max, Math.floor(text.length / 4) * 3)), at = 0;
  for (var i = 0; i + 3 < text.length && at < bytes.length; i += 4) {
    var group = 0;
    for (var k = 0; k < 4; k++) group = group * 64 + Math.max(0, BASE64.indexOf(text.charAt(i + k)));
    for (k = 2; k >= 0 && at < bytes.length; k--) bytes[at++] = (group >>> (8 * k)) & 255;
  }
  return bytes;
}

// The pages below n whose bit is set in text (base64: page d the bit d % 8 of byte d / 8).
function pagesOfBits(text, n) {
  var bytes = bytesOfBase64(text, Math.ceil(n / 8)), pages = [];
  for (var d = 0; d < n && d < 8 * bytes.length; d++) if (bytes[d >> 3] & (1 << (d & 7))) pages.push(d);
  return pages;
}

// Takes piece g of the runs inside words: {bits, set} when it fits (bits a power of
// two, the bytes of that many bits in base64), else a set that rules nothing out.
WordPieces.prototype.keepGrams = function (g, data) {
  var bits = data && data.bits, text = data && data.set;
  if (typeof text !== 'string' || !(bits >= 8) || (bits & (bits - 1)) !== 0 || text.length !== Math.ceil(bits / 24) * 4) {
    this.gramSets[g] = { bits: 0, set: null };
    return;
  }
  this.gramSets[g] = { bits: bits, set: bytesOfBase64(text, bits / 8) };
};

// The hashes of the runs of GRAM_UNITS units of part.
var GRAM_UNITS = 5;
function gramHashes(part) {
  var hashes = [];
  for (var i = 0; i + GRAM_UNITS <= part.length; i++) hashes.push(runHash(part, i, GRAM_UNITS));
  return hashes;
}

// The piece of the set that holds the run of hash.
WordPieces.prototype.gramPiece = function (hash) {
  return this.gramShift >= 32 ? 0 : hash >>> this.gramShift;
};

// Whether some word may hold part inside it (not at its start): false only when a run
// of GRAM_UNITS of its units stands inside no word, by the pieces of the set that came
// (so a shorter part may).
WordPieces.prototype.mayHoldInside = function (part) {
  var hashes = gramHashes(part);
  for (var i = 0; i < hashes.length; i++) {
    var piece = this.gramSets[this.gramPiece(hashes[i])];
    if (!piece || !piece.set) continue;
    var bit = hashes[i] & (piece.bits - 1);
    if (!(piece.set[bit >>> 3] & (1 << (bit & 7)))) return false;
  }
  return true;
};

// The near pieces a head names, [[first word, name, first unit, length], ...], or null
// when it names none or they are not in order (the vocabulary answers then).
function nearPiecesOf(list) {
  if (!Array.isArray(list) || list.length === 0) return null;
  var near = [];
  for (var i = 0; i < list.length; i++) {
    var p = list[i];
    if (!Array.isArray(p) || typeof p[0] !== 'string' || p[0] === '' || !PIECE_NAME.test(p[1])) return null;
    near.push([p[0], p[1], p[0].charCodeAt(0), p[0].length]);
    if (i > 0 && nearOrder(near[i - 1][0], p[0]) > 0) return null;
  }
  return near;
}

// The order of the near pieces: first UTF-16 unit, then length, then the words.
function nearOrder(a, b) {
  return a.charCodeAt(0) - b.charCodeAt(0) || a.length - b.length || (a < b ? -1 : a > b ? 1 : 0);
}

// A near piece's first word against the run of first unit c and length len.
function nearCell(piece, c, len) {
  return piece[2] - c || piece[3] - len;
}

// At most this many near pieces are read for a query word (about 1 MB): on a site
// where one first letter and length hold more, the lengths nearest the word's come first.
var MAX_NEAR_PIECES = 64;

// The near pieces that may hold words of first unit c and length len, in order:
// from the last piece that begins before that run to the last that begins in it.
WordPieces.prototype.nearRun = function (c, len) {
  var near = this.near, lo = 0, hi = near.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (nearCell(near[mid], c, len) < 0) lo = mid + 1; else hi = mid;
  }
  var first = Math.max(0, lo - 1);
  while (lo < near.length && nearCell(near[lo], c, len) === 0) lo++;
  return [first, lo - 1];
};

// The words that begin with word's first or second unit (a typo in the first letter
// is most often a letter dropped or swapped with the next) and whose lengths are within
// max of its, with their pages: {words, counts, within} from the near pieces, or null
// while some are wanted (none while shards are: those may still match the word);
// undefined when the head names none. Until every such piece came (and unless all is
// true), only the pieces that can hold a word within one edit of it are read: within is
// then 1, the words given holding every word at a distance of 0 or 1 (nearestWords
// asks for the rest, all, when it finds none that close); else max + 1, every word
// nearestWords may take.
// Before the vocabulary came, only for a word that no word holds inside it: else the
// nearest words would show and then give way to the words that hold it.
WordPieces.prototype.nearWords = function (word, max, all) {
  if (!this.near && !this.nearLists) return undefined;
  // The lists of its near pieces come in the same round as the shards and in-word
  // pieces it waits for, once its own shard said it is no key: such a word is most
  // often a typo.
  if (this.wanted.size > 0) {
    if (this.came(this.shardOf(word))) this.nearListsReady(word, max);
    return null;
  }
  var ready = true, self = this, inside = this.vocabulary ? [] : this.inWordParts(word);
  // The in-word pieces told which words may hold it inside (read before the answer now
  // that nothing else matched), and it matched none of them; else the set of runs
  // inside words tells when none may.
  if (inside === null || (inside && !this.reachEach(inside, false))) { this.nearListsReady(word, max); return null; }
  if (inside === undefined && this.gramNames) {
    gramHashes(word).forEach(function (hash) {
      var g = self.gramPiece(hash);
      if (self.gramSets[g] === null) { self.wantedNear.add(gramWanted(g)); ready = false; }
    });
  }
  if (inside === undefined && ready && this.mayHoldInside(word)) return undefined;
  if (!this.nearListsReady(word, max)) return null;
  if (!this.near) return undefined;
  var c0 = word.charCodeAt(0), c1 = word.charCodeAt(1), chosen = new Set(), d, p;
  for (d = 0; d <= 2 * max; d++) {
    var len = word.length + (d % 2 ? (d + 1) / 2 : -d / 2);
    [c0, c1].forEach(function (c) {
      var run = this.nearRun(c, len);
      for (p = run[0]; p <= run[1] && chosen.size < MAX_NEAR_PIECES; p++) chosen.add(p);
    }, this);
  }
  var close = chosen, within = max + 1;
  if (!all && !Array.from(chosen).every(function (q) { return self.nearData.has(self.near[q][1]); })) {
    close = this.nearClose(word, chosen);
    within = 1;
  }
  var words = [], counts = [];
  Array.from(close).sort(function (x, y) { return x - y; }).forEach(function (p) {
    var piece = self.nearData.get(self.near[p][1]);
    if (!piece) { self.wantedNear.add(self.near[p][1]); ready = false; return; }
    for (var i = 0; i < piece.words.length; i++) {
      var w = piece.words[i], c = w.charCodeAt(0);
      if ((c === c0 || c === c1) && Math.abs(w.length - word.length) <= max) { words.push(w); counts.push(piece.counts[i]); }
    }
  });
  return ready ? { words: words, counts: counts, within: within } : null;
};

// Whether the lists of near pieces of a top that hold the pieces of word's nearest words
// (max edits away) came; wants those that have not.
WordPieces.prototype.nearListsReady = function (word, max) {
  var ready = true;
  if (!this.nearLists) return true;
  [word.charCodeAt(0), word.charCodeAt(1)].forEach(function (c) {
    if (c !== c) return;
    var range = this.nearListsOf(c, word.length - max, word.length + max);
    for (var l = range[0]; l <= range[1]; l++) if (!this.nearListCame[l]) { this.wantedNear.add(nearListWanted(l)); ready = false; }
  }, this);
  return ready;
};

// The pieces of chosen that can hold a word within one edit of word: one of its length
// or one off begins with its first unit, and one that begins with its second unit
// (when that differs) has the first replaced by the second, dropped, the second put
// before it or the two swapped.
WordPieces.prototype.nearClose = function (word, chosen) {
  var close = new Set(), c0 = word.charAt(0), c1 = word.charAt(1), p;
  for (var len = word.length - 1; len <= word.length + 1; len++) {
    var run = this.nearRun(c0.charCodeAt(0), len);
    for (p = run[0]; p <= run[1]; p++) if (chosen.has(p)) close.add(p);
  }
  if (c1 !== c0) {
    [c1 + word.slice(1), word.slice(1), c1 + word, c1 + c0 + word.slice(2)].forEach(function (w) {
      p = this.nearPieceOf(w);
      if (chosen.has(p)) close.add(p);
    }, this);
  }
  return close;
};

// The near piece that would hold word: the last one whose first word is not after it.
WordPieces.prototype.nearPieceOf = function (word) {
  var near = this.near, lo = 0, hi = near.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (nearOrder(near[mid][0], word) <= 0) lo = mid + 1; else hi = mid;
  }
  return Math.max(0, lo - 1);
};

// Takes a near piece's words and pages (a piece that failed or does not fit: none).
WordPieces.prototype.keepNear = function (name, data) {
  var ok = data && Array.isArray(data.words) && Array.isArray(data.counts) && data.words.length === data.counts.length &&
    data.words.every(function (w) { return typeof w === 'string'; });
  this.nearData.set(name, ok ? { words: data.words, counts: data.counts.map(function (n) { return typeof n === 'number' ? n : 0; }) } : { words: [], counts: [] });
};

// The shard whose keys would hold key: the last one whose first key is not above it.
WordPieces.prototype.shardOf = function (key) {
  var firsts = this.firsts, lo = 0, hi = firsts.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (key < firsts[mid]) hi = mid; else lo = mid + 1;
  }
  return Math.max(0, lo - 1);
};

// The last i below firsts.length - 1 with firsts[i] <= x (0 when none is): the run
// that x falls in, firsts[i] being where run i begins and the last entry the end.
function runOf(firsts, x) {
  var lo = 0, hi = firsts.length - 2;
  while (lo < hi) {
    var mid = (lo + hi + 1) >>> 1;
    if (firsts[mid] <= x) lo = mid; else hi = mid - 1;
  }
  return lo;
}

// The shard of position at.
WordPieces.prototype.shardAt = function (at) {
  return runOf(this.starts, at);
};

// The best piece a shard's entry names (a fourth field), or null.
function bestNameOf(entry) {
  return entry.length > 3 && PIECE_NAME.test(entry[3]) ? entry[3] : null;
}

// Shard s when it has come, else null (and it is wanted); with useBest, its best piece
// when that came.
WordPieces.prototype.reach = function (s) {
  if (this.shards[s] === null && this.listReady(s)) {
    var best = this.useBest ? this.best[s] : null;
    if (best && best !== NO_SHARD) { this.bestUsed = true; return best; }
    this.wanted.add(s);
  }
  return this.shards[s];
};

// The shard of s that look-ups read without reaching for it: the shard, or with
// useBest its best piece; null when neither came.
WordPieces.prototype.came = function (s) {
  return this.shards[s] || (this.useBest && this.best[s] !== NO_SHARD ? this.best[s] : null);
};

// When the list of the key at position at came from a best piece (read with useBest):
// the number of its first pages the piece holds (it holds some others at their places
// too, the other places empty); 0 for a whole list.
WordPieces.prototype.bestHeld = function (at) {
  var shard = this.came(this.shardAt(at));
  return shard && shard.cutAt === at ? shard.held : 0;
};

// Whether the best piece of the key at position at (bestHeld) places, past its first
// pages, every page of its list whose title or file name holds a word the key or a stem
// of its groups begins.
WordPieces.prototype.bestPrefixed = function (at) {
  var shard = this.came(this.shardAt(at));
  return !!(shard && shard.cutAt === at && shard.prefixed);
};

// The key at position at is matched inside another word or as a nearest word: its
// shard's best piece, which places only pages titled or named by its own stem groups,
// could not settle a first screen, so the shard is read in its place.
WordPieces.prototype.matchedApart = function (at) {
  if (this.bestFirst) this.wholeFirst.add(this.shardAt(at));
};

WordPieces.prototype.size = function () { return this.keyCount; };

// The vocabulary piece that holds shard s.
WordPieces.prototype.partOf = function (s) {
  return runOf(this.partFirsts, s);
};

// The key at position at and its number of pages: from the whole vocabulary, the
// vocabulary piece or the shard that came; ['', 0] when none did.
WordPieces.prototype.keyAt = function (at) {
  if (this.vocabulary) return this.vocabulary[at];
  var s = this.shardAt(at), shard = this.came(s), entry = shard && shard.words[at - this.starts[s]];
  if (entry) return entry[0];
  var p = this.partOf(s), part = this.parts[p];
  return part ? part.keys[at - this.starts[this.partFirsts[p]]] : '';
};

WordPieces.prototype.countAt = function (at) {
  if (this.counts) return this.counts[at];
  var s = this.shardAt(at), shard = this.came(s), entry = shard && shard.words[at - this.starts[s]];
  if (entry) return shard.cutAt === at ? shard.count : entry.length - 1;
  var p = this.partOf(s), part = this.parts[p];
  return part ? part.counts[at - this.starts[this.partFirsts[p]]] : 0;
};

// The vocabulary pieces that cover shards first to last, once they all came (else
// null, and those that did not are wanted before the answer).
WordPieces.prototype.reachParts = function (first, last) {
  var parts = [];
  for (var p = this.partOf(first), end = this.partOf(last); p <= end; p++) {
    if (this.parts[p] === null) this.wanted.add(partWanted(p));
    parts.push(this.parts[p]);
  }
  return parts.indexOf(null) >= 0 ? null : parts;
};

// The last shard whose first key starts with prefix, from shard s on; -1 while lists
// of shards it needs are wanted.
WordPieces.prototype.rangeEnd = function (prefix, s) {
  var last = s, n = this.firsts.length;
  if (!this.listReady(s)) return -1;
  while (last + 1 < n && this.firsts[last + 1].lastIndexOf(prefix, 0) === 0) {
    if (!this.listReady(last + 1)) return -1;
    last++;
  }
  return last;
};

// The entry at position at; its pages count only once its shard has come.
WordPieces.prototype.entry = function (at) {
  var s = this.shardAt(at), shard = this.reach(s);
  return (shard && shard.words[at - this.starts[s]]) || [this.keyAt(at)];
};

// First position whose key is not below key in the shard that would hold it (wanted
// when it has not come).
WordPieces.prototype.lowerBound = function (key) {
  var s = this.shardOf(key), shard = this.reach(s), words = shard ? shard.words : [], lo = 0, hi = words.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (words[mid][0] < key) lo = mid + 1; else hi = mid;
  }
  return this.starts[s] + (shard ? lo : 0);
};

WordPieces.prototype.find = function (key) {
  var at = this.lowerBound(key), s = this.shardOf(key), shard = this.came(s);
  var entry = shard && shard.words[at - this.starts[s]];
  return entry && entry[0] === key ? at : -1;
};

// [first, end) of the keys that start with prefix: from the shards they stand in, or
// when they stand in more than MAX_RANGE_SHARDS from the vocabulary pieces of those
// shards (wanted before the answer when they have not come), so that a short prefix
// loads only the shards of the keys the search takes.
var MAX_RANGE_SHARDS = 4;
WordPieces.prototype.prefixRange = function (prefix) {
  var s = this.shardOf(prefix), last = this.rangeEnd(prefix, s);
  if (last < 0) return [0, 0];
  if (last - s >= MAX_RANGE_SHARDS) {
    if (this.vocabulary) return keysStarting(this.vocabulary, prefix);
    var parts = this.reachParts(s, last);
    if (!parts) return [0, 0];
    // The keys from shard s to last lie in these pieces, in order: the range begins
    // in the first and ends in the last.
    var p0 = this.partOf(s), p1 = this.partOf(last), base0 = this.starts[this.partFirsts[p0]];
    return [base0 + keysStarting(parts[0].keys, prefix)[0],
      this.starts[this.partFirsts[p1]] + keysStarting(parts[parts.length - 1].keys, prefix)[1]];
  }
  var first = this.lowerBound(prefix);
  for (var k = s + 1; k <= last; k++) this.reach(k);
  var shard = this.came(last), words = shard ? shard.words : [], lo = last === s ? first - this.starts[s] : 0, hi = words.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (words[mid][0].lastIndexOf(prefix, 0) === 0) lo = mid + 1; else hi = mid;
  }
  return this.wanted.size ? [first, first] : [first, this.starts[last] + lo];
};

// [first, end) of the keys of a sorted array that start with prefix.
function keysStarting(keys, prefix) {
  var lo = 0, hi = keys.length, mid;
  while (lo < hi) {
    mid = (lo + hi) >>> 1;
    if (keys[mid] < prefix) lo = mid + 1; else hi = mid;
  }
  var first = lo;
  hi = keys.length;
  while (lo < hi) {
    mid = (lo + hi) >>> 1;
    if (keys[mid].lastIndexOf(prefix, 0) === 0) lo = mid + 1; else hi = mid;
  }
  return [first, lo];
}

// As WordList.formsOf: the groups of the stems a key's shard gives it, or for a key the
// index lacks the group of the longest stem it begins with; each group stands in the
// shard of its stem.
WordPieces.prototype.formsOf = function (word, at) {
  var found = [], stems = [], chosen = [], len, k;
  if (at >= 0) {
    var own = this.reach(this.shardAt(at));
    chosen = (own && own.forms.get(word)) || [];
  }
  for (len = word.length; at < 0 && len >= MIN_STEM && len >= word.length - MAX_STEM_TAIL; len--) {
    var shard = this.reach(this.shardOf(word.slice(0, len)));
    if (shard && shard.groups.has(word.slice(0, len))) { chosen = [word.slice(0, len)]; break; }
  }
  var seen = new Set();
  for (var c = 0; c < chosen.length; c++) {
    var home = this.reach(this.shardOf(chosen[c])), members = home && home.groups.get(chosen[c]);
    if (!members) continue;
    stems.push(chosen[c]);
    for (k = 0; k < members.length; k++) {
      var p = this.find(members[k]);
      if (p >= 0 && p !== at && !seen.has(p)) { seen.add(p); found.push(p); }
    }
  }
  return { positions: found, stems: stems };
};

WordPieces.prototype.buildJoined = function () {
  if (this.joined === null && this.vocabulary) wordlist.joinWords(this, this.vocabulary);
};

// Keys that hold part inside them: from the vocabulary once it came, else from the
// vocabulary pieces the in-word pieces name (wanted after the first results: a search
// that finds nothing without them waits for them); when those cannot tell, none till
// the vocabulary came (wanted after the first results too), unless the runs inside
// words that came say no word holds part.
WordPieces.prototype.innerWords = function (part, limit) {
  this.buildJoined();
  if (this.joined !== null) return wordlist.innerWordsOf(this, part, limit, []);
  var parts = this.inWordParts(part, true), found = [];
  if (parts === undefined) {
    if (this.mayHoldInside(part)) this.wantsVocabulary = true;
    return found;
  }
  if (!parts || !this.reachEach(parts, true)) return found;
  for (var k = 0; k < parts.length && found.length < limit; k++) {
    var keys = this.parts[parts[k]].keys, base = this.starts[this.partFirsts[parts[k]]];
    for (var j = 0; j < keys.length && found.length < limit; j++) if (keys[j].indexOf(part) > 0) found.push(base + j);
  }
  return found;
};

// Every key for the nearest words: none until the vocabulary came.
WordPieces.prototype.nearestReady = function () {
  if (!this.vocabulary) this.wantsVocabulary = true;
  return !!this.vocabulary;
};

// Takes the best piece of shard s: the shard with its last key's first pages, that
// key's number of pages, which must be more than those (else the piece counts as
// failed), and some of its other pages as [place step, page, ...] (places from the
// first pages' end on, each step at least 1; a pair that does not fit ends them). The
// key's entry is made with each page at its place (-1 at the places not known), as its
// whole list has them. The key's summaries may come as the bits of a set of pages
// ("summaryBits": base64, page d the bit d % 8 of byte d / 8) in place of its entry's
// pages.
WordPieces.prototype.keepBest = function (s, data) {
  var last = this.starts[s + 1] - this.starts[s] - 1, entry = data && Array.isArray(data.words) && data.words[last];
  var count = data && data.count, placed = data && data.placed, n = this.links.length;
  this.best[s] = NO_SHARD;
  if (!Array.isArray(entry) || !wholePositive(count) || count < entry.length || count > n || !Array.isArray(placed)) return;
  var shard = this.shardOfData(s, data), held = entry.length - 1, place = held, spread = entry.slice();
  if (shard === NO_SHARD) return;
  for (var i = 0; i + 1 < placed.length; i += 2) {
    var step = placed[i], d = placed[i + 1];
    if (!wholePositive(step) || place + step > count || !wholePositive(d + 1) || d >= n) break;
    place += step;
    while (spread.length < place) spread.push(-1);
    spread.push(d);
  }
  shard.words = shard.words.slice();
  shard.words[last] = spread;
  shard.cutAt = this.starts[s + 1] - 1;
  shard.held = held;
  shard.count = count;
  // It places the pages titled or named by the words its key begins too (all its places taken).
  shard.prefixed = data.prefixed === 1 && i + 1 >= placed.length;
  var its = shard.places.get(entry[0]);
  if (its && its.summaries && typeof data.summaryBits === 'string') its.summaries = [entry[0]].concat(pagesOfBits(data.summaryBits, n));
  this.best[s] = shard;
};

// Takes a shard's data: its keys, groups by stem, stems by key, and link shares.
WordPieces.prototype.keep = function (s, data) {
  this.shards[s] = this.shardOfData(s, data);
};

// What a shard's data gives the look-ups (NO_SHARD when it does not fit shard s).
WordPieces.prototype.shardOfData = function (s, data) {
  var shard = NO_SHARD, count = this.starts[s + 1] - this.starts[s];
  if (data && Array.isArray(data.words) && data.words.length === count &&
      data.words.every(function (w) { return Array.isArray(w) && typeof w[0] === 'string'; })) {
    var groups = new Map(), forms = new Map();
    (Array.isArray(data.groups) ? data.groups : []).forEach(function (g) {
      if (Array.isArray(g) && typeof g[0] === 'string') groups.set(g[0], g.slice(1).filter(function (k) { return typeof k === 'string'; }));
    });
    (Array.isArray(data.forms) ? data.forms : []).forEach(function (f) {
      if (Array.isArray(f) && typeof f[0] === 'string') forms.set(f[0], f.slice(1).filter(function (k) { return typeof k === 'string'; }));
    });
    var places = placesOf(data);
    shard = { words: data.words, groups: groups, forms: forms, places: places, placeKeys: Array.from(places.keys()).sort() };
  }
  return shard;
};

// The titles, file names and summaries of a shard's keys: key: {titles, names,
// summaries}, each the entry as written ([key, ...]) or null.
function placesOf(data) {
  var places = new Map();
  [['titles', 'titles'], ['names', 'names'], ['summaries', 'summaries']].forEach(function (field) {
    var list = data[field[0]];
    if (!Array.isArray(list)) return;
    list.forEach(function (entry) {
      if (!Array.isArray(entry) || typeof entry[0] !== 'string') return;
      var place = places.get(entry[0]);
      if (!place) places.set(entry[0], place = { titles: null, names: null, summaries: null });
      place[field[1]] = entry;
    });
  });
  return places;
}

// Wants the vocabulary before the answer.
WordPieces.prototype.wantVocabulary = function () {
  if (!this.vocabulary) this.wanted.add(VOCABULARY);
};

// Notes the link shares of docs that have not come: ranking reads them.
WordPieces.prototype.wantLinksOf = function (docs) {
  var came = this.linksCame, group = this.linkGroup, noted = 0, g;
  for (g = 0; g < came.length; g++) if (came[g] === 2) noted++;
  // A word of every page: its groups are noted once each, and the rest of its pages skipped.
  var seen = new Uint8Array(came.length);
  for (var i = 0; i < docs.length && noted < came.length; i++) {
    g = (docs[i] / group) | 0;
    if (came[g] !== 2 && seen[g] === 0) { seen[g] = 1; noted++; this.wantedLinks.add(g); }
  }
};

// Takes the link shares of group g (a failed piece leaves them 0): a character a page,
// code 35 + share, one code further from the backslash (92) on, and '!' then the
// character of share - 91 for 91 to 100 (a list of numbers, as older pieces hold them, is
// taken too). A character that is none of these is a share of 0, and what lies past the
// group is not read.
var ESCAPED_SHARE = 91;
function shareOfCode(c) {
  var v = c < 92 ? c - 35 : c - 36;
  return c >= 35 && c !== 92 && c <= 126 ? v : -1;
}
WordPieces.prototype.keepLinks = function (g, shares) {
  var first = g * this.linkGroup, links = this.links, end = Math.min(links.length, first + this.linkGroup), d = first, i, share;
  if (typeof shares === 'string') {
    for (i = 0; i < shares.length && d < end; i++, d++) {
      var c = shares.charCodeAt(i), escaped = c === 33 && i + 1 < shares.length;
      share = shareOfCode(escaped ? shares.charCodeAt(++i) : c);
      links[d] = share < 0 ? 0 : escaped ? Math.min(100, ESCAPED_SHARE + share) : share;
    }
  } else if (Array.isArray(shares)) {
    for (i = 0; i < shares.length && d < end; i++, d++) {
      share = shares[i];
      links[d] = typeof share === 'number' && share > 0 ? Math.min(100, Math.round(share)) : 0;
    }
  }
  this.linksCame[g] = 2;
};

// Loads piece key (file name) with fetch once, however many ask for it meanwhile:
// waiting maps a piece being loaded to the callbacks waiting for it. keep takes what
// came, then every waiter is called.
function loadOnce(waiting, key, name, fetch, keep, done) {
  if (waiting.has(key)) { waiting.get(key).push(done); return; }
  waiting.set(key, [done]);
  fetch(name, function (data) {
    keep(data);
    var callbacks = waiting.get(key);
    waiting.delete(key);
    callbacks.forEach(function (f) { f(); });
  });
}

var MAX_LINKS_BESIDE = 4;

// Loads the shards wanted (and the vocabulary when a look-up needed it and vocabulary
// is true), then calls done. Whatever fails to load counts as empty, so it is not
// asked for again.
WordPieces.prototype.load = function (vocabulary, done) {
  var self = this, waiting = 1, wanted = Array.from(this.wanted), later = vocabulary ? Array.from(this.laterParts) : [];
  // After the first results: the pieces the in-word matches wanted then too.
  if (vocabulary) {
    this.laterInWord.forEach(function (i) { self.wantedInWord.add(i); });
    this.laterInWord.clear();
    this.laterParts.clear();
  }
  vocabulary = !this.vocabulary && (this.wanted.has(VOCABULARY) || (vocabulary && this.wantsVocabulary));
  if (!vocabulary) later.forEach(function (p) { wanted.push(partWanted(p)); });
  this.wanted.clear();
  function one() { if (--waiting === 0) done(); }
  wanted.forEach(function (s) {
    if (typeof s === 'string') {
      var l = +s.slice(1);
      waiting++;
      loadOnce(self.listLoading, l, self.listNames[l], self.fetch, function (data) { self.keepList(l, data); }, one);
      return;
    }
    if (s < VOCABULARY && !vocabulary) {
      waiting++;
      self.loadPart(-2 - s, one);
    }
    if (s < 0 || self.shards[s] !== null) return;
    waiting++;
    // Its best piece first: the answer's first screen may need no more of it.
    if (self.bestFirst && self.bestNames[s] !== null && self.best[s] === null && !self.wholeFirst.has(s)) {
      loadOnce(self.bestLoading, s, self.bestNames[s], self.fetch, function (data) { self.keepBest(s, data); }, one);
      return;
    }
    loadOnce(self.loading, s, self.names[s], self.fetch, function (data) { self.keep(s, data); }, one);
  });
  // The names of the documents beside their link shares only for a search of few
  // groups: a word of every page would read them all before its screen.
  var beside = this.linksAsked && this.wantedLinks.size <= MAX_LINKS_BESIDE ? this.linksAsked : null;
  this.wantedLinks.forEach(function (g) {
    if (self.linksCame[g] === 2) return;
    waiting++;
    self.linksCame[g] = 1;
    loadOnce(self.linkLoading, g, self.linkNames[g], self.fetch, function (shares) { self.keepLinks(g, shares); }, one);
    if (beside) beside(g);
  });
  this.wantedLinks.clear();
  this.wantedNear.forEach(function (p) {
    if (typeof p === 'number') {
      var g = -1 - p;
      if (self.gramSets[g] !== null) return;
      waiting++;
      loadOnce(self.nearLoading, p, self.gramNames[g], self.fetch, function (data) { self.keepGrams(g, data); }, one);
      return;
    }
    var l = PIECE_NAME.test(p) ? -1 : Number(p.slice(5));
    if (l < 0 ? self.nearData.has(p) : !self.nearLists || self.nearListCame[l]) return;
    waiting++;
    if (l < 0) loadOnce(self.nearLoading, p, p, self.fetch, function (data) { self.keepNear(p, data); }, one);
    else loadOnce(self.nearLoading, p, self.nearLists[l][1], self.fetch, function (data) { self.keepNearList(l, data); }, one);
  });
  this.wantedNear.clear();
  this.wantedInWord.forEach(function (i) {
    if (self.inWordCame[i]) return;
    waiting++;
    loadOnce(self.inWordLoading, i, self.inWordNames[i], self.fetch, function (data) { self.keepInWord(i, data); }, one);
  });
  this.wantedInWord.clear();
  if (vocabulary) {
    waiting++;
    this.loadVocabulary(one);
  }
  one();
};

// Loads vocabulary piece p once (a piece that failed or does not fit counts as keys ''
// without pages), then calls done.
WordPieces.prototype.loadPart = function (p, done) {
  var self = this, piece = this.vocabularyPieces[p];
  if (this.parts[p] !== null) { done(); return; }
  var count = this.starts[this.partFirsts[p + 1]] - this.starts[this.partFirsts[p]];
  loadOnce(this.partLoading, p, piece[0], this.fetch, function (data) {
    var ok = data && Array.isArray(data.keys) && Array.isArray(data.counts) && data.keys.length === count &&
      data.counts.length === count && data.keys.every(function (k) { return typeof k === 'string'; });
    var part = ok ? { keys: data.keys, counts: data.counts } : { keys: new Array(count).fill(''), counts: new Array(count).fill(0) };
    part.titles = []; part.titleCounts = []; part.names = []; part.nameCounts = [];
    if (ok) {
      placeWordsOf(data.titleWords, part.titles, part.titleCounts);
      placeWordsOf(data.nameWords, part.names, part.nameCounts);
    }
    self.parts[p] = part;
  }, done);
};

// Loads every vocabulary piece (those a prefix read are not read again) and joins them.
WordPieces.prototype.loadVocabulary = function (done) {
  var self = this;
  if (this.vocabularyLoading) { this.vocabularyLoading.push(done); return; }
  this.vocabularyLoading = [done];
  var parts = this.parts, waiting = 1;
  function finished() {
    if (--waiting > 0) return;
    var keys = [], counts = [], placed = { titles: [], titleCounts: [], names: [], nameCounts: [] };
    parts.forEach(function (part) {
      keys.push.apply(keys, part.keys);
      counts.push.apply(counts, part.counts);
      ['titles', 'titleCounts', 'names', 'nameCounts'].forEach(function (f) { placed[f].push.apply(placed[f], part[f]); });
    });
    self.vocabulary = keys;
    self.counts = counts;
    self.placeVocabulary = placed;
    self.parts = parts.map(function () { return null; }); // held whole from now on
    self.masks = null;
    self.vocabularyLoading.forEach(function (f) { f(); });
    self.vocabularyLoading = null;
  }
  parts.forEach(function (part, p) {
    waiting++;
    self.loadPart(p, finished);
  });
  finished();
};

// Appends the words and page counts of a vocabulary piece's [[word, pages], ...].
function placeWordsOf(list, words, counts) {
  if (!Array.isArray(list)) return;
  list.forEach(function (w) {
    if (Array.isArray(w) && typeof w[0] === 'string' && typeof w[1] === 'number') { words.push(w[0]); counts.push(w[1]); }
  });
}

// Loads the shards that the words of query stand in (the keys as typed; their forms and
// prefixes come when the search reaches them), before any searcher exists; for a query
// of one key, their best pieces where they have them, as its search reads them first.
// With a top, the lists of those shards first, then the shards.
function prefetch(list, query) {
  var keys = wordrules.queryKeys(String(query).slice(0, bounds.MAX_QUERY_LENGTH)), lists = false;
  list.bestFirst = keys.length === 1;
  function ask() {
    for (var k = 0; k < keys.length && k < bounds.MAX_TERMS; k++) {
      list.reach(list.shardOf(keys[k].key));
      if (!wordrules.unspaced(keys[k])) list.inWordParts(keys[k].key);
    }
    list.wanted.delete(VOCABULARY);
    lists = Array.from(list.wanted).some(function (w) { return typeof w === 'string'; });
  }
  ask();
  list.load(false, function () {
    if (!lists) return;
    ask();
    list.load(false, function () {});
  });
}

// The pages a results screen shows.
var FIRST_SCREEN = 20;

// The answer of the first screen pages of result, settled: those pages alone, and how
// many pages the answer holds at least (atLeast).
function firstScreen(result, screen) {
  var docs = result.order.slice(0, screen);
  return { query: result.query, terms: result.terms, docs: docs, order: docs, whole: docs.length, partial: false,
    atLeast: result.order.length, firstScreen: true };
}

// Searches query over searcher, whose list is a WordPieces: calls show(result,
// complete) once every shard the search reached has come, with complete false while the
// vocabulary (in-word and nearest words) has still to come (unless it found nothing);
// then again with the whole answer. show may return a function that takes the loading
// of the vocabulary and calls it once the results are on screen. Stops as soon as current() is false (another query came).
function searchInPieces(searcher, query, show, current) {
  var list = searcher.list;
  // The search stops before ranking while shards or the link shares of its pages are
  // still to come: each round of pieces would otherwise rank every page again. Stopped
  // before collecting, it still wants the shards of every key it matched, as
  // collecting them would, so that they come in the same round.
  function waits(terms, docs) {
    if (!docs) {
      for (var t = 0; t < terms.length && list.wanted.size > 0; t++) {
        for (var m = 0; m < terms[t].matches.length; m++) list.reach(list.shardAt(terms[t].matches[m].at));
      }
    } else if (list.wanted.size === 0) {
      list.wantLinksOf(docs);
    }
    if (list.wanted.size > 0 || list.wantedLinks.size > 0 || list.wantedNear.size > 0 || list.wantedInWord.size > 0) return true;
    // Once a first answer that is not whole is on screen, one that is still not whole is
    // neither ranked nor shown (the in-word matches come in rounds).
    skipped = partShown && laterWanted();
    return skipped;
  }
  function laterWanted() {
    return (list.wantsVocabulary && !list.vocabulary) || list.laterParts.size > 0 || list.laterInWord.size > 0;
  }
  // A query of one word reads the best pieces of its common keys first: while bestMode
  // lasts, look-ups take them for their shards, and an answer ranked from them shows its
  // first screen when the pages they leave out cannot change it (ranking.settled); the
  // shards come after it (or at once when it is not settled).
  var bestMode = list.bestFirst = wordrules.queryKeys(String(query).slice(0, bounds.MAX_QUERY_LENGTH)).length === 1;
  list.wholeFirst.clear();
  var wordsKept = false;     // the words matched last round hold (and what they wanted)
  var partShown = false;     // a first answer that is not whole is on screen
  var skipped = false;       // this round stopped as such an answer
  function attempt() {
    if (!current()) return;
    list.wanted.clear();
    list.wantedLinks.clear();
    list.wantedNear.clear();
    list.wantedInWord.clear();
    if (!wordsKept) {
      list.wantsVocabulary = false;
      list.laterParts.clear();
      list.laterInWord.clear();
    }
    skipped = false;
    // A round that ranks the pages the last one kept keeps whether they came from best pieces.
    list.useBest = bestMode;
    if (!wordsKept) list.bestUsed = false;
    var result = searcher.search(query, waits), later = laterWanted();
    // The screen's documents are asked for before the check that it is settled, which
    // then runs while they load: settled or not, the whole answer's first screen is
    // mostly these pages.
    if (bestMode && result !== null && list.bestUsed && searcher.documents) searcher.documents.ensure(result.order.slice(0, FIRST_SCREEN), function () {});
    var screen = bestMode && result !== null && list.bestUsed ? result.settle(FIRST_SCREEN) : 0;
    list.useBest = false;
    if (bestMode && result !== null && list.bestUsed) {
      bestMode = list.bestFirst = false;
      searcher.termCache.clear();
      var next = function () { wordsKept = false; attempt(); };
      var then = screen > 0 ? show(firstScreen(result, screen), false) : null;
      if (typeof then === 'function') then(next); else next();
      return;
    }
    if (bestMode && !list.bestUsed && list.wanted.size === 0) bestMode = list.bestFirst = false;
    var missing = (result === null && !skipped) || list.wanted.size > 0 || list.wantedLinks.size > 0 ||
      list.wantedNear.size > 0 || list.wantedInWord.size > 0;
    // No empty list while the vocabulary may still find something.
    var after = !missing && !skipped && !(later && result.order.length === 0) ? show(result, !later) : null;
    if (!missing && !skipped && later && result.order.length > 0) partShown = true;
    if (!missing && !later) return;
    // Matched words hold as long as no shard, near piece or vocabulary came: a round of
    // link shares alone keeps them.
    var wordsChange = list.wanted.size > 0 || list.wantedNear.size > 0 || list.wantedInWord.size > 0 || !missing;
    function more() {
      list.load(!missing, function () {
        if (wordsChange) searcher.termCache.clear();
        wordsKept = !wordsChange;
        attempt();
      });
    }
    // The vocabulary only after the first results (or when they need it: a short
    // prefix), and once they are on screen when show says when: its pieces grow with
    // the site, and loaded beside the screen's documents they hold the screen back.
    if (!missing && typeof after === 'function') after(more); else more();
  }
  attempt();
}

return { headData: headData, headOf: headOf, WordPieces: WordPieces, searchInPieces: searchInPieces, prefetch: prefetch, loadOnce: loadOnce,
  keysStarting: keysStarting, sparseArray: sparseArray, MAX_RANGE_SHARDS: MAX_RANGE_SHARDS };
});
