#pragma once

#include "IndexTypes.h"
#include "PlaceWords.h"
#include "WordTable.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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

// A stem of the key at a position of the word index, given beside the entries
// "stem\0key" (the English plural pairs: englishPluralPairs()).
using StemOfKey = std::pair<std::string_view, std::uint32_t>;

// For each stem with two keys or more or with a key other than itself, the positions in
// keys of the keys that have it, in stem order: the "groups" (views of stemmedKeys and
// moreStems).
using StemGroups = std::vector<std::pair<std::string_view, std::vector<std::uint32_t>>>;
StemGroups stemGroupsOf(const WordIndex& keys, const WordTable<char>& stemmedKeys,
                        const std::vector<StemOfKey>& moreStems);

// keys: ranked in UTF-16 order. stemmedKeys: entries "stem\0key" (keys absent from keys
// are passed over), and moreStems. linkShares: one per document (missing ones are 0).
void compose(const std::vector<DocumentEntry>& documents, const WordIndex& keys, const WordTable<char>& stemmedKeys,
             const std::vector<int>& linkShares, std::string& text, const std::vector<StemOfKey>& moreStems = {});

}  // namespace TermsText

class PieceStore;

// The same word index in pieces of the store, for a page that loads only the pieces a
// query needs (docs/store.md): word shards, runs of keys in UTF-16 order of about
// kShardBytes each,
//
//   vantrelWords({"words":[["key",d,d,...],...],     keys and pages as above
//   "groups":[["stem","key","key",...],...],          the groups whose stem falls here
//   "forms":[["key","stem",...],...]});               the stems of this shard's keys
//
// vocabulary pieces, the keys of a run of shards with their numbers of pages,
//
//   vantrelKeys({"keys":["key",...],"counts":[n,...]});
//
// the link shares of the pages, kLinkGroup pages a piece (page d in piece d / kLinkGroup),
// one character a page (appendLinkShare(): about 1 byte a page where the numbers took 2.6),
//
//   vantrelLinks("SHARES");
//
// and a head that names them:
//
//   vantrelWordsHead({"count":N,"check":"...","keys":K,
//   "shards":[["first key","NAME.js",keys],...],"vocabulary":[["NAME.js",shards],...],
//   "linkGroup":kLinkGroup,"links":["NAME.js",...],DOCUMENTS});
//
// DOCUMENTS being what CompanionData::putDocuments() says of the document pieces.
//
// Given places, each shard also holds what ranking reads of titles, file names and
// summaries for the keys of its range (keys of the word index or not), and each
// vocabulary piece the title and file-name words of its shards with their numbers of
// pages, for in-word and nearest words; the head then says "places":1:
//
//   "titles":[["key",common,d,size,d,size,...],...],   PlaceWords::Entry, by key
//   "names":[["key",d,count,words,...],...],
//   "summaries":[["key",d,d,...],...]
//   "titleWords":[["key",pages],...],"nameWords":[["key",pages],...]
//
// For nearest words ("did you mean"), near pieces hold every key, title word and
// file-name word with its number of pages (the largest where it is more than one of
// them), ordered by first UTF-16 unit, then length in UTF-16 units, then UTF-16 order:
//
//   vantrelNear({"words":["word",...],"counts":[n,...]});
//
// A word within a few edits of a query word that shares its first letter lies in a run
// of these pieces (lengths within the edits), which the head names by first word:
//
//   "near":[["first word","NAME.js"],...]
//
// Beside them, a piece that tells the page when no word can hold a query word inside it
// (so its nearest words need not wait for the vocabulary): the runs of kGramUnits UTF-16
// units that stand inside the same words (not at their start), hashed (FNV-1a over the
// units, from 2166136261 XOR kGramUnits) into a set of bits, a power of two of them,
// about four a run (at most kMaxGramBits), in a power of two of pieces of at most
// kGramPieceBits: a run of hash h is in piece h >> (32 - log2 pieces) (0 for one), at
// bit b = h modulo the piece's bits, in byte b / 8 at 1 << b % 8:
//
//   vantrelGrams({"bits":N,"set":"BASE64"});      named in the head: "grams":["NAME.js",...]
//
// In-word pieces tell, for a query part that may stand inside words, which vocabulary
// pieces hold those words, so that the page reads them rather than every one: for each
// run of kInWordMinUnits to kInWordMaxUnits UTF-16 units that stands inside a key, title
// word or file-name word (not at its start), hashed (FNV-1a over the units, from
// 2166136261 XOR the run's length), the vocabulary pieces whose words hold it (by their
// place in the head's "vocabulary", ascending). A run of hash h stands in piece
// h >> (32 - log2 pieces) (0 for one), under the low 32 - log2 pieces bits of h, the
// runs in ascending order; a power of two of pieces, about kInWordBytes each (larger
// where more than kMaxInWordPieces would be needed, so the head stays small):
//
//   vantrelInWord({"runs":[[low,p,p,...],...],"many":[low,...]});
//       named in the head: "inWord":["NAME.js",...]
//
// A run whose vocabulary pieces hold more than kInWordReadBytes together (a run of very
// many words, as "tion") is listed in "many", without them: a part all of whose runs
// are there is looked for in the whole vocabulary. A run that stands inside no word is
// listed nowhere. Two runs of one hash share an entry (which lists more pieces, never
// fewer).
//
// A near piece ends where a run of one first unit and length ends once it holds
// kNearBytes / 4, or after a word that hashes to 0 modulo kShardEnd once it holds half
// of kNearBytes, or once it holds kNearBytes.
//
// A shard ends after a key whose bytes hash to 0 modulo kShardEnd once it holds a
// quarter of kShardBytes, or once it holds kShardBytes (a key of more pages than that
// has a shard of its own); a vocabulary piece ends after a shard whose last key hashes
// to 0 modulo kVocabularyEnd (by other bits), or once it holds kVocabularyBytes. Ends
// depend on the keys alone, so a key added or gone changes the pieces of its run only.
//
// A shard whose last key has more than kBestFrom pages has a best piece beside it: the
// same shard with only the first kBest pages of that key (the best scored), the key's
// number of pages ("count") and the places in its list of the other pages whose title
// or file name holds it or a key of its stem groups ("placed": [step, page, ...], each
// place the step from the one before, from kBest on), and the key's summaries as the
// bits of a set of pages ("summaryBits", base64) where that is shorter than their
// list; named as a fourth field of the shard's entry in the head or its list.
// The page ranks a common word's first screen from it when the pages left out cannot
// reach that screen.
namespace TermsText {

constexpr std::size_t kBest = 1024;
constexpr std::size_t kBestFrom = 4 * kBest;
constexpr std::size_t kMaxBegunPlaces = 16 * kBest;

constexpr std::size_t kShardBytes = 32 * 1024;
constexpr std::uint32_t kShardEnd = 16;
constexpr std::size_t kVocabularyBytes = 96 * 1024;
constexpr std::uint32_t kVocabularyEnd = 4;
constexpr std::size_t kLinkGroup = 4096;
constexpr std::size_t kNearBytes = 16 * 1024;
constexpr std::size_t kGramUnits = 5;
constexpr std::size_t kMaxGramBits = std::size_t(1) << 21;
constexpr std::size_t kGramPieceBits = std::size_t(1) << 16;
constexpr std::size_t kInWordMinUnits = 3;
constexpr std::size_t kInWordMaxUnits = 5;
constexpr std::size_t kInWordBytes = 16 * 1024;
constexpr std::size_t kMaxInWordPieces = 1024;
constexpr std::size_t kInWordReadBytes = 128 * 1024;

// Appends a page's share of text in links (0 to 100; others clamped) as a link piece
// holds it: 0 to 90 as the character of code 35 + share, one code further from the
// backslash (92) on; 91 to 100 as '!' then the character of share - 91. Never a quote,
// a backslash or a control character.
void appendLinkShare(std::string& text, int share);

// A word for the near pieces and its number of pages.
struct NearWord {
    std::string_view word;
    std::size_t pages;
};

// The near pieces of words (in any order; a word given more than once keeps its largest
// number of pages), in the order the head names them: each piece's first word and its
// file's text.
std::vector<std::pair<std::string, std::string>> composeNear(std::vector<NearWord> words);

struct KeptWork;
// The same of two runs of words each in UTF-16 order, words[0, firstRunEnd) and the rest
// (the keys, then the title and file-name words), worked out a group of first UTF-16 units
// at a time: a group whose words, counts and the piece left open before it are those of a
// group the last job kept in work (by their checksum) is taken as it stands, and what is
// taken or worked out goes to kept (inputs and bytes, for KeptWork::keep()). Words out of
// that order, or one whose first character is not well-formed UTF-8, are composed all
// together, nothing kept.
std::vector<std::pair<std::string, std::string>> composeNear(const std::vector<NearWord>& words, std::size_t firstRunEnd,
                                                             const KeptWork* work,
                                                             std::vector<std::pair<std::uint64_t, std::string>>& kept);

// The runs inside words of one vocabulary piece: the hashes of its runs of
// kInWordMinUnits to kInWordMaxUnits units (all) and of kGramUnits units (grams), each
// ascending and listed once.
struct RunsInside {
    std::vector<std::uint32_t> all, grams;
};
RunsInside runsInside(const std::vector<std::string_view>& words);
// Every run inside the words of each piece as a pair (hash << 32 | the piece's place),
// in ascending order: each hash with the pieces that hold it, in order.
std::vector<std::uint64_t> runPairsInOrder(const std::vector<RunsInside>& pieces);
// The in-word pieces (above) of the runs of each vocabulary piece (by its place) and the
// bytes it makes the page read, cut before any text is composed: how many, the inputs of
// each (a checksum of all its text is composed from, PieceInputs), and its text.
class InWordPieces {
public:
    InWordPieces(const std::vector<RunsInside>& pieces, const std::vector<std::size_t>& pieceBytes);
    std::size_t size() const { return m_inputs.size(); }
    std::uint64_t inputsOf(std::size_t piece) const { return m_inputs[piece]; }
    std::string text(std::size_t piece) const;

private:
    // A run: where its pairs begin and end, and whether its pieces hold too much to be read.
    struct Run {
        std::size_t first, end;
        bool many;
    };
    std::vector<std::uint64_t> m_pairs;  // runPairsInOrder()
    std::vector<Run> m_runs;
    std::vector<std::size_t> m_firstRun;  // of each piece, and the end of the last
    std::vector<std::uint64_t> m_inputs;
    std::uint32_t m_lowMask = 0;
};
// The texts of the in-word pieces and of the pieces of runs inside words (above), in
// order, from the runs of each vocabulary piece (by its place) and the bytes it makes
// the page read, and from every run of kGramUnits units (in any order, repeats allowed).
std::vector<std::string> composeInWordOfRuns(const std::vector<RunsInside>& pieces,
                                             const std::vector<std::size_t>& pieceBytes);
std::vector<std::string> composeGramsOfRuns(std::vector<std::uint32_t> hashes);

// Work of the last job that composing takes back instead of doing it again: results
// named by a checksum of everything they were worked out from (PieceInputs), as bytes.
// What a job takes or works out is kept for the next job; nothing else is handed on.
struct KeptWork {
    std::unordered_map<std::uint64_t, std::string_view> earlier;  // the last job's, held by the caller
    std::vector<std::uint64_t> earlierOrder;                       // their inputs, in the order kept
    std::vector<std::pair<std::uint64_t, std::string>> kept;       // this job's

