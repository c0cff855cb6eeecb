// Start-up tables that turn a stripe column's packed neighbourhood into coding contexts.
#pragma once

#include <cstdint>

// Significance contexts 0-8, indexed by a 9-bit neighbourhood: bit 0 upper-left, 1 upper,
// 2 upper-right, 3 left, 4 the sample itself (ignored), 5 right, 6 lower-left, 7 lower,
// 8 lower-right. Table 0 serves LL and LH, 1 HL, 2 HH.
extern uint8_t rv_significance_tables[3][512];
// By orientation code: 0 LL, 1 HL, 2 LH, 3 HH.
extern const uint8_t* rv_significance_lut[4];

// Sign contexts, indexed by bit 0 upper significant, 1 its sign (1 negative), 2 left
// significant, 3 its sign, 4 right significant, 5 its sign, 6 lower significant, 7 its
// sign. Each entry is 2 x k + x: k the offset above the first sign context, x the
// prediction bit that is XORed with the decoded symbol.
extern uint8_t rv_sign_lut[256];

// Builds the tables; idempotent. Start-up slot 13.
void rv_init_context_tables();
