// Tier-1 decoding of one code-block: the coded bytes of a filled rvd_block become
// sign-magnitude samples carrying the mid-point of their last decoded bit-plane.
#pragma once

class rvd_block;

class rvd_block_decoder_base {
public:
    virtual ~rvd_block_decoder_base() {}
    virtual void decode(rvd_block* block) = 0;
};

class rv_block_decoder;

class rvd_block_decoder {
public:
    rvd_block_decoder();
    ~rvd_block_decoder();
    rvd_block_decoder(const rvd_block_decoder&) = delete;
    rvd_block_decoder& operator=(const rvd_block_decoder&) = delete;

    void decode(rvd_block* block);

private:
    rv_block_decoder* state;
};
