/* Linked-ELF fixtures for le_packer_test. good: two objects with absolute references, a
 * reference from one object into the other and one that straddles a page boundary.
 * sixteen_bit: a 16-bit absolute reference, which LE fixups of this packer cannot hold.
 * huge: an object larger than the packer writes. */
        .text
        .globl entry
entry:
        call    init_code               /* cross-object, self-relative */
        call    local_code              /* same object: no fixup */
        ret
local_code:
        ret
        .balign 4
pointer_to_entry:
        .long   entry + 8               /* absolute, with an addend */
pointer_to_init:
        .long   init_code               /* absolute, into object 2 */
        .org    4094
straddling:
        .long   local_code              /* crosses from page 1 into page 2 */
        .long   0
#ifdef FIXTURE_sixteen_bit
        .word   entry
#endif

        .section .itext,"ax",@progbits
init_code:
        movl    $1, %eax
        ret
        .long   pointer_to_entry        /* absolute, into object 1 */

#ifdef FIXTURE_huge
        .section .big,"aw",@nobits
        .space  0x200000
#endif
        .section .note.GNU-stack,"",@progbits
