# Boot code of the legacy master boot record (diskops/MbrBootCode.cpp holds
# the assembled bytes). It moves itself to 0x600, looks for the one active
# partition, loads its first sector to 0x7C00 with the BIOS extended read and
# jumps there. Rebuild with tools/mbr_boot.sh.
        .code16
        .text
        .globl _start
_start:
        cli
        xorw    %ax, %ax
        movw    %ax, %ss
        movw    $0x7C00, %sp
        movw    %ax, %ds
        movw    %ax, %es
        sti
        cld
        movw    $0x7C00, %si
        movw    $0x0600, %di
        movw    $0x100, %cx
        rep movsw
        ljmp    $0, $relocated
relocated:
        movw    $0x7BE, %si             # partition table at 0x600 + 0x1BE
        movw    $4, %cx
find:
        cmpb    $0x80, (%si)
        je      found
        cmpb    $0, (%si)
        jne     invalid
        addw    $16, %si
        loop    find
        jmp     missing
found:
        movw    %si, %bp
rest:                                   # every other entry must be inactive
        addw    $16, %si
        decw    %cx
        jz      load
        cmpb    $0, (%si)
        jne     invalid
        jmp     rest
load:
        movl    8(%bp), %eax
        movl    %eax, dap_lba
        movw    $dap, %si
        movb    $0x42, %ah
        int     $0x13
        jc      failed
        cmpw    $0xAA55, 0x7DFE
        jne     missing
        movw    %bp, %si
        ljmp    $0, $0x7C00
invalid:
        movw    $msg_invalid, %si
        jmp     print
failed:
        movw    $msg_error, %si
        jmp     print
missing:
        movw    $msg_missing, %si
print:
        lodsb
        testb   %al, %al
        jz      halt
        movb    $0x0E, %ah
        movw    $7, %bx
        int     $0x10
        jmp     print
halt:
        hlt
        jmp     halt

dap:    .byte   16, 0
        .word   1
        .word   0x7C00, 0
dap_lba: .long  0, 0
msg_invalid: .asciz "Invalid partition table"
msg_error:   .asciz "Error loading operating system"
msg_missing: .asciz "Missing operating system"
