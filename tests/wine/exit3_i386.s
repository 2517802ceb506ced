# The smallest 32-bit x86 Linux program: it exits with status 3. Whether the kernel runs it tells
# whether this machine can run 32-bit Wine at all.
	.globl _start
_start:
	movl $1, %eax
	movl $3, %ebx
	int $0x80
