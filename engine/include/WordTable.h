#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>
#include <sys/random.h>

// The key of every word table's hash, drawn at random once per process. Not a member of
// the template, so that tables of every value type agree.
inline std::uint64_t wordHashKey()
{
    static const std::uint64_t key = [] {
        std::uint64_t random = 0;
        if (::getrandom(&random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random))
            random = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
                ^ reinterpret_cast<std::uintptr_t>(&random);
        return random;
    }();
    return key;
}

// An insert-only hash table from word to Value. The word bytes live in one arena, the
// values in one vector in insertion order, so tables with hundreds of thousands of words
// cost a handful of allocations. Iteration is in insertion order; sortedIndexes() gives
// the byte order that the index files need.
template <typename Value>
class WordTable {
public:
    struct Entry {
        std::size_t offset;  // of the word in the arena
        std::size_t length;
        std::uint64_t hash;
        Value value;
    };

    // A keyed hash: the key is drawn at random once per process, so nobody can choose
    // words that collide, and all tables of a process agree (entries keep their hash
    // when they move between tables). Nothing written depends on it: the index files
    // take their order from sorting, never from the table.
    __attribute__((always_inline)) static std::uint64_t hashWord(std::string_view word)
    {
        // Mixed before the first chunk, so that the key counts for words under 8 bytes too.
        std::uint64_t h = mix(wordHashKey() ^ (word.size() * 0x9e3779b97f4a7c15ULL));
        const char* p = word.data();
        std::size_t n = word.size();
        while (n >= 8) {
            std::uint64_t chunk;
            std::memcpy(&chunk, p, 8);
            h = mix(h ^ chunk);
            p += 8;
            n -= 8;
        }
        // The last bytes in one or two loads of a fixed size rather than a copy of n bytes,
        // which costs more than the mixing: four to seven bytes as two overlapping words,
        // fewer as the first, middle and last (every byte, for the length is mixed in).
        std::uint64_t tail = 0;
        if (n >= 4) {
            tail = load<std::uint32_t>(p) | static_cast<std::uint64_t>(load<std::uint32_t>(p + n - 4)) << 32;
        } else if (n > 0) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(p);
            tail = bytes[0] | static_cast<std::uint64_t>(bytes[n / 2]) << 8 | static_cast<std::uint64_t>(bytes[n - 1]) << 16;
        }
        return mix(h ^ tail);
    }

    // Room for a count of words more, known beforehand, so that filling the table grows
    // neither its slots nor its entries on the way.
    void reserve(std::size_t words)
    {
        std::size_t capacity = m_slots.empty() ? 64 : m_slots.size();
        while ((m_entries.size() + words + 1) * 4 > capacity * 3)
            capacity *= 2;
        if (capacity > m_slots.size()) {
            m_slots.resize(capacity / 2);  // grow() doubles it and places every entry again
            grow();
        }
        m_entries.reserve(m_entries.size() + words);
    }

    // Returns the value of the word, inserting a default Value when it is absent.
    __attribute__((always_inline)) Value& findOrInsert(std::string_view word) { return findOrInsert(word, hashWord(word)); }

    // Finding a word already held (most lookups of a page's words) is kept inline in the
    // caller, with the hash: a call for each word cost as much as the probe itself. The
    // insertion, rarer, is a call.
    __attribute__((always_inline)) Value& findOrInsert(std::string_view word, std::uint64_t hash)
    {
        if (__builtin_expect((m_entries.size() + 1) * 4 > m_slots.size() * 3, 0))
            grow();
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::uint32_t slot = m_slots[i];
            if (slot == 0)
                return insertAt(i, word, hash);
            Entry& entry = m_entries[slot - 1];
            if (entry.hash == hash && entry.length == word.size() && sameBytes(m_arena.data() + entry.offset, word.data(), word.size()))
                return entry.value;
        }
    }

    // Hints for a lookup of hash that comes soon, in three steps taken some lookups
    // apart, each reading what the one before brought near: the slot where its probe
    // starts; the entry that slot names; and that entry when its hash is hash (else
    // null), with its word's bytes. A job's table is far larger than the processor's
    // caches: a lookup left alone waits for each in turn. They change nothing else.
    void prefetchSlot(std::uint64_t hash) const
    {
        if (!m_slots.empty())
            __builtin_prefetch(m_slots.data() + (hash & (m_slots.size() - 1)));
    }
    void prefetchEntry(std::uint64_t hash) const
    {
        if (const std::uint32_t slot = firstSlot(hash))
            __builtin_prefetch(m_entries.data() + (slot - 1));
    }
    const Entry* prefetchWord(std::uint64_t hash) const
    {
        const std::uint32_t slot = firstSlot(hash);
        if (slot == 0 || m_entries[slot - 1].hash != hash)
            return nullptr;
        __builtin_prefetch(m_arena.data() + m_entries[slot - 1].offset);
        return &m_entries[slot - 1];
    }

    const Value* find(std::string_view word) const
    {
        if (m_slots.empty())
            return nullptr;
        std::uint64_t hash = hashWord(word);
        std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            std::uint32_t slot = m_slots[i];
            if (slot == 0)
                return nullptr;
            const Entry& entry = m_entries[slot - 1];
            if (entry.hash == hash && wordOf(entry) == word)
                return &entry.value;
        }
    }

    std::string_view wordOf(const Entry& entry) const
    {
        return std::string_view(m_arena.data() + entry.offset, entry.length);
    }

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    const std::vector<Entry>& entries() const { return m_entries; }
    // The value of entries()[i], to change in place.
    Value& valueAt(std::size_t i) { return m_entries[i].value; }
    // Calls visit(Value&) for every entry, in insertion order: values may change, words not.
    template <typename Visit>
    void forEachValue(Visit&& visit)
    {
        for (Entry& entry : m_entries)
            visit(entry.value);
    }

    // Positions in entries(), ordered by unsigned byte comparison of the words (a word
    // that is a prefix of another first), or by less(word, word) when given.
    std::vector<std::uint32_t> sortedIndexes(bool (*less)(std::string_view, std::string_view) = nullptr) const
    {
        std::vector<std::uint32_t> order(m_entries.size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [this, less](std::uint32_t a, std::uint32_t b) {
            // std::string_view compares through char_traits<char>, which compares as
            // unsigned char, so bytes above 127 sort after ASCII.
            return less ? less(wordOf(m_entries[a]), wordOf(m_entries[b])) : wordOf(m_entries[a]) < wordOf(m_entries[b]);
        });
        return order;
    }

    // Empties the table but keeps its memory, for a table refilled page after page. The
    // work is that of the words held, not of the largest page the table ever held.
    void reset()
    {
        if (m_entries.size() * 8 >= m_slots.size()) {
            std::fill(m_slots.begin(), m_slots.end(), 0u);
        } else {
            // Each entry's slot lies on its probe path; slots emptied before it are passed.
            const std::size_t mask = m_slots.size() - 1;
            for (std::uint32_t e = 0; e < m_entries.size(); ++e) {
                std::size_t i = m_entries[e].hash & mask;
                while (m_slots[i] != e + 1)
                    i = (i + 1) & mask;
                m_slots[i] = 0;
            }
        }
        m_entries.clear();
        m_arena.clear();
    }

    void clear()
    {
        std::vector<std::uint32_t>().swap(m_slots);
        std::vector<Entry>().swap(m_entries);
        std::string().swap(m_arena);
    }

