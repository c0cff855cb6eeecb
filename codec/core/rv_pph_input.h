// rv_input replaying packed packet headers collected from PPM or PPT segments, held in
// a chain of buffer-server buffers.
#pragma once

#include "codec/core/rv_buffer_server.h"
#include "codec/core/rv_input.h"

class rv_pph_input : public rv_input {
public:
    explicit rv_pph_input(rv_buffer_server* srv) : server(srv) {}
    ~rv_pph_input() override;

    void add_bytes(const uint8_t* data, int count);

protected:
    bool load_buf() override;

private:
    rv_buffer_server* server;
    rv_buffer* first_buf = nullptr;
    rv_buffer* read_buf = nullptr;
    rv_buffer* write_buf = nullptr;
    int read_pos = 0;
    int write_pos = 0;
};
