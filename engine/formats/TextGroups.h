#pragma once

#include "PageContent.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
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
// kGroupPages values (one text in kGroupPages) once the group holds kGroupFloor bytes,
// or once it holds kGroupBytes, so that a results screen loads little beyond the texts
// it shows, and short texts do not each cost a file of their own. Where groups end
// depends on the texts alone, not on their document numbers: a changed page changes the
// groups of its run (the texts up to the next end by hash, about kGroupPages of them, or
// as many as fill kGroupFloor; a change of length may move the next end or two), a page
// added or taken away leaves the groups further on as they were, and a job over an
// unchanged site writes no group at all. Since the ends follow from a few facts of each entry, a job
// that knows those facts of the texts it did not read (from the page cache) and the groups
// of the last job needs the bytes of no text whose group stayed.
class TextGroups {
public:
    static constexpr std::uint32_t kGroupPages = 4;
    static constexpr std::size_t kGroupBytes = 32 * 1024;
    static constexpr std::size_t kGroupFloor = 8 * 1024;

    // What places an entry among the groups and tells it from others without its bytes:
    // its group-end hash (FNV-1a of its bytes modulo kGroupPages), its length and a
    // checksum (XXH3) of it.
    struct EntryFacts {
        std::uint32_t end = 0;
        std::uint64_t length = 0;
        std::uint64_t checksum = 0;
        bool operator==(const EntryFacts& other) const
        {
            return end == other.end && length == other.length && checksum == other.checksum;
        }
    };
    static EntryFacts factsOf(std::string_view entry);

    // A group written by a job: the checksum of its entries' facts, its piece and the
    // piece file's stamp (PieceStore::stamp()) then.
    struct Written {
        std::uint64_t entries = 0;
        std::string name;
        std::string stamp;
        bool operator==(const Written& other) const
        {
            return entries == other.entries && name == other.name && stamp == other.stamp;
        }
    };

    // Gives the entry of a text added by its facts alone; false when it cannot.
    using Loader = std::function<bool(std::string& entry)>;

    explicit TextGroups(PieceStore& store);

    // The entry of one page text in a group: its text and sections, cut to the bytes its
    // page may cost (kMaxPageTextBytes of text as written, and twice pageBytes, the
    // page's own, for the whole); cut tells whether anything was left out. Safe on any
    // thread.
    static std::string entryOf(const PageContent& content, std::size_t pageBytes, bool& cut);

    // Groups an earlier job wrote: a group of the same entries whose piece is still as
    // it was then is taken as it stands, and its entries are never loaded.
    void reuseFrom(const std::vector<Written>& earlier);

    // Adds the text of document, which comes after every document added or shared
    // before (known: its facts, when worked out already). False when a group could not
    // be written (the store says why).
    bool add(std::int32_t document, std::string entry, const EntryFacts* known = nullptr);
    // The same with the entry known by its facts: load is called only when its group
    // must be written. False also when load fails.
    bool add(std::int32_t document, const EntryFacts& facts, Loader load);
    // document shows the text of first, an earlier document.
    void share(std::int32_t document, std::int32_t first);
    // Writes the last group.
    bool finish();

    // The groups' file names, in order.
    const std::vector<std::string>& groups() const { return m_groups; }
    // The groups as the next job may reuse them.
    const std::vector<Written>& written() const { return m_written; }
    // Where the text of each document stands: its group and its place there, or -1, -1
    // for a document without text.
    const std::vector<std::pair<std::int32_t, std::int32_t>>& places() const { return m_places; }

    // Where the entry of a document's text lies in a group written or taken: the group's
    // piece and the entry's first byte in its file (name "" for a document without text,
    // or whose group is not finished).
    struct Location {
        std::string group;
        std::uint64_t offset = 0;
    };
    Location locate(std::int32_t document) const;
    // Reads the entry that facts tell from a group in store at a location: false when
    // the piece is not a regular file of the user's, is too short, or holds other bytes
    // there than an entry of those facts.
    static bool readEntry(const PieceStore& store, const Location& where, const EntryFacts& facts, std::string& entry);

private:
    struct Pending {
        EntryFacts facts;
        std::string entry;
        Loader load;  // null once entry holds the bytes
    };
    bool addPending(std::int32_t document, Pending pending);
    bool endGroup();
    void place(std::int32_t document, std::pair<std::int32_t, std::int32_t> where);

    PieceStore& m_store;
    std::vector<Pending> m_pending;  // the entries of the group being filled
    std::size_t m_groupBytes = 0;    // of its file so far
    std::unordered_map<std::uint64_t, Written> m_earlier;  // by the checksum of their entries
    std::vector<std::string> m_groups;
    std::vector<Written> m_written;
    std::vector<std::pair<std::int32_t, std::int32_t>> m_places;
    std::vector<std::vector<std::uint64_t>> m_offsets;  // of each group's entries in its file
};
