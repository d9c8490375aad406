// The companion word index as the search page loads it: keys with their pages, the groups
// of keys that share a stem, and how much of each page is links.

#include "TermsText.h"

#include "CompanionData.h"
#include "IndexText.h"
#include "ScriptString.h"
#include "WordIndex.h"
#include "WordRules.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace TermsText {
namespace {

// For each stem, the positions in keys of the keys that have it, in stem order.
std::vector<std::pair<std::string_view, std::vector<std::uint32_t>>> groupsOf(const WordIndex& keys,
                                                                            const WordTable<char>& stemmedKeys)
{
    std::vector<std::pair<std::string_view, std::uint32_t>> stemmed;
    stemmed.reserve(stemmedKeys.size());
    for (const auto& entry : stemmedKeys.entries()) {
        const std::string_view pair = stemmedKeys.wordOf(entry);
        const std::size_t zero = pair.find('\0');
        const std::string_view stem = pair.substr(0, zero), key = pair.substr(zero + 1);
        std::size_t low = 0, high = keys.size();
        while (low < high) {
            const std::size_t middle = (low + high) / 2;
            if (WordRules::lessByUtf16(keys.word(middle), key))
                low = middle + 1;
            else
                high = middle;
        }
        if (low < keys.size() && keys.word(low) == key)
            stemmed.emplace_back(stem, static_cast<std::uint32_t>(low));
    }
    std::sort(stemmed.begin(), stemmed.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? WordRules::lessByUtf16(a.first, b.first) : a.second < b.second;
    });
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
}  // namespace

void compose(const std::vector<DocumentEntry>& documents, const WordIndex& keys, const WordTable<char>& stemmedKeys,
             const std::vector<int>& linkShares, std::string& text)
{
    text = "/* generator: VantrelIndexer */\nvar terms={\"format\":";
    IndexText::appendNumber(text, kFormat);
    text += ",\"count\":";
    IndexText::appendNumber(text, static_cast<std::int64_t>(documents.size()));
    text += ",\"check\":\"" + documentsCheck(documents) + "\",\n\"words\":[";
    for (std::size_t i = 0; i < keys.size(); ++i) {
        text += i ? ",\n[" : "[";
        appendScriptString(text, keys.word(i));
        for (const std::int32_t* d = keys.documentsBegin(i); d != keys.documentsEnd(i); ++d) {
            text += ',';
            IndexText::appendNumber(text, *d);
        }
        text += ']';
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
