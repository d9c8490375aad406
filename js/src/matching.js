// How query words match words: of the index, of titles and of file names.
define('matching', ['wordrules', 'nearest'], function (wordrules, nearest) {

// How a query word matches an indexed word, best first. FORM: another form of the same
// word, its plural or singular (indexed_words.js) or a word of its stem group (the
// companion word index).
var EXACT = 0, FORM = 1, PREFIX = 2, INNER = 3, FUZZY = 4, NONE = 255;
var MIN_INNER = 3;           // shortest query word looked for inside longer words
var MIN_STEM_PART = 4;       // shortest stem of a query word looked for at the start of or inside words
var EXPANSION_BUDGET = 120000; // postings read for the prefix or inner words of a term
var MAX_INNER_WORDS = 1500;
var MAX_PREFIX_WORDS = 20000; // words a term begins that are looked at: the first in word order

// Whether plural is word with "S" or "ES" added (but not "S" to a word ending in S:
// CLASS is no plural of CLAS).
function pluralOf(word, plural) {
  var extra = plural.length - word.length, S = 83, E = 69;
  return word.length >= 3 && (extra === 1 ? word.charCodeAt(word.length - 1) !== S : extra === 2 && plural.charCodeAt(plural.length - 2) === E) &&
    plural.charCodeAt(plural.length - 1) === S && plural.lastIndexOf(word, 0) === 0;
}

// The best class by which a query word matches one word, or NONE. The characters and
// pairs of an unspaced run match only themselves.
function wordClass(term, word) {
  var t = term.text;
  if (term.fuzzy) return term.fuzzy.has(word) ? FUZZY : NONE;
  if (word === t) return EXACT;
  if (wordrules.unspaced(term)) return NONE;
  if (term.forms ? term.forms.has(word) : pluralOf(t, word) || pluralOf(word, t)) return FORM;
  if (word.lastIndexOf(t, 0) === 0) return PREFIX;
  var stems = term.stems, s;
  for (s = 0; stems && s < stems.length; s++) if (word.lastIndexOf(stems[s], 0) === 0) return PREFIX;
  if (t.length >= MIN_INNER && word.indexOf(t) > 0) return INNER;
  for (s = 0; stems && s < stems.length; s++) if (word.indexOf(stems[s]) > 0) return INNER;
  return NONE;
}

// The pages whose title or file name holds a word that term matches, as lists of
// documents with a class: they match the term even when the index lacks the word
// (an index of META keywords only; a page without a title, known by its name).
// One or two letters begin too many words to be worth it: they take whole words only.
// Keeps in term.titleHits every title word that the term matches at all (with the word
// index, as it makes pages results), as pairs of word position and class, for ranking
// by title.
// With titles in the word shards (searcher.places), only the words that the term can
// match are visited, taken from the shards it reaches.
function placeMatches(searcher, term) {
  var titles = searcher.buildTitles(), places = [], worst = term.text.length < 3 ? FORM : FUZZY, v, c, i;
  var chosen = searcher.places ? searcher.places.candidates(term) : null, summaries = searcher.summaries;
  function each(words, some, visit) {
    if (some) for (i = 0; i < some.length; i++) visit(some[i]);
    else for (i = 0; i < words.length; i++) visit(i);
  }
  term.titleHits = [];
  each(titles.words, chosen && chosen.titles, function (v) {
    if ((c = wordClass(term, titles.words[v])) === NONE || (searcher.unicode && c > worst)) return;
    term.titleHits.push(v, c);
    if (c <= worst) places.push({ docs: titles.docs[v], cls: c });
  });
  term.summaryHits = [];
  if (summaries) each(summaries.words, chosen && chosen.summaries, function (v) {
    if (wordClass(term, summaries.words[v]) <= FORM) term.summaryHits.push(v);
  });
  each(titles.nameWords, chosen && chosen.names, function (v) {
    if ((c = wordClass(term, titles.nameWords[v])) <= worst) places.push({ docs: titles.nameDocs[v], cls: c });
  });
  return places;
}

// The word positions kept for a term within the postings budget: shortest words
// (the closest completions) first, in list order within one length.
function withinBudget(list, positions, budget) {
  var total = 0, i;
  for (i = 0; i < positions.length; i++) total += list.countAt(positions[i]);
  if (total <= budget) return positions;
  var byLength = [];
  for (i = 0; i < positions.length; i++) {
    var len = list.keyAt(positions[i]).length;
    (byLength[len] || (byLength[len] = [])).push(positions[i]);
  }
  var chosen = [];
  total = 0;
  for (var l = 0; l < byLength.length && total < budget; l++) {
    var sameLength = byLength[l] || [];
    for (i = 0; i < sameLength.length && total < budget; i++) {
      chosen.push(sameLength[i]);
      total += list.countAt(sameLength[i]);
    }
  }
  return chosen;
}

// How a query word (asked: {key, kind, run} as wordrules.queryKeys gives them) matches:
// in the index, the word itself, its other forms, the words it begins and the words it
// stands inside (matches, a list of {word position, class, weight}); in titles and file
// names the same (places). When nothing matches, the nearest words instead, which are
// offered as suggestions too. A character or pair of an unspaced run is found as it
// is. Terms are kept in searcher.termCache.
function matchTerm(searcher, asked) {
  var text = asked.key, cacheKey = text + '\n' + (asked.run || '');
  var cached = searcher.termCache.get(cacheKey);
  if (cached) return cached;
  var list = searcher.list, matches = [], i, positions = [];
  var term = { text: text, kind: asked.kind, run: asked.run || null, matches: matches, suggestions: [], fuzzy: null,
    forms: searcher.unicode ? new Set() : null, stems: null };
  var range = !wordrules.unspaced(asked) ? list.prefixRange(text) : [0, 0], exact = list.find(text);
  if (exact >= 0) {
    matches.push({ at: exact, cls: EXACT, weight: 1 });
    if (range[0] === exact) range[0]++;
  }
  // Other forms rank just below the word itself: by the stem groups of the index, or
  // else by the plural rule. An index may hold any number of words that a term
  // begins: the first MAX_PREFIX_WORDS are looked at, so a keystroke costs no more on it.
  if (term.forms && !wordrules.unspaced(asked)) {
    var related = list.formsOf(text, exact), forms = withinBudget(list, related.positions, EXPANSION_BUDGET);
    for (i = 0; i < forms.length; i++) {
      matches.push({ at: forms[i], cls: FORM, weight: 1 });
      term.forms.add(list.keyAt(forms[i]));
    }
    for (i = range[0]; i < range[1] && i < range[0] + MAX_PREFIX_WORDS; i++) {
      if (!term.forms.has(list.keyAt(i))) positions.push(i);
    }
    // A stem shorter than the word also begins and stands inside other words: the
    // compounds of German and the like ("einrichten" in "Druckereinrichtung").
    term.stems = related.stems.filter(function (stem) { return stem.length >= MIN_STEM_PART && stem.length < text.length; });
    // One group: every form shares it with every other (the best pieces of common keys
    // place the titled pages of their keys' groups).
    term.oneGroup = related.stems.length === 1;
  } else {
    for (i = range[0]; i < range[1] && i < range[0] + MAX_PREFIX_WORDS; i++) {
      if (pluralOf(text, list.keyAt(i))) matches.push({ at: i, cls: FORM, weight: 1 });
      else positions.push(i);
    }
    var singular = /^[A-Z0-9_]{3,}E?S$/.test(text) ? [text.slice(0, -1), text.slice(0, -2)] : [];
    for (i = 0; i < singular.length; i++) {
      var at = list.find(singular[i]);
      if (at >= 0 && pluralOf(singular[i], text)) matches.push({ at: at, cls: FORM, weight: 1 });
    }
  }
  // One or two letters begin most words: read fewer of them.
  var budget = EXPANSION_BUDGET * Math.min(1, text.length / 4);
  positions = withinBudget(list, positions, budget);
  for (i = 0; i < positions.length; i++) {
    matches.push({ at: positions[i], cls: PREFIX, weight: text.length / list.keyAt(positions[i]).length });
  }
  if (text.length >= MIN_INNER && !wordrules.unspaced(asked)) {
    positions = withinBudget(list, list.innerWords(text, MAX_INNER_WORDS), budget);
    for (i = 0; i < positions.length; i++) {
      matches.push({ at: positions[i], cls: INNER, weight: text.length / list.keyAt(positions[i]).length });
      if (list.matchedApart) list.matchedApart(positions[i]);
    }
  }
  for (var s = 0; term.stems && s < term.stems.length; s++) {
    var stem = term.stems[s], taken = new Set(matches.map(function (m) { return m.at; })), parts = [];
    range = list.prefixRange(stem);
    for (i = range[0]; i < range[1]; i++) if (!taken.has(i)) parts.push({ at: i, cls: PREFIX });
    list.innerWords(stem, MAX_INNER_WORDS).forEach(function (at) { if (!taken.has(at)) parts.push({ at: at, cls: INNER }); });
    positions = withinBudget(list, parts.map(function (p) { return p.at; }), budget);
    var kept = new Set(positions);
    parts.forEach(function (p) {
      if (!kept.has(p.at)) return;
      matches.push({ at: p.at, cls: p.cls, weight: stem.length / list.keyAt(p.at).length });
      if (p.cls === INNER && list.matchedApart) list.matchedApart(p.at);
    });
  }
  term.places = placeMatches(searcher, term);
  if (matches.length === 0 && term.places.length === 0 && !wordrules.unspaced(asked)) {
    var near = nearest.nearestWords(list, searcher.places ? searcher.places.nearTitles() : searcher.buildTitles(), text, 5);
    term.fuzzy = new Set();
    for (i = 0; i < near.length; i++) {
      var pos = list.find(near[i]);
      if (pos >= 0) matches.push({ at: pos, cls: FUZZY, weight: 1 / (1 + i) });
      if (pos >= 0 && list.matchedApart) list.matchedApart(pos);
      term.suggestions.push(near[i]);
      term.fuzzy.add(near[i]);
    }
    term.places = placeMatches(searcher, term);
  }
  if (searcher.termCache.size >= 64) searcher.termCache.clear();
  searcher.termCache.set(cacheKey, term);
  return term;
}

return {
  EXACT: EXACT, FORM: FORM, PREFIX: PREFIX, INNER: INNER, FUZZY: FUZZY, NONE: NONE, MIN_INNER: MIN_INNER,
  pluralOf: pluralOf, wordClass: wordClass, matchTerm: matchTerm
};
});
