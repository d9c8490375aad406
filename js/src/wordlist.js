// The word list: look-ups by word and by part of a word, and the weight groups of a
// word's pages.

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
  var index = this.index, words = new Array(index.length);
  for (var i = 0; i < index.length; i++) words[i] = index[i][0];
  joinWords(this, words);
};

// Positions of the words that hold part inside them (not at their start).
Searcher.prototype.innerWords = function (part, limit) {
  this.buildJoined();
  return innerWordsOf(this, part, limit, []);
};

// Sets list.joined to words (in order) joined for in-word search by indexOf,
// "\nWORD\nWORD\n", and list.offsets to where each word starts in it, followed by
// where a next one would.
function joinWords(list, words) {
  var offsets = new Int32Array(words.length + 1), at = 1;
  for (var i = 0; i < words.length; i++) {
    offsets[i] = at;
    at += words[i].length + 1;
  }
  offsets[words.length] = at;
  list.joined = '\n' + words.join('\n') + '\n';
  list.offsets = offsets;
}

// Appends to found, in order and until it holds limit, the positions of the words of a
// joined list (joinWords) that hold part inside them, not at their start. Looks at the
// first MAX_INNER_SCAN places of part at most, those at a word's start among them, so
// that a list of many words that part begins costs no more.
var MAX_INNER_SCAN = 50000;
function innerWordsOf(list, part, limit, found) {
  var joined = list.joined, offsets = list.offsets, from = 0, at, seen = 0;
  while (found.length < limit && seen++ < MAX_INNER_SCAN && (at = joined.indexOf(part, from)) >= 0) {
    var lo = 0, hi = offsets.length - 1;
    while (lo < hi) {
      var mid = (lo + hi + 1) >>> 1;
      if (offsets[mid] <= at) lo = mid; else hi = mid - 1;
    }
    if (offsets[lo] !== at) found.push(lo);
    from = offsets[lo + 1];
  }
  return found;
}

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
