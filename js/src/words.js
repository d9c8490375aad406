// Words: the indexer's rule for indexed_words.js. A word is a run of ASCII letters,
// digits and "_" that starts with a letter or "_"; only a-z are upper-cased; every other
// character, including every non-ASCII one, separates words.
define('words', [], function () {

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

return { forEachWord: forEachWord, tokenize: tokenize };
});
