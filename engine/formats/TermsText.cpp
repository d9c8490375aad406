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
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <numeric>
#include <set>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>

namespace TermsText {

StemGroups stemGroupsOf(const WordIndex& keys, const WordTable<char>& stemmedKeys, const std::vector<StemOfKey>& moreStems)
{
    // Each key's position plus one, looked up by its bytes (the first of equal keys, as a
    // search in order finds); the word tables' open hashing costs a fraction of a map's nodes.
    WordTable<std::uint32_t> positions;
    positions.reserve(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        if (std::uint32_t& position = positions.findOrInsert(keys.word(i)); position == 0)
            position = static_cast<std::uint32_t>(i + 1);
    std::vector<std::pair<std::string_view, std::uint32_t>> stemmed;
    stemmed.reserve(stemmedKeys.size() + moreStems.size());
    for (const auto& entry : stemmedKeys.entries()) {
        const std::string_view pair = stemmedKeys.wordOf(entry);
        const std::size_t zero = pair.find('\0');
        const std::string_view stem = pair.substr(0, zero), key = pair.substr(zero + 1);
        if (const std::uint32_t* found = positions.find(key))
            stemmed.emplace_back(stem, *found - 1);
    }
    stemmed.insert(stemmed.end(), moreStems.begin(), moreStems.end());
    // The pairs come in the stem table's byte order, nearly this one, with the English
    // plural pairs after them: only what is out of order is ordered, then merged in.
    const auto inOrder = [](const auto& a, const auto& b) {
        return a.first != b.first ? WordRules::lessByUtf16(a.first, b.first) : a.second < b.second;
    };
    const auto sortedUntil = std::is_sorted_until(stemmed.begin(), stemmed.end(), inOrder);
    if (sortedUntil != stemmed.end()) {
        // The plural pairs are each key's own, in key order, each followed by its plural
        // stems: apart, two runs in order or nearly, which are sorted (if need be) and
        // merged rather than sorted together.
        const auto ownEnd = std::stable_partition(sortedUntil, stemmed.end(), [&keys](const auto& pair) {
            return pair.first == keys.word(pair.second);
        });
        for (const auto& [from, to] : {std::make_pair(sortedUntil, ownEnd), std::make_pair(ownEnd, stemmed.end())})
            if (!std::is_sorted(from, to, inOrder))
                std::sort(from, to, inOrder);
        std::inplace_merge(sortedUntil, ownEnd, stemmed.end(), inOrder);
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

namespace {
// bytes in base64, a last group of one or two bytes padded with '='.
std::string base64Of(std::string_view bytes)
{
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16
                                    | (i + 1 < bytes.size() ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0)
                                    | (i + 2 < bytes.size() ? static_cast<unsigned char>(bytes[i + 2]) : 0);
        text += kDigits[group >> 18];
        text += kDigits[(group >> 12) & 63];
        text += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
    }
    return text;
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

// Key i's entry: the key and its pages, best first; only its first most pages when most
// is not 0.
void appendEntry(std::string& text, const WordIndex& keys, std::size_t i, std::size_t most = 0)
{
    text += '[';
    appendScriptString(text, keys.word(i));
    // Room made once for the whole list (a comma and at most 11 characters a number),
    // the digits written in place: an entry's pages are most of a shard's bytes.
    const std::int32_t* d = keys.documentsBegin(i);
    const std::int32_t* end = keys.documentsEnd(i);
    if (most > 0 && static_cast<std::size_t>(end - d) > most)
        end = d + most;
    constexpr std::size_t kMostBytes = 12;
    const std::size_t at = text.size();
    text.resize(at + static_cast<std::size_t>(end - d) * kMostBytes + 1);
    char* out = text.data() + at;
    for (; d != end; ++d) {
        *out++ = ',';
        out = std::to_chars(out, out + kMostBytes - 1, *d).ptr;
    }
    *out++ = ']';
    text.resize(static_cast<std::size_t>(out - text.data()));
}

const char* const kPieceMark = "/* generator: VantrelIndexer */\n";

// What a shard holds of titles, file names and summaries (its text from ",\n\"titles\""
// on), and the title and file-name words it adds to its vocabulary piece ("[key,pages]"
// entries joined by commas, "" for none).
struct ShardPlaces {
    std::string shard, titleWords, nameWords;
};

// The places of the keys [begin, end) as a shard holds them.
ShardPlaces placesOf(PlaceWords::Table::const_iterator begin, PlaceWords::Table::const_iterator end)
{
    ShardPlaces part;
    std::string& titleWords = part.titleWords;
    std::string& nameWords = part.nameWords;
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
    part.shard = ",\n\"titles\":[" + titles + "],\n\"names\":[" + names + "],\n\"summaries\":[" + summaries + ']';
    return part;
}

// Adds a shard's title or file-name words (ShardPlaces) to those of its vocabulary piece.
void joinWords(std::string& list, const std::string& words)
{
    if (!words.empty() && !list.empty())
        list += ',';
    list += words;
}

// ShardPlaces as a job keeps them: each text led by its length (64 bits, the machine's
// order). False when the bytes are not three such texts.
std::string placesBytes(const ShardPlaces& part)
{
    std::string bytes;
    for (const std::string* text : {&part.shard, &part.titleWords, &part.nameWords}) {
        const std::uint64_t length = text->size();
        bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
        bytes += *text;
    }
    return bytes;
}

bool readPlaces(std::string_view bytes, ShardPlaces& part)
{
    for (std::string* text : {&part.shard, &part.titleWords, &part.nameWords}) {
        std::uint64_t length = 0;
        if (bytes.size() < sizeof length)
            return false;
        std::memcpy(&length, bytes.data(), sizeof length);
        bytes.remove_prefix(sizeof length);
        if (length > bytes.size())
            return false;
        text->assign(bytes.substr(0, length));
        bytes.remove_prefix(length);
    }
    return bytes.empty();
}

// A title or file-name word: the numbers of pages whose titles and file names hold it.
struct PlaceWord {
    std::string word;
    std::uint32_t titles = 0, names = 0;
};

// The title and file-name words of a table, in its order.
std::vector<PlaceWord> placeWordsOf(const PlaceWords::Table& table)
{
    std::vector<PlaceWord> words;
    for (const auto& [word, entry] : table)
        if (!entry.titles.empty() || !entry.names.empty())
            words.push_back({word, static_cast<std::uint32_t>(entry.titles.size()), static_cast<std::uint32_t>(entry.names.size())});
    return words;
}

// Place words as a job keeps them: for each, its two numbers and its length (32 bits,
// the machine's order) and its bytes. False when the bytes are not such words in
// ascending UTF-16 order.
std::string placeWordsBytes(const std::vector<PlaceWord>& words)
{
    std::string bytes;
    for (const PlaceWord& word : words) {
        const std::uint32_t numbers[3] = {word.titles, word.names, static_cast<std::uint32_t>(word.word.size())};
        bytes.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
        bytes += word.word;
    }
    return bytes;
}

bool readPlaceWords(std::string_view bytes, std::vector<PlaceWord>& words)
{
    words.clear();
    while (!bytes.empty()) {
        std::uint32_t numbers[3];
        if (bytes.size() < sizeof numbers)
            return false;
        std::memcpy(numbers, bytes.data(), sizeof numbers);
        bytes.remove_prefix(sizeof numbers);
        if (numbers[2] > bytes.size())
            return false;
        words.push_back({std::string(bytes.substr(0, numbers[2])), numbers[0], numbers[1]});
        bytes.remove_prefix(numbers[2]);
        if (words.size() > 1 && !WordRules::lessByUtf16(words[words.size() - 2].word, words.back().word))
            return false;
    }
    return true;
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
std::vector<NearWord> nearWordsOf(const WordIndex& keys, const std::vector<PlaceWord>& places)
{
    std::vector<NearWord> words;
    words.reserve(keys.size() + places.size());
    for (std::size_t i = 0; i < keys.size(); ++i)
        words.push_back({keys.word(i), static_cast<std::size_t>(keys.documentsEnd(i) - keys.documentsBegin(i))});
    for (const PlaceWord& place : places)
        words.push_back({place.word, std::max(place.titles, place.names)});
    return words;
}
}  // namespace

namespace {
// A near word with its cell.
struct NearPlaced {
    std::pair<std::uint32_t, std::size_t> cell;
    NearWord near;
};

// Puts near words in the pieces' order, each word once with its most pages.
void orderNear(std::vector<NearPlaced>& placed)
{
    // Equal words side by side, the most pages first: the first of them is kept. The
    // words mostly come in runs already in word order (the keys, then the title and
    // file-name words): the runs are merged, then moved to their cells keeping that
    // order, so that few words are compared as strings.
    const auto byWord = [](const NearPlaced& a, const NearPlaced& b) {
        if (a.near.word != b.near.word)
            return WordRules::lessByUtf16(a.near.word, b.near.word);
        return a.near.pages > b.near.pages;
    };
    const auto firstRunEnd = std::is_sorted_until(placed.begin(), placed.end(), byWord);
    if (std::is_sorted(firstRunEnd, placed.end(), byWord))
        std::inplace_merge(placed.begin(), firstRunEnd, placed.end(), byWord);
    else
        std::sort(placed.begin(), placed.end(), byWord);
    std::stable_sort(placed.begin(), placed.end(), [](const NearPlaced& a, const NearPlaced& b) { return a.cell < b.cell; });
    placed.erase(std::unique(placed.begin(), placed.end(),
                             [](const NearPlaced& a, const NearPlaced& b) { return a.near.word == b.near.word; }),
                 placed.end());
}

// Cuts near words, given in the pieces' order a run of them at a time, into pieces; the
// piece still open waits for the next run.
struct NearCutter {
    std::string first, list, counts;                          // the piece open
    std::vector<std::pair<std::string, std::string>> pieces;  // those ended

    // last: no word comes after these.
    void add(const std::vector<NearPlaced>& placed, bool last)
    {
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
            const bool lastHere = i + 1 == placed.size(), runEnds = lastHere || placed[i + 1].cell != placed[i].cell;
            if ((last && lastHere) || bytes >= kNearBytes || (runEnds && bytes >= kNearBytes / 4)
                || (bytes >= kNearBytes / 2 && keyHash(word) % kShardEnd == 0)) {
                pieces.emplace_back(first, kPieceMark + ("vantrelNear({\"words\":[" + list) + "],\n\"counts\":[" + counts + "]});\n");
                list.clear();
                counts.clear();
            }
        }
    }
    // The pieces ended from the one numbered from on and the piece left open, as a job
    // keeps them.
    std::string bytesSince(std::size_t from) const
    {
        std::string bytes;
        RecordWriter out(bytes);
        out.number<std::uint64_t>(pieces.size() - from);
        for (std::size_t p = from; p < pieces.size(); ++p) {
            out.text(pieces[p].first);
            out.text(pieces[p].second);
        }
        out.text(first);
        out.text(list);
        out.text(counts);
        return bytes;
    }
    // Takes what bytesSince() wrote for a run of at most words words; false (nothing
    // taken) when the bytes are not of that shape.
    bool take(std::string_view bytes, std::size_t words)
    {
        RecordReader in(bytes);
        const std::uint64_t count = in.count(2);
        if (in.failed() || count > words)
            return false;
        std::vector<std::pair<std::string, std::string>> ended(count);
        const std::string start = kPieceMark + std::string("vantrelNear({\"words\":[");
        for (auto& [word, text] : ended) {
            word = in.text();
            text = in.text();
            if (in.failed() || word.empty() || text.compare(0, start.size(), start) != 0)
                return false;
        }
        std::string openFirst = in.text(), openList = in.text(), openCounts = in.text();
        if (in.failed() || !in.atEnd() || openList.size() + openCounts.size() >= kNearBytes
            || openList.empty() != openCounts.empty())
            return false;
        pieces.insert(pieces.end(), std::make_move_iterator(ended.begin()), std::make_move_iterator(ended.end()));
        first = std::move(openFirst);
        list = std::move(openList);
        counts = std::move(openCounts);
        return true;
    }
};

// The first UTF-16 unit of a word, or -1 when the word is empty or does not begin with a
// well-formed UTF-8 character.
std::int64_t firstUnitOf(std::string_view word)
{
    if (word.empty())
        return -1;
    const auto byte = [&](std::size_t k) { return k < word.size() ? static_cast<unsigned char>(word[k]) : 0u; };
    const auto follows = [&](std::size_t k) { return (byte(k) & 0xC0) == 0x80; };
    const unsigned lead = byte(0);
    if (lead < 0x80)
        return lead;
    if (lead >= 0xC2 && lead <= 0xDF && follows(1))
        return (lead & 0x1F) << 6 | (byte(1) & 0x3F);
    if (lead >= 0xE0 && lead <= 0xEF && follows(1) && follows(2)) {
        const std::uint32_t c = (lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
        return c < 0x800 || (c >= 0xD800 && c <= 0xDFFF) ? -1 : std::int64_t(c);
    }
    if (lead >= 0xF0 && lead <= 0xF4 && follows(1) && follows(2) && follows(3)) {
        const std::uint32_t c = (lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
        return c < 0x10000 || c > 0x10FFFF ? -1 : std::int64_t(0xD800 + ((c - 0x10000) >> 10));
    }
    return -1;
}

// The words worked out together for the near pieces: each first unit below U+3000 (the
// alphabets) on its own, those above in blocks of 64, so that a site of ideographs does
// not keep a result for each.
std::uint32_t nearGroupOf(std::uint32_t unit)
{
    return unit < 0x3000 ? unit : unit & ~std::uint32_t(63);
}
}  // namespace

std::vector<std::pair<std::string, std::string>> composeNear(std::vector<NearWord> words)
{
    std::vector<NearPlaced> placed;
    placed.reserve(words.size());
    std::u16string units;
    for (const NearWord& word : words)
        placed.push_back({nearCell(word.word, units), word});
    orderNear(placed);
    NearCutter cutter;
    cutter.add(placed, true);
    return std::move(cutter.pieces);
}

std::vector<std::pair<std::string, std::string>> composeNear(const std::vector<NearWord>& words, std::size_t firstRunEnd,
                                                             const KeptWork* work,
                                                             std::vector<std::pair<std::uint64_t, std::string>>& kept)
{
    // Each word's group; words out of that order, or one whose first unit cannot be told
    // from its first bytes, are composed all together.
    firstRunEnd = std::min(firstRunEnd, words.size());
    std::vector<std::uint32_t> groups(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::int64_t unit = firstUnitOf(words[i].word);
        if (unit < 0)
            return composeNear(words);
        groups[i] = nearGroupOf(static_cast<std::uint32_t>(unit));
        if (i > 0 && i != firstRunEnd && groups[i] < groups[i - 1])
            return composeNear(words);
    }
    NearCutter cutter;
    std::vector<NearPlaced> placed;
    std::u16string units;
    constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    for (std::size_t k = 0, p = firstRunEnd; k < firstRunEnd || p < words.size();) {
        const std::uint32_t group = std::min(k < firstRunEnd ? groups[k] : kNone, p < words.size() ? groups[p] : kNone);
        std::size_t kEnd = k, pEnd = p;
        while (kEnd < firstRunEnd && groups[kEnd] == group)
            ++kEnd;
        while (pEnd < words.size() && groups[pEnd] == group)
            ++pEnd;
        const bool last = kEnd == firstRunEnd && pEnd == words.size();
        // A group's pieces follow from its words and counts, whether it ends the words and
        // the piece left open before it.
        PieceInputs inputs;
        inputs.text("near pieces of a group of first units");
        inputs.number(last);
        inputs.text(cutter.first);
        inputs.text(cutter.list);
        inputs.text(cutter.counts);
        inputs.number(static_cast<std::int64_t>(kEnd - k));
        for (const std::size_t* range : {&k, &p})
            for (std::size_t i = *range; i < (range == &k ? kEnd : pEnd); ++i) {
                inputs.text(words[i].word);
                inputs.number(static_cast<std::int64_t>(words[i].pages));
            }
        const std::uint64_t value = inputs.value();
        const std::string_view* earlier = work ? work->find(value) : nullptr;
        if (earlier && cutter.take(*earlier, kEnd - k + pEnd - p)) {
            kept.emplace_back(value, std::string(*earlier));
        } else {
            const std::size_t from = cutter.pieces.size();
            placed.clear();
            for (const std::size_t* range : {&k, &p})
                for (std::size_t i = *range; i < (range == &k ? kEnd : pEnd); ++i)
                    placed.push_back({nearCell(words[i].word, units), words[i]});
            orderNear(placed);
            cutter.add(placed, last);
            kept.emplace_back(value, cutter.bytesSince(from));
        }
        k = kEnd;
        p = pEnd;
    }
    return std::move(cutter.pieces);
}

std::vector<std::string> composeGramsOfRuns(std::vector<std::uint32_t> hashes)
{
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
    std::vector<std::string> texts;
    for (const std::string& set : sets) {
        std::string text = kPieceMark + std::string("vantrelGrams({\"bits\":");
        IndexText::appendNumber(text, static_cast<std::int64_t>(pieceBits));
        text += ",\"set\":\"" + base64Of(set) + "\"});\n";
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

RunsInside runsInside(const std::vector<std::string_view>& words)
{
    RunsInside runs;
    std::u16string units;
    for (const std::string_view word : words) {
        WordRules::fromUtf8(word, units);
        for (std::size_t length = kInWordMinUnits; length <= kInWordMaxUnits; ++length)
            for (std::size_t at = 1; at + length <= units.size(); ++at) {
                runs.all.push_back(runHash(units, at, length));
                if (length == kGramUnits)
                    runs.grams.push_back(runs.all.back());
            }
    }
    for (std::vector<std::uint32_t>* list : {&runs.all, &runs.grams}) {
        boost::sort::spreadsort::integer_sort(list->begin(), list->end());
        list->erase(std::unique(list->begin(), list->end()), list->end());
    }
    return runs;
}

std::vector<std::uint64_t> runPairsInOrder(const std::vector<RunsInside>& pieces)
{
    // Millions of pairs on a large site, each piece's already in order: they are dealt
    // into buckets by the top bits of their hash, a piece after another, and each bucket
    // (a few dozen pairs) is sorted on its own. That costs well under half a radix sort
    // of them all, which orders again what each piece had ordered.
    constexpr int kMaxPairBucketBits = 16;
    constexpr std::size_t kPairsPerBucket = 16;
    std::size_t count = 0;
    for (const RunsInside& runs : pieces)
        count += runs.all.size();
    int bits = 0;
    while (bits < kMaxPairBucketBits && (count >> bits) > kPairsPerBucket)
        ++bits;
    const int shift = 32 - bits;
    auto bucketOf = [shift](std::uint32_t hash) { return static_cast<std::size_t>(std::uint64_t(hash) >> shift); };
    std::vector<std::size_t> ends((std::size_t(1) << bits) + 1);
    for (const RunsInside& runs : pieces)
        for (const std::uint32_t hash : runs.all)
            ++ends[bucketOf(hash) + 1];
    std::partial_sum(ends.begin(), ends.end(), ends.begin());
    std::vector<std::uint64_t> pairs(count);
    for (std::size_t p = 0; p < pieces.size(); ++p)
        for (const std::uint32_t hash : pieces[p].all)
            pairs[ends[bucketOf(hash)]++] = std::uint64_t(hash) << 32 | p;
    // Bucket b now ends where bucket b + 1 began.
    for (std::size_t b = 0, begin = 0; b + 1 < ends.size(); begin = ends[b++])
        std::sort(pairs.begin() + static_cast<std::ptrdiff_t>(begin), pairs.begin() + static_cast<std::ptrdiff_t>(ends[b]));
    return pairs;
}

InWordPieces::InWordPieces(const std::vector<RunsInside>& pieces, const std::vector<std::size_t>& pieceBytes)
    : m_pairs(runPairsInOrder(pieces))
{
    std::size_t runCount = 0;
    for (std::size_t i = 0; i < m_pairs.size(); ++i)
        runCount += i == 0 || m_pairs[i] >> 32 != m_pairs[i - 1] >> 32;
    m_runs.reserve(runCount);
    std::size_t textBytes = 0;
    for (std::size_t i = 0; i < m_pairs.size();) {
        const std::uint64_t hash = m_pairs[i] >> 32;
        std::size_t j = i, bytes = 0, entry = 14;
        for (; j < m_pairs.size() && m_pairs[j] >> 32 == hash; ++j) {
            const std::uint32_t piece = static_cast<std::uint32_t>(m_pairs[j]);
            bytes += piece < pieceBytes.size() ? pieceBytes[piece] : 0;
            entry += digitsOf(piece) + 1;
        }
        m_runs.push_back({i, j, bytes > kInWordReadBytes});
        textBytes += m_runs.back().many ? 11 : entry;
        i = j;
    }
    std::size_t pieceCount = 1;
    int shift = 32;
    while (pieceCount * kInWordBytes < textBytes && pieceCount < kMaxInWordPieces) {
        pieceCount *= 2;
        --shift;
    }
    m_lowMask = shift >= 32 ? 0xffffffffu : (std::uint32_t(1) << shift) - 1;
    auto pieceOf = [&](const Run& run) -> std::size_t {
        return shift >= 32 ? 0 : static_cast<std::uint32_t>(m_pairs[run.first] >> 32) >> shift;
    };
    // The runs of a piece follow one another, as their hashes ascend.
    std::string flags;
    for (std::size_t r = 0, p = 0; p < pieceCount; ++p) {
        m_firstRun.push_back(r);
        std::size_t end = r;
        while (end < m_runs.size() && pieceOf(m_runs[end]) == p)
            ++end;
        PieceInputs inputs;
        inputs.text("in-word");
        inputs.number(static_cast<std::int64_t>(pieceCount));
        const std::size_t from = r < end ? m_runs[r].first : 0, to = r < end ? m_runs[end - 1].end : 0;
        inputs.text(std::string_view(reinterpret_cast<const char*>(m_pairs.data() + from), (to - from) * sizeof m_pairs[0]));
        flags.clear();
        for (std::size_t k = r; k < end; ++k)
            flags += m_runs[k].many ? '1' : '0';
        inputs.text(flags);
        m_inputs.push_back(inputs.value());
        r = end;
    }
    m_firstRun.push_back(m_runs.size());
}

std::string InWordPieces::text(std::size_t piece) const
{
    std::string listed, many;
    for (std::size_t r = m_firstRun[piece]; r < m_firstRun[piece + 1]; ++r) {
        const Run& run = m_runs[r];
        const std::uint32_t hash = static_cast<std::uint32_t>(m_pairs[run.first] >> 32);
        std::string& list = run.many ? many : listed;
        if (!list.empty())
            list += run.many ? "," : ",\n";
        if (!run.many)
            list += '[';
        IndexText::appendNumber(list, hash & m_lowMask);
        if (run.many)
            continue;
        for (std::size_t k = run.first; k < run.end; ++k) {
            list += ',';
            IndexText::appendNumber(list, static_cast<std::uint32_t>(m_pairs[k]));
        }
        list += ']';
    }
    return kPieceMark + ("vantrelInWord({\"runs\":[" + listed) + "],\n\"many\":[" + many + "]});\n";
}

std::vector<std::string> composeInWordOfRuns(const std::vector<RunsInside>& pieces,
                                             const std::vector<std::size_t>& pieceBytes)
{
    const InWordPieces inWord(pieces, pieceBytes);
    std::vector<std::string> texts;
    for (std::size_t p = 0; p < inWord.size(); ++p)
        texts.push_back(inWord.text(p));
    return texts;
}

namespace {
// The runs inside the words of a vocabulary piece as a job keeps them: the number of
// grams, the grams, then all runs, each a 32-bit number in the machine's order.
std::string runsBytes(const RunsInside& runs)
{
    std::string bytes;
    const auto grams = static_cast<std::uint32_t>(runs.grams.size());
    bytes.append(reinterpret_cast<const char*>(&grams), sizeof grams);
    for (const std::vector<std::uint32_t>* list : {&runs.grams, &runs.all})
        bytes.append(reinterpret_cast<const char*>(list->data()), list->size() * sizeof(std::uint32_t));
    return bytes;
}

// Reads what runsBytes() wrote; false (runs left unfit for use) when the bytes are not
// two ascending lists of that shape.
bool readRuns(std::string_view bytes, RunsInside& runs)
{
    std::uint32_t grams = 0;
    if (bytes.size() < sizeof grams || bytes.size() % sizeof grams != 0)
        return false;
    std::memcpy(&grams, bytes.data(), sizeof grams);
    const std::size_t count = bytes.size() / sizeof grams - 1;
    if (grams > count)
        return false;
    runs.grams.resize(grams);
    runs.all.resize(count - grams);
    // An empty list's data() may be null, which memcpy may not be given even for no bytes.
    if (!runs.grams.empty())
        std::memcpy(runs.grams.data(), bytes.data() + sizeof grams, grams * sizeof grams);
    if (!runs.all.empty())
        std::memcpy(runs.all.data(), bytes.data() + (1 + grams) * sizeof grams, runs.all.size() * sizeof grams);
    const auto ascending = [](const std::vector<std::uint32_t>& list) {
        return std::adjacent_find(list.begin(), list.end(), std::greater_equal<std::uint32_t>()) == list.end();
    };
    return ascending(runs.grams) && ascending(runs.all);
}
}  // namespace

const std::string_view* KeptWork::find(std::uint64_t inputs) const
{
    const auto found = earlier.find(inputs);
    return found == earlier.end() ? nullptr : &found->second;
}

void KeptWork::keep(std::uint64_t inputs, std::string bytes)
{
    kept.emplace_back(inputs, std::move(bytes));
}

void KeptWork::keepEarlier()
{
    kept.clear();
    for (const std::uint64_t inputs : earlierOrder)
        keep(inputs, std::string(earlier.at(inputs)));
}

namespace {
// Pages by number, a bit each: page p in byte p / 8 at 1 << p % 8 (as a job keeps them).
struct PageBits {
    std::vector<unsigned char> bytes;
    bool has(std::size_t page) const { return page / 8 < bytes.size() && (bytes[page / 8] >> (page % 8) & 1u); }
    void add(std::size_t page)
    {
        if (page / 8 >= bytes.size())
            bytes.resize(page / 8 + 1);
        bytes[page / 8] = static_cast<unsigned char>(bytes[page / 8] | (1u << (page % 8)));
    }
    bool empty() const { return bytes.empty(); }
};

// A checksum of spans of memory taken in turn, as of their bytes joined: a span that
// begins where the last ended (the next key's word or pages in the same range of the
// ranked table) is hashed with it in one call.
class SpanChecksum {
public:
    void add(const void* data, std::size_t size)
    {
        if (size == 0)
            return;
        const char* bytes = static_cast<const char*>(data);
        if (m_size > 0 && m_at + m_size == bytes) {
            m_size += size;
            return;
        }
        addHeld();
        m_at = bytes;
        m_size = size;
    }
    std::uint64_t value()
    {
        addHeld();
        return m_sum.value();
    }

private:
    void addHeld()
    {
        if (m_size > 0)
            m_sum.add(std::string_view(m_at, m_size));
        m_size = 0;
    }
    CacheChecksum m_sum;
    const char* m_at = nullptr;
    std::size_t m_size = 0;
};

// What the shards and vocabulary pieces of a job are composed from, and the names they
// are given; a piece whose inputs are those of a piece of the last job takes its file
// as it stands, without a byte of it composed.
struct ShardSet {
    const WordIndex& keys;
    std::vector<std::size_t> starts;  // where each shard begins: positions in keys
    const StemGroups& groups;
    std::vector<std::pair<std::size_t, std::size_t>> groupShards;  // shard, group
    std::vector<std::pair<std::uint32_t, std::string_view>> stemsOfKeys;
    std::vector<std::size_t> firstGroup, firstStem;  // of each shard, and one past the last
    // Checksums of a shard's entries, worked out once for the shard, its best piece and
    // its vocabulary piece: its keys' bytes with their lengths, their numbers of pages,
    // the pages of the keys before its last, its last key's pages, and the first kBest of
    // those (for a shard with a best piece).
    struct EntrySums {
        std::uint64_t words = 0, counts = 0, pages = 0, lastPages = 0, bestPages = 0;
    };
    std::vector<EntrySums> sums;

    std::size_t end(std::size_t s) const { return s + 1 < starts.size() ? starts[s + 1] : keys.size(); }
    EntrySums entrySumsOf(std::size_t s) const;
    // A checksum of all shard s is composed from (its entries by sums[s]).
    std::uint64_t inputsOf(std::size_t s, const Places* places) const;
    // A checksum of all that shard s's best piece is composed from (compose() with
    // kBest), its pages placed given (compose()'s placed and prefixed): the entries of
    // the keys before its last, that key's first kBest pages and its number of pages, the
    // places in its list and pages of those placed past them, its groups and forms and
    // the places of its range. A common key's list changes with almost every page read
    // again, mostly past its first pages: its best piece then stays as it stands.
    std::uint64_t bestInputsOf(std::size_t s, const Places& places, const PageBits& placed, bool prefixed) const;
    // A checksum of all that the places of shard s are cut from: every page's title,
    // file name and summary, and its range.
    std::uint64_t placesInputsOf(std::size_t s, const Places& places) const;
    // Adds shard s's stem groups and its keys' forms to inputs.
    void addGroupsAndForms(std::size_t s, PieceInputs& inputs) const;
    // Shard s's text; with best, only the first best pages of its last key, with that
    // key's number of pages and the places in its list of the pages whose title or file
    // name holds it or a key of its stem groups (placed: those pages, by page).
    std::string compose(std::size_t s, const ShardPlaces* places, std::size_t best = 0,
                        const PageBits& placed = {}, bool prefixed = false) const;
    // The keys that share a stem group with shard s's last key, with that key itself,
    // in key order: the keys whose titled and named pages its best piece places.
    std::vector<std::string_view> groupedWithLast(std::size_t s) const;
    // Shard s's last key and the stems of its groups: a word that begins with one of
    // them is a prefix match of the key.
    std::vector<std::string_view> begunByLast(std::size_t s) const
    {
        const auto last = static_cast<std::uint32_t>(end(s) - 1);
        std::vector<std::string_view> begins{keys.word(last)};
        const auto below = [](const auto& stemOfKey, std::uint32_t position) { return stemOfKey.first < position; };
        for (auto f = std::lower_bound(stemsOfKeys.begin(), stemsOfKeys.end(), last, below); f != stemsOfKeys.end() && f->first == last; ++f)
            begins.push_back(f->second);
        return begins;
    }
    // Whether shard s gets a best piece beside it: its last key (which ended it) has
    // more than kBestFrom pages.
    bool hasBest(std::size_t s) const
    {
        return static_cast<std::size_t>(keys.documentsEnd(end(s) - 1) - keys.documentsBegin(end(s) - 1)) > kBestFrom;
    }
    // The places of shard s: those of the keys of its range, indexed or not, from its
    // first key (from the lowest for the first shard) to the next shard's.
    std::pair<PlaceWords::Table::const_iterator, PlaceWords::Table::const_iterator> placeRange(
        std::size_t s, const PlaceWords::Table& places) const
    {
        return {s == 0 ? places.begin() : places.lower_bound(std::string(keys.word(starts[s]))),
                s + 1 == starts.size() ? places.end() : places.lower_bound(std::string(keys.word(starts[s + 1])))};
    }
    // The same of title and file-name words, in UTF-16 order.
    std::pair<std::vector<PlaceWord>::const_iterator, std::vector<PlaceWord>::const_iterator> placeRange(
        std::size_t s, const std::vector<PlaceWord>& words) const
    {
        const auto below = [](const PlaceWord& word, std::string_view key) { return WordRules::lessByUtf16(word.word, key); };
        return {s == 0 ? words.begin() : std::lower_bound(words.begin(), words.end(), keys.word(starts[s]), below),
                s + 1 == starts.size() ? words.end()
                                       : std::lower_bound(words.begin(), words.end(), keys.word(starts[s + 1]), below)};
    }
};

std::uint64_t ShardSet::placesInputsOf(std::size_t s, const Places& places) const
{
    PieceInputs inputs;
    inputs.text("places of a shard");
    inputs.number(static_cast<std::int64_t>(places.inputs));
    inputs.number(s == 0);
    if (s > 0)
        inputs.text(keys.word(starts[s]));
    inputs.number(s + 1 == starts.size());
    if (s + 1 < starts.size())
        inputs.text(keys.word(starts[s + 1]));
    return inputs.value();
}

void ShardSet::addGroupsAndForms(std::size_t s, PieceInputs& inputs) const
{
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
}

ShardSet::EntrySums ShardSet::entrySumsOf(std::size_t s) const
{
    const std::size_t first = starts[s], last = end(s) - 1, count = last + 1 - first;
    // Each key's length, then each key's number of pages.
    std::vector<std::uint32_t> lengths(2 * count);
    SpanChecksum words, pages;
    for (std::size_t i = first; i <= last; ++i) {
        const std::string_view word = keys.word(i);
        words.add(word.data(), word.size());
        const std::int32_t* begin = keys.documentsBegin(i);
        const auto listed = static_cast<std::size_t>(keys.documentsEnd(i) - begin);
        lengths[i - first] = static_cast<std::uint32_t>(word.size());
        lengths[count + i - first] = static_cast<std::uint32_t>(listed);
        if (i < last)
            pages.add(begin, listed * sizeof *begin);
    }
    EntrySums sums;
    words.add(lengths.data(), count * sizeof(std::uint32_t));
    sums.words = words.value();
    sums.counts = cacheChecksum(std::string_view(reinterpret_cast<const char*>(lengths.data() + count), count * sizeof(std::uint32_t)));
    sums.pages = pages.value();
    const std::int32_t* lastBegin = keys.documentsBegin(last);
    const auto lastCount = static_cast<std::size_t>(keys.documentsEnd(last) - lastBegin);
    sums.lastPages = cacheChecksum(std::string_view(reinterpret_cast<const char*>(lastBegin), lastCount * sizeof *lastBegin));
    if (hasBest(s))
        sums.bestPages = cacheChecksum(
            std::string_view(reinterpret_cast<const char*>(lastBegin), std::min(lastCount, kBest) * sizeof *lastBegin));
    return sums;
}

std::uint64_t ShardSet::bestInputsOf(std::size_t s, const Places& places, const PageBits& placed, bool prefixed) const
{
    PieceInputs inputs;
    inputs.text("best piece of a shard by what it shows, its entries by their checksums");
    inputs.number(static_cast<std::int64_t>(kBest));
    const EntrySums& its = sums[s];
    for (const std::uint64_t sum : {its.words, its.counts, its.pages, its.bestPages})
        inputs.number(static_cast<std::int64_t>(sum));
    // The place in the list and page of each placed page past the first kBest.
    const std::size_t last = end(s) - 1;
    const std::int32_t* pages = keys.documentsBegin(last);
    const std::size_t count = static_cast<std::size_t>(keys.documentsEnd(last) - pages);
    std::vector<std::int64_t> shown;
    for (std::size_t r = kBest; r < count; ++r)
        if (placed.has(static_cast<std::size_t>(pages[r]))) {
            shown.push_back(static_cast<std::int64_t>(r));
            shown.push_back(pages[r]);
        }
    inputs.text(std::string_view(reinterpret_cast<const char*>(shown.data()), shown.size() * sizeof(std::int64_t)));
    inputs.number(prefixed);
    addGroupsAndForms(s, inputs);
    inputs.number(static_cast<std::int64_t>(placesInputsOf(s, places)));
    return inputs.value();
}

std::uint64_t ShardSet::inputsOf(std::size_t s, const Places* places) const
{
    PieceInputs inputs;
    inputs.text("shard, its entries by their checksums");
    const EntrySums& its = sums[s];
    for (const std::uint64_t sum : {its.words, its.counts, its.pages, its.lastPages})
        inputs.number(static_cast<std::int64_t>(sum));
    addGroupsAndForms(s, inputs);
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

// The places of a shard as placesOf() writes them, for its best piece: key's summaries
// as the bits of a set of pages (bits, base64) when that is shorter than their list,
// the key's entry then left without pages (a common key's summaries list a good share
// of the site).
std::string placesOfBest(std::string_view places, std::string_view key, std::string& bits)
{
    std::string lead = "[";
    appendScriptString(lead, key);
    const std::string_view field = ",\n\"summaries\":[";
    std::size_t at = places.rfind(field);
    if (at == std::string_view::npos)
        return std::string(places);
    at += field.size();
    if (places.compare(at, lead.size(), lead) != 0) {
        at = places.find("\n" + lead, at);
        if (at == std::string_view::npos)
            return std::string(places);
        ++at;
    }
    // [key,page,...]: the pages are numbers, so the entry ends at the first ']' past the key.
    const std::size_t pagesAt = at + lead.size(), end = places.find(']', pagesAt);
    if (end == std::string_view::npos)
        return std::string(places);
    std::string set;
    for (std::size_t p = pagesAt; p < end;) {
        const std::size_t next = std::min(places.find(',', p + 1), end);
        std::size_t page = 0;
        if (std::from_chars(places.data() + p + 1, places.data() + next, page).ec == std::errc()) {
            set.resize(std::max(set.size(), page / 8 + 1), '\0');
            set[page / 8] = static_cast<char>(set[page / 8] | (1u << (page & 7)));
        }
        p = next;
    }
    if ((set.size() + 2) / 3 * 4 >= end - pagesAt)
        return std::string(places);
    bits = base64Of(set);
    return std::string(places.substr(0, pagesAt)) + std::string(places.substr(end));
}

// Adds to placed the entries of table of the words that begin with one of begins (a
// key and the stems of its groups: the words a query of the key matches as prefixes),
// when their titled and named pages are at most kMaxBegunPlaces: whether it did. A best
// piece that places them says so, and a page titled or named by such a word and not
// placed is then known to be out of its key's list.
bool placeBegun(const PlaceWords::Table& table, const std::vector<std::string_view>& begins,
                std::vector<const PlaceWords::Entry*>& placed)
{
    std::vector<const PlaceWords::Entry*> begun;
    std::size_t pages = 0;
    for (std::string_view prefix : begins) {
        for (auto it = table.lower_bound(std::string(prefix));
             it != table.end() && std::string_view(it->first).substr(0, prefix.size()) == prefix; ++it) {
            pages += it->second.titles.size() + it->second.names.size();
            if (pages > kMaxBegunPlaces)
                return false;
            begun.push_back(&it->second);
        }
    }
    placed.insert(placed.end(), begun.begin(), begun.end());
    return true;
}

// The inputs of the best piece of the shard of inputs shardInputs, whose last key shares
// a stem group with the keys grouped (the titles and names are in shardInputs).
std::uint64_t bestInputs(std::uint64_t shardInputs, const std::vector<std::string_view>& grouped)
{
    PieceInputs inputs;
    inputs.text("best of a shard, its stem groups and the words it begins placed by steps, its key's summaries in bits");
    inputs.number(static_cast<std::int64_t>(shardInputs));
    inputs.number(static_cast<std::int64_t>(kBest));
    inputs.number(static_cast<std::int64_t>(grouped.size()));
    for (std::string_view key : grouped)
        inputs.text(key);
    return inputs.value();
}

// The inputs of the pages a best piece places: every page's title and file name (in
// the places' inputs), the keys grouped with its last key and what the words it places
// as prefix matches begin with. An edit that leaves the titles and names as they were
// finds them kept, and cuts no title for them.
std::uint64_t placedInputs(std::uint64_t placesInputs, const std::vector<std::string_view>& grouped,
                           const std::vector<std::string_view>& begins)
{
    PieceInputs inputs;
    inputs.text("pages placed by a best piece, with the words it begins, as bits and whether those were placed");
    inputs.number(static_cast<std::int64_t>(placesInputs));
    inputs.number(static_cast<std::int64_t>(kMaxBegunPlaces));
    inputs.number(static_cast<std::int64_t>(grouped.size()));
    for (std::string_view key : grouped)
        inputs.text(key);
    inputs.number(static_cast<std::int64_t>(begins.size()));
    for (std::string_view prefix : begins)
        inputs.text(prefix);
    return inputs.value();
}

// The pages whose title or file name holds a key of entries.
PageBits placedPagesOf(const std::vector<const PlaceWords::Entry*>& entries)
{
    PageBits placed;
    auto place = [&placed](std::int32_t page) {
        if (page >= 0)
            placed.add(static_cast<std::size_t>(page));
    };
    for (const PlaceWords::Entry* entry : entries) {
        for (const auto& titled : entry->titles)
            place(titled.page);
        for (const auto& named : entry->names)
            place(named.page);
    }
    return placed;
}

// Placed pages as a job keeps them: a bit for each of the site's pages, as PageBits holds
// them, then a byte that says whether the words the piece's key begins were placed (1)
// or not (0).
std::string placedBytes(const PageBits& placed, std::size_t pageCount, bool prefixed)
{
    std::string bytes(std::max(placed.bytes.size(), (pageCount + 7) / 8), '\0');
    if (!placed.bytes.empty())
        std::memcpy(bytes.data(), placed.bytes.data(), placed.bytes.size());
    bytes += prefixed ? '\1' : '\0';
    return bytes;
}

// Whether bytes kept are placed pages of pageCount pages: a bit for each, none past the
// last, and a last byte of 0 or 1. Given placed and prefixed, they are read into them.
bool readPlaced(std::string_view bytes, std::size_t pageCount, PageBits* placed = nullptr, bool* prefixed = nullptr)
{
    if (bytes.size() != (pageCount + 7) / 8 + 1 || static_cast<unsigned char>(bytes.back()) > 1)
        return false;
    const bool begunPlaced = bytes.back() == 1;
    bytes.remove_suffix(1);
    if (pageCount % 8 && !bytes.empty() && static_cast<unsigned char>(bytes.back()) >> (pageCount % 8))
        return false;
    if (!placed)
        return true;
    if (prefixed)
        *prefixed = begunPlaced;
    placed->bytes.assign(bytes.begin(), bytes.end());
    return true;
}

std::vector<std::string_view> ShardSet::groupedWithLast(std::size_t s) const
{
    const auto last = static_cast<std::uint32_t>(end(s) - 1);
    std::vector<std::string_view> grouped{keys.word(last)};
    const auto below = [](const auto& stemOfKey, std::uint32_t position) { return stemOfKey.first < position; };
    for (auto f = std::lower_bound(stemsOfKeys.begin(), stemsOfKeys.end(), last, below);
         f != stemsOfKeys.end() && f->first == last; ++f) {
        // The groups are in stem order.
        const auto group = std::lower_bound(groups.begin(), groups.end(), f->second, [](const auto& g, std::string_view stem) {
            return WordRules::lessByUtf16(g.first, stem);
        });
        if (group != groups.end() && group->first == f->second)
            for (std::uint32_t position : group->second)
                grouped.push_back(keys.word(position));
    }
    std::sort(grouped.begin(), grouped.end(), WordRules::lessByUtf16);
    grouped.erase(std::unique(grouped.begin(), grouped.end()), grouped.end());
    return grouped;
}

std::string ShardSet::compose(std::size_t s, const ShardPlaces* places, std::size_t best,
                              const PageBits& placed, bool prefixed) const
{
    std::string shard = kPieceMark;
    shard.reserve(2 * kShardBytes);
    shard += "vantrelWords({\"words\":[";
    for (std::size_t i = starts[s]; i < end(s); ++i) {
        if (i > starts[s])
            shard += ",\n";
        appendEntry(shard, keys, i, i + 1 == end(s) ? best : 0);
    }
    shard += ']';
    if (best > 0) {
        const std::int32_t* pages = keys.documentsBegin(end(s) - 1);
        const std::size_t count = static_cast<std::size_t>(keys.documentsEnd(end(s) - 1) - pages);
        shard += ",\n\"count\":";
        IndexText::appendNumber(shard, static_cast<std::int64_t>(count));
        // [place, page] of each titled or named page past the first best, in list order.
        shard += ",\n\"placed\":[";
        std::size_t place = best;
        for (std::size_t r = best; r < count && !placed.empty(); ++r) {
            if (!placed.has(static_cast<std::size_t>(pages[r])))
                continue;
            if (place > best)
                shard += ',';
            IndexText::appendNumber(shard, static_cast<std::int64_t>(r + 1 - place));
            place = r + 1;
            shard += ',';
            IndexText::appendNumber(shard, pages[r]);
        }
        shard += ']';
        if (prefixed)
            shard += ",\n\"prefixed\":1";
    }
    shard += ",\n\"groups\":[";
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
    if (places && best > 0) {
        std::string bits;
        shard += placesOfBest(places->shard, keys.word(static_cast<std::uint32_t>(end(s) - 1)), bits);
        if (!bits.empty())
            shard += ",\n\"summaryBits\":\"" + bits + '"';
    } else if (places) {
        shard += places->shard;
    }
    shard += "});\n";
    return shard;
}
}  // namespace

namespace {
// A checksum of all the word pieces are composed from but the documents' own fields: the
// keys' (keysInputsOf()), the link shares, the places' inputs and the number of
// documents, and whether a top is made. Two jobs of the same have the same pieces, their
// heads differing only in "check" and the documents' field.
std::uint64_t wholeInputsOf(std::size_t documents, std::uint64_t keysInputs, const std::vector<int>& linkShares,
                            const Places* places, bool top)
{
    PieceInputs inputs;
    inputs.text("word pieces, link shares as characters");
    inputs.number(static_cast<std::int64_t>(documents));
    inputs.number(top);
    inputs.number(places != nullptr);
    if (places)
        inputs.number(static_cast<std::int64_t>(places->inputs));
    inputs.number(static_cast<std::int64_t>(keysInputs));
    inputs.text(std::string_view(reinterpret_cast<const char*>(linkShares.data()), linkShares.size() * sizeof(int)));
    return inputs.value();
}
}  // namespace

void appendLinkShare(std::string& text, int share)
{
    constexpr int kOneCharacter = 91;
    const auto characterOf = [](int value) { return static_cast<char>(value + 35 >= '\\' ? value + 36 : value + 35); };
    share = std::clamp(share, 0, 100);
    if (share >= kOneCharacter) {
        text += '!';
        share -= kOneCharacter;
    }
    text += characterOf(share);
}

std::uint64_t keysInputsOf(const WordIndex& keys, const WordTable<char>& stemmedKeys,
                           const std::vector<StemOfKey>& moreStems)
{
    PieceInputs inputs;
    inputs.text("keys");
    inputs.number(static_cast<std::int64_t>(keys.size()));
    for (std::size_t i = 0; i < keys.size(); ++i) {
        inputs.text(keys.word(i));
        const std::int32_t* begin = keys.documentsBegin(i);
        inputs.text(std::string_view(reinterpret_cast<const char*>(begin),
                                     static_cast<std::size_t>(keys.documentsEnd(i) - begin) * sizeof *begin));
    }
    inputs.number(static_cast<std::int64_t>(stemmedKeys.size()));
    for (const auto& entry : stemmedKeys.entries())
        inputs.text(stemmedKeys.wordOf(entry));
    inputs.number(static_cast<std::int64_t>(moreStems.size()));
    for (const auto& [stem, position] : moreStems) {
        inputs.text(stem);
        inputs.number(position);
    }
    return inputs.value();
}

namespace {

// The entries of the lists of shards that a top names: the text inside its
// "shardLists":[...] ("" when it names none). A key is a script string, which holds no
// line break, so the first "],\n\"vocabulary\":[" after them ends them.
std::string shardListsIn(std::string_view top)
{
    constexpr std::string_view begin = "\n\"shardLists\":[", end = "],\n\"vocabulary\":[";
    const std::size_t from = top.find(begin);
    const std::size_t to = from == std::string_view::npos ? from : top.find(end, from + begin.size());
    return to == std::string_view::npos ? std::string() : std::string(top.substr(from + begin.size(), to - from - begin.size()));
}

// What a job keeps of its word pieces for a job of the same inputs: the head's text from
// after its "check" to its documents' field, the same of the top ("" for none), the
// inputs of the pieces it made (PieceStore::takeMade()) and the names and stamps of the
// others it named (PieceStore::reuse()).
struct WholePieces {
    std::string headMiddle, topMiddle;
    std::vector<std::uint64_t> made;
    std::vector<std::pair<std::string, std::string>> named;
};

std::string wholeBytes(const WholePieces& whole)
{
    std::string bytes;
    RecordWriter out(bytes);
    out.text(whole.headMiddle);
    out.text(whole.topMiddle);
    out.number<std::uint64_t>(whole.made.size());
    for (const std::uint64_t inputs : whole.made)
        out.number(inputs);
    out.number<std::uint64_t>(whole.named.size());
    for (const auto& [name, stamp] : whole.named) {
        out.text(name);
        out.text(stamp);
    }
    return bytes;
}

bool readWhole(std::string_view bytes, WholePieces& whole)
{
    RecordReader in(bytes);
    whole.headMiddle = in.text();
    whole.topMiddle = in.text();
    whole.made.resize(in.count(sizeof(std::uint64_t)));
    for (std::uint64_t& inputs : whole.made)
        inputs = in.number<std::uint64_t>();
    whole.named.resize(in.count(2));
    for (auto& [name, stamp] : whole.named) {
        name = in.text();
        stamp = in.text();
    }
    return !in.failed() && in.atEnd();
}

// What the pieces of runs inside words and the near pieces are worked out from beside the
// shards: the work kept on the runs of each vocabulary piece (KeptWork, in order), the
// in-word pieces with the texts of those no earlier job made, and the texts of the gram
// and near pieces.
struct WordsBeside {
    std::vector<std::pair<std::uint64_t, std::string>> runsKept;
    std::unique_ptr<InWordPieces> inWord;
    std::vector<std::string> inWordTexts;  // "" where not composed
    std::vector<std::string> grams;
    std::vector<std::pair<std::string, std::string>> near;
    std::vector<std::pair<std::uint64_t, std::string>> nearKept;  // KeptWork, in order
};

// The head's (and top's) text up to the end of its "check".
std::string headStart(const std::vector<DocumentEntry>& documents)
{
    std::string head = kPieceMark;
    head += "vantrelWordsHead({\"count\":";
    IndexText::appendNumber(head, static_cast<std::int64_t>(documents.size()));
    head += ",\"check\":\"" + documentsCheck(documents) + '"';
    return head;
}
}  // namespace

std::string putPieces(const std::vector<DocumentEntry>& documents, const WordIndex& keys,
                      const WordTable<char>& stemmedKeys, const std::vector<int>& linkShares, PieceStore& store,
                      std::string_view documentsField, const Places* places, KeptWork* work,
                      const std::vector<StemOfKey>& moreStems, std::string_view topDocumentsField,
                      std::string* topName, unsigned threads, std::uint64_t keysInputs, const StemGroups* groups,
                      std::string* topLists)
{
    // Pieces composed from what the last job's were (a page's date moved, a page touched
    // across days) are taken whole, by their names and stamps, while every one of them
    // still has its stamp: only the head (and top) are written, for their documents.
    const std::uint64_t wholeInputs =
        work ? wholeInputsOf(documents.size(), keysInputs ? keysInputs : keysInputsOf(keys, stemmedKeys, moreStems),
                             linkShares, places, !topDocumentsField.empty() && topName)
             : 0;
    if (const std::string_view* earlier = work ? work->find(wholeInputs) : nullptr) {
        WholePieces whole;
        bool taken = readWhole(*earlier, whole);
        for (std::size_t k = 0; taken && k < whole.made.size(); ++k)
            taken = !store.takeMade(whole.made[k]).empty();
        for (std::size_t k = 0; taken && k < whole.named.size(); ++k)
            taken = store.reuse(whole.named[k].first, whole.named[k].second);
        if (taken) {
            // Everything the last job kept is what this one would work out again.
            work->keepEarlier();
            const std::string start = headStart(documents);
            const std::string headName = store.put(start + whole.headMiddle + std::string(documentsField) + "});\n");
            if (headName.empty() || whole.topMiddle.empty())
                return headName;
            *topName = store.put(start + whole.topMiddle + std::string(topDocumentsField) + "});\n");
            if (topLists)
                *topLists = shardListsIn(whole.topMiddle);
            return topName->empty() ? std::string() : headName;
        }
        // Pieces already taken are named twice by what follows, which changes nothing.
    }
    StemGroups groupsHere;
    if (!groups)
        groupsHere = stemGroupsOf(keys, stemmedKeys, moreStems);
    ShardSet set{keys, {}, groups ? *groups : groupsHere, {}, {}, {}, {}, {}};
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

    std::string head = headStart(documents);
    const std::size_t checkEnd = head.size();
    std::size_t nearAt = 0, nearEnd = 0;  // where the near pieces' field stands in head
    std::vector<std::string> nearEntries;
    head += ",\"keys\":";
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
        std::size_t keysBytes = 0, countsBytes = 0;  // of its lists of keys and of counts
        std::uint64_t inputs = 0;
        std::string name;
    };
    // A vocabulary piece's lists of keys and of counts, written only for one composed.
    const auto listsOf = [&](const Vocabulary& vocabulary, std::string& keysList, std::string& countsList) {
        keysList.reserve(vocabulary.keysBytes);
        countsList.reserve(vocabulary.countsBytes);
        for (std::size_t i = set.starts[vocabulary.first]; i < set.end(vocabulary.last); ++i) {
            if (!keysList.empty()) {
                keysList += ',';
                countsList += ',';
            }
            appendScriptString(keysList, keys.word(i));
            IndexText::appendNumber(countsList, keys.documentsEnd(i) - keys.documentsBegin(i));
        }
    };
    std::vector<Vocabulary> vocabularies(1);
    std::vector<std::uint64_t> shardInputs(shardCount);
    std::vector<std::string> shardNames(shardCount), bestNames(shardCount);
    std::vector<std::vector<std::string_view>> bestGrouped(shardCount);
    set.sums.resize(shardCount);
    for (std::size_t s = 0; s < shardCount; ++s) {
        Vocabulary& vocabulary = vocabularies.back();
        // Its lists' bytes are counted, not written: the piece is nearly always taken.
        for (std::size_t i = set.starts[s]; i < set.end(s); ++i) {
            const bool comma = i > set.starts[vocabulary.first];
            vocabulary.keysBytes += comma + scriptStringLength(keys.word(i));
            vocabulary.countsBytes += comma + digitsOf(static_cast<std::uint64_t>(keys.documentsEnd(i) - keys.documentsBegin(i)));
        }
        set.sums[s] = set.entrySumsOf(s);
        shardInputs[s] = set.inputsOf(s, places);
        shardNames[s] = store.takeMade(shardInputs[s]);
        if (set.hasBest(s))
            bestGrouped[s] = set.groupedWithLast(s);
        const std::uint32_t hash = keyHash(keys.word(set.end(s) - 1));
        if (s + 1 < shardCount && (hash >> 8) % kVocabularyEnd != 0 && vocabulary.keysBytes < kVocabularyBytes)
            continue;
        vocabulary.last = s;
        // Its keys and counts, and the title and file-name words of its shards' places:
        // a shard whose pages changed leaves it as it stands.
        PieceInputs inputs;
        inputs.text("vocabulary of keys and counts by its shards' checksums, and the places of its shards");
        for (std::size_t t = vocabulary.first; t <= s; ++t) {
            inputs.number(static_cast<std::int64_t>(set.sums[t].words));
            inputs.number(static_cast<std::int64_t>(set.sums[t].counts));
        }
        inputs.number(places != nullptr);
        for (std::size_t t = vocabulary.first; t <= s && places; ++t)
            inputs.number(static_cast<std::int64_t>(set.placesInputsOf(t, *places)));
        vocabulary.inputs = inputs.value();
        vocabulary.name = store.takeMade(vocabulary.inputs);
        if (s + 1 < shardCount)
            vocabularies.push_back(Vocabulary{s + 1, s + 1, 0, 0, 0, {}});
    }
    if (shardCount == 0)
        vocabularies.clear();
    // Every best piece places the titled and named pages of its last key's stem groups,
    // and of the words its key or a stem of its groups begins where those are few (then
    // it is prefixed). Those the last job kept for the same titles, names and keys are
    // handed on, whether the piece is composed or taken as it stands, so that an edit
    // that changes a common key's list finds them; the others are read from the table,
    // which is made only when a best piece composed or a shard cut needs it, and then
    // serves every best piece. A best piece whose pages placed are kept is named by what
    // it shows (ShardSet::bestInputsOf()), else by its shard's inputs.
    struct Placed {
        std::vector<std::string_view> begins;  // what the words placed as prefix matches begin with
        std::uint64_t inputs = 0;
        bool found = false;  // kept by the last job
        PageBits pages;
        bool prefixed = false;
    };
    std::vector<Placed> placed(places ? shardCount : 0);
    std::vector<std::uint64_t> bestMade(shardCount);
    for (std::size_t t = 0; t < shardCount; ++t) {
        if (!set.hasBest(t))
            continue;
        if (places) {
            Placed& its = placed[t];
            its.begins = set.begunByLast(t);
            its.inputs = placedInputs(places->inputs, bestGrouped[t], its.begins);
            const std::string_view* earlier = work ? work->find(its.inputs) : nullptr;
            its.found = earlier && readPlaced(*earlier, documents.size(), &its.pages, &its.prefixed);
            if (its.found)
                work->keep(its.inputs, std::string(*earlier));
        }
        bestMade[t] = places && placed[t].found ? set.bestInputsOf(t, *places, placed[t].pages, placed[t].prefixed)
                                                : bestInputs(shardInputs[t], bestGrouped[t]);
        bestNames[t] = store.takeMade(bestMade[t]);
    }
    // A shard is composed when it was not taken, or when its vocabulary piece was not and
    // needs its title and name words.
    std::vector<bool> composed(shardCount);
    for (const Vocabulary& vocabulary : vocabularies)
        for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t)
            composed[t] = shardNames[t].empty() || (set.hasBest(t) && bestNames[t].empty()) || (vocabulary.name.empty() && places);
    // The places of each composed shard: those the last job kept for the same pages and
    // range, else cut from a table of the keys of the shards that need it (the last
    // shard whose first key is not above a key holds it). Those of a shard taken as it
    // stands are handed on as the last job kept them.
    std::vector<ShardPlaces> shardPlaces(places ? shardCount : 0);
    std::vector<bool> cut(shardPlaces.size());
    for (std::size_t t = 0; t < shardPlaces.size(); ++t) {
        const std::uint64_t inputs = set.placesInputsOf(t, *places);
        const std::string_view* earlier = work ? work->find(inputs) : nullptr;
        if (earlier && readPlaces(*earlier, shardPlaces[t]))
            work->keep(inputs, std::string(*earlier));
        else
            cut[t] = composed[t];
    }
    // The keys whose entries of the table the others need, and what the words begin with
    // whose entries they need too.
    std::vector<std::string_view> placedKeys, beginners;
    bool placedWanted = false;
    for (std::size_t t = 0; t < shardPlaces.size(); ++t) {
        if (!set.hasBest(t))
            continue;
        const Placed& its = placed[t];
        if (its.found)
            continue;
        placedKeys.insert(placedKeys.end(), bestGrouped[t].begin(), bestGrouped[t].end());
        beginners.insert(beginners.end(), its.begins.begin(), its.begins.end());
        placedWanted = placedWanted || bestNames[t].empty();
    }
    std::sort(placedKeys.begin(), placedKeys.end());
    std::sort(beginners.begin(), beginners.end());
    const auto begunByBest = [&](std::string_view key) {
        for (std::size_t length = 1; length <= key.size() && !beginners.empty(); ++length)
            if (std::binary_search(beginners.begin(), beginners.end(), key.substr(0, length)))
                return true;
        return false;
    };
    // Best pieces alone read no summaries, and no key is looked for among the shards then;
    // after a typical edit, whose shards' places and best pieces' pages are the last
    // job's, no table is made.
    const PlaceWords::Table* table = nullptr;
    const bool anyCut = std::find(cut.begin(), cut.end(), true) != cut.end();
    if (anyCut || placedWanted) {
        table = &places->table([&](std::string_view key) {
            return (anyCut && cut[shardOf(key)]) || std::binary_search(placedKeys.begin(), placedKeys.end(), key) || begunByBest(key);
        }, anyCut);
        for (std::size_t t = 0; t < shardPlaces.size(); ++t) {
            if (!cut[t])
                continue;
            const auto range = set.placeRange(t, *table);
            shardPlaces[t] = placesOf(range.first, range.second);
            if (work)
                work->keep(set.placesInputsOf(t, *places), placesBytes(shardPlaces[t]));
        }
        for (std::size_t t = 0; t < shardPlaces.size(); ++t) {
            Placed& its = placed[t];
            if (!set.hasBest(t) || its.found)
                continue;
            std::vector<const PlaceWords::Entry*> entries;
            for (std::string_view key : bestGrouped[t])
                if (const auto found = table->find(std::string(key)); found != table->end())
                    entries.push_back(&found->second);
            its.prefixed = placeBegun(*table, its.begins, entries);
            its.pages = placedPagesOf(entries);
            if (work)
                work->keep(its.inputs, placedBytes(its.pages, documents.size(), its.prefixed));
        }
    }
    // The near pieces hold every title and file-name word, whichever shards were taken:
    // those the last job kept for the same pages, else the table of the shards cut when
    // every shard was, else the titles and file names cut for them alone. They, the runs
    // inside words and the in-word and gram pieces are worked out beside the shards when
    // a thread is to spare (the store is this thread's: only their texts are composed there).
    std::vector<PlaceWord> placeWords;
    std::vector<NearWord> nearWords;
    std::future<WordsBeside> beside;
    if (places) {
        PieceInputs wordsInputs;
        wordsInputs.text("title and file-name words");
        wordsInputs.number(static_cast<std::int64_t>(places->inputs));
        const std::string_view* earlier = work ? work->find(wordsInputs.value()) : nullptr;
        const bool taken = earlier && readPlaceWords(*earlier, placeWords);
        if (!taken && table && std::find(cut.begin(), cut.end(), false) == cut.end())
            placeWords = placeWordsOf(*table);
        else if (!taken)
            placeWords = placeWordsOf(places->titleAndNameWords());
        if (work)
            work->keep(wordsInputs.value(), placeWordsBytes(placeWords));
        nearWords = nearWordsOf(keys, placeWords);
        beside = std::async(threads > 1 ? std::launch::async : std::launch::deferred, [&] {
            WordsBeside out;
            // The words of each vocabulary piece (keys, title and file-name words) and its
            // bytes (keys and counts, title and file-name words), as the page reads them; the
            // runs inside its words, taken from the last job when its words are the same.
            // Every word of the near pieces is in one of them, so their runs of kGramUnits
            // are those of the set of runs inside words.
            std::vector<RunsInside> pieceRuns(vocabularies.size());
            std::vector<std::size_t> pieceBytes;
            std::vector<std::uint32_t> gramRuns;
            std::vector<std::string_view> pieceWords;
            for (std::size_t v = 0; v < vocabularies.size(); ++v) {
                const Vocabulary& vocabulary = vocabularies[v];
                pieceBytes.push_back(vocabulary.keysBytes + vocabulary.countsBytes);
                pieceWords.clear();
                PieceInputs inputs;
                inputs.text("runs inside");
                for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t) {
                    for (std::size_t i = set.starts[t]; i < set.end(t); ++i)
                        pieceWords.push_back(keys.word(i));
                    const auto range = set.placeRange(t, placeWords);
                    for (auto place = range.first; place != range.second; ++place) {
                        const std::size_t lists = (place->titles > 0) + (place->names > 0);
                        pieceWords.push_back(place->word);
                        pieceBytes.back() += lists * (place->word.size() + 8);
                    }
                }
                for (const std::string_view word : pieceWords)
                    inputs.text(word);
                const std::string_view* earlier = work ? work->find(inputs.value()) : nullptr;
                if (earlier && readRuns(*earlier, pieceRuns[v])) {
                    out.runsKept.emplace_back(inputs.value(), std::string(*earlier));
                } else {
                    pieceRuns[v] = runsInside(pieceWords);
                    if (work)
                        out.runsKept.emplace_back(inputs.value(), runsBytes(pieceRuns[v]));
                }
                gramRuns.insert(gramRuns.end(), pieceRuns[v].grams.begin(), pieceRuns[v].grams.end());
            }
            // The texts of the in-word pieces the last job made are not composed: they are
            // taken as they stand (or composed on the store's thread if they cannot be).
            out.inWord = std::make_unique<InWordPieces>(pieceRuns, pieceBytes);
            out.inWordTexts.resize(out.inWord->size());
            for (std::size_t p = 0; p < out.inWord->size(); ++p)
                if (!store.wasMadeBefore(out.inWord->inputsOf(p)))
                    out.inWordTexts[p] = out.inWord->text(p);
            out.grams = composeGramsOfRuns(std::move(gramRuns));
            out.near = composeNear(nearWords, keys.size(), work, out.nearKept);
            return out;
        });
    }
    for (const Vocabulary& vocabulary : vocabularies) {
        std::string titleWords, nameWords;
        for (std::size_t t = vocabulary.first; t <= vocabulary.last; ++t) {
            if (!composed[t])
                continue;
            if (places) {
                joinWords(titleWords, shardPlaces[t].titleWords);
                joinWords(nameWords, shardPlaces[t].nameWords);
            }
            const ShardPlaces* its = places ? &shardPlaces[t] : nullptr;
            if (set.hasBest(t) && bestNames[t].empty()) {
                const Placed none;
                const Placed& pages = places ? placed[t] : none;
                if ((bestNames[t] = store.putMade(bestMade[t], set.compose(t, its, kBest, pages.pages, pages.prefixed))).empty())
                    return {};
            }
            if (!shardNames[t].empty())
                continue;  // composed for its vocabulary piece's words (or its best piece) only
            if ((shardNames[t] = store.putMade(shardInputs[t], set.compose(t, its))).empty())
                return {};
        }
        std::string name = vocabulary.name;
        if (name.empty()) {
            std::string keysList, countsList;
            listsOf(vocabulary, keysList, countsList);
            std::string piece = kPieceMark + ("vantrelKeys({\"keys\":[" + keysList) + "],\n\"counts\":[" + countsList + ']';
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
            if (!bestNames[t].empty())
                entry += ",\"" + bestNames[t] + '"';
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
        WordsBeside words = beside.get();
        if (work) {
            for (auto& [inputs, bytes] : words.runsKept)
                work->keep(inputs, std::move(bytes));
            for (auto& [inputs, bytes] : words.nearKept)
                work->keep(inputs, std::move(bytes));
        }
        head += ",\n\"inWord\":[";
        // An in-word piece of the same inputs as one of the last job's is taken as it stands.
        for (std::size_t p = 0; p < words.inWord->size(); ++p) {
            const std::uint64_t inputs = words.inWord->inputsOf(p);
            std::string name = store.takeMade(inputs);
            if (name.empty())
                name = store.putMade(inputs, words.inWordTexts[p].empty() ? words.inWord->text(p) : words.inWordTexts[p]);
            if (name.empty())
                return name;
            head += head.back() == '[' ? "\"" : ",\"";
            head += name + '"';
        }
        head += ']';
        head += ",\n\"grams\":[";
        for (const std::string& grams : words.grams) {
            const std::string name = store.put(grams);
            if (name.empty())
                return name;
            head += head.back() == '[' ? "\"" : ",\"";
            head += name + '"';
        }
        head += "]";
        nearAt = head.size();
        head += ",\"near\":[";
        for (const auto& [first, text] : words.near) {
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
        links += "vantrelLinks(\"";
        for (std::size_t d = first; d < documents.size() && d < first + kLinkGroup; ++d)
            appendLinkShare(links, d < linkShares.size() ? linkShares[d] : 0);
        links += "\");\n";
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
    // What the next job of the same inputs takes whole.
    WholePieces whole;
    whole.headMiddle = head.substr(checkEnd, documentsAt - checkEnd);
    const auto keepWhole = [&] {
        if (!work)
            return;
        std::set<std::string> names;
        PieceStore::namesIn(whole.headMiddle, names);
        PieceStore::namesIn(whole.topMiddle, names);
        for (const PieceStore::Made& made : store.made())
            if (names.erase(made.name))
                whole.made.push_back(made.inputs);
        for (const std::string& name : names)
            whole.named.emplace_back(name, store.stampWhenPut(name));
        work->keep(wholeInputs, wholeBytes(whole));
    };
    if (headName.empty() || topDocumentsField.empty() || !topName) {
        if (!headName.empty())
            keepWhole();
        return headName;
    }
    // The top: the head less the lists that grow with the site, the document pieces'
    // names and the near pieces' first words, which it names in list pieces instead.
    if (nearEnd == 0)
        nearAt = nearEnd = documentsAt;
    std::string top = head.substr(0, shardsAt);
    top += ",\n\"shardLists\":[" + shardLists + "],\n\"vocabulary\":[" + topVocabulary + ']';
    top.append(head, vocabularyEnd, nearAt - vocabularyEnd);
    if (nearEnd > nearAt) {
        // Each list by the first word of its first piece, so that a word reads only the
        // lists its first units and lengths fall in.
        std::string lists;
        for (std::size_t first = 0; first < nearEntries.size(); first += kNearListGroup) {
            const std::vector<std::string> group(nearEntries.begin() + static_cast<std::ptrdiff_t>(first),
                                                 nearEntries.begin() + static_cast<std::ptrdiff_t>(std::min(nearEntries.size(), first + kNearListGroup)));
            const std::string list = store.putLists(group, group.size());
            if (list.empty())
                return list;
            const std::string& entry = group.front();
            lists += (first ? "," : "") + entry.substr(0, entry.rfind(',')) + ',' + list + ']';
        }
        top += ",\"nearLists\":[" + lists + ']';
    }
    top.append(head, nearEnd, documentsAt - nearEnd);
    whole.topMiddle = top.substr(checkEnd);
    top += topDocumentsField;
    top += "});\n";
    *topName = store.put(top);
    if (topLists)
        *topLists = shardListsIn(top);
    if (topName->empty())
        return {};
    keepWhole();
    return headName;
}

void compose(const std::vector<DocumentEntry>& documents, const WordIndex& keys, const WordTable<char>& stemmedKeys,
             const std::vector<int>& linkShares, std::string& text, const std::vector<StemOfKey>& moreStems)
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
    const StemGroups groups = stemGroupsOf(keys, stemmedKeys, moreStems);
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
