// One word per precinct of a resolution (its reference, or the sequencer's next layer),
// read as zero until set. A header may claim a tile with billions of precincts while the
// stream holds a handful of bytes, so only small counts get a plain array; larger ones
// keep just the words that packets or requests have reached. Either way a word's address
// stays put while the container lives, since precinct records link back to their word.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

template <class T>
class rv_sparse_words {
    // Sparse words carry their index, so a back-link can be turned into one.
    struct entry {
        T word;
        uint64_t index;
    };
    using entry_map = std::map<uint64_t, entry>;

public:
    // Up to this many words sit in an array, about what the resolution's own record
    // costs: the usual single precinct per level is indexed directly.
    static constexpr uint64_t dense_limit = 64;

    // `count` words, all zero.
    void assign(uint64_t count)
    {
        n = count;
        sparse.clear();
        dense.assign(count <= dense_limit ? size_t(count) : 0, T());
    }
    uint64_t size() const { return n; }
    bool empty() const { return n == 0; }
    // The word at `i` (< size()), made when first asked for.
    T& operator[](uint64_t i)
    {
        if (n <= dense_limit)
            return dense[size_t(i)];
        auto it = sparse.try_emplace(i, entry{T(), i}).first;
        return it->second.word;
    }
    // The word at `i` without making it.
    T get(uint64_t i) const
    {
        if (n <= dense_limit)
            return dense[size_t(i)];
        auto it = sparse.find(i);
        return it == sparse.end() ? T() : it->second.word;
    }
    // The index of a word this container handed out.
    uint64_t index_of(const T* w) const
    {
        if (n <= dense_limit)
            return uint64_t(w - dense.data());
        return reinterpret_cast<const entry*>(w)->index; // `word` is the entry's first member
    }
    // Words held: every word of an array, the words reached otherwise; in index order.
    size_t words_held() const { return n <= dense_limit ? dense.size() : sparse.size(); }

    template <class W, class It>
    class iter {
    public:
        iter(W* p, It m, bool d) : p(p), m(m), d(d) {}
        W& operator*() const { return d ? *p : m->second.word; }
        iter& operator++()
        {
            if (d)
                ++p;
            else
                ++m;
            return *this;
        }
        bool operator!=(const iter& o) const { return d ? p != o.p : m != o.m; }

    private:
        W* p;
        It m;
        bool d;
    };
    using iterator = iter<T, typename entry_map::iterator>;
    using const_iterator = iter<const T, typename entry_map::const_iterator>;

    iterator begin() { return iterator(dense.data(), sparse.begin(), n <= dense_limit); }
    iterator end() { return iterator(dense.data() + dense.size(), sparse.end(), n <= dense_limit); }
    const_iterator begin() const
    {
        return const_iterator(dense.data(), sparse.begin(), n <= dense_limit);
    }
    const_iterator end() const
    {
        return const_iterator(dense.data() + dense.size(), sparse.end(), n <= dense_limit);
    }

private:
    uint64_t n = 0;
    std::vector<T> dense;
    entry_map sparse;
};
