#include "codec/core/rv_precinct_pointer_server.h"

#include "codec/core/rvd_message.h"
#include "codec/core/rvd_params.h"

#include <stdexcept>

namespace {

// Hostile runs of 7-bit groups are cut off well before 64 bits overflow.
const uint64_t max_plt_length = uint64_t(1) << 62;

[[noreturn]] void malformed_plt()
{
    {
        rvd_error e("Ravade Core Error:\n");
        e << "Malformed PLT marker segment encountered in tile-part header.  Segment "
             "terminates part of the way through a multi-byte packet length specification!";
    }
    throw std::logic_error("codec error handler returned");
}

} // namespace

rv_tile_sequencing rv_get_tile_sequencing(rvd_params* params, int tnum)
{
    rv_tile_sequencing s;
    rvd_params* cod = params->access_cluster("COD");
    if (cod != nullptr)
        cod = cod->access_relation(tnum, -1, 0, true);
    if (cod != nullptr) {
        cod->get("Clayers", 0, 0, s.layers);
        cod->get("Corder", 0, 0, s.order);
    }
    rvd_params* poc = params->access_cluster("POC");
    if (poc != nullptr)
        poc = poc->access_relation(tnum, -1, 0, true);
    int v = 0;
    s.has_porder = (poc != nullptr) && poc->get("Porder", 0, 0, v);
    return s;
}

void rv_precinct_pointer_server::clear()
{
    if (server != nullptr)
        server->release_chain(first_buf);
    first_buf = write_buf = nullptr;
    read_pos = write_pos = 0;
    num_stored = 0;
    precinct_length = 0;
    packets_left = 0;
}

void rv_precinct_pointer_server::reset()
{
    clear();
    next_address = 0;
    tpart_bytes_left = 0;
    length_not_given = false;
    recorded_layers = -1;
    used = false;
    next_zplt = 0;
}

void rv_precinct_pointer_server::store_length(uint64_t len)
{
    uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = uint8_t(len & 0x7F);
        len >>= 7;
    } while (len != 0);
    while (n > 0) {
        if (write_buf == nullptr || write_pos == RV_BUFFER_PAYLOAD) {
            rv_buffer* nb = server->get();
            if (write_buf == nullptr) {
                first_buf = nb;
                read_pos = 0;
            } else
                write_buf->next = nb;
            write_buf = nb;
            write_pos = 0;
        }
        n--;
        write_buf->data()[write_pos++] = uint8_t(groups[n] | (n > 0 ? 0x80 : 0));
    }
    num_stored++;
}

uint8_t rv_precinct_pointer_server::next_stored_byte()
{
    if (read_pos == RV_BUFFER_PAYLOAD) {
        // Used-up buffers go back at once.
        rv_buffer* used_buf = first_buf;
        first_buf = used_buf->next;
        server->release(used_buf);
        read_pos = 0;
    }
    return first_buf->data()[read_pos++];
}

