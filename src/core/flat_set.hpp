#pragma once
// The one small hash set: open addressing over non-zero 64-bit keys (0 marks an
// empty slot), for sets that one call builds and drops. Only membership is read,
// never the order of the slots, so results cannot depend on the hashing.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorix::core {

class FlatU64Set {
public:
    // Empties the set, keeping a small table.
    void clear() {
        if (table_.size() != 64) table_.assign(64, 0);
        else std::fill(table_.begin(), table_.end(), 0);
        count_ = 0;
    }
    // False when the key was already present. `key` must not be 0.
    bool insert(std::uint64_t key) {
        if (table_.empty()) table_.assign(64, 0);
        if ((count_ + 1) * 2 > table_.size()) grow();
        if (!place(table_, key)) return false;
        ++count_;
        return true;
    }
    bool contains(std::uint64_t key) const {
        if (table_.empty()) return false;
        const std::size_t mask = table_.size() - 1;
        for (std::size_t i = slot(key, mask);; i = (i + 1) & mask) {
            if (table_[i] == 0) return false;
            if (table_[i] == key) return true;
        }
    }
    std::size_t size() const { return count_; }

private:
    std::vector<std::uint64_t> table_;
    std::size_t count_ = 0;

    static std::size_t slot(std::uint64_t key, std::size_t mask) {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 40) & mask;
    }
    static bool place(std::vector<std::uint64_t>& t, std::uint64_t key) {
        const std::size_t mask = t.size() - 1;
        std::size_t i = slot(key, mask);
        while (t[i] != 0) {
            if (t[i] == key) return false;
            i = (i + 1) & mask;
        }
        t[i] = key;
        return true;
    }
    void grow() {
        std::vector<std::uint64_t> bigger(table_.size() * 2, 0);
        for (std::uint64_t k : table_)
            if (k != 0) place(bigger, k);
        table_.swap(bigger);
    }
};

}  // namespace quorix::core
