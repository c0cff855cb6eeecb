#include "codec/core/rv_tpart_pointer_server.h"

#include "codec/core/rvd_message.h"

rv_tpart_pointer_server::~rv_tpart_pointer_server()
{
    while (tlm_list != nullptr) {
        rv_pp_marker_list* n = tlm_list->next;
        delete tlm_list;
        tlm_list = n;
    }
    for (rv_tpart_addr* b : blocks)
        delete[] b;
}

void rv_tpart_pointer_server::add_tlm_marker(const rv_marker& m)
{
    if (m.get_length() < 4) {
        rvd_error e("Ravade Core Error:\n");
        e << "TLM marker segments must be at least 6 bytes long!";
    }
    translated = false;
    rv_pp_marker_list* rec = new rv_pp_marker_list(m);
    rec->znum = m.get_bytes()[0];
    rv_pp_marker_list* prev = nullptr;
    rv_pp_marker_list* scan = tlm_list;
    while (scan != nullptr && scan->znum <= rec->znum) {
        prev = scan;
        scan = scan->next;
    }
    if (prev != nullptr && prev->znum == rec->znum) {
        delete rec;
        rvd_error e("Ravade Core Error:\n");
        e << "Found multiple TLM marker segments with identical Ztlm indices within the "
             "main header!";
    }
    rec->next = scan;
    if (prev == nullptr)
        tlm_list = rec;
    else
        prev->next = rec;
}

void rv_tpart_pointer_server::add_address(rv_tile_ref* ref, int64_t address)
{
    if (ref->tpart_head != nullptr && ref->tpart_tail == nullptr)
        return; // completed from TLM data
    if (free_addrs == nullptr) {
        rv_tpart_addr* blk = new rv_tpart_addr[32];
        blocks.push_back(blk);
        for (int i = 0; i < 32; i++) {
            blk[i].next = free_addrs;
            free_addrs = blk + i;
        }
    }
    rv_tpart_addr* a = free_addrs;
    free_addrs = a->next;
    a->address = address;
    a->next = nullptr;
    if (ref->tpart_tail == nullptr)
        ref->tpart_head = a;
    else
        ref->tpart_tail->next = a;
    ref->tpart_tail = a;
}

void rv_tpart_pointer_server::translate_markers(int64_t first_tpart_address, int num_tiles,
                                                rv_tile_ref* refs)
{
    int64_t addr = first_tpart_address;
    int tnum = -1;
    bool stopped = false;
    while (tlm_list != nullptr) {
        rv_pp_marker_list* rec = tlm_list;
        const uint8_t* body = rec->marker.get_bytes();
        int len = rec->marker.get_length();
        if (!stopped) {
            int stlm = body[1];
            int st = (stlm >> 4) & 3;
            int sp = (stlm >> 6) & 1;
            if (st == 3) {
                rvd_error e("Ravade Core Error:\n");
                e << "Illegal Stlm field encountered in TLM marker segment!";
            }
            int entry = st + 2 + 2 * sp;
            if (len - 2 <= 0 || (len - 2) % entry != 0) {
                rvd_error e("Ravade Core Error:\n");
                e << "Malformed TLM marker segment encountered in main header.  Segment "
                     "length is inconsistent with the number of bytes used to represent "
                     "pointer info for each tile-part.";
            }
            for (const uint8_t* p = body + 2; p < body + len; p += entry) {
                const uint8_t* q = p;
                if (st == 0)
                    tnum++;
                else if (st == 1)
                    tnum = *q++;
                else {
                    tnum = (q[0] << 8) | q[1];
                    q += 2;
                }
                if (tnum >= num_tiles) {
                    rvd_error e("Ravade Core Error:\n");
                    e << "Illegal TLM marker segment data encountered in main header.  An "
                         "illegal tile number has been identified, either explicitly or "
                         "implicitly (through the rule that missing tile identifiers are "
                         "legal only when tiles appear in order with only one tile-part "
                         "each).";
                }
                add_address(refs + tnum, addr);
                uint32_t tp_len = sp ? (uint32_t(q[0]) << 24) | (uint32_t(q[1]) << 16) |
                                           (uint32_t(q[2]) << 8) | q[3]
                                     : (uint32_t(q[0]) << 8) | q[1];
                if (tp_len < 14) {
                    rvd_warning w("Ravade Core Warning:\n");
                    w << "TLM marker segments contain one or more illegal lengths (< 14 "
                         "bytes).  Proceeding with incomplete tile-part length information.";
                    stopped = true;
                    break;
                }
                addr += tp_len;
            }
        }
        tlm_list = rec->next;
        delete rec;
    }
    translated = true;
    for (int t = 0; t < num_tiles; t++)
        refs[t].tpart_tail = nullptr;
}
