// The hand-written scanners against the pattern library, which stays the reference:
// every match and capture text of every pattern, over random texts built from the
// patterns' alphabet and over real pages. The library runs on the page as written, the
// scanners on its upper-cased copy, so equal offsets also show that upper-casing first
// changes no match.

#include "PagePatterns.h"
#include "PageScanner.h"
#include "WordCounting.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What one check saw on a text, one printable line per match (offsets and capture
// texts) or per counted word.
struct Outcome {
    std::vector<std::string> lines;
    bool complete = true;  // false when the library gave up part way
};

struct Check {
    const char* name;
    Outcome (*library)(const std::string& text);
    Outcome (*scanner)(const std::string& upper);
    bool prefixWhenIncomplete;  // a library that gave up still found a prefix
};

std::string escaped(std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        if (c == '\\' || c == '"')
            out += {'\\', static_cast<char>(c)};
        else if (c >= 0x20 && c < 0x7f)
            out += static_cast<char>(c);
        else
            out += {'\\', 'x', hex[c >> 4], hex[c & 15]};
    }
    return out;
}

// A capture as its offset, length and upper-cased text (the engine upper-cases every
// capture it uses).
std::string spanLine(const char* base, std::string_view group)
{
    return std::to_string(group.data() - base) + "+" + std::to_string(group.size()) + " \""
        + escaped(toUpper(group)) + "\"";
}

std::string_view groupOf(const boost::cmatch& match, int group)
{
    return std::string_view(match[group].first, match[group].second - match[group].first);
}

// Successive matches of pattern over text, each as the lines of the named groups.
Outcome grep(const boost::regex& pattern, const std::string& text, std::initializer_list<int> groups)
{
    Outcome outcome;
    const char* base = text.data();
    try {
        boost::regex_grep(
            [&](const boost::cmatch& match) {
                std::string line;
                for (int group : groups)
                    line += (line.empty() ? "" : " | ") + spanLine(base, groupOf(match, group));
                outcome.lines.push_back(line);
                return true;
            },
            base, base + text.size(), pattern);
    } catch (const std::exception&) {
        outcome.complete = false;
    }
    return outcome;
}

template <typename Scan>
Outcome scanTags(const std::string& upper, Scan scan)
{
    Outcome outcome;
    scan([&](std::string_view tag, std::string_view text) {
        outcome.lines.push_back(spanLine(upper.data(), tag) + " | " + spanLine(upper.data(), text));
    });
    return outcome;
}

const PagePatterns& patterns() { return PagePatterns::instance(); }

Outcome libraryTitle(const std::string& text)
{
    Outcome all = grep(patterns().title, text, {2});
    if (all.lines.size() > 1)
        all.lines.erase(all.lines.begin(), all.lines.end() - 1);  // the last one wins
    return all;
}

Outcome scannerTitle(const std::string& upper)
{
    Outcome outcome;
    TitleMatch title = PageScanner::findTitle(upper);
    if (title.found)
        outcome.lines.push_back(spanLine(upper.data(), title.text));
    return outcome;
}

Outcome libraryKeywords(const std::string& text) { return grep(patterns().metaKeywords, text, {2}); }

Outcome scannerKeywords(const std::string& upper)
{
    Outcome outcome;
    PageScanner::forEachKeywordsMatch(
        upper, [&](std::string_view content) { outcome.lines.push_back(spanLine(upper.data(), content)); });
    return outcome;
}

Outcome libraryTitleTags(const std::string& text) { return grep(patterns().titleTags, text, {2, 4}); }
Outcome libraryHeaderTags(const std::string& text) { return grep(patterns().titleHeaderTags, text, {2, 4}); }
Outcome libraryAllTags(const std::string& text) { return grep(patterns().allTags, text, {2, 4}); }

template <PageScanner::TagFilter filter>
Outcome scannerTags(const std::string& upper)
{
    return scanTags(upper, [&](auto visit) { PageScanner::forEachTagTextMatch(upper, filter, visit); });
}

Outcome libraryWords(const std::string& text) { return grep(patterns().word, text, {1}); }

Outcome scannerWords(const std::string& upper)
{
    Outcome outcome;
    forEachWord(upper, [&](std::string_view word) { outcome.lines.push_back(spanLine(upper.data(), word)); });
    return outcome;
}

