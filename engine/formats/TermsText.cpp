// The companion word index as the search page loads it: keys with their pages, the groups
// of keys that share a stem, and how much of each page is links.

#include "TermsText.h"

#include "CompanionData.h"
#include "IndexText.h"
#include "PieceStore.h"
#include "ScriptString.h"
#include "WordIndex.h"
#include "WordRules.h"

#include <boost/sort/spreadsort/integer_sort.hpp>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace TermsText {
namespace {

// For each stem, the positions in keys of the keys that have it, in stem order.
std::vector<std::pair<std::string_view, std::vector<std::uint32_t>>> groupsOf(const WordIndex& keys,
                                                                            const WordTable<char>& stemmedKeys)
{
    // Each key's position plus one, looked up by its bytes (the first of equal keys, as a
    // search in order finds); the word tables' open hashing costs a fraction of a map's nodes.
    WordTable<std::uint32_t> positions;
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (std::uint32_t& position = positions.findOrInsert(keys.word(i)); position == 0)
            position = static_cast<std::uint32_t>(i + 1);
    std::vector<std::pair<std::string_view, std::uint32_t>> stemmed;
    stemmed.reserve(stemmedKeys.size());
    for (const auto& entry : stemmedKeys.entries()) {
        const std::string_view pair = stemmedKeys.wordOf(entry);
        const std::size_t zero = pair.find('\0');
        const std::string_view stem = pair.substr(0, zero), key = pair.substr(zero + 1);
        if (const std::uint32_t* found = positions.find(key))
            stemmed.emplace_back(stem, *found - 1);
    }
    // The pairs come in the stem table's byte order, nearly this one, with the English
    // plural pairs after them: only what is out of order is sorted, then merged in.
    const auto inOrder = [](const auto& a, const auto& b) {
        return a.first != b.first ? WordRules::lessByUtf16(a.first, b.first) : a.second < b.second;
    };
    const auto sortedUntil = std::is_sorted_until(stemmed.begin(), stemmed.end(), inOrder);
    if (sortedUntil != stemmed.end()) {
        std::sort(sortedUntil, stemmed.end(), inOrder);
        std::vector<std::pair<std::string_view, std::uint32_t>> merged;
        merged.reserve(stemmed.size());
        std::merge(stemmed.begin(), sortedUntil, sortedUntil, stemmed.end(), std::back_inserter(merged), inOrder);
        stemmed.swap(merged);
    }
    std::vector<std::pair<std::string_view, std::vector<std::uint32_t>>> groups;
    for (std::size_t i = 0; i < stemmed.size();) {
        std::vector<std::uint32_t> positions;
        std::size_t j = i;
        for (; j < stemmed.size() && stemmed[j].first == stemmed[i].first; ++j)
            if (positions.empty() || positions.back() != stemmed[j].second)
                positions.push_back(stemmed[j].second);
        // A stem that is its one key's own adds nothing the page does not know.
        if (positions.size() >= 2 || keys.word(positions[0]) != stemmed[i].first)
            groups.emplace_back(stemmed[i].first, std::move(positions));
        i = j;
    }
    return groups;
}
// FNV-1a over a key: where shards and vocabulary pieces end.
std::uint32_t keyHash(std::string_view key)
{
    std::uint32_t hash = 2166136261u;
    for (char c : key) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 16777619u;
    }
    return hash;
}

void appendEntry(std::string& text, const WordIndex& keys, std::size_t i)
{
    text += '[';
    appendScriptString(text, keys.word(i));
    for (const std::int32_t* d = keys.documentsBegin(i); d != keys.documentsEnd(i); ++d) {
        text += ',';
        IndexText::appendNumber(text, *d);
    }
    text += ']';
}

const char* const kPieceMark = "/* generator: VantrelIndexer */\n";

