// The significance propagation pass's stripe walk in x86-64 assembly, for the hand-written
// form. Compiled, the pass kept A and t on the stack, so every exchange stored A for the
// next one to load; here A, C, D and t stay in r8-r11 from the first stripe to the last.
// Same decisions, samples, context words and states as significance_pass in
// rv_significance_pass_hand.cpp; only the careful byte-in is called (rv_mq_wide_fill).
// (The cleanup pass written the same way measured up to 7 % slower than the compiled one
// on CT and DX lossless, so it stays compiled.)
#include "codec/coding/rv_block_passes_hand.h"
#include "codec/coding/rv_mq_x64_macros.h"
#include "codec/core/rvd_processor.h"

#include <cstddef>

#if defined(__x86_64__)

static_assert(offsetof(rv_hand::significance_walk, A) == 0 && offsetof(rv_hand::significance_walk, C) == 8 &&
                  offsetof(rv_hand::significance_walk, D) == 16 && offsetof(rv_hand::significance_walk, t) == 24 &&
                  offsetof(rv_hand::significance_walk, r) == 32 &&
                  offsetof(rv_hand::significance_walk, states) == 40 &&
                  offsetof(rv_hand::significance_walk, contexts) == 48 &&
                  offsetof(rv_hand::significance_walk, samples) == 56 &&
                  offsetof(rv_hand::significance_walk, width) == 64 &&
                  offsetof(rv_hand::significance_walk, num_stripes) == 72 &&
                  offsetof(rv_hand::significance_walk, stride) == 80 &&
                  offsetof(rv_hand::significance_walk, lut) == 88 &&
                  offsetof(rv_hand::significance_walk, sign_lut) == 96 &&
                  offsetof(rv_hand::significance_walk, one_and_half) == 104 &&
                  offsetof(rv_hand::significance_walk, causal) == 112,
              "rv_hand::significance_walk as the walk reads it");
static_assert(rv_ctx::sig(0) == (1u << 4) && rv_ctx::visited(0) == (1u << 20) && rv_ctx::sign(0) == (1u << 21) &&
                  rv_ctx::sig(4) == (1u << 16) && rv_ctx::sig(-1) == (1u << 1) && rv_ctx::sign_pos(-1) == 18 &&
                  rv_ctx::below_sign_pos == 31 && rv_ctx::neighbours == 0x1EFu &&
                  rv_ctx::neighbourhood_index == 0x1FFu && rv_first_sign_context == 10,
              "context-word bits the walk tests and sets");

void rv_significance_pass_x64(rv_mq_wide& q, rv_mq_registers& r, rv_mq_packed* states, int p, bool causal,
                              int orientation, int32_t* samples, int32_t* contexts, int width, int num_stripes,
                              int stride)
{
    rv_hand::significance_walk walk = {q.A, q.C, q.D, q.t, &r, states,
                                       reinterpret_cast<uint32_t*>(contexts) + stride + 1, samples, width,
                                       num_stripes, stride, rv_significance_lut[orientation & 3], rv_sign_lut,
                                       static_cast<int64_t>(3u << (p - 1)), causal ? 1 : 0};
    if (rvd_lzcnt_shlx_exists)
        rv_significance_walk_x64_lz(&walk);
    else
        rv_significance_walk_x64(&walk);
    q = {walk.A, walk.C, walk.D, walk.t};
}

