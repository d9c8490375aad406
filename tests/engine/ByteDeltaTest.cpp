// Deltas of byte strings: a delta gives back its target exactly, stays small for the
// changes an edit makes to a range of the tables, and a damaged one is refused, never
// read outside its base or made to write more than its size.

#include "ByteDelta.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// Bytes laid out as a range of the tables is: 8-byte weights, then 4-byte documents.
std::string postings(const std::vector<double>& weights, const std::vector<std::int32_t>& documents)
{
    std::string bytes(reinterpret_cast<const char*>(weights.data()), weights.size() * sizeof(double));
    bytes.append(reinterpret_cast<const char*>(documents.data()), documents.size() * sizeof(std::int32_t));
    return bytes;
}

std::string applied(const std::string& base, const std::string& delta)
{
    std::string out(ByteDelta::sizeOf(base, delta), '\0');
    if (out.empty() || !ByteDelta::apply(base, delta, out.data()))
        return "(refused)";
    return out;
}

TEST(ByteDelta, GivesItsTargetBackFromAFewBytesForAnEditsChanges)
{
    std::vector<double> weights;
    std::vector<std::int32_t> documents;
    for (int i = 0; i < 3000; ++i) {
        weights.push_back(1000.0 / (i + 1));
        documents.push_back(i * 7 % 3001);
    }
    const std::string base = postings(weights, documents);
    struct Row {
        const char* what;
        std::function<void(std::vector<double>&, std::vector<std::int32_t>&)> change;
    };
    const Row rows[] = {
        {"nothing changed", [](auto&, auto&) {}},
        {"a weight changed in place", [](auto& w, auto&) { w[1500] = 0.5; }},
        {"a posting moved up", [](auto& w, auto& d) {
             w.erase(w.begin() + 2500); w.insert(w.begin() + 10, 99.0);
             d.erase(d.begin() + 2500); d.insert(d.begin() + 10, 4242);
         }},
        {"a posting moved down", [](auto& w, auto& d) {
             w.erase(w.begin() + 10); w.insert(w.begin() + 2500, 0.25);
             d.erase(d.begin() + 10); d.insert(d.begin() + 2500, 4242);
         }},
        {"a posting added at the end", [](auto& w, auto& d) { w.push_back(0.1); d.push_back(5000); }},
        {"a posting removed at the start", [](auto& w, auto& d) { w.erase(w.begin()); d.erase(d.begin()); }},
    };
    for (const Row& row : rows) {
        std::vector<double> w = weights;
        std::vector<std::int32_t> d = documents;
        row.change(w, d);
        const std::string target = postings(w, d);
        const std::string delta = ByteDelta::between(base, target, target.size() / 8);
        ASSERT_FALSE(delta.empty()) << row.what;
        EXPECT_LT(delta.size(), 400u) << row.what;
        EXPECT_EQ(applied(base, delta), target) << row.what;
    }
    // Bytes mostly new: no delta is worth it, and none is longer than asked.
    std::vector<double> rescaled = weights;
    for (double& weight : rescaled)
        weight *= 1.5;
    EXPECT_EQ(ByteDelta::between(base, postings(rescaled, documents), base.size() / 8), "");
    // Bytes of no table: a word inserted shifts what follows by one byte.
    const std::string text(4000, 'a');
    std::string words;
    for (int i = 0; i < 500; ++i)
        words += "word" + std::to_string(i) + ",";
    std::string inserted = words;
    inserted.insert(1234, "X");
    EXPECT_EQ(applied(words, ByteDelta::between(words, inserted, inserted.size())), inserted);
    EXPECT_EQ(applied(text, ByteDelta::between(text, "", 100)), "(refused)") << "an empty target has no delta";
}

TEST(ByteDelta, RefusesADamagedDeltaWithinItsBytes)
{
    std::string base;
    for (int i = 0; i < 400; ++i)
        base += "line " + std::to_string(i) + "\n";
    std::string target = base;
    target.replace(1000, 4, "EDIT");
    target += "more";
    const std::string delta = ByteDelta::between(base, target, target.size());
    ASSERT_EQ(applied(base, delta), target);
    // The steps: [size][own length][own bytes][offset][length] ..., numbers of 8 bytes.
    auto numberAt = [](std::string bytes, std::size_t at, std::uint64_t value) {
        std::memcpy(&bytes[at], &value, sizeof value);
        return bytes;
    };
    const std::uint64_t firstOwn = [&] { std::uint64_t v; std::memcpy(&v, delta.data() + 8, 8); return v; }();
    const std::size_t firstRun = 16 + static_cast<std::size_t>(firstOwn);
    struct Row {
        const char* what;
        std::string delta;
    };
    const Row rows[] = {
        {"cut short", delta.substr(0, delta.size() - 3)},
        {"cut to its size", delta.substr(0, 8)},
        {"no size", delta.substr(0, 5)},
        {"a size past what base and delta hold", numberAt(delta, 0, base.size() + delta.size() + 1)},
        {"a size larger than the steps give", numberAt(delta, 0, target.size() + 1)},
        {"a size smaller than the steps give", numberAt(delta, 0, target.size() - 1)},
        {"a run past the base's end", numberAt(delta, firstRun + 8, base.size() + 1)},
        {"a run at a huge offset", numberAt(delta, firstRun, ~std::uint64_t(0) - 2)},
        {"own bytes past the delta's end", numberAt(delta, 8, delta.size())},
        {"a run from inside the base past its end", numberAt(delta, firstRun, base.size() - 2)},
        {"bytes after its last step", delta + std::string(5, '\0')},
    };
    for (const Row& row : rows)
        EXPECT_EQ(applied(base, row.delta), "(refused)") << row.what;
}

}  // namespace
