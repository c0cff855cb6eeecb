// The block encoder's coding passes. Each codes one pass over the whole block and
// returns the sum of the distortion-table entries of the samples it changed. Samples
// are sign-magnitude words, `width` to a row; context words as the block decoder keeps
// them (stripe s, column c at word (s + 1) x (width + 3) + 1 + c).
#pragma once

#include "codec/encode/rv_mq_encoder.h"

#include <cstdint>

int64_t sig_prop_pass_mq(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                         rv_mq_state* states, int num_stripes, int width, int orientation, bool causal,
                         bool final_plane);
int64_t sig_prop_pass_raw(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                          int num_stripes, int width, bool causal, bool final_plane);
int64_t mag_ref_pass_mq(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                        rv_mq_state* states, int num_stripes, int width, bool causal, bool final_plane);
int64_t mag_ref_pass_raw(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                         int num_stripes, int width, bool causal, bool final_plane);
int64_t cleanup_pass(int p, const int32_t* samples, int32_t* contexts, rv_mq_encoder& coder,
                     rv_mq_state* states, int num_stripes, int width, int orientation, bool causal,
                     bool final_plane);
