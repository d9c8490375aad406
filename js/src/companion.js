// Companion data, indexed_pages.js: the pages' real titles and summaries, the way from
// this page to the indexed folder and where each page's text is. It is read only
// when it was written with the indexed_docs.js beside it; each field is checked
// before use, since anyone who can add a page to the site chooses its title and text.
define('companion', ['links', 'shown', 'bounds'], function (links, shown, bounds) {

var MAX_SUMMARY = bounds.MAX_SUMMARY;
var PAGES_FORMAT = 1, STORE_FORMAT = 2;
var TEXT_FOLDER = 'indexed_text/';
var GROUP_NAME = /^[a-z2-7]{13}\.js$/;

// FNV-1a (32 bits) over each location's characters below 0x80, a line feed, the date
// and a line feed, as eight hex digits: the same whatever charset indexed_docs.js was
// read in, as bytes below 0x80 read alike in all of them.
function documentsCheck(docs) {
  var hash = 0x811c9dc5, d, i, c;
  function mix(byte) { hash = Math.imul(hash ^ byte, 0x01000193) >>> 0; }
  for (d = 0; d < docs.length; d++) {
    var location = String(docs[d][2]), date = String(docs[d][3] || '');
    for (i = 0; i < location.length; i++) if ((c = location.charCodeAt(i)) < 0x80) mix(c);
    mix(10);
    for (i = 0; i < date.length; i++) mix(date.charCodeAt(i) & 0xff);
    mix(10);
  }
  return ('0000000' + hash.toString(16)).slice(-8);
}

// What the page takes from `pages` for these docs: {state: 'none'} when there is no
// companion data, 'format' when another version wrote it, 'stale' when it belongs to
// another indexed_docs.js; else 'ok' with titles, summaries, base and texts (where the
// page texts are, see textPlace, or null).
function companionData(pages, docs) {
  if (!pages || typeof pages !== 'object') return { state: 'none' };
  // Data of the store (format 2) that did not hold together counts as another run's.
  if (pages.format === STORE_FORMAT) return { state: 'stale' };
  if (pages.format !== PAGES_FORMAT) return { state: 'format' };
  if (pages.count !== docs.length || pages.check !== documentsCheck(docs)) return { state: 'stale' };
  var groups = pages.groups, places = pages.texts;
  var texts = pages.store === TEXT_FOLDER && Array.isArray(groups) && Array.isArray(places) &&
    groups.every(function (g) { return typeof g === 'string' && GROUP_NAME.test(g); })
    ? { folder: TEXT_FOLDER, groups: groups, places: places } : null;
  return {
    state: 'ok',
    titles: Array.isArray(pages.titles) ? pages.titles : [],
    summaries: Array.isArray(pages.summaries) ? pages.summaries : [],
    base: links.siteBaseOf(pages.base),
    texts: texts
  };
}

// Where the text of document d is: {file: its group's path, at: its place in the
// group}, or null when it has none.
function textPlace(texts, d) {
  if (!texts) return null;
  var g = texts.places[2 * d], at = texts.places[2 * d + 1];
  if (typeof g !== 'number' || typeof at !== 'number' || g < 0 || at < 0 || g % 1 !== 0 || at % 1 !== 0 || g >= texts.groups.length) return null;
  return { file: texts.folder + texts.groups[g], at: at };
}

// The real title of document d, or null.
function realTitle(companion, d) {
  var title = companion && companion.titles[d];
  return typeof title === 'string' && /\S/.test(title) ? shown.shortText(title) : null;
}

// The summary of document d cut to MAX_SUMMARY characters at a word, or ''.
function summaryOf(companion, d) {
  var text = companion && companion.summaries[d];
  if (typeof text !== 'string') return '';
  return text.length <= MAX_SUMMARY ? text : shown.cutAtWord(text, MAX_SUMMARY) + '\u2026';
}

return { documentsCheck: documentsCheck, companionData: companionData, textPlace: textPlace, realTitle: realTitle, summaryOf: summaryOf };
});
