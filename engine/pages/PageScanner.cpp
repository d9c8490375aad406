// The hand-written scanners that find what the design's patterns find, in linear time and
// without giving up on any page.

#include "PageScanner.h"

namespace PageScanner {

TitleMatch findTitle(std::string_view text)
{
    // The title element is the title tag with the text after it; the tag that ends the
    // text is consumed, and every match replaces the one before.
    TitleMatch result;
    forEachTextAfterTag(text, TagFilter::Title, true, [&result](std::string_view, std::string_view title) {
        result.found = true;
        result.text = title;
    });
    return result;
}

void countPageWords(std::string_view text, ContentMode mode, PageWords& pageWords)
{
    TagFilter filter = TagFilter::Any;
    switch (mode) {
    case ContentMode::Keywords: break;
    case ContentMode::KeywordsTitles: filter = TagFilter::Title; break;
    case ContentMode::KeywordsTitlesHeaders: filter = TagFilter::TitleOrHeader; break;
    case ContentMode::AllContent: filter = TagFilter::Any; break;
    default: return;
    }
    forEachKeywordsMatch(text, [&pageWords](std::string_view content) {
        countWords(content, WordPlace::KeywordOrTitle, pageWords);
    });
    if (mode == ContentMode::Keywords)
        return;
    forEachTagTextMatch(text, filter, [&pageWords](std::string_view tag, std::string_view tagText) {
        countWords(tagText, placeOfTag(tag), pageWords);
    });
}

}  // namespace PageScanner
