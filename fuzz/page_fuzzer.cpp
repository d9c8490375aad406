// libFuzzer target for the page path: one input is the bytes of a page file.
//
// For every input it checks that the hand-written scanners and the Boost patterns agree
// on the title and on the words of each indexing option (whenever Boost did not give up),
// that upper-casing before matching changes nothing, that word extraction gives only
// well-formed words, and that the engine's file-based operations (readTitle,
// parseDocument, ranking, composing) give results that fit in the index files.

#include "IndexEngine.h"
#include "PagePatterns.h"
#include "PageScanner.h"
#include "WordCounting.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail = {})
{
    std::fprintf(stderr, "page_fuzzer: %s\n", what);
    if (!detail.empty())
        std::fprintf(stderr, "  %.400s\n", detail.c_str());
    std::abort();
}

void check(bool condition, const char* what, const std::string& detail = {})
{
    if (!condition)
        fail(what, detail);
}

using Counts = std::map<std::string, std::array<std::int64_t, 5>>;

bool isWord(std::string_view word)
{
    if (word.empty() || !((word[0] >= 'A' && word[0] <= 'Z') || word[0] == '_'))
        return false;
    for (char c : word)
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_'))
            return false;
    return true;
}

Counts flatten(const PageWords& words)
{
    Counts counts;
    for (const auto& entry : words.entries()) {
        std::string word(words.wordOf(entry));
        const WordCounts& c = entry.value;
        check(isWord(word), "malformed word in a page table", word);
        check(c.keywordOrTitle >= 0 && c.other >= 0 && c.h1 >= 0 && c.h2 >= 0 && c.h3 >= 0,
              "negative counter", word);
        check(c.keywordOrTitle + c.other + c.h1 + c.h2 + c.h3 > 0, "word without a count", word);
        check(counts.emplace(word, std::array<std::int64_t, 5>{c.keywordOrTitle, c.other, c.h1, c.h2, c.h3})
                  .second,
              "word twice in a page table", word);
        double weight = wordWeight(c);
        check(std::isfinite(weight) && weight >= 0.0, "weight out of range", word);
    }
    return counts;
}

std::string describe(const Counts& counts)
{
    std::string text;
    for (const auto& [word, c] : counts) {
        text += word + "(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2])
            + "," + std::to_string(c[3]) + "," + std::to_string(c[4]) + ") ";
        if (text.size() > 300)
            break;
    }
    return text;
}

// Whether text can stand between double quotes in a script: every quote and line break
// escaped, no dangling backslash.
bool fitsInString(std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\') {
            if (++i == text.size())
                return false;
        } else if (c == '"' || c == '\n' || c == '\r') {
            return false;
        }
    }
    return true;
}

