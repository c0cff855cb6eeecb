#include "codec/core/rv_pp_markers.h"

#include "codec/core/rv_pph_input.h"
#include "codec/core/rvd_message.h"

#include <algorithm>

rv_pp_markers::~rv_pp_markers()
{
    while (list != nullptr) {
        rv_pp_marker_list* n = list->next;
        delete list;
        list = n;
    }
}

void rv_pp_markers::add_marker(const rv_marker& m)
{
    if (m.get_length() < 1) {
        rvd_error e("Ravade Core Error:\n");
        e << "PPM/PPT marker segments must be at least 3 bytes long!";
    }
    rv_pp_marker_list* rec = new rv_pp_marker_list(m);
    rec->znum = m.get_bytes()[0];
    ppm = (m.get_code() == RV_PPM);
    rv_pp_marker_list* prev = nullptr;
    rv_pp_marker_list* scan = list;
    while (scan != nullptr && scan->znum <= rec->znum) {
        prev = scan;
        scan = scan->next;
    }
    if (prev != nullptr && prev->znum == rec->znum) {
        delete rec;
        rvd_error e("Ravade Core Error:\n");
        e << "Found multiple PPM/PPT marker segments with identical Zppt/Zppm indices "
             "within the same header scope (main or tile-part header)!";
    }
    rec->next = scan;
    if (prev == nullptr)
        list = rec;
    else
        prev->next = rec;
}

void rv_pp_markers::free_used_records()
{
    while (list != nullptr && list->bytes_read >= list->marker.get_length()) {
        rv_pp_marker_list* n = list->next;
        delete list;
        list = n;
    }
}

uint32_t rv_pp_markers::read_nppm()
{
    uint32_t nppm = 0;
    for (int i = 0; i < 4; i++) {
        free_used_records();
        if (list == nullptr) {
            rvd_error e("Ravade Core Error:\n");
            e << "Insufficient packet header data in PPM marker segments!";
        }
        nppm = (nppm << 8) | list->marker.get_bytes()[list->bytes_read++];
    }
    return nppm;
}

void rv_pp_markers::move_bytes(uint32_t count, rv_pph_input* pph)
{
    while (count > 0) {
        free_used_records();
        if (list == nullptr) {
            rvd_error e("Ravade Core Error:\n");
            e << "Insufficient packet header data in PPM marker segments, or else Nppm "
                 "values must be incorrect!";
        }
        uint32_t avail = uint32_t(list->marker.get_length() - list->bytes_read);
        uint32_t n = std::min(count, avail);
        if (pph != nullptr)
            pph->add_bytes(list->marker.get_bytes() + list->bytes_read, int(n));
        list->bytes_read += int(n);
        count -= n;
    }
    free_used_records();
}

void rv_pp_markers::transfer_tpart(rv_pph_input* pph)
{
    if (!ppm) {
        // PPT: everything collected for the tile-part header.
        while (list != nullptr) {
            int n = list->marker.get_length() - list->bytes_read;
            if (n > 0)
                pph->add_bytes(list->marker.get_bytes() + list->bytes_read, n);
            list->bytes_read = list->marker.get_length();
            free_used_records();
        }
        return;
    }
    // Nppm is gathered across records here too, so a stream parses the same whichever
    // tile-parts are wanted.
    free_used_records();
    if (list == nullptr) {
        rvd_error e("Ravade Core Error:\n");
        e << "Insufficient packet header data in PPM marker segments!";
    }
    move_bytes(read_nppm(), pph);
}

void rv_pp_markers::ignore_tpart()
{
    if (!ppm) {
        while (list != nullptr) {
            list->bytes_read = list->marker.get_length();
            free_used_records();
        }
        return;
    }
    move_bytes(read_nppm(), nullptr);
}