private:
    // Whether the n bytes at a and b are the same. Most words are short, and a call of
    // memcmp for each word looked up cost more than comparing them here, eight bytes at a
    // time (the last eight, or four, overlapping those before).
    static bool sameBytes(const char* a, const char* b, std::size_t n)
    {
        if (n >= 8) {
            std::size_t i = 0;
            for (; i + 8 <= n; i += 8)
                if (load<std::uint64_t>(a + i) != load<std::uint64_t>(b + i))
                    return false;
            return i == n || load<std::uint64_t>(a + n - 8) == load<std::uint64_t>(b + n - 8);
        }
        if (n >= 4)
            return load<std::uint32_t>(a) == load<std::uint32_t>(b) && load<std::uint32_t>(a + n - 4) == load<std::uint32_t>(b + n - 4);
        for (std::size_t i = 0; i < n; ++i)
            if (a[i] != b[i])
                return false;
        return true;
    }

    std::uint32_t firstSlot(std::uint64_t hash) const
    {
        return m_slots.empty() ? 0 : m_slots[hash & (m_slots.size() - 1)];
    }

    template <typename Number>
    static Number load(const char* p)
    {
        Number value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }

    // The finaliser of a well-known 64-bit mixer: every input bit reaches every output bit.
    static std::uint64_t mix(std::uint64_t h)
    {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        h *= 0xc4ceb9fe1a85ec53ULL;
        h ^= h >> 33;
        return h;
    }

    __attribute__((noinline)) Value& insertAt(std::size_t i, std::string_view word, std::uint64_t hash)
    {
        m_slots[i] = static_cast<std::uint32_t>(m_entries.size() + 1);
        m_entries.push_back(Entry{m_arena.size(), word.size(), hash, Value{}});
        m_arena.append(word.data(), word.size());
        return m_entries.back().value;
    }

    __attribute__((noinline)) void grow()
    {
        std::size_t capacity = m_slots.empty() ? 64 : m_slots.size() * 2;
        std::vector<std::uint32_t> table(capacity, 0);
        std::size_t mask = capacity - 1;
        for (std::uint32_t e = 0; e < m_entries.size(); ++e) {
            std::size_t i = m_entries[e].hash & mask;
            while (table[i] != 0)
                i = (i + 1) & mask;
            table[i] = e + 1;
        }
        m_slots.swap(table);
    }

    std::vector<std::uint32_t> m_slots;  // 0 = empty, else entry index + 1
    std::vector<Entry> m_entries;
    std::string m_arena;
};
