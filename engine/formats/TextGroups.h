#pragma once

#include "PageContent.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class PieceStore;

// The page texts of a job in groups of a few pages, each group a piece of the store:
//
//   /* generator: VantrelIndexer */
//   vantrelTexts([{"text":"...","sections":[[start,"anchor","heading"],...]},
//   {...}]);
//
// Texts come in document order. A group ends after a text whose entry hashes to one of
// kGroupPages values (one text in kGroupPages), or once it holds kGroupBytes, so that a
// results screen loads little beyond the texts it shows. Where groups end depends on
// the texts alone, not on their document numbers: a changed page changes the groups of
// its run (the texts up to the next end by hash, about kGroupPages of them), a page added
// or taken away leaves the other groups as they were, and a job over an unchanged site
// writes no group at all.
class TextGroups {
public:
    static constexpr std::uint32_t kGroupPages = 4;
    static constexpr std::size_t kGroupBytes = 32 * 1024;

    explicit TextGroups(PieceStore& store);

    // The entry of one page text in a group: its text and sections, cut to the bytes its
    // page may cost (kMaxPageTextBytes of text as written, and twice pageBytes, the
    // page's own, for the whole); cut tells whether anything was left out. Safe on any
    // thread.
    static std::string entryOf(const PageContent& content, std::size_t pageBytes, bool& cut);

    // Adds the text of document, which comes after every document added or shared
    // before. False when a group could not be written (the store says why).
    bool add(std::int32_t document, std::string entry);
    // document shows the text of first, an earlier document.
    void share(std::int32_t document, std::int32_t first);
    // Writes the last group.
    bool finish();

    // The groups' file names, in order.
    const std::vector<std::string>& groups() const { return m_groups; }
    // Where the text of each document stands: its group and its place there, or -1, -1
    // for a document without text.
    const std::vector<std::pair<std::int32_t, std::int32_t>>& places() const { return m_places; }

private:
    bool endGroup();
    void place(std::int32_t document, std::pair<std::int32_t, std::int32_t> where);

    PieceStore& m_store;
    std::string m_group;  // the entries of the group being filled, joined
    std::int32_t m_entries = 0;
    std::vector<std::string> m_groups;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_places;
};
