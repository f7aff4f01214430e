@ Start of the bare takeover image. The caller passes ModelCode in r0 and the
@ loader buffer's address in r1; the image sets its own stack, clears .bss
@ and enters TakeoverEntry, which ends with the hardware reset.
        .section .text.start, "ax"
        .arm
        .global _start
_start:
        ldr     sp, =__stack_top
        mov     r4, r0
        mov     r5, r1
        ldr     r2, =__bss_start
        ldr     r3, =__bss_end
        mov     r6, #0
1:      cmp     r2, r3
        strlo   r6, [r2], #4
        blo     1b
        mov     r0, r4
        mov     r1, r5
        bl      TakeoverEntry
2:      b       2b
