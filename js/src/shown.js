// Titles and locations as shown: cut short, with the query words marked.
define('shown', ['words', 'bytes', 'bounds', 'matching'], function (words, bytes, bounds, matching) {

var forEachWord = words.forEachWord, textBytes = bytes.textBytes;
var MAX_SHOWN = bounds.MAX_SHOWN, MAX_MARKS = bounds.MAX_MARKS;
var EXACT = matching.EXACT, PLURAL = matching.PLURAL, PREFIX = matching.PREFIX, INNER = matching.INNER, FUZZY = matching.FUZZY;
var wordClass = matching.wordClass;

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
