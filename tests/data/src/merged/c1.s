# Two 2-byte constants in a mergeable section: GNU ld keeps them, and merges the equal
# constants of c2.s and c3.s into the first one, listing those sections past the end of .rodata.
	.section .rodata.cst2,"aM",@progbits,2
	.globl k1
k1:	.short 7
	.globl k4
k4:	.short 5
	.text
	.globl f1
f1:	movzwl k1(%rip), %eax
	addw k4(%rip), %ax
	ret
	.section .note.GNU-stack,"",@progbits
