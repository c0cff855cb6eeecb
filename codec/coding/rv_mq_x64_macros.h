// Assembler macros shared by the x86-64 pass walks (rv_refinement_pass_x64.cpp,
// rv_significance_pass_x64.cpp): a top-level asm block that defines them before the
// including file's own block (top-level asm comes out in source order). A walk keeps
// D, A, C and t of rv_mq_wide in r8, r9, r10 and r11; its frame holds the walk's record
// at 0(%rsp) (rv_mq_registers* at offset 32) and two free words at 64 and 72.
#pragma once

#if defined(__x86_64__)

asm(R"(
    .text

# A fresh D from A and C at full scale, both then held less it (with `held` 0 they stay
# whole).
.macro RV_MQ_DISTANCE held=1
    mov %r9, %r8
    btr $55, %r8                       # A less full scale
    cmp %r8, %r10
    cmovb %r10, %r8                    # D = min(C, A less full scale)
  .if \held
    sub %r8, %r9
    sub %r8, %r10
  .endif
.endm

# The sub-interval of a decision: on entry r9 = A less p, r10 = C, rax = p; A and C of the
# chosen sub-interval back into r9 and r10, and in r8d whether it was the LPS (ZF clear).
# `tc` is a scratch register.
.macro RV_MQ_SPLIT tc
    xor %r8d, %r8d
    cmp %rax, %r9
    setb %r8b                          # A less p below p
    mov %r10, \tc
    sub %rax, \tc                      # carry: C in the lower sub-interval
    cmovb %rax, %r9                    # lower: A = p
    cmovae \tc, %r10                   # upper: C less p
    adc $0, %r8d
    and $1, %r8d                       # LPS taken
.endm

# D ran out: on entry r8 = D - p < 0, rax = p, rcx the packed state. LPS or exchange, the
# symbol into eax and the successor into rcx for the macro `successor` to store, the
# renormalisation (byte-in when t runs out) and a fresh D, as rv_mq_wide_exchange; then
# on to `back`. `tb` and `tc` are scratch registers of the walk. Both successors are read
# before the decision is known and one kept: the next decision of the same context waits
# for a select, not for a load behind the decision.
# With `lz` set (the walks' _lz forms, for processors with LZCNT and BMI2) the doublings
# are counted with LZCNT and made with SHLX, fewer steps than BSR's, and A and C are
# whole in r9 and r10 (an MPS takes p from them as well as from D), so that the next
# exchange's A and C do not wait for the distance.
.macro RV_MQ_EXCHANGE id, successor, back, lz, tb, tc
    movzbl %cl, %ecx
    add %ecx, %ecx                     # 2 x transition index: its MPS successor
    lea rv_mq_packed_next(%rip), \tb
  .if \lz
    sub %rax, %r9                      # A less p
  .else
    add %r8, %r9                       # A less p
    add %r8, %r10
    add %rax, %r10                     # C
  .endif
    RV_MQ_SPLIT \tc
    mov (\tb,%rcx,8), \tc
    cmovnz 8(\tb,%rcx,8), \tc          # the successor
    mov %ecx, %eax
    shr $1, %eax
    and $1, %eax
    xor %r8d, %eax                     # the symbol: the MPS, flipped by an LPS
    mov \tc, %rcx
    \successor
  .if \lz
    lzcnt %r9, %rcx
    sub $8, %ecx                       # doublings back to full scale (bit 55)
    shlx %rcx, %r9, %r9
    shlx %rcx, %r10, %r10
  .else
    bsr %r9, %rcx
    neg %ecx
    add $55, %ecx
    shl %cl, %r9
    shl %cl, %r10
  .endif
    sub %rcx, %r11
    js .Lrv_mq_fill\id
.Lrv_mq_distance\id:
    RV_MQ_DISTANCE (1-\lz)
    jmp \back
    RV_MQ_FILL \id, .Lrv_mq_distance\id
.endm

# A decision with the packed state in rcx that takes the same steps whatever its outcome
# (LPS, exchange or MPS, renormalised or not), for a walk whose every decision is flat:
# A and C whole in r9 and r10 and no D kept. The symbol into eax, the state (its
# successor where A was renormalised) into rcx for the macro `successor` to store, then
# the doublings with LZCNT and SHLX. No branch mispredicts; a byte-in goes through
# .Lrv_mq_fillf\id and comes back to .Lrv_mq_flat_done\id. `tb` (with its 32-bit name
# `tb32`) and `tc` are scratch registers of the walk.
.macro RV_MQ_DECIDE_FLAT id, successor, tb, tb32, tc
    mov %rcx, %rax
    and $-256, %rax                    # p
    sub %rax, %r9                      # A less p
    RV_MQ_SPLIT \tc
    movzbl %cl, \tb32
    add \tb32, \tb32                   # 2 x transition index
    mov \tb32, %eax
    shr $1, %eax
    and $1, %eax
    xor %r8d, %eax                     # the symbol: the MPS, flipped by an LPS
    add %r8d, \tb32
    lea rv_mq_packed_next(%rip), \tc
    mov (\tc,\tb,8), \tb               # the successor
    lzcnt %r9, \tc
    sub $8, \tc                        # doublings back to full scale: none keeps the state
    cmovnz \tb, %rcx
    \successor
    shlx \tc, %r9, %r9
    shlx \tc, %r10, %r10
    sub \tc, %r11
    js .Lrv_mq_fillf\id
.Lrv_mq_flat_done\id:
.endm

# .Lrv_mq_fill\id: a shift left t negative; coded bytes are taken in (rax and r9 kept, the
# other scratch registers lost) and the decision goes on at `back`.
.macro RV_MQ_FILL id, back
.Lrv_mq_fill\id:
    mov %rax, 64(%rsp)
    mov %r9, 72(%rsp)
    mov 0(%rsp), %rdi
    mov 32(%rdi), %rdi                 # the narrow registers
    mov %r10, %rsi
    mov %r11, %rdx
    xor %ecx, %ecx
    call _Z15rv_mq_wide_fillR15rv_mq_registersmll@PLT
    mov %rax, %r10
    mov %rdx, %r11
    mov 64(%rsp), %rax
    mov 72(%rsp), %r9
    jmp \back
.endm

# Saves the registers a walk keeps and opens a frame of `frame` bytes (8 mod 16, so that
# calls stay 16-byte aligned).
.macro RV_MQ_ENTER frame
    push %rbx
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %rbx, 0
    push %rbp
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %rbp, 0
    push %r12
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %r12, 0
    push %r13
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %r13, 0
    push %r14
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %r14, 0
    push %r15
    .cfi_adjust_cfa_offset 8
    .cfi_rel_offset %r15, 0
    sub $\frame, %rsp
    .cfi_adjust_cfa_offset \frame
.endm

# The wide registers from and back to the walk's record at \rec (A, C, D, t at 0-24, as
# rv_mq_wide): A in r9, C in r10, D in r8, t in r11.
.macro RV_MQ_LOAD_WIDE rec
    mov 0(\rec), %r9
    mov 8(\rec), %r10
    mov 16(\rec), %r8
    mov 24(\rec), %r11
.endm

.macro RV_MQ_STORE_WIDE rec
    mov %r9, 0(\rec)
    mov %r10, 8(\rec)
    mov %r8, 16(\rec)
    mov %r11, 24(\rec)
.endm

# Closes the frame and returns; code placed after it sees the walk's frame again.
.macro RV_MQ_LEAVE frame
    add $\frame, %rsp
    .cfi_adjust_cfa_offset -\frame
    pop %r15
    .cfi_adjust_cfa_offset -8
    pop %r14
    .cfi_adjust_cfa_offset -8
    pop %r13
    .cfi_adjust_cfa_offset -8
    pop %r12
    .cfi_adjust_cfa_offset -8
    pop %rbp
    .cfi_adjust_cfa_offset -8
    pop %rbx
    .cfi_adjust_cfa_offset -8
    ret
    .cfi_adjust_cfa_offset (\frame + 48)
.endm
)");

#endif
