#pragma once

#include "IndexTypes.h"
#include "WordTable.h"

#include <string>
#include <vector>

class WordIndex;

// The text of indexed_terms.js, the companion word index:
//
//   /* generator: VantrelIndexer */
//   var terms={"format":2,"count":N,"check":"...",
//   "words":[["key",d,d,...],
//   ["key2",d,...]],
//   "groups":[["stem",i,j,...],
//   ...],
//   "links":[p0,p1,...]};
//
// "count" and "check" tie it to indexed_docs.js as indexed_pages.js is tied; "words" are
// the keys in UTF-16 order, each with its documents best first by the key's score on the
// page (termScore; docs/word-index.md); "groups" the keys that
// share a stem, by their positions in "words", in stem order, for every stem with two
// keys or more or with a key other than itself; "links" the share of each document's
// text that stands inside links, 0 to 100.
namespace TermsText {

constexpr int kFormat = 2;

// keys: ranked in UTF-16 order. stemmedKeys: entries "stem\0key" (keys absent from keys
// are passed over). linkShares: one per document (missing ones are 0).
void compose(const std::vector<DocumentEntry>& documents, const WordIndex& keys, const WordTable<char>& stemmedKeys,
             const std::vector<int>& linkShares, std::string& text);

}  // namespace TermsText
