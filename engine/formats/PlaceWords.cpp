// Titles, file names and summaries cut into keys, key by key, as the search page ranks by
// them.

#include "PlaceWords.h"

#include "WordRules.h"

#include <algorithm>
#include <unordered_map>

namespace PlaceWords {
namespace {

// Calls add(key, weighs) for each key of text in the page's order: a word's key (weighs)
// and its German spelling (does not), an unspaced run's pairs (weigh) and characters
// (do not). Only words and pairs count in the size of a title.
template <typename Add>
void eachKey(WordRules::TextCutter& cutter, std::string_view text, Add&& add)
{
    cutter.cut(text);
    for (const auto& token : cutter.tokens()) {
        if (token.kind == WordRules::TextCutter::Unspaced) {
            add(std::string(cutter.textOf(token)), token.pair);
            continue;
        }
        WordRules::WordKeys keys = WordRules::keysOfWord(cutter.textOf(token));
        add(std::move(keys.key), true);
        if (!keys.germanKey.empty())
            add(std::move(keys.germanKey), false);
    }
}

// The name without its extension: up to the last dot, unless that starts the name.
std::string_view withoutExtension(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    return dot != std::string_view::npos && dot > 0 ? name.substr(0, dot) : name;
}

}  // namespace

bool Utf16Less::operator()(const std::string& a, const std::string& b) const
{
    return WordRules::lessByUtf16(a, b);
}

std::vector<std::string> queryKeys(std::string_view utf8)
{
    WordRules::TextCutter cutter;
    cutter.cut(utf8);
    std::vector<std::string> keys, pairs;
    std::string single;  // the character of a run without pairs
    bool inRun = false, afterPair = false;
    auto endRun = [&]() {
        if (!inRun)
            return;
        if (pairs.empty())
            keys.push_back(single);
        else
            keys.insert(keys.end(), pairs.begin(), pairs.end());
        pairs.clear();
        inRun = false;
    };
    for (const auto& token : cutter.tokens()) {
        if (token.kind == WordRules::TextCutter::Unspaced && token.pair) {
            pairs.emplace_back(cutter.textOf(token));
            afterPair = true;
        } else if (token.kind == WordRules::TextCutter::Unspaced && afterPair) {
            afterPair = false;  // the second character of that pair: the run goes on
        } else {
            endRun();
            if (token.kind == WordRules::TextCutter::Word) {
                keys.push_back(WordRules::keysOfWord(cutter.textOf(token)).key);
            } else {
                single = std::string(cutter.textOf(token));
                inRun = true;
            }
        }
    }
    endRun();
    return keys;
}

Table of(const std::vector<Page>& pages, const KeyFilter& wanted, bool summaries)
{
    struct TitleUse {
        std::vector<std::int32_t> pages;
        std::vector<bool> weighs;
    };
    std::unordered_map<std::string, TitleUse> titleUses;
    std::vector<std::int32_t> sizes(pages.size(), 0);
    Table table;
    WordRules::TextCutter cutter;
    std::size_t titled = 0;
    for (std::size_t d = 0; d < pages.size(); ++d) {
        const auto page = static_cast<std::int32_t>(d);
        const Page& p = pages[d];
        std::int32_t distinct = 0;
        if (p.title) {
            eachKey(cutter, *p.title, [&](std::string key, bool weighs) {
                TitleUse& use = titleUses[key];
                if (!use.pages.empty() && use.pages.back() == page)
                    return;  // the first place of a key in a title tells whether it weighs
                use.pages.push_back(page);
                use.weighs.push_back(weighs);
                if (weighs)
                    ++distinct;
            });
            sizes[d] = std::min<std::int32_t>(65535, distinct);
            if (distinct)
                ++titled;
        }
        std::vector<std::string> nameWords = queryKeys(withoutExtension(p.fileName));
        if (nameWords.size() > kMaxNameWords)
            nameWords.resize(kMaxNameWords);
        const auto wordCount = static_cast<std::int32_t>(nameWords.size());
        // The extension is found too (a query may be a file name) but is no part of the name.
        eachKey(cutter, p.fileName, [&](std::string key, bool) {
            if (wanted && !wanted(key))
                return;
            auto& names = table[std::move(key)].names;
            if (names.empty() || names.back().page != page)
                names.push_back({page, 0, wordCount});
        });
        for (std::string& word : nameWords) {
            if (wanted && !wanted(word))
                continue;
            auto& names = table[std::move(word)].names;
            if (names.empty() || names.back().page != page)
                names.push_back({page, 0, wordCount});
            names.back().count++;
        }
        if (summaries && !p.summary.empty()) {
            eachKey(cutter, p.summary, [&](std::string key, bool) {
                if (wanted && !wanted(key))
                    return;
                auto& summaries = table[std::move(key)].summaries;
                if (summaries.empty() || summaries.back() != page)
                    summaries.push_back(page);
            });
        }
    }
    // A word in many titles (a site's name, say) tells nothing about a page: it is no
    // telling word of the titles that hold it.
    const double limit = std::max(8.0, static_cast<double>(titled) / 4);
    // Every title's words count in its size; only the wanted keys enter the table.
    for (auto& [key, use] : titleUses) {
        if (static_cast<double>(use.pages.size()) <= limit)
            continue;
        if (!wanted || wanted(key))
            table[key].common = true;
        for (std::size_t k = 0; k < use.pages.size(); ++k)
            if (use.weighs[k] && sizes[use.pages[k]] > 0)
                --sizes[use.pages[k]];
    }
    for (auto& [key, use] : titleUses) {
        if (wanted && !wanted(key))
            continue;
        auto& titles = table[key].titles;
        titles.reserve(use.pages.size());
        for (std::int32_t page : use.pages)
            titles.push_back({page, sizes[page]});
    }
    return table;
}

}  // namespace PlaceWords
