# A 2-byte constant equal to k1 of c1.s, merged into it by GNU ld.
	.section .rodata.cst2,"aM",@progbits,2
	.globl k2
k2:	.short 7
	.text
	.globl f2
f2:	movzwl k2(%rip), %eax
	ret
	.section .note.GNU-stack,"",@progbits
