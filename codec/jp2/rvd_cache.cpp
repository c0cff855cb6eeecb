#include "codec/jp2/rvd_cache.h"

#include "codec/core/rvd_message.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

const int kSegmentBytes = 64;
const int kFirstSegmentBytes = 44; // the first segment also carries the bin's header
const int kSegmentsPerBlock = 32;
const int kNodeSlots = 128;

struct segment {
    uint8_t bytes[kSegmentBytes];
    segment* next;
};

struct segment_block {
    segment segs[kSegmentsPerBlock];
    segment_block* next;
};

} // namespace

// One data-bin: its header fields and the chain of segments holding its bytes.
struct rvd_cache_bin {
    int64_t id;
    int cls;
    struct rvd_cache_codestream* codestream;
    rvd_cache_bin* older;
    rvd_cache_bin* newer;
    bool final_seen;
    bool mark;
    uint32_t contiguous;   // bytes held without a gap from offset 0
    segment* holes;        // (start, length) pairs of 32-bit words, ended by start 0
    segment* first;        // bytes 0..43, then 64 per chained segment
    segment* last;         // the last segment of the chain and where it starts, so
    uint32_t last_start;   // appends do not walk the chain
};

namespace {

struct node {
    int64_t base;
    int shift;                 // 0: a leaf holding bins
    void* slots[kNodeSlots];
};

struct class_index {
    node* root = nullptr;
    uint64_t bytes = 0;
    rvd_cache_bin* oldest = nullptr;
    rvd_cache_bin* newest = nullptr;
};

} // namespace

struct rvd_cache_codestream {
    int64_t id;
    class_index classes[RVD_NUM_DATABIN_CLASSES];
};

struct rvd_cache_state {
    // Segment allocator.
    segment_block* blocks = nullptr;
    segment* free_list = nullptr;
    size_t free_count = 0;
    uint64_t in_use = 0; // bytes of segment blocks, index nodes, bin and codestream records
    uint64_t peak = 0;
    uint64_t limit = rvd_cache::default_memory_limit;
    uint64_t new_bytes = 0; // bytes that were not held before their write; survives close

    std::map<int64_t, rvd_cache_codestream*> codestreams;
    int64_t num_nodes = 0;
    rvd_cache_codestream* last_codestream = nullptr; // remembered by set_read_scope
    // The read scope.
    rvd_cache_bin* scope = nullptr;
    segment* current = nullptr;
    int seg_offset = 0;
    int64_t pos = 0;

    void charge(uint64_t bytes)
    {
        in_use += bytes;
        peak = std::max(peak, in_use);
    }

    // Refuses, before anything changes, a write needing more memory than the limit allows.
    void reserve(size_t segments, uint64_t other_bytes)
    {
        size_t blocks_needed = segments > free_count ? (segments - free_count + kSegmentsPerBlock - 1) / kSegmentsPerBlock : 0;
        uint64_t more = uint64_t(blocks_needed) * sizeof(segment_block) + other_bytes;
        if (in_use + more > limit)
            throw std::length_error("data-bin cache memory limit reached");
    }

    void give_back(segment* s)
    {
        s->next = free_list;
        free_list = s;
        ++free_count;
    }

    segment* take_segment()
    {
        if (!free_list) {
            segment_block* b = new segment_block;
            b->next = blocks;
            blocks = b;
            charge(sizeof(segment_block));
            for (int i = kSegmentsPerBlock - 1; i >= 0; --i) {
                b->segs[i].next = free_list;
                free_list = &b->segs[i];
            }
            free_count += kSegmentsPerBlock;
        }
        segment* s = free_list;
        free_list = s->next;
        --free_count;
        std::memset(s, 0, sizeof *s);
        return s;
    }

    node* make_node(int64_t base, int shift)
    {
        node* n = new node;
        n->base = base;
        n->shift = shift;
        std::fill(n->slots, n->slots + kNodeSlots, nullptr);
        charge(sizeof(node));
        ++num_nodes;
        return n;
    }
};

