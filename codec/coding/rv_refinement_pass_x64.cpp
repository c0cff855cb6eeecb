// The refinement pass's stripe walk in x86-64 assembly, for the hand-written form. Compiled,
// the pass kept C and t on the stack (GCC runs out of registers with four inlined
// decisions), and each exchange stored its context's state for the next decision, mostly
// of the same context, to load again. Here A, C, D and t stay in r8-r11 from the first
// stripe to the last, and the three refinement contexts' states in r12-r14, packed so
// that p is one mask away and the successor one load. Same decisions, samples and states
// as rv_mq_hand_decide; only the careful byte-in is called (rv_mq_wide_fill).
#include "codec/coding/rv_block_passes_hand.h"
#include "codec/coding/rv_mq_x64_macros.h"
#include "codec/core/rvd_processor.h"

#include <cstddef>

#if defined(__x86_64__)

static_assert(offsetof(rv_hand::refine_walk, A) == 0 && offsetof(rv_hand::refine_walk, C) == 8 &&
                  offsetof(rv_hand::refine_walk, D) == 16 && offsetof(rv_hand::refine_walk, t) == 24 &&
                  offsetof(rv_hand::refine_walk, r) == 32 && offsetof(rv_hand::refine_walk, states) == 40 &&
                  offsetof(rv_hand::refine_walk, contexts) == 64 && offsetof(rv_hand::refine_walk, samples) == 72 &&
                  offsetof(rv_hand::refine_walk, width) == 80 && offsetof(rv_hand::refine_walk, num_stripes) == 88 &&
                  offsetof(rv_hand::refine_walk, stride) == 96 && offsetof(rv_hand::refine_walk, bit_p) == 104 &&
                  offsetof(rv_hand::refine_walk, bits_p_and_half) == 112,
              "rv_hand::refine_walk as the walk reads it");
static_assert(rv_ctx::refine(0) == (1u << 19) && rv_ctx::refine_mask == 0x12480000u && rv_ctx::neighbours == 0x1EFu,
              "context-word bits the walk tests");
static_assert(rv_first_refine_context + 2 < rv_num_contexts, "three refinement contexts");

void rv_refine_pass_x64(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, int p, int32_t* samples,
                        int32_t* contexts, int width, int num_stripes, int stride)
{
    rv_mq_packed* refine_states = states + rv_first_refine_context;
    const uint64_t bit_p = uint64_t{1} << p;
    rv_hand::refine_walk walk = {q.A, q.C, q.D, q.t, &r, {refine_states[0], refine_states[1], refine_states[2]},
                                 reinterpret_cast<const uint32_t*>(contexts) + stride + 1, samples, width,
                                 num_stripes, stride, bit_p, bit_p | (bit_p >> 1)};
    if (rvd_lzcnt_shlx_exists)
        rv_refine_walk_x64_lz(&walk);
    else
        rv_refine_walk_x64(&walk);
    q = {walk.A, walk.C, walk.D, walk.t};
    for (int k = 0; k < 3; k++)
        refine_states[k] = walk.states[k];
}