// Appends to a shard the titles, file names and summaries of the keys [begin, end), and
// their title and file-name words to those of its vocabulary piece.
void appendPlaces(std::string& shard, PlaceWords::Table::const_iterator begin, PlaceWords::Table::const_iterator end,
                  std::string& titleWords, std::string& nameWords)
{
    auto word = [](std::string& list, std::string_view key, std::size_t pages) {
        list += list.empty() ? "[" : ",[";
        appendScriptString(list, key);
        list += ',';
        IndexText::appendNumber(list, static_cast<std::int64_t>(pages));
        list += ']';
    };
    std::string titles, names, summaries;
    for (auto place = begin; place != end; ++place) {
        const PlaceWords::Entry& entry = place->second;
        if (!entry.titles.empty()) {
            titles += titles.empty() ? "[" : ",\n[";
            appendScriptString(titles, place->first);
            titles += entry.common ? ",1" : ",0";
            for (const auto& titled : entry.titles) {
                titles += ',';
                IndexText::appendNumber(titles, titled.page);
                titles += ',';
                IndexText::appendNumber(titles, titled.size);
            }
            titles += ']';
            word(titleWords, place->first, entry.titles.size());
        }
        if (!entry.names.empty()) {
            names += names.empty() ? "[" : ",\n[";
            appendScriptString(names, place->first);
            for (const auto& named : entry.names) {
                names += ',';
                IndexText::appendNumber(names, named.page);
                names += ',';
                IndexText::appendNumber(names, named.count);
                names += ',';
                IndexText::appendNumber(names, named.words);
            }
            names += ']';
            word(nameWords, place->first, entry.names.size());
        }
        if (!entry.summaries.empty()) {
            summaries += summaries.empty() ? "[" : ",\n[";
            appendScriptString(summaries, place->first);
            for (std::int32_t page : entry.summaries) {
                summaries += ',';
                IndexText::appendNumber(summaries, page);
            }
            summaries += ']';
        }
    }
    shard += ",\n\"titles\":[" + titles + "],\n\"names\":[" + names + "],\n\"summaries\":[" + summaries + ']';
}

// Where a word stands among the near pieces: its first UTF-16 unit and its length in
// UTF-16 units, as the page reads them with charCodeAt(0) and length (units: a buffer).
std::pair<std::uint32_t, std::size_t> nearCell(std::string_view word, std::u16string& units)
{
    WordRules::fromUtf8(word, units);
    return {units.empty() ? 0 : static_cast<std::uint32_t>(units[0]), units.size()};
}

// FNV-1a over units [at, at + length), from 2166136261 XOR length: the hash of a run of
// units as the page computes it.
std::uint32_t runHash(const std::u16string& units, std::size_t at, std::size_t length)
{
    std::uint32_t hash = 2166136261u ^ static_cast<std::uint32_t>(length);
    for (std::size_t k = at; k < at + length; ++k) {
        hash ^= units[k];
        hash *= 16777619u;
    }
    return hash;
}

// The near pieces' words: every key, and the title and file-name words of places.
std::vector<NearWord> nearWordsOf(const WordIndex& keys, const PlaceWords::Table& places)
{
    std::vector<NearWord> words;
    words.reserve(keys.size() + places.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        words.push_back({keys.word(i), static_cast<std::size_t>(keys.documentsEnd(i) - keys.documentsBegin(i))});
    for (const auto& [word, entry] : places) {
        const std::size_t pages = std::max(entry.titles.size(), entry.names.size());
        if (pages > 0)
            words.push_back({word, pages});
    }
    return words;
}
}  // namespace

std::vector<std::pair<std::string, std::string>> composeNear(std::vector<NearWord> words)
{
    struct Placed {
        std::pair<std::uint32_t, std::size_t> cell;
        NearWord near;
    };
    std::vector<Placed> placed;
    placed.reserve(words.size());
    std::u16string units;
    for (const NearWord& word : words)
        placed.push_back({nearCell(word.word, units), word});
    // Equal words side by side, the most pages first: the first of them is kept.
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.cell != b.cell)
            return a.cell < b.cell;
        if (a.near.word != b.near.word)
            return WordRules::lessByUtf16(a.near.word, b.near.word);
        return a.near.pages > b.near.pages;
    });
    placed.erase(std::unique(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) { return a.near.word == b.near.word; }),
                 placed.end());
    std::vector<std::pair<std::string, std::string>> pieces;
    std::string list, counts, first;
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const std::string_view word = placed[i].near.word;
        if (list.empty()) {
            first = word;
        } else {
            list += ',';
            counts += ',';
        }
        appendScriptString(list, word);
        IndexText::appendNumber(counts, static_cast<std::int64_t>(placed[i].near.pages));
        const std::size_t bytes = list.size() + counts.size();
        const bool last = i + 1 == placed.size(), runEnds = last || placed[i + 1].cell != placed[i].cell;
        if (last || bytes >= kNearBytes || (runEnds && bytes >= kNearBytes / 4)
            || (bytes >= kNearBytes / 2 && keyHash(word) % kShardEnd == 0)) {
            pieces.emplace_back(first, kPieceMark + ("vantrelNear({\"words\":[" + list) + "],\n\"counts\":[" + counts + "]});\n");
            list.clear();
            counts.clear();
        }
    }
    return pieces;
}

