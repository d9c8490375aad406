#pragma once

#include "PageContent.h"
#include "PageTerms.h"
#include "WordCounting.h"

#include <string>
#include <string_view>
#include <vector>

// The heavy part of what a page gave, kept in the cache's segment files and read back
// only for the pages a job needs it for: its words with their counts, and its keys and
// stems (with companion data). Its text is not kept here: the group of texts the job
// published holds it (CachedPage::textPlace).
struct PageBody {
    PageWords words;
    PageTerms terms;
};

// Appends the body of a page to out; terms are those of a job with companion data, null
// without.
void writePageBody(const PageWords& words, const PageTerms* terms, std::string& out);

// Reads a body written by writePageBody; false when the bytes are not one.
bool readPageBody(std::string_view bytes, PageBody& body);