void rv_precinct_pointer_server::add_plt_marker(const rv_marker& m, const rv_tile_sequencing& seq)
{
    if (server == nullptr)
        return;
    if (m.get_length() < 1 || m.get_bytes()[0] != next_zplt) {
        rvd_error e("Ravade Core Error:\n");
        e << "PLT marker segments appear out of order within one or more tile-part headers.  "
             "While this is not illegal, it is highly inadvisable since it prevents immediate "
             "condensation of the pointer information by efficient parsers.  To process this "
             "code-stream, you will have to open it again, with file seeking disabled.";
    }
    next_zplt++;
    if (tpart_bytes_left > 0) {
        rvd_error e("Ravade Core Error:\n");
        e << "There appears to be a problem with the PLT marker segments included in the "
             "input code-stream.  The PLT marker segments encountered so far do not have "
             "sufficient length information to describe the lengths of all packets in the "
             "tile-parts encountered so far.  To process this code-stream, you will have to "
             "open it again, with file seeking disabled.";
    }
    if (recorded_layers < 0)
        recorded_layers = seq.layers;
    if (seq.layers != recorded_layers || !seq.allows_index()) {
        clear();
        if (used) {
            rvd_error e("Ravade Core Error:\n");
            e << "Unexpected change in coding parameters or packet sequencing detected while "
                 "parsing packet length information in PLT marker segments.  While this is "
                 "not illegal, it is highly inadvisable.  To process this code-stream, open it "
                 "again with file seeking disabled!";
        }
        return;
    }
    const uint8_t* p = m.get_bytes() + 1;
    const uint8_t* end = m.get_bytes() + m.get_length();
    uint64_t len = 0;
    bool in_run = false;
    for (; p < end; p++) {
        len = (len << 7) | (*p & 0x7F);
        if (len > max_plt_length)
            malformed_plt();
        if (*p & 0x80) {
            in_run = true;
            continue;
        }
        in_run = false;
        if (packets_left == 0)
            packets_left = recorded_layers;
        precinct_length += len;
        if (precinct_length > max_plt_length)
            malformed_plt();
        len = 0;
        if (--packets_left == 0) {
            store_length(precinct_length);
            precinct_length = 0;
        }
    }
    if (in_run)
        malformed_plt();
}

void rv_precinct_pointer_server::start_tpart_body(int64_t body_start, int64_t body_length,
                                                  const rv_tile_sequencing& seq, bool discard,
                                                  bool length_unknown)
{
    next_zplt = 0;
    if (server == nullptr || (body_length == 0 && !length_unknown))
        return;
    if (num_stored == 0 && !used) {
        clear();
        return;
    }
    if (discard || seq.layers != recorded_layers || !seq.allows_index()) {
        clear();
        if (used) {
            rvd_error e("Ravade Core Error:\n");
            e << "Unexpected change in coding parameters or packet sequencing detected after "
                 "parsing packet length information in PLT marker segments.  While this is not "
                 "illegal, it is highly inadvisable.  To process this code-stream, open it "
                 "again with file seeking disabled!";
        }
    }
    next_address = body_start;
    tpart_bytes_left = body_length;
    length_not_given = length_unknown;
}

int64_t rv_precinct_pointer_server::get_precinct_address()
{
    if (server == nullptr)
        return 0;
    if (num_stored == 0) {
        if (tpart_bytes_left == 0 && !length_not_given)
            return -1;
        rvd_error e("Ravade Core Error:\n");
        e << "Unexpectedly ran out of packet length information while processing tile-parts.  "
             "Most likely cause is that PLT marker segments are malformed, incomplete, or do "
             "not appear until after the packets whose lengths they describe.  All of these "
             "conditions are violations of the standard!";
    }
    if (tpart_bytes_left == 0 && !length_not_given)
        return -1;
    uint64_t len = 0;
    uint8_t b;
    do {
        b = next_stored_byte();
        len = (len << 7) | (b & 0x7F);
    } while (b & 0x80);
    num_stored--;
    if (num_stored == 0) {
        server->release_chain(first_buf);
        first_buf = write_buf = nullptr;
        read_pos = write_pos = 0;
    }
    if (!length_not_given) {
        if (int64_t(len) > tpart_bytes_left) {
            rvd_error e("Ravade Core Error:\n");
            e << "Tile-part holds some but not all the packets of a precinct for which PLT "
                 "information is being used to extract precinct addresses for random access.  "
                 "In particular, the current tile has its packets sequenced so that all packets "
                 "of any given precinct appear consecutively and yet a tile-part boundary has "
                 "been inserted between the packets of a precinct.  While this is not illegal, "
                 "it indicates very poor judgement in the placement of tile-part boundaries.  To "
                 "process this code-stream, you will have to open it again with file seeking "
                 "disabled.";
        }
        tpart_bytes_left -= int64_t(len);
    }
    // Addresses stay below 2^62, however many lengths a hostile stream lists.
    if (len > max_plt_length || next_address > int64_t(max_plt_length - len))
        malformed_plt();
    used = true;
    int64_t addr = next_address;
    next_address += int64_t(len);
    return addr;
}
