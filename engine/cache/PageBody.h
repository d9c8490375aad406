#pragma once

#include "PageContent.h"
#include "PageTerms.h"
#include "WordCounting.h"

#include <string>
#include <string_view>
#include <vector>

// The heavy part of what a page gave, kept in the cache's segment files and read back
// only for the pages a job needs it for: its words with their counts, its keys and
// stems (with companion data), its text and sections.
struct PageBody {
    PageWords words;
    PageTerms terms;
    std::string scriptText;
    std::vector<PageSection> sections;
};

// Appends the body of a page to out; terms and content are those of a job with
// companion data, null without.
void writePageBody(const PageWords& words, const PageTerms* terms, const PageContent* content, std::string& out);

// Reads a body written by writePageBody; false when the bytes are not one.
bool readPageBody(std::string_view bytes, PageBody& body);
