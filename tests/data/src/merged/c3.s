# A 2-byte constant equal to k1 of c1.s, merged into it by GNU ld.
	.section .rodata.cst2,"aM",@progbits,2
	.globl k3
k3:	.short 7
	.text
	.globl f3
f3:	movzwl k3(%rip), %eax
	ret
	.section .note.GNU-stack,"",@progbits
