// The companion word index, indexed_terms.js: every key of every page (words of every
// script folded by the word rules, characters and pairs of unspaced runs) with its pages
// best first, the groups of words that share a stem, and the share of each page's text
// that stands inside links. It is read only when it was written with the
// indexed_docs.js beside it; each part is checked before use.
define('terms', ['companion'], function (companion) {

var TERMS_FORMAT = 2;

// What the page takes from `terms` for these docs: {state: 'none'} when there is no
// word index, 'format' when another version wrote it, 'stale' when it belongs to
// another indexed_docs.js, 'damaged' when its words are not a word list; else 'ok'
// with words ([[key, page, ...], ...] in key order), groups ([[stem, position, ...],
// ...] in stem order; none when any is damaged) and links (each page's share, 0 to 100,
// of its text inside links).
function termsData(terms, docs) {
  if (!terms || typeof terms !== 'object') return { state: 'none' };
  if (terms.format !== TERMS_FORMAT) return { state: 'format' };
  if (terms.count !== docs.length || terms.check !== companion.documentsCheck(docs)) return { state: 'stale' };
  var words = terms.words, groups = Array.isArray(terms.groups) ? terms.groups : [], i;
  if (!Array.isArray(words)) return { state: 'damaged' };
  for (i = 0; i < words.length; i++) {
    if (!Array.isArray(words[i]) || typeof words[i][0] !== 'string') return { state: 'damaged' };
  }
  for (i = 0; i < groups.length; i++) {
    if (!Array.isArray(groups[i]) || typeof groups[i][0] !== 'string') { groups = []; break; }
  }
  var links = new Uint8Array(docs.length), shares = Array.isArray(terms.links) ? terms.links : [];
  for (i = 0; i < docs.length && i < shares.length; i++) {
    var share = shares[i];
    links[i] = typeof share === 'number' && share > 0 ? Math.min(100, Math.round(share)) : 0;
  }
  return { state: 'ok', words: words, groups: groups, links: links };
}

return { termsData: termsData };
});
