// Ranking: the pages each term matches, fused by rank, then ordered. The functions take
// the searcher whose state they share (its word list, titles and per-page arrays).
define('ranking', ['matching', 'bounds'], function (matching, bounds) {

var EXACT = matching.EXACT, FORM = matching.FORM, PREFIX = matching.PREFIX, INNER = matching.INNER, FUZZY = matching.FUZZY, NONE = matching.NONE, wordClass = matching.wordClass;
var MAX_TERMS = bounds.MAX_TERMS, MIN_PART = matching.MIN_INNER;
var RRF_K = 10;             // reciprocal-rank fusion constant: the design's lists
var SCORED_RRF_K = 5;       // and the word index's lists, ordered by score
var PLACE_RANK = 1000;       // where a title or file-name match counts in a word's list
// With the word index, a title counts for a page only from this share of its words
// matched (in tenths) on: a chapter's title that lists ten topics ("Network services:
// Postfix, Apache, NFS, Samba, Squid...") says less of one of them than the section's
// own page.
var MIN_TITLE_SHARE = 2;
// With the word index, the share of the title matched scales a page's fused score by
// up to 1 + TITLE_SHARE_WEIGHT rather than ordering pages before it: a title a little
// more about the query ("Planifier des tâches asynchrones : anacron" against
// "Planifier des tâches avec cron et atd") no longer outranks a page that uses the
// words far more. Any weight from 1/2 to 3 gave the same tuning halves.
var TITLE_SHARE_WEIGHT = 2;
var TITLE_ABOUT_SHARE = 5;
// A page's fused score grows by SUMMARY_BOOST times the share of the query's words
// that its summary holds as they are or in the plural (companion data): measured on
// the held-out queries of bench/queries, as the other constants here.
var SUMMARY_BOOST = 1;
// Navigation pages (tables of contents, indexes, chapter overviews) list the headings
// of the pages they lead to: with the companion word index, a page's fused score is
// scaled by the square of the share of its text outside links. (Taking their titles
// out of the ranking as well put the chapter pages that readers ask for, such as
// PostgreSQL's "Full Text Search", below their sections.)

// Adds each term's matches to the documents' hits (terms matched), worst class and
// fused score; a term counts for a document through its best match. With every set,
// only documents that matched all the terms before are followed (AND). Returns the
// documents met, and keeps in searcher.reached those that each term met; hits must be
// 0 for every document on entry. The lists are typed arrays of page numbers: a common
// word meets most pages of the site, and growing an array of them page by page cost
// more than the postings themselves.
function collect(searcher, terms, every) {
  var n = searcher.docCount, words = searcher.list, hits = searcher.hits, worst = searcher.worst, score = searcher.score;
  var termClass = searcher.termClass, termScore = searcher.termScore, seen = searcher.seen;
  var met = new Int32Array(n), metCount = 0, touched = null, touchedCount = 0;
  var t, mark, reached = searcher.reached = [];
  // Term t meets document d by class cls, with score s. The first meeting counts the
  // document in; a later one betters its class, and its score too (or only its score,
  // within the same class). With stem groups, the lists of a word and its other forms
  // add up: a page that uses several forms uses the word more (the lists after the
  // first count half). Title and file-name matches below better the class alone.
  var sumForms = searcher.unicode, FORMS_ADDED = 0.5, scored = searcher.unicode, K = scored ? SCORED_RRF_K : RRF_K;
  for (t = 0; t < terms.length; t++) {
    var matches = terms[t].matches, places = terms[t].places || [], first = t === 0;
    mark = ++searcher.mark;
    // The first term's pages are those met (hits is 0 for every page before it): its
    // class and score are the page's own and it is known met by its hits, so it needs
    // no pass of its own over the pages.
    var tClass = first ? worst : termClass, tScore = first ? score : termScore;
    if (!first) { touched = new Int32Array(n); touchedCount = 0; }
    else if ((metCount = keptFirst(searcher, terms[0], met)) > 0) {
      reached[0] = terms.length > 1 ? met.slice(0, metCount) : met.subarray(0, metCount);
      continue;
    }
    for (var m = 0; m < matches.length; m++) {
      var entry = words.entry(matches[m].at), cls = matches[m].cls, weight = matches[m].weight;
      var groups = scored ? 0 : searcher.list.weightGroups(matches[m].at), group = 0;
      for (var r = 1; r < entry.length; r++) {
        var doc = entry[r];
        if (!scored && r > 1 && doc < entry[r - 1]) group++;
        if (!(doc >= 0 && doc < n)) continue;
        var s = weight / (K + r);
        // Deep in a list of the design's weights, the later a page's weight group the
        // more often its running text uses the word: from the third group on, a page is
        // also scored by its group's place from the end (the first groups hold the
        // headings and titles). The word index orders its lists by score instead.
        if (!scored && group > 1) s = Math.max(s, weight / (RRF_K + 1 + groups - group));
        if (first ? hits[doc] === 0 : seen[doc] !== mark) {
          if (first) {
            hits[doc] = 1;
            met[metCount++] = doc;
          } else {
            if (every && hits[doc] !== t) continue;
            seen[doc] = mark;
            if (hits[doc] === 0) { worst[doc] = 0; score[doc] = 0; met[metCount++] = doc; }
            touched[touchedCount++] = doc;
          }
          tClass[doc] = cls;
          tScore[doc] = s;
        } else if (sumForms && cls <= FORM && tClass[doc] <= FORM) {
          if (cls < tClass[doc]) tClass[doc] = cls;
          tScore[doc] += s * FORMS_ADDED;
        } else if (cls < tClass[doc]) {
          tClass[doc] = cls;
          tScore[doc] = s;
        } else if (cls === tClass[doc] && s > tScore[doc]) {
          tScore[doc] = s;
        }
      }
    }
    // Title and file-name matches, scored as if far down a word's list: they make a
    // page a result, or better its class; where it stands comes from the index and the
    // title rank.
    for (var p = 0; p < places.length; p++) {
      var list = places[p].docs, placeClass = places[p].cls, placeScore = 1 / (K + PLACE_RANK);
      for (var j = 0; j < list.length; j++) {
        var d = list[j];
        if (first ? hits[d] === 0 : seen[d] !== mark) {
          if (first) {
            hits[d] = 1;
            met[metCount++] = d;
          } else {
            if (every && hits[d] !== t) continue;
            seen[d] = mark;
            if (hits[d] === 0) { worst[d] = 0; score[d] = 0; met[metCount++] = d; }
            touched[touchedCount++] = d;
          }
          tClass[d] = placeClass;
          tScore[d] = placeScore;
        } else if (placeClass < tClass[d]) {
          tClass[d] = placeClass;
        }
      }
    }
    if (first) {
      // Not the pages of a word's best pieces: the next search would take them for all.
      if (metCount > 0 && metCount * KEEP_SHARE >= n && !searcher.list.bestUsed) keepFirst(searcher, terms[0], met, metCount);
      reached[0] = terms.length > 1 ? met.slice(0, metCount) : met.subarray(0, metCount);
      continue;
    }
    reached[t] = touched.subarray(0, touchedCount);
    for (var k = 0; k < touchedCount; k++) {
      d = touched[k];
      hits[d]++;
      if (termClass[d] > worst[d]) worst[d] = termClass[d];
      score[d] += termScore[d];
    }
  }
  return met.subarray(0, metCount);
}

// A first term that meets this share of the pages or more keeps them for the next
// search that starts with it: as a query grows ("the j", "the ja", ...), its first word
// is not collected again. Smaller terms cost less to collect than to keep.
var KEEP_SHARE = 16;
// The common first terms kept, the last used first: a word asked again (typed anew, or
// the first word of the next query) is put back rather than collected, as long as the
// words it matched hold (a term is matched anew, and so no longer found here, once a
// piece that could change its matches came). Each costs at most 13 bytes a page.
var KEPT_TERMS = 4;

// Keeps, for term (the first of a search), its metCount pages of met with their class
// and score as collect left them, putting met in page order on the way: each page met
// is counted in hits, so one pass over hits lists them in order. The pages are then put
// back, and ranked, reading the per-page arrays in order rather than all over them.
// Up to KEPT_TERMS terms are kept per searcher, at most three numbers a page each.
function keepFirst(searcher, term, met, metCount) {
  var hits = searcher.hits, worst = searcher.worst, score = searcher.score, n = searcher.docCount;
  var pages = new Int32Array(metCount), classes = new Uint8Array(metCount), scores = new Float64Array(metCount), k = 0;
  for (var d = 0; d < n && k < metCount; d++) {
    if (hits[d] === 0) continue;
    pages[k] = d;
    classes[k] = worst[d];
    scores[k] = score[d];
    met[k++] = d;
  }
  // A word matched anew (its pieces changed) replaces what it kept before: the old term
  // is no longer the one its words find, so it would only hold a place.
  var kept = searcher.firstKept = searcher.firstKept.filter(function (k) { return k.term.text !== term.text || k.term.run !== term.run; });
  kept.unshift({ term: term, pages: pages, classes: classes, scores: scores });
  if (kept.length > KEPT_TERMS) kept.length = KEPT_TERMS;
}

// Puts back in met (and the per-page arrays) the pages that keepFirst kept for term, when
// it kept them; returns their number (0: not kept).
function keptFirst(searcher, term, met) {
  var all = searcher.firstKept, at = 0;
  while (at < all.length && all[at].term !== term) at++;
  if (at === all.length) return 0;
  var kept = all[at];
  if (at > 0) { all.splice(at, 1); all.unshift(kept); }
  var hits = searcher.hits, worst = searcher.worst, score = searcher.score;
  var pages = kept.pages, classes = kept.classes, scores = kept.scores, count = pages.length;
  for (var i = 0; i < count; i++) {
    var d = pages[i];
    met[i] = d;
    hits[d] = 1;
    worst[d] = classes[i];
    score[d] = scores[i];
  }
  return count;
}

// Marks the documents whose titles the query's words match: for each word the best
// class, and how many of the title's words some query word matches. Only the title
// words that the terms matched when they were made (titleHits) are visited. A run of
// unspaced letters counts for a title only when the title holds it as a page's text
// must (runNeeds of its pairs), so that "ンド" of "ウィンドウ" alone does not make
// "ハンドブック" a title match. Covered words are counted in halves: with the word
// index, a title word that a query word only begins with its stem or its whole
// ("Paketbetreuer" for "Pakets") covers half a word, one that holds it further in
// none ("Voreinstellung" for "einstellen"): a compound names another thing.
function matchTitles(searcher, terms) {
  var titles = searcher.buildTitles(), stamp = ++searcher.stamp, T = terms.length, t, k, d, base;
  var stamps = searcher.titleStamp, covered = searcher.titleCovered, best = searcher.titleBest;
  var matched = new Map();   // title word position: the class of each term that matches it
  var titled = [], runs = new Map();
  for (t = 0; t < T; t++) {
    var hits = terms[t].titleHits;
    for (var h = 0; h < hits.length; h += 2) {
      var classes = matched.get(hits[h]);
      if (!classes) matched.set(hits[h], classes = []);
      classes[t] = hits[h + 1];
    }
    if (terms[t].run) (runs.get(terms[t].run) || runs.set(terms[t].run, []).get(terms[t].run)).push(t);
  }
  matched.forEach(function (classes, v) {
    var list = titles.docs[v];
    for (k = 0; k < list.length; k++) {
      d = list[k];
      base = d * MAX_TERMS;
      for (t = 0; t < T; t++) {
        if (classes[t] === undefined) continue;
        if (stamps[d] !== stamp) {
          stamps[d] = stamp;
          covered[d] = 0;
          for (var u = 0; u < T; u++) best[base + u] = NONE;
          titled.push(d);
        }
        if (classes[t] < best[base + t]) best[base + t] = classes[t];
      }
    }
  });
  runs.forEach(function (members, run) {
    var need = runNeeds(searcher.runSizes && searcher.runSizes.get(run) || members.length);
    for (k = 0; k < titled.length; k++) {
      base = titled[k] * MAX_TERMS;
      var held = members.filter(function (m) { return best[base + m] !== NONE; }).length;
      if (held < need) members.forEach(function (m) { best[base + m] = NONE; });
    }
  });
  matched.forEach(function (classes, v) {
    if (titles.common[v] !== 0) return;
    var list = titles.docs[v];
    for (k = 0; k < list.length; k++) {
      d = list[k];
      base = d * MAX_TERMS;
      if (stamps[d] !== stamp) continue;
      var halves = 0;
      for (t = 0; t < T; t++) {
        if (classes[t] === undefined || best[base + t] === NONE) continue;
        halves = Math.max(halves, !searcher.unicode || classes[t] <= FORM ? 2 : classes[t] === PREFIX ? 1 : 0);
      }
      covered[d] += halves;
    }
  });
}

// The pairs of a run of size pairs that a page must hold to hold the run: all but one
// in three.
function runNeeds(size) {
  return size - Math.floor(size / 3);
}

// Counts in summaryHits, for each of docs, the query words its summary holds.
function matchSummaries(searcher, terms, docs) {
  var hits = searcher.summaryHits, seen = searcher.seen, i, t, h;
  if (!hits) return;
  for (i = 0; i < docs.length; i++) hits[docs[i]] = 0;
  for (t = 0; t < terms.length; t++) {
    var words = terms[t].summaryHits || [], mark = ++searcher.mark;
    for (h = 0; h < words.length; h++) {
      var list = searcher.summaries.docs[words[h]];
      for (i = 0; i < list.length; i++) {
        if (seen[list[i]] !== mark) { seen[list[i]] = mark; hits[list[i]]++; }
      }
    }
  }
}

// Title rank after matchTitles: 1 + (FUZZY - worst class) when the title holds every
// query word, else 0; then 3 when the words of the file name are the query's words,
// 2 when they hold all of them, 1 when they hold some (with the word index, a query
// word of one or two letters holds only a whole file-name word: "a" of "mise a jour"
// is no part of "apt"); then the share of the title's telling words matched, 0 to 10.
function titleRank(searcher, d, terms, nameMasks) {
  var titles = searcher.titles, tier = 0, t, matched = searcher.titleStamp[d] === searcher.stamp;
  if (matched) {
    var worst = EXACT, base = d * MAX_TERMS;
    for (t = 0; t < terms.length; t++) {
      if (searcher.titleBest[base + t] > worst) worst = searcher.titleBest[base + t];
    }
    if (worst !== NONE) tier = 1 + FUZZY - worst;
  }
  var size = titles.size[d], share = matched && size > 0 ? Math.round(10 * Math.min(size, searcher.titleCovered[d] / 2) / size) : 0;
  if (searcher.unicode && share < MIN_TITLE_SHARE) tier = share = 0;
  var name = (titles.named && titles.named[d] === 0 ? null : titles.names[d]) || NO_NAME_WORDS, used = 0, held = 0;
  for (var w = 0; w < name.length; w++) {
    var mask = nameMasks.get(name[w]);
    if (mask === undefined) nameMasks.set(name[w], mask = nameMask(searcher, terms, name[w]));
    held |= mask;
    for (; mask !== 0; mask &= mask - 1) used++;
  }
  var all = held === (1 << terms.length) - 1;
  var nameTier = used === 0 ? 0 : !all ? 1 : used >= name.length ? 3 : 2;
  return tier * 64 + nameTier * 16 + share;
}

// The terms that hold file-name word word, one bit each (with the word index, a query
// word of one or two letters holds only a whole file-name word, and none holds it
// inside). Worked out once a ranking for each word: most pages share their names' words.
function nameMask(searcher, terms, word) {
  var mask = 0;
  for (var t = 0; t < terms.length; t++) {
    var c = wordClass(terms[t], word);
    if (c !== NONE && !(searcher.unicode && (c === INNER || (c > FORM && terms[t].text.length < MIN_PART)))) mask |= 1 << t;
  }
  return mask;
}

// With the word index, the title tier of a title rank, 0 to 11: twice the tier of the
// title holding every query word, plus one when the query's words make up
// TITLE_ABOUT_SHARE tenths of the title or more (a section's title against a chapter's
// that also names its topic among others: "Configuration de l'impression" against
// "Configuration de base : réseau, comptes, impression").
function titleTier(tr) {
  var tier = tr >> 6;
  return tier > 0 ? 2 * tier + ((tr & 15) >= TITLE_ABOUT_SHARE ? 1 : 0) : 0;
}

var NO_NAME_WORDS = []; // a page whose file-name words no entry came for

var DOC_BITS = 131072, SCORE_STEPS = 1048576; // 2^17, 2^20: keys stay below 2^53

// The order of documents (an Order): most query words, best worst class, title holding
// the query, file name, share of the title matched, fused score, document number (with
// the word index: units held, title holding the query, worst class, file name, fused
// score scaled by the share of the title matched, document number).
function rank(searcher, docs, terms) {
  var hits = searcher.hits, worst = searcher.worst, score = searcher.score, rankKey = searcher.rankKey, i, d;
  matchTitles(searcher, terms);
  matchSummaries(searcher, terms, docs);
  var links = searcher.links, top = 0, nameMasks = new Map(), n = docs.length;
  var unicode = searcher.unicode, held = searcher.byUnits ? searcher.unitHits : hits, lengthFactor = searcher.lengthFactor;
  var summaryHits = searcher.summaryHits, termCount = terms.length;
  // A page whose title no query word matched and which has no file-name words has a
  // title rank of 0 (without the call).
  var stamps = searcher.titleStamp, stamp = searcher.stamp, named = searcher.titles.named || null;
  // Each page's rank key and score side by side in the order of docs, so that the keys
  // are made in one pass over them rather than by page numbers all over the site; the
  // pages of a common word in page order, so that the pass reads the per-page arrays in
  // order (the keys hold the page, so the order of docs does not change the ranking).
  if (n * KEEP_SHARE >= searcher.docCount) docs = inPageOrder(searcher, docs);
  var keyOf = new Float64Array(n), scoreOf = new Float64Array(n);
  for (i = 0; i < n; i++) {
    d = docs[i];
    var tr = named !== null && stamps[d] !== stamp && named[d] === 0 ? 0 : titleRank(searcher, d, terms, nameMasks);
    keyOf[i] = unicode ? unitKey(held[d], tr, worst[d]) : hits[d] * 2560 + (FUZZY - worst[d]) * 512 + tr; // below 2^16
    var sc = score[d] * ((lengthFactor ? lengthFactor[d] : 1) * (summaryHits ? 1 + SUMMARY_BOOST * summaryHits[d] / termCount : 1));
    if (unicode) sc *= titleShareFactor(tr);
    if (links) sc *= (1 - links[d] / 100) * (1 - links[d] / 100);
    scoreOf[i] = sc;
    if (sc > top) top = sc;
  }
  if (searcher.docCount <= DOC_BITS) {
    // One number per document: rank key, score in 2^20 steps of the best score (so sums
    // of the same ranks in another order tie), document number. They are put in order
    // as far as the order is read.
    var scale = top > 0 ? (SCORE_STEPS - 1) / top : 0;
    for (i = 0; i < n; i++) keyOf[i] = (keyOf[i] * SCORE_STEPS + Math.round(scoreOf[i] * scale)) * DOC_BITS + (DOC_BITS - 1 - docs[i]);
    return new Order(keyOf, null);
  }
  for (i = 0; i < n; i++) {
    rankKey[docs[i]] = keyOf[i];
    score[docs[i]] = scoreOf[i];
  }
  for (i = 0; i < docs.length; i++) score[docs[i]] = Math.round(score[docs[i]] * 1e12) / 1e12;
  var all = Array.from(docs).sort(function (a, b) {
    return rankKey[b] - rankKey[a] || score[b] - score[a] || a - b;
  });
  return new Order(null, all);
}

// With the word index, the part of a page's rank key above its score: the query's units
// it holds (a run of unspaced letters is one, however many of its pairs a page holds),
// title tier, worst class cls and file name, of title rank tr.
function unitKey(held, tr, cls) {
  var name = (tr >> 4) & 3;
  return held * 360 + titleTier(tr) * 30 + (FUZZY - cls) * 6 + (name >= 2 ? name - 1 : 0) * 2 + (name === 1 ? 1 : 0);
}

// With the word index, what the share of the title matched (of title rank tr) scales a
// page's fused score by.
function titleShareFactor(tr) {
  return 1 + TITLE_SHARE_WEIGHT * (tr & 15) / 10;
}

// Whether the first screen pages of order, ranked by rank from lists some of
// which were only their best pages (best pieces: list.bestHeld), are the first pages of
// the answer the whole lists give, in the same order: their number, or 0 when the
// pages left out of those lists could change them. One word's search with the word
// index only (docs, the pages met, are then its answer).
// A page the first list meets, of a class that adds forms up (exact or a form), that
// owes only lists that add up too, keeps its score and may gain what they add; so does
// a page of a class past the forms that owes only lists of its own class (the best of
// them counts).
// A page left out of a cut list is at its place held + 1 or below there, so it scores
// at most weight / (K + held + 1) from it, and meets it by that list's class. A page
// that some list it is in meets by a better class than the rest of a cut list could
// (forms aside, as they add up) owes that list nothing: the better class replaces
// whatever the rest gave it (a title or file name betters the class, not the score, so
// only lists count here). A best piece places every page of its key's list whose title
// or file name holds a key of the key's stem groups: a page whose title or file name
// holds the word (when it is a key) owes the cut lists of the word and its forms
// nothing, and so does one whose title or file name holds a form, when the word has one
// stem group (or the list is the word's own). A best piece that says it is prefixed
// places those whose title or file name holds a word its key or a stem of its groups
// begins too (every word a prefix of the query word's): such a page owes the word's own
// cut list nothing (a page titled `your` for `you`, `deprecation` for `deprecated`,
// which the word's list would otherwise lift from a prefix to the word). Where a cut
// list could better a page's class past the forms, the score it gets is that list's,
// not the one it has. A page that owes no list is known exactly; any other page's rank
// key lies between one with its class and no score and one with the best class
// and the whole score the rest could add (a page not met: the cut lists' best class,
// every rest added, its title and file name as they are, its summary holding the word,
// no links). The screen is settled when each of its pages' lowest key is above the
// highest key of the next, and the last's above every other page's highest; scores
// are compared with a step of the scale to spare, since the best score that scales
// them may still grow.
var MAX_CUT_LISTS = 16;
var TITLED_EXACT = 1, TITLED_FORM = 2, TITLED_BEGUN = 4;   // a page's title or file name holds the word, a form of it, a word it begins
function settled(searcher, docs, terms, order, screen) {
  var list = searcher.list, n = searcher.docCount, matches = terms.length === 1 ? terms[0].matches : [], oneGroup = terms.length === 1 && terms[0].oneGroup === true;
  if (!searcher.unicode || searcher.lengthFactor || terms.length !== 1 || terms[0].run || !order.keys || !list.bestHeld) return 0;
  var cuts = [], inCut = null, all = 0, allClass = NONE, m, i, d;
  for (m = 0; m < matches.length; m++) {
    var held = list.bestHeld(matches[m].at);
    if (held === 0) continue;
    if (cuts.length === MAX_CUT_LISTS) return 0;
    var entry = list.entry(matches[m].at), bit = 1 << cuts.length;
    if (inCut === null) inCut = new Uint16Array(n);
    for (i = 1; i < entry.length; i++) if (entry[i] >= 0 && entry[i] < n) inCut[entry[i]] |= bit;
    var rest = matches[m].weight / (SCORED_RRF_K + held + 1);
    var exact = matches[m].cls === EXACT;
    cuts.push({ cls: matches[m].cls, rest: rest, exact: exact, prefixed: exact && !!list.bestPrefixed && list.bestPrefixed(matches[m].at) });
    all += rest;
    if (matches[m].cls < allClass) allClass = matches[m].cls;
  }
  // A screen shorter than asked for is none: the pages the lists left out may fill it.
  var count = screen;
  if (cuts.length === 0 || order.length < count) return 0;
  var shown = order.slice(0, count), worst = searcher.worst, score = searcher.score, links = searcher.links, summaryHits = searcher.summaryHits;
  var met = new Uint8Array(n), nameMasks = new Map(), stamps = searcher.titleStamp, stamp = searcher.stamp, named = searcher.titles.named || null;
  for (i = 0; i < docs.length; i++) met[docs[i]] = 1;
  var inFirst = new Uint8Array(n), first = list.entry(matches[0].at);
  for (i = 1; i < first.length; i++) if (first[i] >= 0 && first[i] < n) inFirst[first[i]] = 1;
  for (i = 0; i < count; i++) met[shown[i]] = 2 + i;
  // For each page a title or file name matched, 1 + the class by which the lists meet
  // it (NONE: none does; 0 for the other pages).
  var places = terms[0].places || [], byLists = null, titledBy = null, j;
  if (places.length > 0) {
    byLists = new Uint8Array(n);
    titledBy = new Uint8Array(n);
    var indexed = matches.length > 0 && matches[0].cls === EXACT;
    for (var p = 0; p < places.length; p++) {
      var mark = places[p].cls === EXACT && indexed ? TITLED_EXACT : places[p].cls === FORM ? TITLED_FORM : places[p].cls === PREFIX && indexed ? TITLED_BEGUN : 0;
      for (j = 0; j < places[p].docs.length; j++) {
        byLists[places[p].docs[j]] = NONE;
        titledBy[places[p].docs[j]] |= mark;
      }
    }
    for (m = 0; m < matches.length; m++) {
      var listed = list.entry(matches[m].at), c0 = matches[m].cls + 1;
      for (j = 1; j < listed.length; j++) {
        d = listed[j];
        if (d >= 0 && d < n && byLists[d] !== 0 && c0 < byLists[d]) byLists[d] = c0;
      }
    }
  }
  // Page d's lowest and highest keys, as units above the score and score (low: -1 when
  // not met), and whether its score can only grow (it is then its lowest).
  var lowUnits = 0, low = 0, highUnits = 0, high = 0, sure = false;
  function keysOf(d) {
    var tr = named !== null && stamps[d] !== stamp && named[d] === 0 ? 0 : titleRank(searcher, d, terms, nameMasks);
    if (met[d] === 0) {
      lowUnits = low = -1;
      highUnits = unitKey(1, tr, allClass);
      high = all * (1 + SUMMARY_BOOST) * titleShareFactor(tr);
      sure = false;
      return;
    }
    var cls = worst[d], placed = byLists === null ? 0 : byLists[d], more = -1;
    var owed = placed === 0 ? cls : placed === NONE ? NONE : placed - 1, adds = owed <= FORM ? inFirst[d] === 1 : owed !== NONE;
    var f = titleShareFactor(tr) * (summaryHits ? 1 + SUMMARY_BOOST * summaryHits[d] : 1);
    if (links) f *= (1 - links[d] / 100) * (1 - links[d] / 100);
    var titled = titledBy === null ? 0 : titledBy[d];
    for (var c = 0; c < cuts.length; c++) {
      if ((inCut[d] >> c) & 1 || (cuts[c].cls > owed && cuts[c].cls > FORM)) continue;
      // Placed by the cut list's piece if it were in the list: it is not.
      if (cuts[c].cls <= FORM && (titled & TITLED_EXACT || (titled & TITLED_FORM && (cuts[c].exact || oneGroup)))) continue;
      if (cuts[c].prefixed && titled & TITLED_BEGUN) continue;
      more = Math.max(more, 0) + cuts[c].rest;
      if (cuts[c].cls < cls) cls = cuts[c].cls;
      if (owed <= FORM ? cuts[c].cls > FORM : cuts[c].cls !== owed) adds = false;
    }
    sure = more < 0 || adds;
    lowUnits = unitKey(1, tr, worst[d]);
    low = sure ? score[d] * f : 0;
    highUnits = unitKey(1, tr, cls);
    // A better class from a cut list replaces the score of the lists known (forms aside).
    high = (cls < worst[d] && worst[d] > FORM ? Math.max(more, 0) : score[d] + Math.max(more, 0)) * f;
  }
  // The screen's own keys first: a screen out of order even with no step to spare is
  // out of order with one, and is given up before the pass over the site.
  var lows = new Float64Array(2 * count), highs = new Float64Array(2 * count), top = 0, most = 0;
  for (i = 0; i < count; i++) {
    keysOf(shown[i]);
    if (sure && low > top) top = low;
    if (high > most) most = high;
    lows[2 * i] = lowUnits; lows[2 * i + 1] = low; highs[2 * i] = highUnits; highs[2 * i + 1] = high;
  }
  for (i = 0; i + 1 < count; i++) {
    if (!above(lows[2 * i], lows[2 * i + 1], shown[i], highs[2 * i + 2], highs[2 * i + 3], shown[i + 1], 0)) return 0;
  }
  var lastUnits = lows[2 * count - 2], last = lows[2 * count - 1], lastDoc = shown[count - 1];
  // Every other page once: a page not met whose title and file name no query word
  // matched has the highest key every such page has (most of a common word's site),
  // worked out once; a page above the screen's last with no step to spare ends the pass.
  // What is kept of each page is held against the last again once the step is known.
  var plainUnits = 0, plainHigh = 0, plainKnown = false;
  var pageUnits = new Int32Array(n), pageHigh = new Float64Array(n);
  for (d = 0; d < n; d++) {
    if (met[d] >= 2) continue;
    var plain = met[d] === 0 && named !== null && stamps[d] !== stamp && named[d] === 0;
    if (plain && plainKnown) {
      highUnits = plainUnits;
      high = plainHigh;
    } else {
      keysOf(d);
      if (sure && low > top) top = low;
      if (plain) { plainUnits = highUnits; plainHigh = high; plainKnown = true; }
    }
    if (!above(lastUnits, last, lastDoc, highUnits, high, d, 0)) return 0;
    if (high > most) most = high;
    pageUnits[d] = highUnits;
    pageHigh[d] = high;
  }
  if (!(top > 0)) return 0;
  var step = most / (SCORE_STEPS - 1);
  for (i = 0; i + 1 < count; i++) {
    if (!above(lows[2 * i], lows[2 * i + 1], shown[i], highs[2 * i + 2], highs[2 * i + 3], shown[i + 1], step)) return 0;
  }
  for (d = 0; d < n; d++) {
    if (met[d] < 2 && !above(lastUnits, last, lastDoc, pageUnits[d], pageHigh[d], d, step)) return 0;
  }
  return count;
}

// Whether a key of lowest (units, score) a of page da is above every key of highest
// (units, score) b of page db, whatever the best score between top and most (step: a
// step of the scale that score makes; what is not above with a step of 0 is not with
// any).
function above(aUnits, a, da, bUnits, b, db, step) {
  if (aUnits !== bUnits) return aUnits > bUnits;
  return a - b >= step || (a >= b && da < db);
}

// docs (distinct pages) in page order: as they are when ascending, else sorted by a
// mark on each and one pass over the site.
function inPageOrder(searcher, docs) {
  var n = docs.length, i;
  for (i = 1; i < n && docs[i - 1] < docs[i]; i++);
  if (i >= n) return docs;
  var seen = searcher.seen, mark = ++searcher.mark, N = searcher.docCount, sorted = new Int32Array(n), k = 0;
  for (i = 0; i < n; i++) seen[docs[i]] = mark;
  for (var d = 0; d < N && k < n; d++) if (seen[d] === mark) sorted[k++] = d;
  return sorted;
}

var FIRST_PICK = 64;        // pages put in order at least, when the order is read first
var SORT_SHARE = 8;         // past this share of the pages left, they are sorted whole

// The pages of a search best first, put in order only as far as they are read: the
// first screens are picked out of the rest (in time linear in the pages) and sorted,
// the rest when a reader goes past them ("Show more", the order by date). keys: one
// distinct number per page, larger first, as rank makes them (null: docs, in order).
// Reads as an array does: length, and slice.
function Order(keys, docs) {
  this.keys = keys;          // keys[0, done) in order, the rest in none
  this.docs = docs || [];    // the pages of keys[0, done)
  this.done = keys ? 0 : this.docs.length;
  this.length = keys ? keys.length : this.docs.length;
}

// The pages from start to end (as Array.prototype.slice), put in order first.
Order.prototype.slice = function (start, end) {
  end = end === undefined ? this.length : Math.max(0, Math.min(end < 0 ? this.length + end : end, this.length));
  this.orderTo(end);
  return this.docs.slice(start, end);
};

// Every page in order.
Order.prototype.all = function () {
  this.orderTo(this.length);
  return this.docs;
};

Order.prototype.orderTo = function (end) {
  if (end <= this.done) return;
  var keys = this.keys, rest = keys.subarray(this.done), want = Math.max(end - this.done, FIRST_PICK);
  if (want * SORT_SHARE >= rest.length) want = rest.length; else pickLargest(rest, want);
  rest.subarray(0, want).sort().reverse();
  end = this.done + want;
  for (var i = this.done; i < end; i++) this.docs.push(DOC_BITS - 1 - keys[i] % DOC_BITS);
  this.done = end;
};

// Moves the m largest of the distinct numbers of a to its start (in no order), in time
// n log m at most: a heap of the m largest met, then one pass.
function pickLargest(a, m) {
  var heap = new Float64Array(m), size = 0, i, x;
  for (i = 0; i < a.length; i++) {
    x = a[i];
    if (size < m) { heap[size] = x; siftUp(heap, size++); } else if (x > heap[0]) { heap[0] = x; siftDown(heap, m); }
  }
  var least = heap[0], w = 0;
  for (i = 0; i < a.length; i++) {
    if (a[i] >= least) { x = a[w]; a[w++] = a[i]; a[i] = x; }
  }
}

function siftUp(heap, at) {
  var x = heap[at];
  while (at > 0) {
    var up = (at - 1) >> 1;
    if (heap[up] <= x) break;
    heap[at] = heap[up];
    at = up;
  }
  heap[at] = x;
}

function siftDown(heap, size) {
  var x = heap[0], at = 0;
  for (;;) {
    var c = 2 * at + 1;
    if (c >= size) break;
    if (c + 1 < size && heap[c + 1] < heap[c]) c++;
    if (heap[c] >= x) break;
    heap[at] = heap[c];
    at = c;
  }
  heap[at] = x;
}

// "dd-MM-yyyy" as a number that sorts by date, or -1.
function dateKey(date) {
  var m = /^(\d\d)-(\d\d)-(\d{4})$/.exec(date || '');
  return m ? Number(m[3]) * 10000 + Number(m[2]) * 100 + Number(m[1]) : -1;
}

// Documents docs newest first by dateOf(d); equal dates keep their order.
function byDate(dateOf, docs) {
  var keyed = docs.map(function (d, i) { return [dateKey(dateOf(d)), i, d]; });
  keyed.sort(function (a, b) { return b[0] - a[0] || a[1] - b[1]; });
  return keyed.map(function (k) { return k[2]; });
}

return { collect: collect, rank: rank, settled: settled, Order: Order, runNeeds: runNeeds, dateKey: dateKey, byDate: byDate };
});
