#pragma once

// The hand-written scanners against the pattern library, which defines what they must
// match: every match and capture of every pattern, and the page table of every indexing
// option. The library runs on the text as written, the scanners on its upper-cased copy,
// so agreement also shows that upper-casing first changes no match. The differential
// test and the fuzzer (fuzz/page_fuzzer.cpp) both hold the scanners to this one reference.

#include "PagePatterns.h"
#include "PageScanner.h"
#include "WordCounting.h"

#include <boost/regex.hpp>

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ScannerReference {

using Lines = std::vector<std::string>;

// A capture as its offset in base, its length and its upper-cased text.
inline std::string capture(const std::string& base, std::string_view group)
{
    return std::to_string(group.data() - base.data()) + "+" + std::to_string(group.size()) + " " + toUpper(group)
        + " | ";
}

// The groups of each successive match of pattern over text; false when the library gave
// up (lines then holds what it found before).
inline bool grep(const boost::regex& pattern, const std::string& text, std::initializer_list<int> groups, Lines& lines)
{
    try {
        boost::regex_grep(
            [&](const boost::cmatch& match) {
                std::string line;
                for (int g : groups)
                    line += capture(text, std::string_view(match[g].first, match[g].second - match[g].first));
                lines.push_back(line);
                return true;
            },
            text.data(), text.data() + text.size(), pattern);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

inline Lines tableLines(const PageWords& table)
{
    std::map<std::string, std::string> sorted;
    for (const auto& entry : table.entries()) {
        const WordCounts& c = entry.value;
        sorted[std::string(table.wordOf(entry))] = std::to_string(c.keywordOrTitle) + " " + std::to_string(c.other)
            + " " + std::to_string(c.h1) + " " + std::to_string(c.h2) + " " + std::to_string(c.h3);
    }
    Lines lines;
    for (const auto& [word, counts] : sorted)
        lines.push_back(word + " " + counts);
    return lines;
}

// What the scanners get differently from the library on text (which holds no NUL byte),
// or "" when they agree. Where the library gives up on a pattern, the scanner must still
// give what it found before; on a title or a page table, nothing is compared then.
inline std::string firstDifference(const std::string& text)
{
    using PageScanner::TagFilter;
    const PagePatterns& patterns = PagePatterns::instance();
    const std::string upper = toUpper(text);
    std::string difference;
    auto compare = [&](const char* what, bool complete, const Lines& library, const Lines& scanner) {
        const bool agree = complete ? library == scanner
                                    : library.size() <= scanner.size()
                && std::equal(library.begin(), library.end(), scanner.begin());
        if (!agree && difference.empty()) {
            difference = std::string(what) + "\n  library" + (complete ? "" : " (gave up)") + ":";
            for (const Lines* lines : {&library, &scanner}) {
                for (const std::string& line : *lines)
                    difference += "\n    " + line;
                difference += lines == &library ? "\n  scanner:" : "";
            }
        }
    };

    TitleMatch title, scannedTitle = PageScanner::findTitle(upper);
    Lines library, scanner;
    if (patterns.findTitle(text, title)) {
        if (title.found)
            library.push_back(capture(text, title.text));
        if (scannedTitle.found)
            scanner.push_back(capture(upper, scannedTitle.text));
        compare("title element", true, library, scanner);
    }

    library.clear(), scanner.clear();
    bool complete = grep(patterns.metaKeywords, text, {2}, library);
    PageScanner::forEachKeywordsMatch(upper, [&](std::string_view content) { scanner.push_back(capture(upper, content)); });
    compare("META keywords", complete, library, scanner);

    const std::pair<const boost::regex*, TagFilter> tagPasses[] = {
        {&patterns.titleTags, TagFilter::Title},
        {&patterns.titleHeaderTags, TagFilter::TitleOrHeader},
        {&patterns.allTags, TagFilter::Any}};
    for (const auto& [pattern, filter] : tagPasses) {
        library.clear(), scanner.clear();
        complete = grep(*pattern, text, {2, 4}, library);
        PageScanner::forEachTagTextMatch(upper, filter, [&](std::string_view tag, std::string_view after) {
            scanner.push_back(capture(upper, tag) + capture(upper, after));
        });
        compare("text after tags", complete, library, scanner);
    }

    library.clear(), scanner.clear();
    complete = grep(patterns.word, text, {1}, library);
    forEachWord(upper, [&](std::string_view word) { scanner.push_back(capture(upper, word)); });
    compare("words", complete, library, scanner);

    for (int mode = 0; mode < 4; ++mode) {
        PageWords libraryTable, scannerTable;
        PageScanner::countPageWords(upper, static_cast<ContentMode>(mode), scannerTable);
        if (patterns.countPageWords(text, static_cast<ContentMode>(mode), libraryTable))
            compare("page table", true, tableLines(libraryTable), tableLines(scannerTable));
    }
    return difference;
}

}  // namespace ScannerReference
