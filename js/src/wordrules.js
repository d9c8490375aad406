// Word rules of the companion word index (docs/word-rules.md), as the indexer applies
// them: text of any script cut into words and into the characters and pairs of
// unspaced runs (Han, kana, Hangul, Thai...), and words folded into the keys they are
// found by (NFKC, full case folding, Latin and Greek accents dropped, German spellings
// without umlauts). Queries are cut by the same rules, asking for the pairs of a run.
define('wordrules', [], function () {

var WORD = 1, CHAR = 2, PAIR = 3;   // kinds of token
var MAX_KEY = 64;                   // UTF-16 code units of a key
var MAX_WORD = 2 * MAX_KEY;         // code units of a word read before it is folded

var UNSPACED = '\\p{Script=Han}\\p{Script=Hiragana}\\p{Script=Katakana}\\p{Script=Hangul}\\p{Script=Thai}' +
  '\\p{Script=Lao}\\p{Script=Khmer}\\p{Script=Myanmar}\\u30fc';
var SPACED = '(?:(?![' + UNSPACED + '])\\p{L}|_)';
// A word (group 1) or one unspaced letter with the marks that follow it (group 2), in
// text already normalised to NFKC.
var TOKEN = new RegExp('(' + SPACED + '(?:' + SPACED + '|[\\p{M}\\p{Nd}])*)|((?=\\p{L})[' + UNSPACED + ']\\p{M}*)', 'gu');
// ASCII characters that neither compose with a neighbour under normalisation nor belong
// to a word: text is normalised piece by piece between them. ("<", "=" and ">" take a
// combining slash: they stay inside a piece.)
var PIECE = /[^\t\n\r !-/:;?@[-^`{-~]+/g;
var NOT_ASCII = /[^\x00-\x7f]/;
var stable = new Map();              // character: whether NFKC keeps it, once asked
var ASCII_WORD = /[A-Za-z_][A-Za-z0-9_]*/g;
var MARK = /^\p{M}$/u, NONSPACING = /^\p{Mn}$/u;
var LATIN_OR_GREEK = /^[\p{Script=Latin}\p{Script=Greek}]$/u, CYRILLIC = /^\p{Script=Cyrillic}$/u;
// Letters whose full case folding is not their lower case (after NFKC and NFD, which
// take care of ligatures, compatibility letters and the ypogegrammeni of composed Greek
// letters), and Latin letters that carry their stroke in the letter itself, as readers
// type them.
var FOLDS = { '\u00df': 'ss', '\u0149': '\u02bcn', '\u03c2': '\u03c3', '\u0345': '\u03b9', '\u1c80': '\u0432',
  '\u1c81': '\u0434', '\u1c82': '\u043e', '\u1c83': '\u0441', '\u1c84': '\u0442', '\u1c85': '\u0442',
  '\u1c86': '\u044a', '\u1c87': '\u0463', '\u1c88': '\ua64b' };
var FOLDED = /[\u00df\u0149\u03c2\u0345\u13f8-\u13fd\u1c80-\u1c88\uab70-\uabbf]/g;
var STROKES = { '\u00f8': 'o', '\u0142': 'l', '\u0111': 'd', '\u00f0': 'd', '\u0127': 'h', '\u0131': 'i',
  '\u0167': 't', '\u00e6': 'ae', '\u0153': 'oe', '\u00fe': 'th' };

// Text cut to at most max code units, never between the halves of a surrogate pair.
function cutUnits(text, max) {
  if (text.length <= max) return text;
  var c = text.charCodeAt(max - 1);
  return text.slice(0, c >= 0xd800 && c <= 0xdbff ? max - 1 : max);
}

function foldCase(text) {
  return text.toLowerCase().normalize('NFD').replace(FOLDED, function (c) {
    var code = c.charCodeAt(0);
    if (code >= 0xab70) return String.fromCharCode(code - 0xab70 + 0x13a0);   // Cherokee folds to its capitals
    if (code >= 0x13f8 && code <= 0x13fd) return String.fromCharCode(code - 8);
    return FOLDS[c];
  });
}

// The keys of a word (its NFKC text): {key, german}, german being its second key with
// ae, oe and ue for ä, ö and ü (null when it has none).
function wordKeys(word) {
  word = cutUnits(word, MAX_WORD);
  if (!NOT_ASCII.test(word)) return { key: cutUnits(word.toLowerCase(), MAX_KEY), german: null };
  var folded = foldCase(word);
  if (!NOT_ASCII.test(folded)) return { key: cutUnits(folded, MAX_KEY), german: null };
  var key = '', german = '', umlaut = false, accented = false, cyrillic = false, base = '';
  for (var i = 0; i < folded.length; i++) {
    var c = folded.charAt(i), code = folded.charCodeAt(i);
    if (code >= 0xd800 && code <= 0xdbff && i + 1 < folded.length) c += folded.charAt(++i);
    if (NONSPACING.test(c)) {
      if (accented) {
        if (c === '\u0308' && (base === 'a' || base === 'o' || base === 'u')) {
          german += 'e';
          umlaut = true;
          base = '';       // one e for one diaeresis
        }
        continue;
      }
      if (cyrillic && (c === '\u0301' || c === '\u0300' || (c === '\u0308' && base === '\u0435'))) continue;
    } else {
      base = c;
      accented = code < 0x80 ? (code | 0x20) >= 97 && (code | 0x20) <= 122 : LATIN_OR_GREEK.test(c);
      cyrillic = code >= 0x80 && CYRILLIC.test(c);
      if (STROKES.hasOwnProperty(c)) c = STROKES[c];
    }
    key += c;
    german += c;
  }
  return { key: cutUnits(key.normalize('NFC'), MAX_KEY), german: umlaut ? cutUnits(german.normalize('NFC'), MAX_KEY) : null };
}

// Whether NFKC keeps the character c as it is (most characters of a text, asked
// again and again).
function keeps(c) {
  var known = stable.get(c);
  if (known === undefined) {
    if (stable.size >= 65536) stable.clear();
    stable.set(c, known = c.normalize('NFKC') === c);
  }
  return known;
}

// Where each code unit of the normalised form of piece stands in piece: from[k] and
// to[k] for unit k. Each character with the marks after it is normalised on its own
// (but for the letters that normalisation never changes); when that does not give the
// form of the whole (characters that compose across, such as Hangul jamo), every unit
// stands for the whole piece.
function unitPlaces(piece, norm) {
  var from = new Int32Array(norm.length), to = new Int32Array(norm.length), at = 0, i = 0, n = piece.length;
  while (i < n) {
    var j = i + (piece.codePointAt(i) > 0xffff ? 2 : 1), c;
    while (j < n && (MARK.test(String.fromCodePoint(c = piece.codePointAt(j))) || c === 0xff9e || c === 0xff9f)) j += c > 0xffff ? 2 : 1;
    var part = piece.slice(i, j);
    if (j - i > 1 || !keeps(part)) part = part.normalize('NFKC');
    if (norm.substr(at, part.length) !== part) break;
    for (var k = 0; k < part.length; k++) { from[at + k] = i; to[at + k] = j; }
    at += part.length;
    i = j;
  }
  if (i < n || at !== norm.length) { from.fill(0); to.fill(n); }
  return { from: from, to: to };
}

// Calls visit(key, start, end, kind, german) for each token of text, in order, with
// [start, end) its place in text: a word (kind WORD; german its second key or null),
// each character of an unspaced run (CHAR) and each pair of neighbouring characters
// (PAIR) after the first of them. Stops when visit returns false. keysOnly: the
// places of the tokens of text that normalisation changes are not worked out (they
// are those in the normalised text).
function forEachToken(text, visit, keysOnly) {
  var piece, stop = false;
  PIECE.lastIndex = 0;
  while (!stop && (piece = PIECE.exec(text)) !== null) {
    var p = piece.index, s = piece[0], m;
    if (!NOT_ASCII.test(s)) {
      ASCII_WORD.lastIndex = 0;
      while ((m = ASCII_WORD.exec(s)) !== null) {
        if (visit(cutUnits(m[0].toLowerCase(), MAX_KEY), p + m.index, p + m.index + m[0].length, WORD, null) === false) { stop = true; break; }
      }
      continue;
    }
    var norm = s.normalize('NFKC'), places = norm === s || keysOnly ? null : unitPlaces(s, norm);
    var last = -1, lastStart = 0, lastText = '';
    TOKEN.lastIndex = 0;
    while ((m = TOKEN.exec(norm)) !== null) {
      var end = m.index + m[0].length;
      var from = p + (places ? places.from[m.index] : m.index), to = p + (places ? places.to[end - 1] : end);
      if (m[1] !== undefined) {
        var keys = wordKeys(m[1]);
        last = -1;
        if (visit(keys.key, from, to, WORD, keys.german) === false) { stop = true; break; }
        continue;
      }
      // A character with mark after mark is one key too: keys are cut all the same.
      if (last === m.index && visit(cutUnits(lastText + m[2], MAX_KEY), lastStart, to, PAIR, null) === false) { stop = true; break; }
      if (visit(cutUnits(m[2], MAX_KEY), from, to, CHAR, null) === false) { stop = true; break; }
      last = end;
      lastStart = from;
      lastText = m[2];
    }
  }
}

// Whether a term (a query key) is a character or pair of an unspaced run: such keys
// match only themselves. Any other term is a word.
function unspaced(term) {
  return term.kind === CHAR || term.kind === PAIR;
}

// The keys a query asks for, in order: {key, kind, run}. A word gives its
// key (as typed: no second key); an unspaced run gives its pairs, or its one character,
// with run its whole text (NFKC), where it is marked.
function queryKeys(text) {
  var keys = [], run = null, paired = false;
  function add(key, kind) {
    var k = { key: key, kind: kind, run: null };
    if (kind !== WORD) run.keys.push(k);
    keys.push(k);
  }
  function endRun() {
    if (run === null) return;
    if (run.pairs.length === 0) add(run.text, CHAR); else run.pairs.forEach(function (pair) { add(pair, PAIR); });
    var whole = run.text;
    run.keys.forEach(function (k) { k.run = whole; });
    run = null;
  }
  forEachToken(text, function (key, start, end, kind) {
    if (kind === PAIR) {
      run.pairs.push(key);
      paired = true;
    } else if (kind === CHAR && paired) {
      run.text += key;
      paired = false;
    } else {
      endRun();
      if (kind === WORD) add(key, WORD); else run = { text: key, pairs: [], keys: [] };
    }
  }, true);
  endRun();
  return keys;
}

return {
  WORD: WORD, CHAR: CHAR, PAIR: PAIR, MAX_KEY: MAX_KEY,
  forEachToken: forEachToken, queryKeys: queryKeys, wordKeys: wordKeys, unspaced: unspaced
};
});