// The whole page table of one indexing option, word by word in byte order.
Outcome tableLines(const PageWords& table)
{
    std::map<std::string, std::string> sorted;
    for (const auto& entry : table.entries()) {
        const WordCounts& c = entry.value;
        sorted[std::string(table.wordOf(entry))] = std::to_string(c.keywordOrTitle) + " "
            + std::to_string(c.other) + " " + std::to_string(c.h1) + " " + std::to_string(c.h2) + " "
            + std::to_string(c.h3);
    }
    Outcome outcome;
    for (const auto& [word, counts] : sorted)
        outcome.lines.push_back(word + " " + counts);
    return outcome;
}

template <ContentMode mode>
Outcome libraryTable(const std::string& text)
{
    PageWords table;
    bool complete = patterns().countPageWords(toUpper(text), mode, table);
    Outcome outcome = tableLines(table);
    outcome.complete = complete;
    return outcome;
}

template <ContentMode mode>
Outcome scannerTable(const std::string& upper)
{
    PageWords table;
    PageScanner::countPageWords(upper, mode, table);
    return tableLines(table);
}

using PS = PageScanner::TagFilter;
const Check kChecks[] = {
    {"title element", libraryTitle, scannerTitle, false},
    {"META keywords", libraryKeywords, scannerKeywords, true},
    {"text after TITLE tags", libraryTitleTags, scannerTags<PS::Title>, true},
    {"text after TITLE and H1-H9 tags", libraryHeaderTags, scannerTags<PS::TitleOrHeader>, true},
    {"text after every tag", libraryAllTags, scannerTags<PS::Any>, true},
    {"words", libraryWords, scannerWords, true},
    {"page table, keywords", libraryTable<ContentMode::Keywords>, scannerTable<ContentMode::Keywords>, false},
    {"page table, titles", libraryTable<ContentMode::KeywordsTitles>, scannerTable<ContentMode::KeywordsTitles>,
     false},
    {"page table, headers", libraryTable<ContentMode::KeywordsTitlesHeaders>,
     scannerTable<ContentMode::KeywordsTitlesHeaders>, false},
    {"page table, all content", libraryTable<ContentMode::AllContent>, scannerTable<ContentMode::AllContent>,
     false},
};

// Whether the scanner disagrees with the library on text. A library that gave up is
// only held to what it found before.
bool differs(const Check& check, const std::string& text, Outcome* library = nullptr, Outcome* scanner = nullptr)
{
    Outcome expected = check.library(text);
    Outcome actual = check.scanner(toUpper(text));
    bool different;
    if (expected.complete)
        different = expected.lines != actual.lines;
    else if (check.prefixWhenIncomplete)
        different = expected.lines.size() > actual.lines.size()
            || !std::equal(expected.lines.begin(), expected.lines.end(), actual.lines.begin());
    else
        different = false;
    if (library)
        *library = std::move(expected);
    if (scanner)
        *scanner = std::move(actual);
    return different;
}

// Cuts pieces out of a failing text, halving their size, for as long as it keeps failing;
// the work is bounded so that a failing page of megabytes is still reported soon.
std::string shrink(const Check& check, std::string text)
{
    std::size_t budget = std::size_t(64) << 20;  // bytes run through both matchers
    for (std::size_t piece = std::max<std::size_t>(text.size() / 2, 1);; piece /= 2) {
        for (bool cut = true; cut && budget > 0;) {
            cut = false;
            for (std::size_t at = 0; at + piece <= text.size() && budget > 0;) {
                std::string shorter = text.substr(0, at) + text.substr(at + piece);
                budget -= std::min(budget, shorter.size() + 1);
                if (differs(check, shorter)) {
                    text = std::move(shorter);
                    cut = true;
                } else {
                    at += piece;
                }
            }
        }
        if (piece == 1 || budget == 0)
            return text;
    }
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines)
        out += "\n    " + line;
    return out.empty() ? "\n    (nothing)" : out;
}

// Runs every check on text; reports the smallest failing text of each check once.
class Differ {
public:
    void run(const std::string& text, const std::string& origin)
    {
        for (std::size_t c = 0; c < std::size(kChecks); ++c) {
            if (m_failed[c] || !differs(kChecks[c], text))
                continue;
            m_failed[c] = true;
            std::string smallest = shrink(kChecks[c], text);
            Outcome library, scanner;
            differs(kChecks[c], smallest, &library, &scanner);
            ADD_FAILURE() << kChecks[c].name << ": the scanner differs from the library on " << origin
                          << "\n  smallest failing text: \"" << escaped(smallest) << "\"\n  library"
                          << (library.complete ? "" : " (gave up)") << ":" << joined(library.lines)
                          << "\n  scanner:" << joined(scanner.lines);
        }
    }

private:
    std::array<bool, std::size(kChecks)> m_failed{};
};