namespace {

// Ids a node of this shift covers: 128 * 2^shift, saturating beyond 63 bits.
bool node_covers(const node* n, int64_t id)
{
    if (id < n->base)
        return false;
    int bits = n->shift + 7;
    return bits >= 63 || (uint64_t(id - n->base) >> bits) == 0;
}

int slot_of(const node* n, int64_t id)
{
    return int((uint64_t(id - n->base) >> n->shift) & (kNodeSlots - 1));
}

rvd_cache_bin* tree_find(const node* n, int64_t id)
{
    while (n) {
        if (!node_covers(n, id))
            return nullptr;
        void* child = n->slots[slot_of(n, id)];
        if (n->shift == 0)
            return static_cast<rvd_cache_bin*>(child);
        n = static_cast<const node*>(child);
    }
    return nullptr;
}

// A bound on the nodes still to make for id (new roots, then the path down).
size_t nodes_needed(const node* root, int64_t id)
{
    if (!root || !node_covers(root, id))
        return 20;
    const node* n = root;
    while (n->shift > 0) {
        const node* child = static_cast<const node*>(n->slots[slot_of(n, id)]);
        if (!child)
            return size_t(n->shift / 7);
        n = child;
    }
    return 0;
}

void free_tree(node* n)
{
    if (!n)
        return;
    for (void* child : n->slots) {
        if (!child)
            continue;
        if (n->shift == 0)
            delete static_cast<rvd_cache_bin*>(child);
        else
            free_tree(static_cast<node*>(child));
    }
    delete n;
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void put32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

typedef std::vector<std::pair<uint32_t, uint32_t>> hole_list;

const int kHolesPerSegment = kSegmentBytes / 8;

hole_list read_holes(const rvd_cache_bin* bin)
{
    hole_list out;
    for (const segment* s = bin->holes; s; s = s->next)
        for (int i = 0; i < kHolesPerSegment; ++i) {
            uint32_t start = get32(s->bytes + 8 * i);
            if (start == 0)
                return out;
            out.emplace_back(start, get32(s->bytes + 8 * i + 4));
        }
    return out;
}

// Segments a hole list of n entries (plus its end mark) needs.
size_t hole_segments(size_t n)
{
    return n == 0 ? 0 : (n + 1 + kHolesPerSegment - 1) / kHolesPerSegment;
}

} // namespace

// Brackets a public operation with the lock hooks, also when it raises.
class rvd_cache::lock_guard {
public:
    explicit lock_guard(rvd_cache* c) : cache(c) { cache->acquire_lock(); }
    ~lock_guard() { cache->release_lock(); }
    lock_guard(const lock_guard&) = delete;
    lock_guard& operator=(const lock_guard&) = delete;

private:
    rvd_cache* cache;
};

rvd_cache::rvd_cache() : state(new rvd_cache_state), attached(nullptr) {}

rvd_cache::~rvd_cache()
{
    close();
    delete state;
}

void rvd_cache::close_unlocked()
{
    attached = nullptr;
    for (auto& entry : state->codestreams) {
        for (class_index& ci : entry.second->classes)
            free_tree(ci.root);
        delete entry.second;
    }
    state->codestreams.clear();
    while (state->blocks) {
        segment_block* b = state->blocks;
        state->blocks = b->next;
        delete b;
    }
    uint64_t limit = state->limit;
    uint64_t peak = state->peak;
    uint64_t new_bytes = state->new_bytes;
    *state = rvd_cache_state();
    state->limit = limit;
    state->peak = peak;
    state->new_bytes = new_bytes;
}

bool rvd_cache::close()
{
    lock_guard guard(this);
    close_unlocked();
    return true;
}

rvd_cache_bin* rvd_cache::find_bin(int cls, int64_t codestream_id, int64_t bin_id)
{
    if (cls < 0 || cls >= RVD_NUM_DATABIN_CLASSES || codestream_id < 0 || bin_id < 0)
        return nullptr;
    if (cls == RVD_META_DATABIN)
        codestream_id = 0;
    auto it = state->codestreams.find(codestream_id);
    if (it == state->codestreams.end())
        return nullptr;
    return tree_find(it->second->classes[cls].root, bin_id);
}

void rvd_cache::unlink_bin(rvd_cache_bin* bin)
{
    class_index& ci = bin->codestream->classes[bin->cls];
    (bin->older ? bin->older->newer : ci.oldest) = bin->newer;
    (bin->newer ? bin->newer->older : ci.newest) = bin->older;
    bin->older = bin->newer = nullptr;
}

void rvd_cache::link_bin(rvd_cache_bin* bin, bool newest)
{
    class_index& ci = bin->codestream->classes[bin->cls];
    if (newest) {
        bin->older = ci.newest;
        bin->newer = nullptr;
        (ci.newest ? ci.newest->newer : ci.oldest) = bin;
        ci.newest = bin;
    } else {
        bin->newer = ci.oldest;
        bin->older = nullptr;
        (ci.oldest ? ci.oldest->older : ci.newest) = bin;
        ci.oldest = bin;
    }
}

void rvd_cache::add_to_databin(int cls, int64_t codestream_id, int64_t bin_id, const uint8_t* data,
                               int offset, int num_bytes, bool is_final, bool add_as_most_recent,
                               bool mark_if_augmented)
{
    if (cls < 0 || cls >= RVD_NUM_DATABIN_CLASSES || codestream_id < 0 || bin_id < 0 || offset < 0 ||
        num_bytes < 0 || int64_t(offset) + num_bytes > INT32_MAX)
        return;
    if (num_bytes == 0 && !is_final)
        return;
    if (cls == RVD_META_DATABIN)
        codestream_id = 0;
    lock_guard guard(this);
    rvd_cache_state& st = *state;

    // Work out the memory the write needs before changing anything.
    auto cs_it = st.codestreams.find(codestream_id);
    rvd_cache_codestream* cs = cs_it == st.codestreams.end() ? nullptr : cs_it->second;
    node* root = cs ? cs->classes[cls].root : nullptr;
    rvd_cache_bin* bin = tree_find(root, bin_id);
    const uint32_t end = uint32_t(offset) + uint32_t(num_bytes);
    size_t segments = 0, nodes = 0;
    uint32_t chain_end = 0; // bytes the bin's chain can hold now
    if (bin) {
        chain_end = bin->last == bin->first ? kFirstSegmentBytes : bin->last_start + kSegmentBytes;
    } else {
        nodes = nodes_needed(root, bin_id);
        segments = 1;
        chain_end = kFirstSegmentBytes;
    }
    if (end > chain_end)
        segments += (end - chain_end + kSegmentBytes - 1) / kSegmentBytes;
    size_t holes_now = bin ? read_holes(bin).size() : 0;
    segments += hole_segments(holes_now + 1) + 1;
    st.reserve(segments, nodes * sizeof(node) + (bin ? 0 : sizeof(rvd_cache_bin)) +
                             (cs ? 0 : sizeof(rvd_cache_codestream)));

    if (!cs) {
        cs = new rvd_cache_codestream();
        st.charge(sizeof(rvd_cache_codestream));
        cs->id = codestream_id;
        st.codestreams[codestream_id] = cs;
    }
    class_index& ci = cs->classes[cls];
    if (!bin) {
        if (!ci.root)
            ci.root = st.make_node(0, 0);
        while (!node_covers(ci.root, bin_id)) {
            node* up = st.make_node(0, ci.root->shift + 7);
            up->slots[0] = ci.root;
            ci.root = up;
        }
        node* n = ci.root;
        while (n->shift > 0) {
            void*& child = n->slots[slot_of(n, bin_id)];
            if (!child) {
                int shift = n->shift - 7;
                int64_t span_base = n->base + int64_t(uint64_t(slot_of(n, bin_id)) << n->shift);
                child = st.make_node(span_base, shift);
            }
            n = static_cast<node*>(child);
        }
        bin = new rvd_cache_bin();
        st.charge(sizeof(rvd_cache_bin));
        bin->id = bin_id;
        bin->cls = cls;
        bin->codestream = cs;
        bin->first = bin->last = st.take_segment();
        bin->last_start = 0;
        n->slots[slot_of(n, bin_id)] = bin;
        link_bin(bin, add_as_most_recent);
    } else if (add_as_most_recent) {
        unlink_bin(bin);
        link_bin(bin, true);
    }
    if (is_final)
        bin->final_seen = true;

    // Copy the bytes, chaining segments as needed.
    if (num_bytes > 0) {
        segment* s;
        uint32_t seg_start; // bin offset of s->bytes[0] (first segment: its data area)
        if (bin->last != bin->first && uint32_t(offset) >= bin->last_start) {
            s = bin->last;
            seg_start = bin->last_start;
        } else {
            s = bin->first;
            seg_start = 0;
        }
        uint32_t pos = uint32_t(offset);
        const uint8_t* src = data;
        for (;;) {
            int cap = s == bin->first ? kFirstSegmentBytes : kSegmentBytes;
            uint8_t* area = s == bin->first ? s->bytes + (kSegmentBytes - kFirstSegmentBytes) : s->bytes;
            if (pos < seg_start + uint32_t(cap)) {
                uint32_t n = std::min(end, seg_start + uint32_t(cap)) - pos;
                std::memcpy(area + (pos - seg_start), src, n);
                src += n;
                pos += n;
                if (pos == end)
                    break;
            }
            if (!s->next) {
                s->next = st.take_segment();
                bin->last = s->next;
                bin->last_start = seg_start + uint32_t(cap);
            }
            seg_start += uint32_t(cap);
            s = s->next;
        }
        ci.bytes += uint64_t(num_bytes);
    }

    // Merge the range into the contiguous prefix and the holes.
    hole_list holes = read_holes(bin);
    uint64_t before = bin->contiguous;
    for (auto& h : holes)
        before += h.second;
    uint32_t start = uint32_t(offset);
    if (num_bytes > 0) {
        if (start <= bin->contiguous) {
            bin->contiguous = std::max(bin->contiguous, end);
        } else {
            uint32_t hs = start, he = end;
            hole_list merged;
            for (auto& h : holes) {
                uint32_t s0 = h.first, e0 = h.first + h.second;
                if (e0 < hs || s0 > he)
                    merged.push_back(h);
                else {
                    hs = std::min(hs, s0);
                    he = std::max(he, e0);
                }
            }
            merged.emplace_back(hs, he - hs);
            std::sort(merged.begin(), merged.end());
            holes.swap(merged);
        }
        // Absorb every hole the prefix now reaches.
        hole_list rest;
        for (auto& h : holes) {
            if (h.first <= bin->contiguous)
                bin->contiguous = std::max(bin->contiguous, h.first + h.second);
            else
                rest.push_back(h);
        }
        holes.swap(rest);
        // Write the list back, reusing the chain; spare segments go back to the allocator.
        size_t need = hole_segments(holes.size());
        segment** link = &bin->holes;
        for (size_t k = 0; k < need; ++k) {
            if (!*link)
                *link = st.take_segment();
            std::memset((*link)->bytes, 0, sizeof (*link)->bytes);
            link = &(*link)->next;
        }
        segment* spare = *link;
        *link = nullptr;
        while (spare) {
            segment* next = spare->next;
            st.give_back(spare);
            spare = next;
        }
        segment* s = bin->holes;
        for (size_t i = 0; i < holes.size(); ++i) {
            if (i > 0 && i % kHolesPerSegment == 0)
                s = s->next;
            int k = int(i % kHolesPerSegment);
            put32(s->bytes + 8 * k, holes[i].first);
            put32(s->bytes + 8 * k + 4, holes[i].second);
        }
    }
    uint64_t after = bin->contiguous;
    for (auto& h : holes)
        after += h.second;
    if (after > before) {
        st.new_bytes += after - before;
        if (mark_if_augmented)
            bin->mark = true;
    }
}

int rvd_cache::get_databin_length(int cls, int64_t codestream_id, int64_t bin_id, bool* is_complete)
{
    lock_guard guard(this);
    if (attached)
        return attached->get_databin_length(cls, codestream_id, bin_id, is_complete);
    rvd_cache_bin* bin = find_bin(cls, codestream_id, bin_id);
    if (is_complete)
        *is_complete = bin && bin->final_seen && !bin->holes;
    return bin ? int(bin->contiguous) : 0;
}

void rvd_cache::promote_databin(int cls, int64_t codestream_id, int64_t bin_id)
{
    lock_guard guard(this);
    rvd_cache_bin* bin = attached ? nullptr : find_bin(cls, codestream_id, bin_id);
    if (bin) {
        unlink_bin(bin);
        link_bin(bin, true);
    }
}

void rvd_cache::demote_databin(int cls, int64_t codestream_id, int64_t bin_id)
{
    lock_guard guard(this);
    rvd_cache_bin* bin = attached ? nullptr : find_bin(cls, codestream_id, bin_id);
    if (bin) {
        unlink_bin(bin);
        link_bin(bin, false);
    }
}

int64_t rvd_cache::get_next_codestream(int64_t codestream_id)
{
    lock_guard guard(this);
    if (attached)
        return attached->get_next_codestream(codestream_id);
    auto it = codestream_id < 0 ? state->codestreams.begin() : state->codestreams.upper_bound(codestream_id);
    return it == state->codestreams.end() ? -1 : it->first;
}

int64_t rvd_cache::walk(int cls, int64_t codestream_id, int64_t bin_id, bool only_marked, bool newest_first)
{
    if (cls < 0 || cls >= RVD_NUM_DATABIN_CLASSES || codestream_id < 0)
        return -1;
    if (cls == RVD_META_DATABIN)
        codestream_id = 0;
    auto it = state->codestreams.find(codestream_id);
    if (it == state->codestreams.end())
        return -1;
    const class_index& ci = it->second->classes[cls];
    rvd_cache_bin* bin;
    if (bin_id < 0) {
        bin = newest_first ? ci.newest : ci.oldest;
    } else {
        bin = tree_find(ci.root, bin_id);
        if (!bin)
            return -1;
        bin = newest_first ? bin->older : bin->newer;
    }
    while (bin && only_marked && !bin->mark)
        bin = newest_first ? bin->older : bin->newer;
    return bin ? bin->id : -1;
}

int64_t rvd_cache::get_next_databin_newest_first(int cls, int64_t codestream_id, int64_t bin_id, bool only_marked)
{
    lock_guard guard(this);
    if (attached)
        return attached->get_next_databin_newest_first(cls, codestream_id, bin_id, only_marked);
    return walk(cls, codestream_id, bin_id, only_marked, true);
}

int64_t rvd_cache::get_next_databin_oldest_first(int cls, int64_t codestream_id, int64_t bin_id, bool only_marked)
{
    lock_guard guard(this);
    if (attached)
        return attached->get_next_databin_oldest_first(cls, codestream_id, bin_id, only_marked);
    return walk(cls, codestream_id, bin_id, only_marked, false);
}

bool rvd_cache::mark_databin(int cls, int64_t codestream_id, int64_t bin_id, bool new_mark)
{
    lock_guard guard(this);
    rvd_cache_bin* bin = find_bin(cls, codestream_id, bin_id);
    if (!bin)
        return false;
    bool old = bin->mark;
    bin->mark = new_mark;
    return old;
}

void rvd_cache::clear_all_marks()
{
    lock_guard guard(this);
    for (auto& entry : state->codestreams)
        for (class_index& ci : entry.second->classes)
            for (rvd_cache_bin* b = ci.oldest; b; b = b->newer)
                b->mark = false;
}

void rvd_cache::set_all_marks()
{
    lock_guard guard(this);
    for (auto& entry : state->codestreams)
        for (class_index& ci : entry.second->classes)
            for (rvd_cache_bin* b = ci.oldest; b; b = b->newer)
                b->mark = true;
}

int rvd_cache::get_databin_prefix(int cls, int64_t codestream_id, int64_t bin_id, uint8_t* buf, int max_bytes)
{
    lock_guard guard(this);
    if (attached)
        return attached->get_databin_prefix(cls, codestream_id, bin_id, buf, max_bytes);
    rvd_cache_bin* bin = find_bin(cls, codestream_id, bin_id);
    if (!bin || max_bytes <= 0)
        return 0;
    int total = std::min(int(bin->contiguous), max_bytes);
    int done = 0;
    for (segment* s = bin->first; s && done < total; s = s->next) {
        bool first = s == bin->first;
        int cap = first ? kFirstSegmentBytes : kSegmentBytes;
        int n = std::min(cap, total - done);
        std::memcpy(buf + done, first ? s->bytes + (kSegmentBytes - kFirstSegmentBytes) : s->bytes, size_t(n));
        done += n;
    }
    return done;
}

void rvd_cache::scope_bin(rvd_cache_bin* bin)
{
    state->scope = bin;
    state->current = bin ? bin->first : nullptr;
    state->seg_offset = 0;
    state->pos = 0;
}

void rvd_cache::set_read_scope(int cls, int64_t codestream_id, int64_t bin_id)
{
    lock_guard guard(this);
    rvd_cache* source = attached ? attached : this;
    if (cls >= 0 && cls < RVD_NUM_DATABIN_CLASSES && codestream_id >= 0) {
        auto it = source->state->codestreams.find(cls == RVD_META_DATABIN ? 0 : codestream_id);
        if (it != source->state->codestreams.end())
            state->last_codestream = it->second;
    }
    scope_bin(source->find_bin(cls, codestream_id, bin_id));
}

int rvd_cache::read(uint8_t* buf, int num_bytes)
{
    lock_guard guard(this);
    rvd_cache_state& st = *state;
    if (!st.scope || num_bytes <= 0)
        return 0;
    int64_t left = int64_t(st.scope->contiguous) - st.pos;
    int total = int(std::min<int64_t>(num_bytes, left));
    int done = 0;
    while (done < total) {
        bool first = st.current == st.scope->first;
        int cap = first ? kFirstSegmentBytes : kSegmentBytes;
        if (st.seg_offset == cap) {
            st.current = st.current->next;
            st.seg_offset = 0;
            continue;
        }
        const uint8_t* area = first ? st.current->bytes + (kSegmentBytes - kFirstSegmentBytes) : st.current->bytes;
        int n = std::min(cap - st.seg_offset, total - done);
        std::memcpy(buf + done, area + st.seg_offset, size_t(n));
        done += n;
        st.seg_offset += n;
    }
    st.pos += done;
    return done;
}

bool rvd_cache::seek(int64_t offset)
{
    lock_guard guard(this);
    rvd_cache_state& st = *state;
    if (!st.scope)
        return true;
    offset = std::max<int64_t>(0, std::min<int64_t>(offset, st.scope->contiguous));
    if (offset < st.pos) {
        st.current = st.scope->first;
        st.seg_offset = 0;
        st.pos = 0;
    }
    while (st.pos < offset) {
        int cap = st.current == st.scope->first ? kFirstSegmentBytes : kSegmentBytes;
        if (st.seg_offset == cap) {
            st.current = st.current->next;
            st.seg_offset = 0;
            continue;
        }
        int n = int(std::min<int64_t>(cap - st.seg_offset, offset - st.pos));
        st.seg_offset += n;
        st.pos += n;
    }
    return true;
}

int64_t rvd_cache::get_pos()
{
    lock_guard guard(this);
    return state->pos;
}

bool rvd_cache::set_tileheader_scope(int tnum, int num_tiles)
{
    (void)num_tiles;
    lock_guard guard(this);
    if (!state->last_codestream) {
        rvd_error e("Error in Ravade JPIP Cache:\n");
        e << "Attempting to invoke `rvd_cache::set_tileheader_scope' without first calling "
             "`rvd_cache::set_read_scope' to identify the code-stream which is being accessed.";
    }
    rvd_cache_bin* bin = tnum < 0 ? nullptr : tree_find(state->last_codestream->classes[RVD_TILE_HEADER_DATABIN].root, tnum);
    scope_bin(bin);
    return bin && bin->final_seen && !bin->holes;
}

bool rvd_cache::set_precinct_scope(int64_t unique_id)
{
    lock_guard guard(this);
    if (!state->last_codestream) {
        rvd_error e("Error in Ravade JPIP Cache:\n");
        e << "Attempting to invoke `rvd_cache::set_precinct_scope' without first calling "
             "`rvd_cache::set_read_scope' to identify the code-stream which is being accessed.";
    }
    scope_bin(unique_id < 0 ? nullptr : tree_find(state->last_codestream->classes[RVD_PRECINCT_DATABIN].root, unique_id));
    return true;
}

uint64_t rvd_cache::get_memory_in_use()
{
    lock_guard guard(this);
    return state->in_use;
}

uint64_t rvd_cache::get_peak_memory()
{
    lock_guard guard(this);
    return state->peak;
}

void rvd_cache::set_memory_limit(uint64_t bytes)
{
    lock_guard guard(this);
    state->limit = bytes;
}

uint64_t rvd_cache::get_total_new_bytes()
{
    lock_guard guard(this);
    return state->new_bytes;
}

uint64_t rvd_cache::get_class_bytes(int cls, int64_t codestream_id)
{
    lock_guard guard(this);
    if (cls < 0 || cls >= RVD_NUM_DATABIN_CLASSES)
        return 0;
    auto it = state->codestreams.find(cls == RVD_META_DATABIN ? 0 : codestream_id);
    return it == state->codestreams.end() ? 0 : it->second->classes[cls].bytes;
}
