// How query words match words: of the index, of titles and of file names.

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
// Keeps in term.titleHits every title word that the term matches at all, as pairs of
// word position and class, for ranking by title.
Searcher.prototype.placeMatches = function (term) {
  var titles = this.buildTitles(), places = [], worst = term.text.length < 3 ? PLURAL : FUZZY, v, c;
  term.titleHits = [];
  for (v = 0; v < titles.words.length; v++) {
    if ((c = wordClass(term, titles.words[v])) === NONE) continue;
    term.titleHits.push(v, c);
    if (c <= worst) places.push({ docs: titles.docs[v], cls: c });
  }
  term.summaryHits = [];
  var summaries = this.summaries;
  for (v = 0; summaries && v < summaries.words.length; v++) {
    if (wordClass(term, summaries.words[v]) <= PLURAL) term.summaryHits.push(v);
  }
  for (v = 0; v < titles.nameWords.length; v++) {
    if ((c = wordClass(term, titles.nameWords[v])) <= worst) places.push({ docs: titles.nameDocs[v], cls: c });
  }
  return places;
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
  // Plural and singular forms rank just below the word itself. An index may hold any
  // number of words that a term begins: the first MAX_PREFIX_WORDS are looked at, so a
  // keystroke costs no more on it.
  for (i = range[0]; i < range[1] && i < range[0] + MAX_PREFIX_WORDS; i++) {
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
