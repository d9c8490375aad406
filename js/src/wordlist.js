// The word list of the search: the words of indexed_words.js, or the keys of the
// companion word index (indexed_terms.js) with their stem groups. The search reaches
// the words only through these look-ups: a word's position (find, lowerBound), the
// words that start with a prefix (prefixRange), the words that hold a part
// (innerWords), the words that belong with a word (formsOf) and a word's entry, its
// pages best first (entry). Positions are those of the list, in ascending word order.
define('wordlist', [], function () {

var MIN_STEM = 3;            // shortest stem a query word that is not indexed is taken by
var MAX_STEM_TAIL = 4;       // code units after such a stem (an ending, not another word)

// index: [[word, page, page, ...], ...], words in ascending order of their UTF-16 code
// units, each word's pages best first. groups, for the companion word index:
// [[stem, position, position, ...], ...] by ascending stem, the words that share it.
function WordList(index, groups) {
  this.index = index;
  this.groups = groups || null;
  this.holding = null;       // position: the groups that hold it, once asked for
  this.joined = null;        // the words joined for in-word matching by indexOf (joinWords)
  this.groupCount = null;    // weightGroups of every word, once known
  this.masks = null;         // letter masks of every word, for nearest words
}

// The entry of the word at position at: [word, page, page, ...].
WordList.prototype.entry = function (at) {
  return this.index[at];
};

// How many words the list holds; the word at position at and its number of pages.
WordList.prototype.size = function () { return this.index.length; };
WordList.prototype.keyAt = function (at) { return this.index[at][0]; };
WordList.prototype.countAt = function (at) { return this.index[at].length - 1; };

// The position of word, or -1.
WordList.prototype.find = function (word) {
  var at = this.lowerBound(word);
  return at < this.index.length && this.index[at][0] === word ? at : -1;
};

// First position whose word is not below word.
WordList.prototype.lowerBound = function (word) {
  var index = this.index, lo = 0, hi = index.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (index[mid][0] < word) lo = mid + 1; else hi = mid;
  }
  return lo;
};

// [first, end) of the words that start with prefix (the word itself included): they
// stand together from the first word not below prefix.
WordList.prototype.prefixRange = function (prefix) {
  var index = this.index, first = this.lowerBound(prefix), lo = first, hi = index.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (index[mid][0].lastIndexOf(prefix, 0) === 0) lo = mid + 1; else hi = mid;
  }
  return [first, lo];
};

// The other words that belong with word (at: its position, or -1), as {positions,
// stems}: the words of the stem groups that hold it and their stems; for a word that
// is not indexed, those of the group of the longest stem it begins with, when at most
// MAX_STEM_TAIL code units follow the stem. None without stem groups.
WordList.prototype.formsOf = function (word, at) {
  var groups = this.groups, found = [], stems = [], n = this.index.length, g, k;
  if (!groups) return { positions: found, stems: stems };
  var chosen = at >= 0 ? this.groupsHolding(at) : [];
  for (var len = word.length; at < 0 && len >= MIN_STEM && len >= word.length - MAX_STEM_TAIL; len--) {
    g = this.stemGroup(word.slice(0, len));
    if (g >= 0) chosen = [g];
    if (g >= 0) break;
  }
  var seen = new Set();
  for (var c = 0; c < chosen.length; c++) {
    var group = groups[chosen[c]];
    stems.push(group[0]);
    for (k = 1; k < group.length; k++) {
      var p = group[k];
      if (p !== at && p >= 0 && p < n && p === Math.floor(p) && !seen.has(p)) { seen.add(p); found.push(p); }
    }
  }
  return { positions: found, stems: stems };
};

// The group whose stem is stem, or -1.
WordList.prototype.stemGroup = function (stem) {
  var groups = this.groups, lo = 0, hi = groups.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (groups[mid][0] < stem) lo = mid + 1; else hi = mid;
  }
  return lo < groups.length && groups[lo][0] === stem ? lo : -1;
};

// The groups that hold the word at position at.
WordList.prototype.groupsHolding = function (at) {
  if (this.holding === null) {
    var holding = new Map(), groups = this.groups;
    for (var g = 0; g < groups.length; g++) {
      for (var k = 1; k < groups[g].length; k++) {
        var list = holding.get(groups[g][k]);
        if (list) list.push(g); else holding.set(groups[g][k], [g]);
      }
    }
    this.holding = holding;
  }
  return this.holding.get(at) || [];
};

WordList.prototype.buildJoined = function () {
  if (this.joined !== null) return;
  var index = this.index, words = new Array(index.length);
  for (var i = 0; i < index.length; i++) words[i] = index[i][0];
  joinWords(this, words);
};