// Registers through the walk:
//   r8 D, r9 A, r10 C, r11 t (rv_mq_wide)    rbx the column's context word
//   rbp row 0's sample in this column        r15 bytes per sample row
//   r12, r13, r14 the packed states of contexts 15, 16, 17
//   rcx the row's packed state, rsi its context less 15; rax, rdx, rdi scratch
// Frame: 0 the record, 8 the stripe row's end, 16 stripes left, 24 context word less
// sample address, 32 its step from stripe to stripe, 40 2^p, 48 2^p | 2^(p-1), 56 4 x 2^p,
// 64-72 values kept across the byte-in call.
asm(R"(
    .text

# Row R: the context (15, 16 with a significant neighbour, 17 once the magnitude reaches
# 4 x 2^p), the decision's MPS path inline, the sample's update. The exchange is out of
# line.
.macro RV_REFINE_ROW R, sfx, lz
    test $(1 << (19 + 3 * \R)), %ebx
    jz .Lrv_refine_skip\R\sfx
  .if \R == 0
    mov (%rbp), %edx
  .elseif \R == 1
    mov (%rbp,%r15), %edx
  .elseif \R == 2
    mov (%rbp,%r15,2), %edx
  .else
    lea (%rbp,%r15,2), %rax
    mov (%rax,%r15), %edx
  .endif
    and $0x7fffffff, %edx              # magnitude
    xor %esi, %esi
    mov %r12, %rcx
    test $(0x1EF << (3 * \R)), %ebx    # any neighbour significant
    setnz %sil
    cmovnz %r13, %rcx
    mov $2, %eax
    cmp 56(%rsp), %rdx
    cmovae %eax, %esi
    cmovae %r14, %rcx
    mov %rcx, %rax
    and $-256, %rax                    # p
    sub %rax, %r8
    js .Lrv_refine_exchange\R\sfx
  .if \lz
    sub %rax, %r9                      # A and C kept whole
    sub %rax, %r10
  .endif
    mov %ecx, %eax
    and $1, %eax                       # the MPS
.Lrv_refine_update\R\sfx:
  .if \R == 0
    mov (%rbp), %ecx
  .elseif \R == 1
    mov (%rbp,%r15), %ecx
  .elseif \R == 2
    mov (%rbp,%r15,2), %ecx
  .else
    lea (%rbp,%r15,2), %rdx
    mov (%rdx,%r15), %ecx
  .endif
    or 48(%rsp), %ecx                  # bit p and the half step below it
    dec %eax
    and 40(%rsp), %eax
    xor %eax, %ecx                     # bit p cleared again for a 0
  .if \R == 0
    mov %ecx, (%rbp)
  .elseif \R == 1
    mov %ecx, (%rbp,%r15)
  .elseif \R == 2
    mov %ecx, (%rbp,%r15,2)
  .else
    mov %ecx, (%rdx,%r15)
  .endif
.Lrv_refine_skip\R\sfx:
.endm

# An exchange's successor (rcx) back into the register of the row's context (rsi 0-2).
.macro RV_REFINE_SUCCESSOR
    cmp $1, %esi
    cmovb %rcx, %r12
    cmove %rcx, %r13
    cmova %rcx, %r14
.endm

# The walk, named rv_refine_walk_x64 plus `sfx`; `lz` chooses the exchange's form.
.macro RV_REFINE_WALK lz, sfx=
    .p2align 4
    .globl rv_refine_walk_x64\sfx
    .hidden rv_refine_walk_x64\sfx
    .type rv_refine_walk_x64\sfx, @function
rv_refine_walk_x64\sfx:
    .cfi_startproc
    RV_MQ_ENTER 88
    mov 88(%rdi), %rax
    test %rax, %rax
    jle .Lrv_refine_out\sfx
    mov 80(%rdi), %r15
    test %r15, %r15
    jle .Lrv_refine_out\sfx
    mov %rdi, 0(%rsp)
    mov %rax, 16(%rsp)
    shl $2, %r15                       # bytes per sample row
    mov 64(%rdi), %rax
    sub 72(%rdi), %rax
    mov %rax, 24(%rsp)                 # context word less sample, stripe 0
    mov 96(%rdi), %rax
    lea (,%r15,4), %rcx
    shl $2, %rax
    sub %rcx, %rax
    mov %rax, 32(%rsp)                 # a stripe on: one context row less four sample rows
    mov 104(%rdi), %rax
    mov %rax, 40(%rsp)
    shl $2, %rax
    mov %rax, 56(%rsp)
    mov 112(%rdi), %rax
    mov %rax, 48(%rsp)
    RV_MQ_LOAD_WIDE %rdi
  .if \lz
    add %r8, %r9                       # A and C whole, D beside them
    add %r8, %r10
  .endif
    mov 40(%rdi), %r12
    mov 48(%rdi), %r13
    mov 56(%rdi), %r14
    mov 72(%rdi), %rbp
.Lrv_refine_stripe\sfx:
    lea (%rbp,%r15), %rax
    mov %rax, 8(%rsp)
.Lrv_refine_column\sfx:
    mov 24(%rsp), %rax
    mov (%rbp,%rax), %ebx
    test $0x12480000, %ebx             # any row to refine
    jz .Lrv_refine_next\sfx
    RV_REFINE_ROW 0, \sfx, \lz
    RV_REFINE_ROW 1, \sfx, \lz
    RV_REFINE_ROW 2, \sfx, \lz
    RV_REFINE_ROW 3, \sfx, \lz
.Lrv_refine_next\sfx:
    add $4, %rbp
    cmp 8(%rsp), %rbp
    jb .Lrv_refine_column\sfx
    mov 32(%rsp), %rax
    add %rax, 24(%rsp)
    lea (%rbp,%r15,2), %rbp
    add %r15, %rbp                     # three more sample rows: the next stripe
    decq 16(%rsp)
    jnz .Lrv_refine_stripe\sfx
  .if \lz
    sub %r8, %r9                       # held less D again
    sub %r8, %r10
  .endif
    mov 0(%rsp), %rax
    RV_MQ_STORE_WIDE %rax
    mov %r12, 40(%rax)
    mov %r13, 48(%rax)
    mov %r14, 56(%rax)
.Lrv_refine_out\sfx:
    RV_MQ_LEAVE 88
.Lrv_refine_exchange0\sfx:
    RV_MQ_EXCHANGE 0\sfx, RV_REFINE_SUCCESSOR, .Lrv_refine_update0\sfx, \lz, %rdx, %rdi
.Lrv_refine_exchange1\sfx:
    RV_MQ_EXCHANGE 1\sfx, RV_REFINE_SUCCESSOR, .Lrv_refine_update1\sfx, \lz, %rdx, %rdi
.Lrv_refine_exchange2\sfx:
    RV_MQ_EXCHANGE 2\sfx, RV_REFINE_SUCCESSOR, .Lrv_refine_update2\sfx, \lz, %rdx, %rdi
.Lrv_refine_exchange3\sfx:
    RV_MQ_EXCHANGE 3\sfx, RV_REFINE_SUCCESSOR, .Lrv_refine_update3\sfx, \lz, %rdx, %rdi
    .cfi_endproc
    .size rv_refine_walk_x64\sfx, .-rv_refine_walk_x64\sfx
.endm

    RV_REFINE_WALK 0
    RV_REFINE_WALK 1, _lz

    .purgem RV_REFINE_ROW
    .purgem RV_REFINE_SUCCESSOR
    .purgem RV_REFINE_WALK
)");

#endif