    // Takes the last job's results, as views of done's bytes (which must outlive this).
    template <typename Bytes>
    void takeEarlier(const std::vector<std::pair<std::uint64_t, Bytes>>& done)
    {
        for (const auto& [inputs, bytes] : done)
            if (earlier.emplace(inputs, std::string_view(bytes)).second)
                earlierOrder.push_back(inputs);
    }
    // The bytes the last job kept for inputs, or null.
    const std::string_view* find(std::uint64_t inputs) const;
    void keep(std::uint64_t inputs, std::string bytes);
    // Hands on everything the last job kept, in its order, in place of what this job kept.
    void keepEarlier();
};

// What the shards hold of titles, file names and summaries: a checksum of the pages they
// are cut from (PlaceWords::Page, in document order), and the table, asked for only when
// a shard or vocabulary piece must be composed, with at least the keys wanted keeps.
struct Places {
    std::uint64_t inputs = 0;
    // The table of the keys wanted, with their summaries when asked for (the table is
    // made once, on the first call).
    std::function<const PlaceWords::Table&(const PlaceWords::KeyFilter& wanted, bool summaries)> table;
    // Every title and file-name word (summaries left out), for the near pieces when some
    // shard was taken as it stands.
    std::function<PlaceWords::Table()> titleAndNameWords;
};

// Given topDocumentsField (CompanionData::topDocumentsField(), for a large site), also
// puts a top, the head with topDocumentsField for DOCUMENTS, "shardLists" (below) in
// place of "shards" and, in place of "near",
// "nearLists":[["first word","NAME.js"],...]: the near pieces' [first word, name]
// entries in list pieces of kNearListGroup (PieceStore::putLists()), each named with the
// first word of its first piece; its name goes to *topName. A page
// reads the top instead of the head, and the lists only when it needs them. Given
// topLists, the top's "shardLists" entries go there too (the text inside its brackets),
// for indexed_pages.js, so that the page asks for a query's list of shards beside the top.
constexpr std::size_t kNearListGroup = 128;
// In the top, the shards' entries stand in lists of whole vocabulary pieces, about the
// square root of the shards each: "shardLists":[["first key","NAME.js",shards],...];
// and each vocabulary piece gives its keys, [name, shards, keys].

// Puts the pieces into store; the head's file name, or "" when a piece could not be
// written (the store says why). A shard or vocabulary piece made from the same inputs as
// one the store knows from the last job (PieceStore::madeBefore()) is taken as it stands;
// given work, the runs inside the words of a vocabulary piece whose words are those of
// the last job's are taken from it; pieces whose inputs are all the last job's are taken
// whole, the head (and top) alone written, keysInputs (keysInputsOf() of the keys, stem
// pairs and moreStems given, or 0 to work it out here) among those inputs; groups, when
// given, are stemGroupsOf() the same (worked out here when needed otherwise). Given threads
// above 1, the runs inside words, the in-word, gram and near pieces are worked out on a
// second thread while this one composes the shards (the store is used from this one).
std::string putPieces(const std::vector<DocumentEntry>& documents, const WordIndex& keys,
                      const WordTable<char>& stemmedKeys, const std::vector<int>& linkShares, PieceStore& store,
                      std::string_view documentsField, const Places* places = nullptr, KeptWork* work = nullptr,
                      const std::vector<StemOfKey>& moreStems = {}, std::string_view topDocumentsField = {},
                      std::string* topName = nullptr, unsigned threads = 1, std::uint64_t keysInputs = 0,
                      const StemGroups* groups = nullptr, std::string* topLists = nullptr);
// A checksum of the keys with their pages, the stem pairs and further stems: what the
// word pieces take of them.
std::uint64_t keysInputsOf(const WordIndex& keys, const WordTable<char>& stemmedKeys,
                           const std::vector<StemOfKey>& moreStems);

}  // namespace TermsText