// Positions of the words that hold part inside them (not at their start).
WordList.prototype.innerWords = function (part, limit) {
  this.buildJoined();
  return innerWordsOf(this, part, limit, []);
};

// Sets list.joined to words (in order) joined for in-word search by indexOf, in two
// runs: the words of one-byte characters and the others, "\nWORD\nWORD\n" each (no
// word holds a line feed), so that the many words of Latin letters are searched in a
// string of one byte a character, which indexOf scans twice as fast or more. Each run:
// text, where each of its words starts in it followed by where a next one would
// (offsets), and each word's position in words (positions).
var WIDE = /[^\x00-\xff]/;
function joinWords(list, words) {
  var narrow = [], wide = [];
  for (var i = 0; i < words.length; i++) (WIDE.test(words[i]) ? wide : narrow).push(i);
  list.joined = [joinedRun(words, narrow), joinedRun(words, wide)];
}

function joinedRun(words, positions) {
  var offsets = new Int32Array(positions.length + 1), at = 1, text = new Array(positions.length);
  for (var i = 0; i < positions.length; i++) {
    text[i] = words[positions[i]];
    offsets[i] = at;
    at += text[i].length + 1;
  }
  offsets[positions.length] = at;
  return { text: '\n' + text.join('\n') + '\n', offsets: offsets, positions: Int32Array.from(positions) };
}

// The next word of a joined run from word from on that holds part: sets run.word to its
// index in the run (-1: none left), run.inside to whether part stands inside it, not at
// its start.
function nextHolding(run, part, from) {
  var at = from < run.positions.length ? run.text.indexOf(part, run.offsets[from]) : -1;
  if (at < 0) { run.word = -1; return; }
  var offsets = run.offsets, lo = from, hi = offsets.length - 1;
  while (lo < hi) {
    var mid = (lo + hi + 1) >>> 1;
    if (offsets[mid] <= at) lo = mid; else hi = mid - 1;
  }
  run.word = lo;
  run.inside = offsets[lo] !== at;
}

// Appends to found, in order and until it holds limit, the positions of the words of a
// joined list (joinWords) that hold part inside them, not at their start. Looks at the
// first MAX_INNER_SCAN words holding part at most, those that part begins among them,
// so that a list of many words that part begins costs no more. The runs are read side
// by side, the word of lower position first.
// A part that holds the part of the list's last search (one typed on: "inpu" after
// "inp") is looked for only in the words that search met (every word holding it holds
// the other) and then from where that search stopped, not in the whole list again.
var MAX_INNER_SCAN = 50000;
function innerWordsOf(list, part, limit, found) {
  var runs = list.joined.map(function (run) { return { text: run.text, offsets: run.offsets, positions: run.positions, word: -1, inside: false }; });
  var last = list.innerScan, met = [], seen = 0, r, i = 0;
  var follows = last && last.joined === list.joined && part.indexOf(last.part) >= 0 && part.indexOf('\n') < 0;
  if (follows) {
    for (; i < last.met.length && found.length < limit && seen < MAX_INNER_SCAN; i += 2) {
      var run = runs[last.met[i]], w = last.met[i + 1], at = run.text.slice(run.offsets[w], run.offsets[w + 1] - 1).indexOf(part);
      if (at < 0) continue;
      met.push(last.met[i], w);
      seen++;
      if (at > 0) found.push(run.positions[w]);
    }
    // Stopped among them: the last search's words stay the ones to start from.
    if (i < last.met.length) return found;
  }
  for (r = 0; r < runs.length; r++) {
    if (!follows) nextHolding(runs[r], part, 0);
    else if (last.next[r] >= 0) nextHolding(runs[r], part, last.next[r]);
  }
  for (; found.length < limit && seen < MAX_INNER_SCAN; seen++) {
    var next = -1;
    for (r = 0; r < runs.length; r++) {
      if (runs[r].word >= 0 && (next < 0 || runs[r].positions[runs[r].word] < runs[next].positions[runs[next].word])) next = r;
    }
    if (next < 0) break;
    met.push(next, runs[next].word);
    if (runs[next].inside) found.push(runs[next].positions[runs[next].word]);
    nextHolding(runs[next], part, runs[next].word + 1);
  }
  list.innerScan = { joined: list.joined, part: part, met: met, next: runs.map(function (run) { return run.word; }) };
  return found;
}

// A word's list holds its pages by falling weight, equal weights in ascending page
// order; pages whose words stand only in running text weigh less the more often they
// use the word. A page number lower than the one before starts a new, lower weight:
// the number of such starts, kept per word.
WordList.prototype.weightGroups = function (at) {
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

return { WordList: WordList, joinWords: joinWords, innerWordsOf: innerWordsOf };
});
