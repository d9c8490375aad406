#pragma once

#include "IndexTypes.h"
#include "PageContent.h"
#include "PageText.h"
#include "WordCounting.h"

#include <string>

class ProgressLog;

// What reading one page gave: everything its title and word passes produce.
struct PageResult {
    PageRead read = PageRead::CannotOpen;
    std::string title;  // upper-cased and escaped, or the default title
    PageWords words;
    bool tooComplex = false;  // the pattern library gave up on a pass (or memory ran out)
    PageContent content;      // what a reader sees, when asked for
    std::size_t textBytes = 0;  // of the page's text (its bytes up to the first NUL)
};

// Which passes analysePage runs over a page.
enum class PagePasses { Title, Words, TitleAndWords };

// The title of a page without one.
extern const char* const kNoTitle;

// Reads the page once and runs the passes asked for with the chosen matcher, and with
// readContent takes out what a reader sees of it too, with the texts of the places that
// mode indexes. Never throws but std::bad_alloc.
PageResult analysePage(const std::string& path, PagePasses passes, ContentMode mode, PatternMatcher matcher,
                       bool readContent = false);
// The same over a page already read (how the read went: read); upper-cases its text.
PageResult analysePage(PageText& page, PageRead read, PagePasses passes, ContentMode mode, PatternMatcher matcher,
                       bool readContent = false);

// The title a reader sees: the page's own, else its file name.
std::string displayTitle(const PageResult& result, const std::string& path);

// The progress line of the title pass: "Cann't read file PATH!" for a page that opened
// but could not be read.
void reportTitlePass(const PageResult& result, const std::string& path, ProgressLog* log);

// The progress lines of the word pass: "Parsing PATH...", then "Cann't read file!" or
// "Page too complex, indexed in part!" where they apply, then "Done!".
void reportWordPass(const PageResult& result, const std::string& path, ProgressLog* log);
