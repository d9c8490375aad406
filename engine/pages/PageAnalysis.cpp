// Reading one page once for every pass a job needs: the title, the words by indexing
// option and what a reader sees of it, and the progress lines each pass gives.

#include "PageAnalysis.h"

#include "IndexText.h"
#include "PagePatterns.h"
#include "PageScanner.h"
#include "ProgressLog.h"
#include "TextEncoding.h"

#include <new>

const char* const kNoTitle = "Document has no name";

namespace {
TitleMatch findPageTitle(std::string_view upperText, PatternMatcher matcher)
{
    if (matcher == PatternMatcher::Scanner)
        return PageScanner::findTitle(upperText);
    TitleMatch title;
    PagePatterns::instance().findTitle(upperText, title);  // keeps the last title found
    return title;
}

// False when the pattern library gave up part of the way through.
bool countPageWords(std::string_view upperText, ContentMode mode, PatternMatcher matcher, PageWords& pageWords)
{
    if (matcher == PatternMatcher::Scanner) {
        PageScanner::countPageWords(upperText, mode, pageWords);
        return true;
    }
    return PagePatterns::instance().countPageWords(upperText, mode, pageWords);
}

void report(ProgressLog* log, ProgressKind kind, const std::string& path = {})
{
    if (log)
        log->report(ProgressEvent{kind, path, {}});
}
}  // namespace

PageResult analysePage(const std::string& path, PagePasses passes, ContentMode mode, PatternMatcher matcher,
                       bool readContent)
{
    PageText page;
    const PageRead read = page.read(path);
    return analysePage(page, read, passes, mode, matcher, readContent);
}

PageResult analysePage(PageText& page, PageRead read, PagePasses passes, ContentMode mode, PatternMatcher matcher,
                       bool readContent)
{
    PageResult result;
    result.title = kNoTitle;
    result.read = read;
    if (result.read != PageRead::Read)
        return result;
    result.textBytes = page.length();
    if (readContent)
        result.content = extractPageContent(page.text(), mode);  // before the text is upper-cased
    toUpperInPlace(page.data(), page.length());
    if (passes != PagePasses::Words) {
        TitleMatch title = findPageTitle(page.text(), matcher);
        if (title.found)
            result.title = IndexText::escapeString(title.text, IndexText::LineBreaks::AsBlanks);
    }
    if (passes != PagePasses::Title) {
        try {
            result.tooComplex = !countPageWords(page.text(), mode, matcher, result.words);
        } catch (const std::bad_alloc&) {
            // A page whose words do not fit in memory keeps those counted so far.
            result.tooComplex = true;
        }
    }
    return result;
}

std::string displayTitle(const PageResult& result, const std::string& path)
{
    if (!result.content.title.empty())
        return result.content.title;
    return toUtf8(std::string_view(path).substr(path.rfind('/') + 1));
}

void reportTitlePass(const PageResult& result, const std::string& path, ProgressLog* log)
{
    if (result.read == PageRead::CannotRead)
        report(log, ProgressKind::PageUnreadable, path);
}

void reportWordPass(const PageResult& result, const std::string& path, ProgressLog* log)
{
    report(log, ProgressKind::PageStarted, path);
    if (result.read == PageRead::CannotRead)
        report(log, ProgressKind::PageReadFailed);
    if (result.tooComplex)
        report(log, ProgressKind::PageTooComplex);
    report(log, ProgressKind::PageDone);
}
