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
#include <memory>
#include <new>

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
    // Moving keeps the words where they are (the array and the map's nodes move whole).
    rv_sparse_words(rv_sparse_words&& o) noexcept
        : n(o.n), words(std::move(o.words)), charged(o.charged), sparse(std::move(o.sparse))
    {
        o.forget();
    }
    rv_sparse_words& operator=(rv_sparse_words&& o) noexcept
    {
        if (this != &o) {
            give_back();
            n = o.n;
            words = std::move(o.words);
            charged = o.charged;
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
        forget();
        if (count <= dense_limit) {
            if (count > 0)
                words = std::make_unique<T[]>(size_t(count));
        } else if (allowance != nullptr && allowance->take(count, sizeof(T))) {
            words.reset(new (std::nothrow) T[size_t(count)]());
            // An array the heap cannot give: the reached words serve as well.
            if (words != nullptr)
                charged = allowance;
            else
                allowance->give(count, sizeof(T));
        }
        n = count;
    }
    uint64_t size() const { return n; }
    bool empty() const { return n == 0; }
    // The words as one array when held whole, else null (also when there are none).
    T* array() { return words.get(); }
    // The word at `i` (< size()), made when first asked for.
    T& operator[](uint64_t i)
    {
        if (words != nullptr)
            return words[size_t(i)];
        auto it = sparse.try_emplace(i, entry{T(), i}).first;
        return it->second.word;
    }
    // The word at `i` without making it.
    T get(uint64_t i) const
    {
        if (words != nullptr)
            return words[size_t(i)];
        auto it = sparse.find(i);
        return it == sparse.end() ? T() : it->second.word;
    }
    // The index of a word this container handed out.
    uint64_t index_of(const T* w) const
    {
        if (words != nullptr)
            return uint64_t(w - words.get());
        return reinterpret_cast<const entry*>(w)->index; // `word` is the entry's first member
    }
    // Every word back to zero; the holding stays as it is.
    void zero()
    {
        if (words != nullptr)
            std::fill(words.get(), words.get() + n, T());
        else
            sparse.clear();
    }
    // The words of `from`, a container of the same size, whichever way each is held.
    void copy_words(const rv_sparse_words& from)
    {
        if (words != nullptr && from.words != nullptr) {
            std::copy(from.words.get(), from.words.get() + n, words.get());
            return;
        }
        if (words == nullptr && from.words == nullptr) {
            sparse = from.sparse;
            return;
        }
        zero();
        if (from.words != nullptr) {
            for (uint64_t i = 0; i < n; i++)
                if (from.words[size_t(i)] != T())
                    (*this)[i] = from.words[size_t(i)];
        } else {
            for (const auto& kv : from.sparse)
                (*this)[kv.first] = kv.second.word;
        }
    }
    // Words held: every word of an array, the words reached otherwise; in index order.
    size_t words_held() const { return words != nullptr ? size_t(n) : sparse.size(); }

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

    // With no words at all both forms are empty: the map's walk serves.
    iterator begin() { return iterator(words.get(), sparse.begin(), words != nullptr); }
    iterator end() { return iterator(words.get() + held(), sparse.end(), words != nullptr); }
    const_iterator begin() const
    {
        return const_iterator(words.get(), sparse.begin(), words != nullptr);
    }
    const_iterator end() const
    {
        return const_iterator(words.get() + held(), sparse.end(), words != nullptr);
    }

private:
    size_t held() const { return words != nullptr ? size_t(n) : 0; }
    void give_back()
    {
        if (charged != nullptr)
            charged->give(n, sizeof(T));
        charged = nullptr;
    }
    void forget()
    {
        n = 0;
        words.reset();
        charged = nullptr;
        sparse.clear();
    }

    uint64_t n = 0;
    std::unique_ptr<T[]> words;            // all n words, or null: the reached ones in `sparse`
    rv_dense_allowance* charged = nullptr; // the allowance the array was taken from
    entry_map sparse;
};