std::vector<std::string> composeGrams(const std::vector<NearWord>& words)
{
    std::vector<std::uint32_t> hashes;
    std::u16string units;
    for (const NearWord& near : words) {
        WordRules::fromUtf8(near.word, units);
        for (std::size_t i = 1; i + kGramUnits <= units.size(); ++i)
            hashes.push_back(runHash(units, i, kGramUnits));
    }
    boost::sort::spreadsort::integer_sort(hashes.begin(), hashes.end());
    hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
    std::size_t bits = 1024;
    while (bits < 4 * hashes.size() && bits < kMaxGramBits)
        bits *= 2;
    const std::size_t pieceCount = std::max<std::size_t>(1, bits / kGramPieceBits), pieceBits = bits / pieceCount;
    int shift = 32;
    for (std::size_t n = pieceCount; n > 1; n /= 2)
        --shift;
    std::vector<std::string> sets(pieceCount, std::string(pieceBits / 8, '\0'));
    for (std::uint32_t hash : hashes) {
        const std::uint32_t bit = hash & (pieceBits - 1);
        sets[shift >= 32 ? 0 : hash >> shift][bit / 8] |= static_cast<char>(1u << (bit & 7));
    }
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::string> texts;
    for (const std::string& set : sets) {
        std::string text = kPieceMark + std::string("vantrelGrams({\"bits\":");
        IndexText::appendNumber(text, static_cast<std::int64_t>(pieceBits));
        text += ",\"set\":\"";
        // Base64, a last group of one or two bytes padded with '='.
        for (std::size_t i = 0; i < set.size(); i += 3) {
            const std::uint32_t group = static_cast<unsigned char>(set[i]) << 16
                                        | (i + 1 < set.size() ? static_cast<unsigned char>(set[i + 1]) << 8 : 0)
                                        | (i + 2 < set.size() ? static_cast<unsigned char>(set[i + 2]) : 0);
            text += kDigits[group >> 18];
            text += kDigits[(group >> 12) & 63];
            text += i + 1 < set.size() ? kDigits[(group >> 6) & 63] : '=';
            text += i + 2 < set.size() ? kDigits[group & 63] : '=';
        }
        text += "\"});\n";
        texts.push_back(std::move(text));
    }
    return texts;
}

namespace {
std::size_t digitsOf(std::uint64_t n)
{
    std::size_t digits = 1;
    for (; n >= 10; n /= 10)
        ++digits;
    return digits;
}
}  // namespace

