#include "codec/core/rv_compressed_input.h"

#include "codec/core/rvd_message.h"

#include <algorithm>

rv_compressed_input::rv_compressed_input(rvd_compressed_source* src) : source(src)
{
    area = data_start();
    capabilities = source->get_capabilities();
    if (capabilities & RVD_SOURCE_CAP_IN_MEMORY) {
        int64_t pos = 0;
        const uint8_t* lim = nullptr;
        const uint8_t* mem = source->access_memory(pos, lim);
        if (mem != nullptr && lim >= mem) {
            // The source's bytes are never written: putback only moves the pointer.
            fully_buffered = true;
            area = const_cast<uint8_t*>(mem);
            first_unread = area;
            first_unwritten = const_cast<uint8_t*>(lim);
            buf_bytes = lim - mem;
            buf_pos = pos;
        }
    }
    // A cache's length is only what has arrived so far.
    if (capabilities & RVD_SOURCE_CAP_CACHED)
        return;
    if (fully_buffered) {
        known_length = buf_bytes;
    } else {
        const int64_t n = source->get_length(), at = source->get_pos();
        if (n >= 0)
            known_length = std::max<int64_t>(0, n - std::max<int64_t>(0, at));
    }
}

void rv_compressed_input::fill(int64_t num)
{
    int64_t got = 0;
    if (num > 0) {
        int n = source->read(area, int(std::min<int64_t>(num, RV_INPUT_DATA)));
        got = std::clamp<int64_t>(n, 0, std::min<int64_t>(num, RV_INPUT_DATA));
    }
    buf_bytes = got;
    first_unread = area;
    first_unwritten = area + got;
    if (got == 0)
        exhausted = true;
}

bool rv_compressed_input::load_buf()
{
    if (fully_buffered) {
        exhausted = true;
        return false;
    }
    buf_pos += buf_bytes;
    if (cache_scope) {
        fill(RV_INPUT_DATA);
        return !exhausted;
    }
    if (suspend_ptr != nullptr) {
        suspended_bytes += first_unread - suspend_ptr;
        suspend_ptr = area;
        fill(RV_INPUT_DATA);
        return !exhausted;
    }
    int64_t allowed = limit + suspended_bytes - buf_pos;
    cut_end = nullptr;
    if (allowed <= 0) {
        buf_bytes = 0;
        first_unread = first_unwritten = area;
        exhausted = true;
        return false;
    }
    fill(allowed);
    return !exhausted;
}

int64_t rv_compressed_input::ignore(int64_t count)
{
    if (count <= 0 || exhausted)
        return 0;
    if ((capabilities & RVD_SOURCE_CAP_SEEKABLE) && !cache_scope && !throw_markers) {
        int64_t start = get_offset();
        int64_t target = start + std::min<int64_t>(count, MAX_LIMIT - start);
        seek(target);
        return get_offset() - start;
    }
    return rv_input::ignore(count);
}

void rv_compressed_input::seek(int64_t position)
{
    if (position < 0) {
        if (!source->set_precinct_scope(-1 - position)) {
            rvd_error e("Ravade Core Error:\n");
            e << "Attempting to load cached precinct packets from a compressed data source "
                 "which does not appear to support caching.  It is possible that the source "
                 "has been incorrectly implemented.";
        }
        enter_cache_scope();
        fill(RV_INPUT_DATA);
        return;
    }
    if (cache_scope) {
        // Leaving cache scope: positions are codestream offsets again.
        cache_scope = false;
        buf_bytes = 0;
        first_unread = first_unwritten = area;
        buf_pos = -1;
    } else if (position == get_offset()) {
        return;
    }
    max_address_read = std::max(max_address_read, get_offset() - 1);
    if (cut_end != nullptr) {
        // Give the buffer its old end back: a memory-resident input has no other copy of
        // the bytes beyond the cut. The limit is applied again after the move.
        first_unwritten = cut_end;
        buf_bytes = cut_end - area;
        cut_end = nullptr;
    }
    // Bytes consumed while counting was suspended extend the limit; while it is
    // suspended there is none.
    const int64_t reach =
        suspend_ptr != nullptr ? MAX_LIMIT : std::min<int64_t>(MAX_LIMIT, limit + suspended_bytes);
    if (position >= reach) {
        exhausted = true;
        if (!fully_buffered) {
            buf_pos = reach;
            buf_bytes = 0;
            first_unwritten = area;
        } else {
            // In memory too the input stops at the limit, not at the end of the bytes; the
            // rest stays behind the cut for a later seek back.
            int64_t keep = std::clamp<int64_t>(reach - buf_pos, 0, buf_bytes);
            cut_end = first_unwritten;
            first_unwritten = area + keep;
            buf_bytes = keep;
        }
        first_unread = first_unwritten;
        return;
    }
    exhausted = false;
    if (position >= buf_pos && position < buf_pos + buf_bytes) {
        first_unread = area + (position - buf_pos);
        if (suspend_ptr == nullptr)
            apply_limit_to_buffer(false);
        return;
    }
    if (fully_buffered) {
        // Outside the source's memory there is nothing to read.
        first_unread = first_unwritten;
        exhausted = true;
        return;
    }
    if (suspend_ptr != nullptr) {
        if (first_unread > suspend_ptr)
            suspended_bytes += first_unread - suspend_ptr;
        suspend_ptr = area;
    }
    buf_bytes = 0;
    first_unread = first_unwritten = area;
    buf_pos = position;
    if (!source->seek(position)) {
        rvd_error e("Ravade Core Error:\n");
        e << "Attempting to seek inside a compressed data source which does not appear to "
             "support seeking.  The source may have been implemented incorrectly.";
    }
    fill(reach - position);
}

