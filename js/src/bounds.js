// Bounds on what anyone who adds a page to the site, or types a query, can make the
// page do: the work of a search and the size of what is shown stay within them.
define('bounds', [], function () {

return {
  // Real words are far shorter than MAX_WORD_LENGTH: longer query words are cut to it,
  // which still finds the long word by its start, and nearest words are looked for only
  // up to it.
  MAX_WORD_LENGTH: 64,
  // A query is read up to MAX_QUERY_LENGTH characters, and its first MAX_TERMS words.
  MAX_QUERY_LENGTH: 1000,
  MAX_TERMS: 12,
  // The nearest words of one query word cost at most FUZZY_CELL_BUDGET cells of edit
  // distance (a typo takes up to 1.4 million on a synthetic site of 300,000 look-alike
  // words, 60,000 on a documentation site of 20,000 words).
  FUZZY_CELL_BUDGET: 2000000,
  // A title or location is shown up to MAX_SHOWN characters (two lines or so of a wide
  // window), with at most MAX_MARKS words marked.
  MAX_SHOWN: 300,
  MAX_MARKS: 30,
  // Characters of a summary shown, and read for ranking.
  MAX_SUMMARY: 400
};
});