std::vector<std::string> composeInWord(std::vector<PieceWord> words, const std::vector<std::size_t>& pieceBytes)
{
    // (hash, piece) pairs, each once: a piece's words share most of their runs, so they
    // are made unique piece by piece before the whole list is.
    std::stable_sort(words.begin(), words.end(), [](const PieceWord& a, const PieceWord& b) { return a.piece < b.piece; });
    std::vector<std::uint64_t> pairs, ofPiece;
    std::u16string units;
    for (std::size_t w = 0; w < words.size();) {
        const std::uint32_t piece = words[w].piece;
        ofPiece.clear();
        for (; w < words.size() && words[w].piece == piece; ++w) {
            WordRules::fromUtf8(words[w].word, units);
            for (std::size_t length = kInWordMinUnits; length <= kInWordMaxUnits; ++length)
                for (std::size_t at = 1; at + length <= units.size(); ++at)
                    ofPiece.push_back(std::uint64_t(runHash(units, at, length)) << 32 | piece);
        }
        boost::sort::spreadsort::integer_sort(ofPiece.begin(), ofPiece.end());
        ofPiece.erase(std::unique(ofPiece.begin(), ofPiece.end()), ofPiece.end());
        pairs.insert(pairs.end(), ofPiece.begin(), ofPiece.end());
    }
    // Millions of pairs on a large site: a radix sort of the integers, several times
    // faster than a comparison sort here.
    boost::sort::spreadsort::integer_sort(pairs.begin(), pairs.end());
    // Each run: where its pairs begin, and whether its pieces hold too much to be read.
    struct Run {
        std::size_t first, end;
        bool many;
    };
    std::vector<Run> runs;
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < pairs.size();) {
        const std::uint64_t hash = pairs[i] >> 32;
        std::size_t j = i, bytes = 0, entry = 14;
        for (; j < pairs.size() && pairs[j] >> 32 == hash; ++j) {
            const std::uint32_t piece = static_cast<std::uint32_t>(pairs[j]);
            bytes += piece < pieceBytes.size() ? pieceBytes[piece] : 0;
            entry += digitsOf(piece) + 1;
        }
        runs.push_back({i, j, bytes > kInWordReadBytes});
        textBytes += runs.back().many ? 11 : entry;
        i = j;
    }
    std::size_t pieceCount = 1;
    int shift = 32;
    while (pieceCount * kInWordBytes < textBytes && pieceCount < kMaxInWordPieces) {
        pieceCount *= 2;
        --shift;
    }
    const std::uint32_t lowMask = shift >= 32 ? 0xffffffffu : (std::uint32_t(1) << shift) - 1;
    std::vector<std::string> listed(pieceCount), many(pieceCount);
    for (const Run& run : runs) {
        const std::uint32_t hash = static_cast<std::uint32_t>(pairs[run.first] >> 32);
        const std::size_t p = shift >= 32 ? 0 : hash >> shift;
        std::string& list = run.many ? many[p] : listed[p];
        if (!list.empty())
            list += run.many ? "," : ",\n";
        if (!run.many)
            list += '[';
        IndexText::appendNumber(list, hash & lowMask);
        if (run.many)
            continue;
        for (std::size_t k = run.first; k < run.end; ++k) {
            list += ',';
            IndexText::appendNumber(list, static_cast<std::uint32_t>(pairs[k]));
        }
        list += ']';
    }
    std::vector<std::string> texts;
    for (std::size_t p = 0; p < pieceCount; ++p)
        texts.push_back(kPieceMark + ("vantrelInWord({\"runs\":[" + listed[p]) + "],\n\"many\":[" + many[p] + "]});\n");
    return texts;
}

namespace {
// What the shards and vocabulary pieces of a job are composed from, and the names they
// are given; a piece whose inputs are those of a piece of the last job takes its file
// as it stands, without a byte of it composed.
struct ShardSet {
    const WordIndex& keys;
    std::vector<std::size_t> starts;  // where each shard begins: positions in keys
    std::vector<std::pair<std::string_view, std::vector<std::uint32_t>>> groups;
    std::vector<std::pair<std::size_t, std::size_t>> groupShards;  // shard, group
    std::vector<std::pair<std::uint32_t, std::string_view>> stemsOfKeys;
    std::vector<std::size_t> firstGroup, firstStem;  // of each shard, and one past the last

