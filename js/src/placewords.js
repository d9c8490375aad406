// Titles, file names and summaries for ranking, from the word shards that came: each
// shard holds, for the keys of its range, the pages whose title, file name or summary
// holds the key. PlaceWords gathers the entries of the keys that queries reach into
// tables shaped as titles.titleWords makes them over every page, so matching and
// ranking read them unchanged; it grows as searches reach more keys.
define('placewords', ['wordrules', 'wordlist', 'pieces'], function (wordrules, wordlist, pieces) {

var MIN_INNER = 3;            // as matching: shortest query word looked for inside words
var MAX_NAME_WORDS = 16;      // as titles: file-name words weighed in the rank of a page
var NO_WORDS = { words: [], docs: [], nameWords: [], nameDocs: [], masks: null };
var MAX_SIZE = 65535;

// list: the WordPieces whose shards hold the entries; n: the documents.
function PlaceWords(list, n) {
  this.list = list;
  this.count = n;
  // As titleWords: title words, their pages, whether each is common, the telling words
  // of each title; file-name words and their pages, and each page's name words (those
  // that entries came for, the rest '').
  this.words = [];
  this.docs = [];
  this.common = [];
  this.size = new Uint16Array(n);
  this.names = pieces.sparseArray(n);
  this.named = new Uint8Array(n); // 1 where names holds an entry: a look-up in a sparse array costs a search
  this.nameWords = [];
  this.nameDocs = [];
  this.summaries = { words: [], docs: [] };
  this.taken = new Map();     // key: {title, name, summary} positions in the tables (-1: none)
  this.near = null;           // every title and file-name word, for nearest words
  this.joinedTitles = null;   // and joined for in-word search
  this.joinedNames = null;
}

function page(d, n) {
  return typeof d === 'number' && d >= 0 && d < n && d % 1 === 0;
}

// The entry of key from its shard (wanted when it has not come), taken into the tables
// once; its positions, or null.
PlaceWords.prototype.take = function (key) {
  var known = this.taken.get(key);
  if (known) return known;
  var list = this.list, shard = list.reach(list.shardOf(key));
  if (!shard) return null;
  var place = shard.places.get(key), n = this.count, i, d;
  known = { title: -1, name: -1, summary: -1 };
  this.taken.set(key, known);
  if (!place) return known;
  var titled = place.titles, named = place.names, summed = place.summaries;
  if (titled) {
    var docs = [];
    for (i = 2; i + 1 < titled.length; i += 2) {
      d = titled[i];
      if (!page(d, n)) continue;
      docs.push(d);
      this.size[d] = Math.min(MAX_SIZE, Math.max(0, titled[i + 1] | 0));
    }
    known.title = this.words.length;
    this.words.push(key);
    this.docs.push(docs);
    this.common.push(titled[1] ? 1 : 0);
  }
  if (named) {
    var pages = [];
    for (i = 1; i + 2 < named.length; i += 3) {
      d = named[i];
      if (!page(d, n)) continue;
      pages.push(d);
      var times = named[i + 1] | 0, words = Math.min(MAX_NAME_WORDS, Math.max(0, named[i + 2] | 0));
      if (times <= 0) continue;
      var name = this.names[d] || (this.names[d] = new Array(words).fill(''));
      this.named[d] = 1;
      for (var k = 0; k < name.length && times > 0; k++) if (name[k] === '') { name[k] = key; times--; }
    }
    known.name = this.nameWords.length;
    this.nameWords.push(key);
    this.nameDocs.push(pages);
  }
  if (summed) {
    var summary = [];
    for (i = 1; i < summed.length; i++) if (page(summed[i], n)) summary.push(summed[i]);
    known.summary = this.summaries.words.length;
    this.summaries.words.push(key);
    this.summaries.docs.push(summary);
  }
  return known;
};

// Takes the keys of the shards' entries that begin with prefix: from the shards of its
// range, or from the vocabulary pieces of those shards when the range spans more than a
// few (as the word list's prefixRange, which wants them before the answer).
PlaceWords.prototype.takePrefix = function (prefix, keys) {
  var list = this.list, s = list.shardOf(prefix), last = list.rangeEnd(prefix, s), i;
  if (last - s >= pieces.MAX_RANGE_SHARDS) {
    var near = this.vocabularyWords(), parts = near ? [near] : list.reachParts(s, last);
    (parts || []).forEach(function (part) {
      [part.words || part.titles, part.nameWords || part.names].forEach(function (words) {
        var range = pieces.keysStarting(words, prefix);
        for (i = range[0]; i < range[1]; i++) keys.add(words[i]);
      });
    });
    return;
  }
  for (var k = s; k <= last; k++) {
    var shard = list.reach(k);
    if (!shard) continue;
    var range = pieces.keysStarting(shard.placeKeys, prefix);
    for (i = range[0]; i < range[1]; i++) keys.add(shard.placeKeys[i]);
  }
};

// Every title and file-name word with its number of pages (as nearest.nearestWords
// reads a titleWords), once the vocabulary came; else null.
PlaceWords.prototype.vocabularyWords = function () {
  var placed = this.list.placeVocabulary;
  if (!placed) return null;
  if (this.near === null) {
    this.near = { words: placed.titles, docs: placed.titleCounts, nameWords: placed.names, nameDocs: placed.nameCounts, masks: null };
    this.joinedTitles = {};
    this.joinedNames = {};
    wordlist.joinWords(this.joinedTitles, placed.titles);
    wordlist.joinWords(this.joinedNames, placed.names);
  }
  return this.near;
};

// The title and file-name words for nearest words: none until the vocabulary came
// (which the word list wants then).
PlaceWords.prototype.nearTitles = function () {
  return this.vocabularyWords() || NO_WORDS;
};

// Takes the title and file-name words that hold part inside them (not at their start):
// from the vocabulary once it came, else from the vocabulary pieces the in-word pieces
// name (as the word list's innerWords, after the first results); when those cannot
// tell, wants the vocabulary, unless no word holds part.
PlaceWords.prototype.takeInner = function (part, keys) {
  var near = this.vocabularyWords(), list = this.list;
  if (!near) {
    var parts = list.inWordParts(part, true);
    if (parts === undefined && list.mayHoldInside(part)) list.wantsVocabulary = true;
    if (!parts || !list.reachEach(parts, true)) return;
    // Title words first, then file-name words, each in word order, as over the whole vocabulary.
    ['titles', 'names'].forEach(function (field) {
      parts.forEach(function (p) {
        list.parts[p][field].forEach(function (word) { if (word.indexOf(part) > 0) keys.add(word); });
      });
    });
    return;
  }
  // As many as there are (as every title word was looked at), within innerWordsOf's scan.
  wordlist.innerWordsOf(this.joinedTitles, part, Infinity, []).forEach(function (at) { keys.add(near.words[at]); });
  wordlist.innerWordsOf(this.joinedNames, part, Infinity, []).forEach(function (at) { keys.add(near.nameWords[at]); });
};

// The positions in the tables of every title, file-name and summary word that term can
// match (titles.wordClass decides how): the word itself, its forms, the words it or its
// stems begin and hold, and its nearest words. {titles, names, summaries}.
PlaceWords.prototype.candidates = function (term) {
  var keys = new Set([term.text]), s;
  if (term.forms) term.forms.forEach(function (k) { keys.add(k); });
  if (term.fuzzy) term.fuzzy.forEach(function (k) { keys.add(k); });
  if (!wordrules.unspaced(term) && !term.fuzzy && term.text.length >= MIN_INNER) {
    var stems = term.stems || [];
    this.takePrefix(term.text, keys);
    for (s = 0; s < stems.length; s++) this.takePrefix(stems[s], keys);
    this.takeInner(term.text, keys);
    for (s = 0; s < stems.length; s++) this.takeInner(stems[s], keys);
  }
  var found = { titles: [], names: [], summaries: [] }, self = this;
  keys.forEach(function (key) {
    var at = self.take(key);
    if (!at) return;
    if (at.title >= 0) found.titles.push(at.title);
    if (at.name >= 0) found.names.push(at.name);
    if (at.summary >= 0) found.summaries.push(at.summary);
  });
  return found;
};

return { PlaceWords: PlaceWords };
});
