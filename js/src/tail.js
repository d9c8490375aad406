var words = modules.words, wordrules = modules.wordrules, bytes = modules.bytes, links = modules.links, companion = modules.companion;
var shown = modules.shown, matching = modules.matching, nearest = modules.nearest, ranking = modules.ranking;
var titles = modules.titles, excerpts = modules.excerpts, bounds = modules.bounds;
return {
  tokenize: words.tokenize,
  forEachWord: words.forEachWord,
  forEachToken: wordrules.forEachToken,
  queryKeys: wordrules.queryKeys,
  textBytes: bytes.textBytes,
  displayText: bytes.displayText,
  decodeEntities: bytes.decodeEntities,
  locationHref: links.locationHref,
  sharedUrlPrefix: links.sharedUrlPrefix,
  siteBaseOf: links.siteBaseOf,
  fragmentOf: links.fragmentOf,
  textFragment: links.textFragment,
  documentsCheck: companion.documentsCheck,
  companionData: companion.companionData,
  textPlace: companion.textPlace,
  termsData: modules.terms.termsData,
  summaryOf: companion.summaryOf,
  PageText: excerpts.PageText,
  TextStore: modules.texts.TextStore,
  editDistance: nearest.editDistance,
  nearestWords: nearest.nearestWords,
  work: nearest.work,
  highlightSpans: shown.highlightSpans,
  shortText: shown.shortText,
  shownText: shown.shownText,
  dateKey: ranking.dateKey,
  Searcher: modules.searcher.Searcher,
  titleWords: titles.titleWords,
  summaryWords: titles.summaryWords,
  startPage: modules.page.startPage,
  shownDate: modules.view.shownDate,
  EXACT: matching.EXACT, FORM: matching.FORM, PREFIX: matching.PREFIX, INNER: matching.INNER, FUZZY: matching.FUZZY,
  limits: Object.assign({}, bounds, excerpts.limits)
};
});