    std::size_t end(std::size_t s) const { return s + 1 < starts.size() ? starts[s + 1] : keys.size(); }
    std::uint64_t inputsOf(std::size_t s, const Places* places) const;
    std::string compose(std::size_t s, const PlaceWords::Table* places, std::string& titleWords,
                        std::string& nameWords) const;
    // The places of shard s: those of the keys of its range, indexed or not, from its
    // first key (from the lowest for the first shard) to the next shard's.
    std::pair<PlaceWords::Table::const_iterator, PlaceWords::Table::const_iterator> placeRange(
        std::size_t s, const PlaceWords::Table& places) const
    {
        return {s == 0 ? places.begin() : places.lower_bound(std::string(keys.word(starts[s]))),
                s + 1 == starts.size() ? places.end() : places.lower_bound(std::string(keys.word(starts[s + 1])))};
    }
};

std::uint64_t ShardSet::inputsOf(std::size_t s, const Places* places) const
{
    PieceInputs inputs;
    inputs.text("shard");
    for (std::size_t i = starts[s]; i < end(s); ++i) {
        inputs.text(keys.word(i));
        const std::int32_t* begin = keys.documentsBegin(i);
        const std::size_t count = static_cast<std::size_t>(keys.documentsEnd(i) - begin);
        inputs.text(std::string_view(reinterpret_cast<const char*>(begin), count * sizeof *begin));
    }
    for (std::size_t g = firstGroup[s]; g < firstGroup[s + 1]; ++g) {
        const auto& group = groups[groupShards[g].second];
        inputs.text(group.first);
        inputs.number(static_cast<std::int64_t>(group.second.size()));
        for (std::uint32_t position : group.second)
            inputs.text(keys.word(position));
    }
    for (std::size_t f = firstStem[s]; f < firstStem[s + 1]; ++f) {
        inputs.number(stemsOfKeys[f].first - static_cast<std::int64_t>(starts[s]));
        inputs.text(stemsOfKeys[f].second);
    }
    // The range of keys whose places the shard holds: from its first key (from the
    // lowest for the first shard) to the next shard's.
    inputs.number(s == 0);
    inputs.number(s + 1 == starts.size());
    if (s + 1 < starts.size())
        inputs.text(keys.word(starts[s + 1]));
    inputs.number(places != nullptr);
    if (places)
        inputs.number(static_cast<std::int64_t>(places->inputs));
    return inputs.value();
}

std::string ShardSet::compose(std::size_t s, const PlaceWords::Table* places, std::string& titleWords,
                              std::string& nameWords) const
{
    std::string shard = kPieceMark;
    shard += "vantrelWords({\"words\":[";
    for (std::size_t i = starts[s]; i < end(s); ++i) {
        if (i > starts[s])
            shard += ",\n";
        appendEntry(shard, keys, i);
    }
    shard += "],\n\"groups\":[";
    for (std::size_t g = firstGroup[s]; g < firstGroup[s + 1]; ++g) {
        const auto& group = groups[groupShards[g].second];
        shard += g == firstGroup[s] ? "[" : ",\n[";
        appendScriptString(shard, group.first);
        for (std::uint32_t position : group.second) {
            shard += ',';
            appendScriptString(shard, keys.word(position));
        }
        shard += ']';
    }
    shard += "],\n\"forms\":[";
    for (std::size_t f = firstStem[s]; f < firstStem[s + 1];) {
        const std::uint32_t position = stemsOfKeys[f].first;
        shard += f == firstStem[s] ? "[" : ",\n[";
        appendScriptString(shard, keys.word(position));
        for (; f < firstStem[s + 1] && stemsOfKeys[f].first == position; ++f) {
            shard += ',';
            appendScriptString(shard, stemsOfKeys[f].second);
        }
        shard += ']';
    }
    shard += ']';
    if (places) {
        const auto range = placeRange(s, *places);
        appendPlaces(shard, range.first, range.second, titleWords, nameWords);
    }
    shard += "});\n";
    return shard;
}
}  // namespace