// Random texts from the patterns' alphabet: single bytes and fragments of the markup the
// patterns look for and heads of META keywords tags, with densities that change from
// text to text.
class TextMaker {
public:
    explicit TextMaker(std::uint32_t seed) : m_random(seed) {}

    // A random text; metaHeavy makes most of it META keywords tags.
    std::string make(bool metaHeavy = false)
    {
        static const std::vector<std::vector<std::string>> kinds = {
            {"<", "<", "<", ">", ">", ">", "\"", "\"", "=", "/", "!", "-", "'"},
            {" ", " ", " ", "\t", "\n", "\r", "\v", "\f"},
            {"TITLE", "title", "Title", "tItLe", "TITL", "META", "meta", "NAME", "name", "KEYWORDS", "keywords",
             "KEY", "CONTENT", "content", "H", "h", "T", "E", "M", "N", "A", "K"},
            {"1", "2", "3", "4", "9", "0", "_", "x", "Q", "z9", "a_b", "3com", "\xe9", "\x85", "\xa0", "\xff", "\x01"},
            {"<title>", "</TITLE>", "<TITLE >", "<title lang=en>", "< title>", "<h1>", "<H2 class=x>", "<h3>",
             "</h1>", "<h9 >", "<h0>", "<b>", "</p>", "<!-- ", " -->", "<!DOCTYPE html>", "<META NAME=\"KEYWORDS\" ",
             "<meta name=keywords ", "<META name = \"keywords\"", "<meta\tname=\"keywords\"", "content=\"",
             "CONTENT =\"", "content= ", "\">", "\" >", "\"/>", "\n>", "a, b, c", "<>", "<<", ">>"},
        };
        std::array<unsigned, 6> weight;
        for (unsigned& w : weight)
            w = pick(6);
        if (weight == std::array<unsigned, 6>{})
            weight[0] = 1;
        if (metaHeavy)
            weight[5] += 8;
        std::discrete_distribution<int> kind(weight.begin(), weight.end());
        std::string text;
        for (unsigned n = pick(80); n > 0; --n) {
            std::size_t k = kind(m_random);
            if (k == kinds.size()) {
                text += metaTag();
                n -= std::min(n - 1, 8u);
                continue;
            }
            const auto& tokens = kinds[k];
            text += tokens[pick(static_cast<unsigned>(tokens.size()))];
        }
        return text;
    }

private:
    // The head of a META keywords tag up to its content: each part is mostly the first
    // choice, which fits the pattern, and otherwise any choice, right or a near miss.
    std::string metaTag()
    {
        static const std::vector<std::vector<std::string>> parts = {
            {"<", "<<", "< "},
            {"", " ", "\n\t", "  "},
            {"META", "meta", "MET", "METAX"},
            {" ", "", "\f", "  "},
            {"NAME", "name", "NAM"},
            {"", " ", "\v", "  "},
            {"=", ""},
            {"", " ", "  \r"},
            {"\"", "", "'"},
            {"KEYWORDS", "keywords", "KEYWORD"},
            {"\"", "", "'", "\"\""},
            {" ", "", "\n", "/"},
            {"CONTENT", "content", "CONTEN"},
            {"", " ", "\t", "  "},
            {"=", "==", ""},
            {"", " ", "\r", "  "},
            {"\"", "", "\"\"", "'"},
        };
        std::string tag;
        for (const auto& choices : parts)
            tag += choices[pick(4) == 0 ? pick(static_cast<unsigned>(choices.size())) : 0];
        return tag;
    }

    unsigned pick(unsigned below) { return std::uniform_int_distribution<unsigned>(0, below - 1)(m_random); }

    std::mt19937 m_random;
};

TEST(ScannerDifferential, RandomTextsMatchLibrary)
{
    TextMaker maker(20261206);
    Differ differ;
    for (int i = 0; i < 24000; ++i) {
        std::string text = maker.make(i % 3 == 2);
        differ.run(text, "random text " + std::to_string(i) + " \"" + escaped(text) + "\"");
    }
}

