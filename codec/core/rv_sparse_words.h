// One word per precinct of a resolution (its reference, or the sequencer's next layer),
// read as zero until set. A header may claim a tile with billions of precincts while the
// stream holds a handful of bytes, so a plain array is kept only for small counts and
// for counts the source's bytes could fill (an allowance the codestream grants); other
// counts keep just the words that packets or requests have reached. Either way a word's
// address stays put while the container lives, since precinct records link back to their
// word.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Bytes of plain word arrays that containers above the small count may hold together.
// Every packet of a precinct takes at least one byte of the source, so a count within
// what the source holds is one its data could fill; a header's claim alone buys nothing.
class rv_dense_allowance {
public:
    void set_limit(int64_t bytes) { limit = bytes; }
    // Takes `count` words of `size` bytes when they fit in what is left.
    bool take(uint64_t count, size_t size)
    {
        const int64_t left = limit - used;
        if (left <= 0 || count > uint64_t(left) / size)
            return false;
        used += int64_t(count * size);
        return true;
    }
    void give(uint64_t count, size_t size) { used -= int64_t(count * size); }
    int64_t bytes_used() const { return used; }

private:
    int64_t limit = 0, used = 0;
};

template <class T>
class rv_sparse_words {
    // Sparse words carry their index, so a back-link can be turned into one.
    struct entry {
        T word;
        uint64_t index;
    };
    using entry_map = std::map<uint64_t, entry>;

public:
    // Up to this many words sit in an array whatever the allowance, about what the
    // resolution's own record costs: the usual single precinct per level is indexed directly.
    static constexpr uint64_t dense_limit = 64;

    rv_sparse_words() = default;
    ~rv_sparse_words() { give_back(); }
    rv_sparse_words(const rv_sparse_words&) = delete;
    rv_sparse_words& operator=(const rv_sparse_words&) = delete;
    // Moving keeps the words where they are (the array's and the map's storage move whole).
    rv_sparse_words(rv_sparse_words&& o) noexcept
        : n(o.n), is_dense(o.is_dense), charged(o.charged), dense(std::move(o.dense)),
          sparse(std::move(o.sparse))
    {
        o.forget();
    }
    rv_sparse_words& operator=(rv_sparse_words&& o) noexcept
    {
        if (this != &o) {
            give_back();
            n = o.n;
            is_dense = o.is_dense;
            charged = o.charged;
            dense = std::move(o.dense);
            sparse = std::move(o.sparse);
            o.forget();
        }
        return *this;
    }

    // `count` words, all zero: an array when the count is small or `allowance` (if any)
    // grants it, the reached words only otherwise.
    void assign(uint64_t count, rv_dense_allowance* allowance = nullptr)
    {
        give_back();
        n = count;
        sparse.clear();
        is_dense = count <= dense_limit;
        if (!is_dense && allowance != nullptr && allowance->take(count, sizeof(T))) {
            is_dense = true;
            charged = allowance;
        }
        if (is_dense)
            dense.assign(size_t(count), T());
        else
            std::vector<T>().swap(dense);
    }
    uint64_t size() const { return n; }
    bool empty() const { return n == 0; }
    // The words as one array when held whole, else null.
    T* array() { return is_dense ? dense.data() : nullptr; }
    // The word at `i` (< size()), made when first asked for.
    T& operator[](uint64_t i)
    {
        if (is_dense)
            return dense[size_t(i)];
        auto it = sparse.try_emplace(i, entry{T(), i}).first;
        return it->second.word;
    }
    // The word at `i` without making it.
    T get(uint64_t i) const
    {
        if (is_dense)
            return dense[size_t(i)];
        auto it = sparse.find(i);
        return it == sparse.end() ? T() : it->second.word;
    }
    // The index of a word this container handed out.
    uint64_t index_of(const T* w) const
    {
        if (is_dense)
            return uint64_t(w - dense.data());
        return reinterpret_cast<const entry*>(w)->index; // `word` is the entry's first member
    }
    // Every word back to zero; the holding stays as it is.
    void zero()
    {
        if (is_dense)
            std::fill(dense.begin(), dense.end(), T());
        else
            sparse.clear();
    }
    // The words of `from`, a container of the same size, whichever way each is held.
    void copy_words(const rv_sparse_words& from)
    {
        if (is_dense && from.is_dense) {
            std::copy(from.dense.begin(), from.dense.end(), dense.begin());
            return;
        }
        if (!is_dense && !from.is_dense) {
            sparse = from.sparse;
            return;
        }
        zero();
        if (from.is_dense) {
            for (size_t i = 0; i < from.dense.size(); i++)
                if (from.dense[i] != T())
                    (*this)[i] = from.dense[i];
        } else {
            for (const auto& kv : from.sparse)
                (*this)[kv.first] = kv.second.word;
        }
    }
    // Words held: every word of an array, the words reached otherwise; in index order.
    size_t words_held() const { return is_dense ? dense.size() : sparse.size(); }

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

    iterator begin() { return iterator(dense.data(), sparse.begin(), is_dense); }
    iterator end() { return iterator(dense.data() + dense.size(), sparse.end(), is_dense); }
    const_iterator begin() const { return const_iterator(dense.data(), sparse.begin(), is_dense); }
    const_iterator end() const
    {
        return const_iterator(dense.data() + dense.size(), sparse.end(), is_dense);
    }

private:
    void give_back()
    {
        if (charged != nullptr)
            charged->give(n, sizeof(T));
        charged = nullptr;
    }
    void forget()
    {
        n = 0;
        is_dense = true;
        charged = nullptr;
        dense.clear();
        sparse.clear();
    }

    uint64_t n = 0;
    bool is_dense = true;                   // an array of all n words
    rv_dense_allowance* charged = nullptr; // the allowance the array was taken from
    std::vector<T> dense;
    entry_map sparse;
};