std::string putPieces(const std::vector<DocumentEntry>& documents, const WordIndex& keys,
                      const WordTable<char>& stemmedKeys, const std::vector<int>& linkShares, PieceStore& store,
                      std::string_view documentsField, const Places* places, std::string_view topDocumentsField,
                      std::string* topName)
{
    ShardSet set{keys, {}, groupsOf(keys, stemmedKeys), {}, {}, {}, {}};
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (bytes == 0)
            set.starts.push_back(i);
        bytes += keys.word(i).size() + 4 + 7 * static_cast<std::size_t>(keys.documentsEnd(i) - keys.documentsBegin(i));
        if (bytes >= kShardBytes || (bytes >= kShardBytes / 4 && keyHash(keys.word(i)) % kShardEnd == 0))
            bytes = 0;
    }
    const std::size_t shardCount = set.starts.size();
    auto shardOf = [&](std::string_view key) {
        std::size_t low = 0, high = shardCount;  // the last shard whose first key is not above key
        while (low < high) {
            const std::size_t middle = (low + high) / 2;
            if (WordRules::lessByUtf16(key, keys.word(set.starts[middle])))
                high = middle;
            else
                low = middle + 1;
        }
        return low == 0 ? 0 : low - 1;
    };
    for (std::size_t g = 0; g < set.groups.size(); ++g) {
        set.groupShards.emplace_back(shardOf(set.groups[g].first), g);
        for (std::uint32_t position : set.groups[g].second)
            set.stemsOfKeys.emplace_back(position, set.groups[g].first);
    }
    // By shard, then in stem order; a key's stems in stem order.
    std::sort(set.groupShards.begin(), set.groupShards.end());
    std::sort(set.stemsOfKeys.begin(), set.stemsOfKeys.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : WordRules::lessByUtf16(a.second, b.second);
    });
    for (std::size_t s = 0, g = 0, f = 0; s <= shardCount; ++s) {
        for (; g < set.groupShards.size() && set.groupShards[g].first < s; ++g) {
        }
        for (; f < set.stemsOfKeys.size() && s > 0 && set.stemsOfKeys[f].first < set.end(s - 1); ++f) {
        }
        set.firstGroup.push_back(s == shardCount ? set.groupShards.size() : g);
        set.firstStem.push_back(s == shardCount ? set.stemsOfKeys.size() : f);
    }

    std::string head = kPieceMark;
    std::size_t nearAt = 0, nearEnd = 0;  // where the near pieces' field stands in head
    std::vector<std::string> nearEntries;
    head += "vantrelWordsHead({\"count\":";
    IndexText::appendNumber(head, static_cast<std::int64_t>(documents.size()));
    head += ",\"check\":\"" + documentsCheck(documents) + "\",\"keys\":";
    IndexText::appendNumber(head, static_cast<std::int64_t>(keys.size()));
    const std::size_t shardsAt = head.size();
    head += ",\n\"shards\":[";
    // For a top: the shards' entries in lists of whole vocabulary pieces, and each
    // vocabulary piece with its number of keys.
    std::vector<std::string> listEntries;
    std::string shardLists, topVocabulary;
    std::string vocabularyHeads = "],\n\"vocabulary\":[";
    if (shardCount == 0)
        places = nullptr;  // nowhere to put them: the page ranks by its own tables
    // First each shard's and each vocabulary piece's inputs, and the pieces of the last
    // job taken for them; then the others composed, with the places of their keys only.
    struct Vocabulary {
        std::size_t first = 0, last = 0;  // its shards
        std::string keys, counts;
        std::uint64_t inputs = 0;
        std::string name;
    };
    std::vector<Vocabulary> vocabularies(1);
    std::vector<std::uint64_t> shardInputs(shardCount);
    std::vector<std::string> shardNames(shardCount);
    for (std::size_t s = 0; s < shardCount; ++s) {
        Vocabulary& vocabulary = vocabularies.back();
        for (std::size_t i = set.starts[s]; i < set.end(s); ++i) {
            if (!vocabulary.keys.empty()) {
                vocabulary.keys += ',';
                vocabulary.counts += ',';
            }
            appendScriptString(vocabulary.keys, keys.word(i));
            IndexText::appendNumber(vocabulary.counts, keys.documentsEnd(i) - keys.documentsBegin(i));
        }
        shardInputs[s] = set.inputsOf(s, places);
        shardNames[s] = store.takeMade(shardInputs[s]);
        const std::uint32_t hash = keyHash(keys.word(set.end(s) - 1));
        if (s + 1 < shardCount && (hash >> 8) % kVocabularyEnd != 0 && vocabulary.keys.size() < kVocabularyBytes)
            continue;
        vocabulary.last = s;
        PieceInputs inputs;
        inputs.text("vocabulary");
        inputs.text(vocabulary.keys);
        inputs.text(vocabulary.counts);
        for (std::size_t t = vocabulary.first; t <= s; ++t)
            inputs.number(static_cast<std::int64_t>(shardInputs[t]));
        vocabulary.inputs = inputs.value();
        vocabulary.name = store.takeMade(vocabulary.inputs);
        if (s + 1 < shardCount)
            vocabularies.push_back(Vocabulary{s + 1, s + 1, {}, {}, 0, {}});
    }
    if (shardCount == 0)
        vocabularies.clear();
    // A shard is composed when it was not taken, or when its vocabulary piece was not and
    // needs its title and name words.
    std::vector<bool> composed(shardCount);
    for (const Vocabulary& vocabulary : vocabularies)
        for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t)
            composed[t] = shardNames[t].empty() || (vocabulary.name.empty() && places);
    const PlaceWords::Table* table = nullptr;
    if (places && std::find(composed.begin(), composed.end(), true) != composed.end()) {
        // The keys of the composed shards' ranges: the last shard whose first key is not
        // above a key holds it.
        table = &places->table([&](std::string_view key) { return composed[shardOf(key)]; });
    }
    for (const Vocabulary& vocabulary : vocabularies) {
        std::string titleWords, nameWords;
        for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t) {
            if (!composed[t])
                continue;
            const std::string shard = set.compose(t, table, titleWords, nameWords);
            if (shardNames[t].empty() && (shardNames[t] = store.putMade(shardInputs[t], shard)).empty())
                return {};
        }
        std::string name = vocabulary.name;
        if (name.empty()) {
            std::string piece = kPieceMark + ("vantrelKeys({\"keys\":[" + vocabulary.keys) + "],\n\"counts\":[" + vocabulary.counts + ']';
            if (places)
                piece += ",\n\"titleWords\":[" + titleWords + "],\n\"nameWords\":[" + nameWords + ']';
            piece += "});\n";
            if ((name = store.putMade(vocabulary.inputs, piece)).empty())
                return {};
        }
        for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t) {
            std::string entry = "[";
            appendScriptString(entry, keys.word(set.starts[t]));
            entry += ",\"" + shardNames[t] + "\",";
            IndexText::appendNumber(entry, static_cast<std::int64_t>(set.end(t) - set.starts[t]));
            entry += ']';
            head += t ? ",\n" : "";
            head += entry;
            if (topDocumentsField.empty())
                continue;
            if (listEntries.empty()) {
                shardLists += shardLists.empty() ? "[" : ",\n[";
                appendScriptString(shardLists, keys.word(set.starts[t]));
            }
            listEntries.push_back(std::move(entry));
        }
        vocabularyHeads += vocabularyHeads.back() == '[' ? "[\"" : ",[\"";
        vocabularyHeads += name + "\",";
        IndexText::appendNumber(vocabularyHeads, static_cast<std::int64_t>(vocabulary.last + 1 - vocabulary.first));
        if (!topDocumentsField.empty()) {
            topVocabulary += (topVocabulary.empty() ? "" : ",") + vocabularyHeads.substr(vocabularyHeads.rfind('[')) + ',';
            IndexText::appendNumber(topVocabulary, static_cast<std::int64_t>(set.end(vocabulary.last) - set.starts[vocabulary.first]));
            topVocabulary += ']';
            // A list ends after a vocabulary piece whose last key hashes to 0 modulo 4 (by
            // other bits again) once it holds half the square root of the shards, or at twice
            // that: about as many lists as a list holds entries, ending by their keys.
            const std::size_t root = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(shardCount))));
            const bool ends = (keyHash(keys.word(set.end(vocabulary.last) - 1)) >> 16) % 4 == 0;
            if ((ends && 2 * listEntries.size() >= root) || listEntries.size() >= 2 * root || &vocabulary == &vocabularies.back()) {
                const std::string list = store.putLists(listEntries, listEntries.size());
                if (list.empty())
                    return list;
                shardLists += ',' + list + ',';
                IndexText::appendNumber(shardLists, static_cast<std::int64_t>(listEntries.size()));
                shardLists += ']';
                listEntries.clear();
            }
        }
        vocabularyHeads += ']';
    }
    head += vocabularyHeads + ']';
    const std::size_t vocabularyEnd = head.size();
    if (places) {
        // The near pieces hold every title and file-name word, whichever shards were taken:
        // the table of the composed shards has them all when every shard was composed.
        std::optional<PlaceWords::Table> named;
        if (!table || std::find(composed.begin(), composed.end(), false) != composed.end())
            named = places->titleAndNameWords();
        const PlaceWords::Table& placeWords = named ? *named : *table;
        const std::vector<NearWord> nearWords = nearWordsOf(keys, placeWords);
        // The vocabulary piece of every key, title and file-name word, and each piece's
        // bytes (keys and counts, title and file-name words), as the page reads them.
        std::vector<PieceWord> pieceWords;
        std::vector<std::size_t> pieceBytes;
        pieceWords.reserve(nearWords.size());
        for (std::size_t v = 0; v < vocabularies.size(); ++v) {
            const Vocabulary& vocabulary = vocabularies[v];
            const std::uint32_t piece = static_cast<std::uint32_t>(v);
            pieceBytes.push_back(vocabulary.keys.size() + vocabulary.counts.size());
            for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t) {
                for (std::size_t i = set.starts[t]; i < set.end(t); ++i)
                    pieceWords.push_back({keys.word(i), piece});
                const auto range = set.placeRange(t, placeWords);
                for (auto place = range.first; place != range.second; ++place) {
                    const std::size_t lists = !place->second.titles.empty() + !place->second.names.empty();
                    if (lists == 0)
                        continue;
                    pieceWords.push_back({place->first, piece});
                    pieceBytes.back() += lists * (place->first.size() + 8);
                }
            }
        }
        head += ",\n\"inWord\":[";
        for (const std::string& inWord : composeInWord(std::move(pieceWords), pieceBytes)) {
            const std::string name = store.put(inWord);
            if (name.empty())
                return name;
            head += head.back() == '[' ? "\"" : ",\"";
            head += name + '"';
        }
        head += ']';
        head += ",\n\"grams\":[";
        for (const std::string& grams : composeGrams(nearWords)) {
            const std::string name = store.put(grams);
            if (name.empty())
                return name;
            head += head.back() == '[' ? "\"" : ",\"";
            head += name + '"';
        }
        head += "]";
        nearAt = head.size();
        head += ",\"near\":[";
        for (const auto& [first, text] : composeNear(nearWords)) {
            const std::string name = store.put(text);
            if (name.empty())
                return name;
            std::string entry = "[";
            appendScriptString(entry, first);
            entry += ",\"" + name + "\"]";
            head += nearEntries.empty() ? "" : ",\n";
            head += entry;
            nearEntries.push_back(std::move(entry));
        }
        head += ']';
        nearEnd = head.size();
    }
    head += ",\n\"linkGroup\":";
    IndexText::appendNumber(head, static_cast<std::int64_t>(kLinkGroup));
    head += ",\"links\":[";
    for (std::size_t first = 0; first < documents.size(); first += kLinkGroup) {
        std::string links = kPieceMark;
        links += "vantrelLinks([";
        for (std::size_t d = first; d < documents.size() && d < first + kLinkGroup; ++d) {
            if (d > first)
                links += ',';
            IndexText::appendNumber(links, d < linkShares.size() ? linkShares[d] : 0);
        }
        links += "]);\n";
        const std::string name = store.put(links);
        if (name.empty())
            return name;
        head += first ? ",\"" : "\"";
        head += name + '"';
    }
    head += places ? "],\"places\":1,\n" : "],\n";
    const std::size_t documentsAt = head.size();
    head += documentsField;
    head += "});\n";
    const std::string headName = store.put(head);
    if (headName.empty() || topDocumentsField.empty() || !topName)
        return headName;
    // The top: the head less the lists that grow with the site, the document pieces'
    // names and the near pieces' first words, which it names in list pieces instead.
    if (nearEnd == 0)
        nearAt = nearEnd = documentsAt;
    std::string top = head.substr(0, shardsAt);
    top += ",\n\"shardLists\":[" + shardLists + "],\n\"vocabulary\":[" + topVocabulary + ']';
    top.append(head, vocabularyEnd, nearAt - vocabularyEnd);
    if (nearEnd > nearAt) {
        const std::string lists = store.putLists(nearEntries, kNearListGroup);
        if (lists.empty())
            return lists;
        top += ",\"nearLists\":[" + lists + ']';
    }
    top.append(head, nearEnd, documentsAt - nearEnd);
    top += topDocumentsField;
    top += "});\n";
    *topName = store.put(top);
    return topName->empty() ? std::string() : headName;
}

void compose(const std::vector<DocumentEntry>& documents, const WordIndex& keys, const WordTable<char>& stemmedKeys,
             const std::vector<int>& linkShares, std::string& text)
{
    text = "/* generator: VantrelIndexer */\nvar terms={\"format\":";
    IndexText::appendNumber(text, kFormat);
    text += ",\"count\":";
    IndexText::appendNumber(text, static_cast<std::int64_t>(documents.size()));
    text += ",\"check\":\"" + documentsCheck(documents) + "\",\n\"words\":[";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (i)
            text += ",\n";
        appendEntry(text, keys, i);
    }
    text += "],\n\"groups\":[";
    const auto groups = groupsOf(keys, stemmedKeys);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        text += g ? ",\n[" : "[";
        appendScriptString(text, groups[g].first);
        for (std::uint32_t position : groups[g].second) {
            text += ',';
            IndexText::appendNumber(text, position);
        }
        text += ']';
    }
    text += "],\n\"links\":[";
    for (std::size_t d = 0; d < documents.size(); ++d) {
        if (d)
            text += ',';
        IndexText::appendNumber(text, d < linkShares.size() ? linkShares[d] : 0);
    }
    text += "]};\n";
}

}  // namespace TermsText
