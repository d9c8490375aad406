return {
  tokenize: tokenize,
  forEachWord: forEachWord,
  textBytes: textBytes,
  displayText: displayText,
  decodeEntities: decodeEntities,
  locationHref: locationHref,
  sharedUrlPrefix: sharedUrlPrefix,
  editDistance: editDistance,
  work: work,
  highlightSpans: highlightSpans,
  shortText: shortText,
  shownText: shownText,
  dateKey: dateKey,
  Searcher: Searcher,
  titleWords: titleWords,
  startPage: startPage,
  EXACT: EXACT, PLURAL: PLURAL, PREFIX: PREFIX, INNER: INNER, FUZZY: FUZZY,
  limits: { MAX_WORD_LENGTH: MAX_WORD_LENGTH, MAX_TERMS: MAX_TERMS, FUZZY_CELL_BUDGET: FUZZY_CELL_BUDGET,
    MAX_SHOWN: MAX_SHOWN, MAX_MARKS: MAX_MARKS }
};
});
