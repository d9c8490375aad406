// Titles and locations as shown: cut short, with the query words marked.
define('shown', ['words', 'wordrules', 'bytes', 'bounds', 'matching'], function (words, wordrules, bytes, bounds, matching) {

var forEachWord = words.forEachWord, textBytes = bytes.textBytes, WORD = wordrules.WORD, PAIR = wordrules.PAIR;
var MAX_SHOWN = bounds.MAX_SHOWN, MAX_MARKS = bounds.MAX_MARKS;
var EXACT = matching.EXACT, FORM = matching.FORM, PREFIX = matching.PREFIX, INNER = matching.INNER, FUZZY = matching.FUZZY;
var NONE = matching.NONE, wordClass = matching.wordClass;

// Spans [start, end) of text to mark for the query's terms, at most MAX_MARKS, in
// order. unicode: the terms are keys of the word rules of the companion word index.
function highlightSpans(text, terms, unicode) {
  if (unicode) return keySpans(text, terms);
  var spans = [];
  forEachWord(text, function (word, start, end) {
    var best = null;
    for (var t = 0; t < terms.length; t++) {
      var term = terms[t], c = wordClass(term, word), span = null;
      if (c === EXACT || c === FORM || c === FUZZY) span = [start, end];
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

// Spans to mark by the word rules: every word that a term matches, whole; in a run of
// unspaced letters, where a run of the query stands in it, else where the query run's
// characters or pairs do.
function keySpans(text, terms) {
  var spans = [], wordTerms = [], runs = new Map(), chars = null, paired = false, t;
  for (t = 0; t < terms.length; t++) {
    if (!wordrules.unspaced(terms[t])) wordTerms.push(terms[t]);
    else if (terms[t].run) (runs.get(terms[t].run) || runs.set(terms[t].run, []).get(terms[t].run)).push(terms[t].text);
  }
  // The characters of a run of the text: their keys joined, where each starts in the
  // joined keys, and their places in text.
  function endRun() {
    if (chars === null) return;
    var found = [];
    runs.forEach(function (keys, run) {
      var hits = spansIn(chars, [run]);
      found.push.apply(found, hits.length ? hits : spansIn(chars, keys));
    });
    spans.push.apply(spans, found);
    chars = null;
  }
  wordrules.forEachToken(text, function (key, start, end, kind, german) {
    if (kind === PAIR) {
      paired = true;
      return true;
    }
    if (kind === WORD) {
      endRun();
      for (t = 0; t < wordTerms.length; t++) {
        if (wordClass(wordTerms[t], key) !== NONE || (german && wordClass(wordTerms[t], german) !== NONE)) {
          spans.push([start, end]);
          break;
        }
      }
    } else {
      if (!paired) endRun();
      if (chars === null) chars = { text: '', at: [], starts: [], ends: [] };
      chars.at.push(chars.text.length);
      chars.text += key;
      chars.starts.push(start);
      chars.ends.push(end);
    }
    paired = false;
    return spans.length < MAX_MARKS;
  });
  endRun();
  spans.sort(function (a, b) { return a[0] - b[0] || b[1] - a[1]; });
  var merged = [];
  for (var i = 0; i < spans.length && merged.length < MAX_MARKS; i++) {
    var last = merged[merged.length - 1];
    if (last && spans[i][0] <= last[1]) last[1] = Math.max(last[1], spans[i][1]);
    else merged.push(spans[i].slice());
  }
  return merged;
}

// The places in text of each whole-character occurrence of the parts in a run of
// characters (see keySpans).
function spansIn(chars, parts) {
  var found = [];
  for (var p = 0; p < parts.length; p++) {
    var part = parts[p], from = 0, at;
    while (found.length < MAX_MARKS && (at = chars.text.indexOf(part, from)) >= 0) {
      from = at + 1;
      var first = charAt(chars, at), end = at + part.length;
      var last = end === chars.text.length ? chars.at.length : charAt(chars, end);
      if (first >= 0 && last > first) found.push([chars.starts[first], chars.ends[last - 1]]);
    }
  }
  return found;
}

// The character of a run that starts at offset at of its joined keys, or -1.
function charAt(chars, at) {
  var list = chars.at, lo = 0, hi = list.length;
  while (lo < hi) {
    var mid = (lo + hi) >>> 1;
    if (list[mid] < at) lo = mid + 1; else hi = mid;
  }
  return lo < list.length && list[lo] === at ? lo : -1;
}

// The start of text up to max characters, cut after a word (inside one only when the
// text has no blank in its second half).
function cutAtWord(text, max) {
  var cut = max, blank = /\s/;
  while (cut > max / 2 && !blank.test(text.charAt(cut))) cut--;
  if (cut <= max / 2) {
    cut = max;
    if (/[\ud800-\udbff]/.test(text.charAt(cut - 1))) cut--;
  }
  while (cut > 0 && blank.test(text.charAt(cut - 1))) cut--;
  return text.slice(0, cut);
}

// Text as shown: at most MAX_SHOWN characters, cut after a word and ended with an
// ellipsis when longer.
function shortText(text) {
  return text.length <= MAX_SHOWN ? text : cutAtWord(text, MAX_SHOWN) + '\u2026';
}

// A title (entities decoded) or location as shown. One shown character takes at
// most ten of the text (an entity; UTF-8 takes four), so only the start of a longer
// text is read, cut before a character's UTF-8 bytes are split.
function shownText(text, bytesMode, entities) {
  var cut = text.length > 10 * MAX_SHOWN;
  if (cut) {
    var end = 10 * MAX_SHOWN, tail = textBytes(text.slice(end - 3, end + 1), true);
    for (var k = 3; bytesMode && k > 0 && (tail[k] & 0xc0) === 0x80; k--) end--;
    if (!bytesMode && /[\udc00-\udfff]/.test(text.charAt(end))) end--;
    text = text.slice(0, end);
  }
  text = bytes.displayText(text, bytesMode);
  text = shortText(entities ? bytes.decodeEntities(text) : text);
  return cut && text.charAt(text.length - 1) !== '\u2026' ? text + '\u2026' : text;
}

return { highlightSpans: highlightSpans, cutAtWord: cutAtWord, shortText: shortText, shownText: shownText };
});
