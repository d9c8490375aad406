#pragma once

#include "PageContent.h"
#include "PageTerms.h"
#include "WordCounting.h"

#include <string>
#include <string_view>
#include <vector>

// The heavy part of what a page gave, kept in the cache's segment files and read back
// only for the pages a job needs it for: its words with their counts, its keys and
// stems (with companion data), and the entry of its text in a text group.
struct PageBody {
    PageWords words;
    PageTerms terms;
    std::string textEntry;
    bool textCut = false;  // the text was cut to stay within its bytes
};

// Appends the body of a page to out; terms and textEntry are those of a job with
// companion data, null without.
void writePageBody(const PageWords& words, const PageTerms* terms, const std::string* textEntry, bool textCut,
                   std::string& out);

// Reads a body written by writePageBody, only its text entry when textOnly; false when
// the bytes are not one.
bool readPageBody(std::string_view bytes, PageBody& body, bool textOnly = false);