class LineLog : public ProgressLog {
public:
    void append(const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;
};

const std::string& pageFile()
{
    static const std::string path = [] {
        const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(folder) + "/vantrel-fuzz-page-" + std::to_string(::getpid()) + ".htm";
    }();
    return path;
}

bool writePage(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(pageFile().c_str(), "wb");
    if (!file)
        return false;
    bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

void checkWords(std::string_view upper)
{
    std::vector<std::string> words = extractWords(upper);
    for (const std::string& word : words)
        check(isWord(word), "extractWords gave a malformed word", word);
    std::vector<std::string> reference;
    try {
        boost::regex_grep(
            [&reference](const boost::cmatch& match) {
                reference.emplace_back(match[1].first, match[1].second);
                return true;
            },
            upper.data(), upper.data() + upper.size(), PagePatterns::instance().word);
    } catch (const std::exception&) {
        return;  // the library gave up: the scanner is the only answer
    }
    check(words == reference, "extractWords differs from the word pattern");
}

void checkTitle(std::string_view raw, std::string_view upper)
{
    const PagePatterns& patterns = PagePatterns::instance();
    TitleMatch scanned = PageScanner::findTitle(upper);
    if (scanned.found) {
        check(scanned.text.data() >= upper.data()
                  && scanned.text.data() + scanned.text.size() <= upper.data() + upper.size(),
              "title outside the page");
        check(fitsInString(escapeTitle(scanned.text)), "escaped title breaks the string",
              escapeTitle(scanned.text));
    }
    TitleMatch library;
    if (patterns.findTitle(upper, library)) {
        check(scanned.found == library.found, "title found by one matcher only",
              std::string(scanned.found ? scanned.text : library.text));
        if (scanned.found)
            check(scanned.text == library.text, "titles differ",
                  std::string(scanned.text) + " | " + std::string(library.text));
    }
    TitleMatch rawLibrary;
    if (patterns.findTitle(raw, rawLibrary)) {
        check(scanned.found == rawLibrary.found, "upper-casing changes whether a title is found");
        if (scanned.found)
            check(toUpper(rawLibrary.text) == scanned.text, "upper-casing changes the title");
    }
}

void checkPasses(std::string_view raw, std::string_view upper, std::array<Counts, 5>& scannedByMode)
{
    const PagePatterns& patterns = PagePatterns::instance();
    for (int m = 0; m < 5; ++m) {
        ContentMode mode = static_cast<ContentMode>(m == 4 ? 200 : m);
        PageWords scanned;
        PageScanner::countPageWords(upper, mode, scanned);
        scannedByMode[m] = flatten(scanned);
        if (m == 4)
            check(scannedByMode[m].empty(), "an unknown indexing option counted words");

        PageWords library;
        if (patterns.countPageWords(upper, mode, library)) {
            Counts reference = flatten(library);
            check(scannedByMode[m] == reference,
                  ("words differ in indexing option " + std::to_string(m)).c_str(),
                  "scanner: " + describe(scannedByMode[m]) + "\nlibrary: " + describe(reference));
        }
        PageWords rawLibrary;
        if (patterns.countPageWords(raw, mode, rawLibrary))
            check(scannedByMode[m] == flatten(rawLibrary),
                  ("upper-casing changes the words in indexing option " + std::to_string(m)).c_str());
    }
}

// The engine's own operations on the page as a file, with both matchers.
void checkEngine(std::string_view upper, const std::array<Counts, 5>& scannedByMode, unsigned selector)
{
    static IndexEngine engine;
    LineLog log;
    engine.progressLog = &log;
    engine.resetTables();
    engine.stopRequested.store(false);
    const std::string& path = pageFile();
    TitleMatch scanned = PageScanner::findTitle(upper);
    const std::string expectedTitle = scanned.found ? escapeTitle(scanned.text) : "Document has no name";

    const int m = static_cast<int>(selector % 5);
    engine.contentMode = static_cast<ContentMode>(m == 4 ? 200 : m);
    for (PatternMatcher matcher : {PatternMatcher::Scanner, PatternMatcher::RegexLibrary}) {
        engine.patternMatcher = matcher;
        log.lines.clear();
        std::string title = engine.readTitle(path);
        check(log.lines.empty(), "readTitle wrote a line for a readable page");
        check(fitsInString(title), "readTitle gave a title that breaks the string", title);
        if (matcher == PatternMatcher::Scanner)
            check(title == expectedTitle, "readTitle differs from the scanner", title);

        PageWords words = engine.parseDocument(path);
        check(log.lines.size() >= 2 && log.lines.front() == "Parsing " + path + "..."
                  && log.lines.back() == "Done!",
              "parseDocument lines");
        bool partial = log.lines.size() == 3 && log.lines[1] == "Page too complex, indexed in part!";
        check(log.lines.size() == 2 || partial, "parseDocument wrote an unexpected line", log.lines[1]);
        check(!partial || matcher == PatternMatcher::RegexLibrary, "the scanner gave up");
        if (!partial)
            check(flatten(words) == scannedByMode[m], "parseDocument differs from the scanner");
        if (matcher == PatternMatcher::Scanner) {
            engine.documents.push_back(DocumentEntry{title, path, "01-01-2000"});
            engine.addPageWords(0, words);
        }
    }

    // Ranking and both texts: one entry per word, every number a valid document.
    if (selector & 8)
        engine.stopRequested.store(true);  // a stop makes both passes return false at once
    bool ranked = engine.rankPostings();
    std::string text;
    bool composed = ranked && engine.composeWordsText(text);
    if (engine.stopRequested.load()) {
        check(!ranked || engine.dictionary.empty(), "ranking ignored a stop");
        return;
    }
    check(ranked && composed, "ranking or composing failed without a stop");
    check(engine.wordIndex.size() == engine.dictionary.size(), "word index and dictionary differ in size");
    std::size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    check(lines == engine.wordIndex.size(), "words text has the wrong number of lines");
    check(text.compare(0, 11, "var index=[") == 0 && text.size() >= 13 && text.compare(text.size() - 2, 2, "];") == 0,
          "words text frame");
    for (std::size_t i = 0; i < engine.wordIndex.size(); ++i) {
        check(engine.wordIndex.documentsEnd(i) - engine.wordIndex.documentsBegin(i) == 1,
              "a word of one page has other than one document");
        check(*engine.wordIndex.documentsBegin(i) == 0, "document number out of range");
    }
    engine.composeDocsText(text);
    check(text.compare(0, 10, "var docs=[") == 0 && text.compare(text.size() - 2, 2, "];") == 0, "docs text frame");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string_view whole(reinterpret_cast<const char*>(data), size);
    std::string_view raw = whole.substr(0, std::min(whole.find('\0'), whole.size()));
    const std::string upper = toUpper(raw);

    checkWords(upper);
    checkTitle(raw, upper);
    std::array<Counts, 5> scannedByMode;
    checkPasses(raw, upper, scannedByMode);
    if (writePage(data, size)) {
        unsigned selector = size ? data[size / 2] : 0u;
        checkEngine(upper, scannedByMode, selector);
    }
    return 0;
}