// Registers through the walk:
//   r8 D, r9 A, r10 C, r11 t (rv_mq_wide)    r12 the column's context word (w)
//   rbx the context word's address           rbp row 0's sample in this column
//   r13 the packed states                    r14 the orientation's significance table
//   r15 the sign table's entry, then the sign
//   rax, rcx, rdx (the decision's state), rsi, rdi scratch
// Frame: 0 the record, 8 the stripe row's end, 16 stripes left, 24 context words behind
// a stripe row, 32 sample bytes of three rows, 40 bytes per sample row, 48 bytes per
// context row, 56 the new sample's magnitude, 64-72 values kept across the byte-in call,
// 80 the sign table, 88 causal.
asm(R"(
    .text

# One decision with the packed state at (%rdx); the symbol in eax. The exchange is out of
# line and comes back to .Lrv_sig_decided\id.
# With `flat` (the _lz walk) every decision takes the same steps, whatever its outcome: no
# branch that mispredicts. On real images this measured faster than the MPS branch even
# for the skewed states (though slower on a synthetic sparse block, where MPS runs are
# long).
.macro RV_SIG_DECIDE id, flat
    mov (%rdx), %rcx
  .if \flat
    RV_MQ_DECIDE_FLAT \id, RV_SIG_SUCCESSOR, %rsi, %esi, %rdi
  .else
    mov %rcx, %rax
    and $-256, %rax                    # p
    sub %rax, %r8
    js .Lrv_sig_exchange\id
    mov %ecx, %eax
    and $1, %eax                       # the MPS
  .endif
.Lrv_sig_decided\id:
.endm

# An exchange's successor (rcx) back into the state's word (rdx).
.macro RV_SIG_SUCCESSOR
    mov %rcx, (%rdx)
.endm

# Row R turned significant: its sign (context and prediction from the sign table), the
# marks in this and the neighbouring words (make_significant) and the sample.
.macro RV_SIG_SIGN R, sfx, lz
    mov %r12d, %eax
    shr $(1 + 3 * \R), %eax
    and $0x55, %eax                    # significance above, left, right, below
  .if \R < 3
    mov %r12d, %ecx
    shr $(18 + 3 * \R), %ecx
    and $0x41, %ecx
    add %ecx, %ecx                     # signs above and below
    or %ecx, %eax
  .else
    mov %r12d, %ecx
    shr $27, %ecx
    and $1, %ecx
    add %ecx, %ecx                     # sign above
    or %ecx, %eax
    mov %r12d, %ecx
    shr $31, %ecx
    shl $7, %ecx                       # sign below the stripe
    or %ecx, %eax
  .endif
    mov -4(%rbx), %ecx
    shr $(18 + 3 * \R), %ecx
    and $8, %ecx                       # the left neighbour's sign
    or %ecx, %eax
    mov 4(%rbx), %ecx
    shr $(16 + 3 * \R), %ecx
    and $32, %ecx                      # the right neighbour's sign
    or %ecx, %eax
    mov 80(%rsp), %rcx
    movzbl (%rcx,%rax), %r15d          # 2 x context offset + prediction
    mov %r15d, %eax
    shr $1, %eax
    lea 80(%r13,%rax,8), %rdx          # sign contexts from 10
    RV_SIG_DECIDE g\R\sfx, \lz
    and $1, %r15d
    xor %eax, %r15d                    # the sign
    or $(1 << (4 + 3 * \R)), %r12d
    mov %r15d, %eax
    shl $(21 + 3 * \R), %eax
    or %eax, %r12d
    orl $(1 << (5 + 3 * \R)), -4(%rbx)   # right neighbour of the column to the left
    orl $(1 << (3 + 3 * \R)), 4(%rbx)    # left neighbour of the column to the right
  .if \R == 0
    testb $1, 88(%rsp)
    jnz .Lrv_sig_causal\R\sfx
    mov %rbx, %rdx
    sub 48(%rsp), %rdx                 # the stripe above, its row 4
    orl $(1 << 17), -4(%rdx)
    mov %r15d, %eax
    shl $31, %eax
    or $(1 << 16), %eax
    or %eax, (%rdx)
    orl $(1 << 15), 4(%rdx)
.Lrv_sig_causal\R\sfx:
  .elseif \R == 3
    mov 48(%rsp), %rcx                 # the stripe below, its row -1
    orl $(1 << 2), -4(%rbx,%rcx)
    mov %r15d, %eax
    shl $18, %eax
    or $(1 << 1), %eax
    or %eax, (%rbx,%rcx)
    orl $(1 << 0), 4(%rbx,%rcx)
  .endif
    mov %r15d, %eax
    shl $31, %eax
    or 56(%rsp), %eax
  .if \R == 0
    mov %eax, (%rbp)
  .elseif \R == 1
    mov 40(%rsp), %rcx
    mov %eax, (%rbp,%rcx)
  .elseif \R == 2
    mov 40(%rsp), %rcx
    mov %eax, (%rbp,%rcx,2)
  .else
    mov 40(%rsp), %rcx
    lea (%rcx,%rcx,2), %rcx
    mov %eax, (%rbp,%rcx)
  .endif
.endm

# Row R: coded when a neighbour is significant and the row is neither significant nor
# outside the block; marked as coded whatever its symbol.
.macro RV_SIG_ROW R, sfx, lz
    test $((1 << (4 + 3 * \R)) | (1 << (21 + 3 * \R))), %r12d
    jnz .Lrv_sig_skip\R\sfx
    mov %r12d, %eax
  .if \R
    shr $(3 * \R), %eax
  .endif
    test $0x1EF, %eax
    jz .Lrv_sig_skip\R\sfx
    or $(1 << (20 + 3 * \R)), %r12d
    and $0x1FF, %eax
    movzbl (%r14,%rax), %eax
    lea (%r13,%rax,8), %rdx
    RV_SIG_DECIDE s\R\sfx, \lz
    test %eax, %eax
    jz .Lrv_sig_skip\R\sfx
    RV_SIG_SIGN \R, \sfx, \lz
.Lrv_sig_skip\R\sfx:
.endm

# The out-of-line part of decision `id`: its byte-in (flat) or its exchange.
.macro RV_SIG_OUT_OF_LINE id, lz
  .if \lz
    RV_MQ_FILL f\id, .Lrv_mq_flat_done\id
  .else
.Lrv_sig_exchange\id:
    RV_MQ_EXCHANGE \id, RV_SIG_SUCCESSOR, .Lrv_sig_decided\id, 0, %rsi, %rdi
  .endif
.endm

# The walk, named rv_significance_walk_x64 plus `sfx`; `lz` chooses the exchange's form.
.macro RV_SIG_WALK lz, sfx=
    .p2align 4
    .globl rv_significance_walk_x64\sfx
    .hidden rv_significance_walk_x64\sfx
    .type rv_significance_walk_x64\sfx, @function
rv_significance_walk_x64\sfx:
    .cfi_startproc
    RV_MQ_ENTER 104
    mov 72(%rdi), %rax
    test %rax, %rax
    jle .Lrv_sig_out\sfx
    mov 64(%rdi), %rcx
    test %rcx, %rcx
    jle .Lrv_sig_out\sfx
    mov %rdi, 0(%rsp)
    mov %rax, 16(%rsp)
    shl $2, %rcx
    mov %rcx, 40(%rsp)                 # bytes per sample row
    lea (%rcx,%rcx,2), %rax
    mov %rax, 32(%rsp)
    mov 80(%rdi), %rax
    shl $2, %rax
    mov %rax, 48(%rsp)                 # bytes per context row
    sub %rcx, %rax
    mov %rax, 24(%rsp)
    mov 104(%rdi), %rax
    mov %rax, 56(%rsp)
    mov 96(%rdi), %rax
    mov %rax, 80(%rsp)
    mov 112(%rdi), %rax
    mov %rax, 88(%rsp)
    RV_MQ_LOAD_WIDE %rdi
  .if \lz
    add %r8, %r9                       # A and C whole: every decision is flat
    add %r8, %r10
  .endif
    mov 40(%rdi), %r13
    mov 48(%rdi), %rbx
    mov 56(%rdi), %rbp
    mov 88(%rdi), %r14
.Lrv_sig_stripe\sfx:
    mov 40(%rsp), %rax
    add %rbx, %rax
    mov %rax, 8(%rsp)
.Lrv_sig_column\sfx:
    mov (%rbx), %r12d
    test %r12d, %r12d
    jnz .Lrv_sig_code\sfx
    # Zero words at c and c + 3 mean zero words between them; the extra words behind
    # the row are never zero, so no skip runs past it.
.Lrv_sig_zeros\sfx:
    cmpl $0, 12(%rbx)
    jne .Lrv_sig_next\sfx
    add $12, %rbx
    add $12, %rbp
    jmp .Lrv_sig_zeros\sfx
.Lrv_sig_code\sfx:
    RV_SIG_ROW 0, \sfx, \lz
    RV_SIG_ROW 1, \sfx, \lz
    RV_SIG_ROW 2, \sfx, \lz
    RV_SIG_ROW 3, \sfx, \lz
    mov %r12d, (%rbx)
.Lrv_sig_next\sfx:
    add $4, %rbx
    add $4, %rbp
    cmp 8(%rsp), %rbx
    jb .Lrv_sig_column\sfx
    add 24(%rsp), %rbx                 # the words behind the stripe row
    add 32(%rsp), %rbp                 # three more sample rows: the next stripe
    decq 16(%rsp)
    jnz .Lrv_sig_stripe\sfx
  .if \lz
    RV_MQ_DISTANCE
  .endif
    mov 0(%rsp), %rax
    RV_MQ_STORE_WIDE %rax
.Lrv_sig_out\sfx:
    RV_MQ_LEAVE 104
    RV_SIG_OUT_OF_LINE s0\sfx, \lz
    RV_SIG_OUT_OF_LINE g0\sfx, \lz
    RV_SIG_OUT_OF_LINE s1\sfx, \lz
    RV_SIG_OUT_OF_LINE g1\sfx, \lz
    RV_SIG_OUT_OF_LINE s2\sfx, \lz
    RV_SIG_OUT_OF_LINE g2\sfx, \lz
    RV_SIG_OUT_OF_LINE s3\sfx, \lz
    RV_SIG_OUT_OF_LINE g3\sfx, \lz
    .cfi_endproc
    .size rv_significance_walk_x64\sfx, .-rv_significance_walk_x64\sfx
.endm

    RV_SIG_WALK 0
    RV_SIG_WALK 1, _lz

    .purgem RV_SIG_DECIDE
    .purgem RV_SIG_SUCCESSOR
    .purgem RV_SIG_SIGN
    .purgem RV_SIG_ROW
    .purgem RV_SIG_WALK
    .purgem RV_SIG_OUT_OF_LINE
)");

#endif