// Texts where the library backtracks, or where a scanner's shortcut could go wrong.
TEST(ScannerDifferential, AwkwardTextsMatchLibrary)
{
    const std::string texts[] = {
        "",
        "<",
        "<>",
        "<><",
        "<><>",
        "<title>a</title>",
        "<title>a</title",
        "<title>a<b>c<title>d<e",
        "<title>a<title>b</title>",
        "<TITLE x=\"y\">a b</TITLE ><p>",
        "< \t\r\n\v\ftitle \f>x<\v>",
        "<titlex>a<b>",
        "<title<a>b<c>",
        "<a <b>c<d>",
        "<a>b c<d<e>",
        "<h1>one<b>two</b>three</h1><h10>x<y>",
        "<h1 >a<b> <H3>c<d>",
        "<meta name=\"keywords\" content=\"a, b\">",
        "<META NAME=KEYWORDS CONTENT=a b>",
        "<meta name=\"keywords\" content=\"a, b\"/>",
        "<meta name=\"keywords\" content=\"a > b",
        "<meta name=\"keywords\" content=\"a > b\" c>d\"e>",
        "<meta name=\"keywords\" content=\">",
        "<meta name=\"keywords\" content= \" >",
        "<meta name=\"keywords\" content=\"\" \t>",
        "<meta name=\"keywords\" content=\"a\" x=\"b\">",
        "<meta name=keywords content=a\"<meta name=keywords content=b\">",
        "<meta name=keywords content=a><meta name=keywords content=b>",
        "<meta name=keywords content=a <meta name=keywords content=b>",
        "<meta  name =  \"keywords\"  content =  \"a\">",
        "<meta name= \"keywords\"content=\"a\">",
        "<meta name=\"keywords\" content=\"a\"\n\n>",
        "<metaname=keywordscontent=a>",
        "<meta name=\"description\" content=\"a\"><meta name=\"keywords\" content=\"b\">",
        "caf\xe9 na\xefve x86_64 3com 2003 _init __ a1b2",
        std::string(300, '<') + ">" + std::string(300, '<') + "a>",
        std::string(200, '>') + "<" + std::string(200, ' ') + "title" + std::string(200, ' ') + ">t<u>",
    };
    Differ differ;
    for (const std::string& text : texts)
        differ.run(text, "\"" + escaped(text) + "\"");
}

// The page files under folder, in name order, with at most about byteBudget bytes taken
// evenly from the whole tree (all of them when VANTREL_DIFF_ALL_PAGES is set).
std::vector<fs::path> pagesOf(const fs::path& folder, std::uintmax_t byteBudget)
{
    std::vector<fs::path> pages;
    std::uintmax_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string name = toUpper(it->path().filename().string());
        if (it->is_regular_file() && name.find(".HTM") != std::string::npos) {
            pages.push_back(it->path());
            total += it->file_size();
        }
    }
    std::sort(pages.begin(), pages.end());
    if (std::getenv("VANTREL_DIFF_ALL_PAGES") || total <= byteBudget)
        return pages;
    std::size_t stride = static_cast<std::size_t>((total + byteBudget - 1) / byteBudget);
    std::vector<fs::path> sample;
    for (std::size_t i = 0; i < pages.size(); i += stride)
        sample.push_back(pages[i]);
    return sample;
}

// The page text as the engine takes it: the file up to its first NUL byte.
std::string pageText(const fs::path& page)
{
    std::ifstream in(page, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    text.resize(std::min(text.size(), text.find('\0')));
    return text;
}

void checkPages(const fs::path& folder, std::uintmax_t byteBudget)
{
    std::vector<fs::path> pages = pagesOf(folder, byteBudget);
    ASSERT_FALSE(pages.empty()) << "no pages in " << folder;
    Differ differ;
    for (const fs::path& page : pages)
        differ.run(pageText(page), page.string());
}

TEST(ScannerDifferential, ExampleSitePagesMatchLibrary)
{
    checkPages(EXAMPLE_SITE_DIR, 16u << 20);
}

// The documentation tree that the benchmark fetches into a build folder, when there is one.
TEST(ScannerDifferential, DocumentationPagesMatchLibrary)
{
    const fs::path root = fs::path(EXAMPLE_SITE_DIR).parent_path().parent_path();
    std::error_code error;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        fs::path tree = it->path() / "bench-data" / "python3.11-doc" / "usr/share/doc/python3.11/html";
        if (it->path().filename().string().rfind("build", 0) == 0 && fs::is_directory(tree)) {
            checkPages(tree, 3u << 20);
            return;
        }
    }
    GTEST_SKIP();
}

}  // namespace