bool rv_compressed_input::set_tileheader_scope(int tnum, int num_tiles)
{
    bool ok = source->set_tileheader_scope(tnum, num_tiles);
    if (!ok && !(capabilities & RVD_SOURCE_CAP_CACHED)) {
        rvd_error e("Ravade Core Error:\n");
        e << "Attempting to load cached tile header data from a compressed data source "
             "which does not appear to support caching.  It is possible that the source "
             "has been incorrectly implemented.";
    }
    enter_cache_scope();
    if (!ok) {
        exhausted = true; // the tile header is not in the cache yet
        return false;
    }
    fill(RV_INPUT_DATA);
    return true;
}

void rv_compressed_input::enter_cache_scope()
{
    cache_scope = true;
    fully_buffered = false;
    area = data_start();
    buf_bytes = 0;
    first_unread = first_unwritten = area;
    suspend_ptr = cut_end = nullptr;
    exhausted = false;
}

int64_t rv_compressed_input::get_bytes_read()
{
    if (cache_scope)
        return 0;
    max_address_read = std::max(max_address_read, get_offset() - 1);
    return max_address_read + 1;
}

int64_t rv_compressed_input::get_suspended_bytes()
{
    if (cache_scope)
        return 0;
    if (suspend_ptr != nullptr) {
        suspended_bytes += first_unread - suspend_ptr;
        suspend_ptr = first_unread;
    }
    return suspended_bytes;
}

void rv_compressed_input::apply_limit_to_buffer(bool resuming)
{
    int64_t allowed_end = limit + suspended_bytes;
    if (allowed_end >= buf_pos + buf_bytes)
        return;
    if (cut_end == nullptr)
        cut_end = first_unwritten;
    int64_t keep = std::max<int64_t>(0, allowed_end - buf_pos);
    uint8_t* cut = area + keep;
    if (cut < first_unread) {
        // Already read past the limit: nothing more may be delivered.
        if (resuming)
            suspended_bytes -= std::min<int64_t>(first_unread - cut, suspended_bytes);
        first_unwritten = first_unread;
        buf_bytes = first_unread - area;
        cut_end = nullptr;
        exhausted = true;
        return;
    }
    first_unwritten = cut;
    buf_bytes = keep;
}

void rv_compressed_input::set_max_bytes(int64_t new_limit)
{
    if (cache_scope || new_limit >= limit)
        return;
    limit = std::clamp<int64_t>(new_limit, 0, MAX_LIMIT);
    if (suspend_ptr == nullptr)
        apply_limit_to_buffer(false);
}

void rv_compressed_input::set_suspend(bool suspend)
{
    if (cache_scope)
        return;
    if (suspend) {
        if (suspend_ptr != nullptr)
            return;
        suspend_ptr = first_unread;
        if (cut_end != nullptr) {
            first_unwritten = cut_end;
            buf_bytes = cut_end - area;
            cut_end = nullptr;
        }
        return;
    }
    if (suspend_ptr == nullptr)
        return;
    suspended_bytes += first_unread - suspend_ptr;
    suspend_ptr = nullptr;
    apply_limit_to_buffer(true);
}
