// Nearest words, for typos.
define('nearest', ['bounds'], function (bounds) {

var MAX_WORD_LENGTH = bounds.MAX_WORD_LENGTH, FUZZY_CELL_BUDGET = bounds.FUZZY_CELL_BUDGET;

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

// A word's letters as bits: A to Z (or a to z), any digit, "_"; any other character by
// its code modulo 32. Each bit that one word has and the other lacks stands for a letter
// that takes an edit, whatever else shares the bit.
function letterMask(word) {
  var mask = 0;
  for (var i = 0; i < word.length; i++) {
    var c = word.charCodeAt(i);
    mask |= c >= 65 && c <= 90 ? 1 << (c - 65) : c >= 97 && c <= 122 ? 1 << (c - 97) : c === 95 ? 1 << 27 : c < 128 ? 1 << 26 : 1 << (c & 31);
  }
  return mask;
}

function bitCount(x) {
  x -= (x >>> 1) & 0x55555555;
  x = (x & 0x33333333) + ((x >>> 2) & 0x33333333);
  return (((x + (x >>> 4)) & 0x0f0f0f0f) * 0x01010101) >>> 24;
}

// A word's pages, or their number (as the vocabulary gives it).
function pagesOf(docs) {
  return typeof docs === 'number' ? docs : docs.length;
}

// The words nearest to word, among the words of list (a WordList or WordPieces) and the words of
// titles and file names (titleWords): smallest edit distance, then most pages. For a
// word of up to 5 letters, words within 1 letter of its length at a distance of at most
// 2; beyond, within 2 letters at a distance of at most 3. Each letter that one word has and the other
// lacks costs an edit, so words with too many such letters are passed over before their
// distance is measured. The search ends once FUZZY_CELL_BUDGET cells of edit distance
// are spent. A list that gives nearWords (the word pieces) offers instead the words,
// titles and file names among them, that begin with word's first or second letter;
// none until they came. When those words hold only the words within near.within edits
// and none is that near, the rest are asked for (none found till they came).
function nearestWords(list, titles, word, limit) {
  if (word.length < 3 || word.length > MAX_WORD_LENGTH) return [];
  var max = word.length <= 5 ? 1 : 2, near = list.nearWords ? list.nearWords(word, max) : undefined;
  if (near === null) return [];
  var found = nearestOf(list, titles, word, max, near);
  if (!near || found.distance <= near.within) return found.words.slice(0, limit);
  near = list.nearWords(word, max, true);
  return near ? nearestOf(list, titles, word, max, near).words.slice(0, limit) : [];
}

// The words within max edits of word at the smallest distance found, most pages first
// (near: the words nearWords gave, else the list's and titles' words), and that distance
// (max + 2 when none is).
function nearestOf(list, titles, word, max, near) {
  var count = near || (list.nearestReady && !list.nearestReady()) ? 0 : list.size(), i;
  if (near) titles = { words: near.words, docs: near.counts, nameWords: [], nameDocs: [], masks: near.words.map(letterMask) };
  if (list.masks === null || list.masks.length !== count) {
    list.masks = new Int32Array(count);
    for (i = 0; i < count; i++) list.masks[i] = letterMask(list.keyAt(i));
  }
  var mine = letterMask(word), best = max + 1, found = new Map();
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
  for (i = 0; i < count; i++) consider(list.keyAt(i), list.masks[i], list.countAt(i));
  var places = titles.words.length;
  for (i = 0; i < places; i++) consider(titles.words[i], titles.masks[i], pagesOf(titles.docs[i]));
  for (i = 0; i < titles.nameWords.length; i++) consider(titles.nameWords[i], titles.masks[places + i], pagesOf(titles.nameDocs[i]));
  return { distance: found.size > 0 ? best : max + 2, words: Array.from(found.keys()).sort(function (x, y) {
    return found.get(y) - found.get(x) || (x < y ? -1 : x > y ? 1 : 0);
  }) };
}

return { editDistance: editDistance, work: work, nearestWords: nearestWords };
});
