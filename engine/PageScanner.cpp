#include "PageScanner.h"

namespace PageScanner {

TitleMatch findTitle(std::string_view text)
{
    TitleMatch result;
    const std::size_t n = text.size();
    const char* t = text.data();
    const std::size_t lastGt = text.rfind('>');
    if (lastGt == std::string_view::npos)
        return result;
    std::size_t pos = 0;
    while (pos < n) {
        std::size_t p = text.find('<', pos);
        if (p == std::string_view::npos)
            break;
        std::size_t j = p + 1;
        while (j < n && isSpace(t[j]))
            ++j;
        if (text.compare(j, 5, "TITLE") != 0) {
            pos = p + 1;
            continue;
        }
        // Group 1 ends at the first '>', group 2 runs to the next '<', group 3 is that
        // tag up to its '>'. As with the tag passes, a failed candidate ends the search.
        std::size_t q = text.find('>', j + 5);
        if (q == std::string_view::npos)
            break;
        std::size_t r = text.find('<', q + 1);
        if (r == std::string_view::npos || r >= lastGt)
            break;
        result.found = true;
        result.text = text.substr(q + 1, r - q - 1);
        pos = text.find('>', r + 1) + 1;
    }
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
