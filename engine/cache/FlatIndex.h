#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// An index of the entries of an array by a hash of each: open addressing over one table of
// (hash, entry number) slots, at most half full, so that building it for ten thousand
// pages allocates a few times rather than once a page, and letting it go frees as often.
// The caller keeps the entries and tells which one is sought (`same`, given an entry
// number). The hashes are seeded once a process (hashOf()), so that no name or file an
// input chooses can make its keys collide on purpose: probes stay short whatever the site.
class FlatIndex {
public:
    static constexpr std::int32_t kNone = -1;

    void clear()
    {
        m_slots.clear();
        m_used = 0;
    }
    // Room for entries without growing.
    void reserve(std::size_t entries)
    {
        if (2 * entries > m_slots.size())
            rehash(2 * entries);
    }
    std::size_t size() const { return m_used; }

    // The first entry indexed under hash for which same(entry) holds, or kNone.
    template <class Same>
    std::int32_t find(std::uint64_t hash, const Same& same) const
    {
        if (m_slots.empty())
            return kNone;
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            const Slot& slot = m_slots[at];
            if (slot.entry == kNone)
                return kNone;
            if (slot.hash == hash && same(slot.entry))
                return slot.entry;
        }
    }
    // The entry indexed under hash for which same(entry) holds; when there is none, entry,
    // indexed from now on.
    template <class Same>
    std::int32_t insert(std::uint64_t hash, std::int32_t entry, const Same& same)
    {
        if (2 * (m_used + 1) > m_slots.size())
            rehash(2 * (m_used + 1));
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot& slot = m_slots[at];
            if (slot.entry == kNone) {
                slot = Slot{hash, entry};
                ++m_used;
                return entry;
            }
            if (slot.hash == hash && same(slot.entry))
                return slot.entry;
        }
    }

    // Seeded hashes of a text and of a file (device and inode).
    static std::uint64_t hashOf(std::string_view text);
    static std::uint64_t hashOf(std::uint64_t device, std::uint64_t inode);

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::int32_t entry = kNone;
    };
    // To a table of at least `least` slots (a power of two), every entry placed again.
    void rehash(std::size_t least);

    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
};
