# A 32-bit Linux program that scripts/wine starts to learn what runs 32-bit
# code here (as --32 i386-probe.s && ld -m elf_i386 -static). It writes the
# processor's brand string (cpuid leaves 0x80000002 to 0x80000004) and a
# newline to standard output, then waits for one byte or the end of standard
# input before it exits with 0. While it waits, its starter compares the
# program that the kernel started for it (/proc/PID/exe) with this one: an
# emulator registered with binfmt_misc shows there, whether or not the
# registration can be seen from where the probe runs (inside a chroot
# binfmt_misc is not mounted, yet the kernel's registration applies).
# No C library: it needs nothing of the system's 32-bit files.

	.text
	.globl _start
_start:
	mov $0x80000000, %eax
	cpuid
	cmp $0x80000004, %eax
	jb 2f				# no brand string: an empty line
	lea brand, %edi
	mov $0x80000002, %esi
1:	mov %esi, %eax
	cpuid
	mov %eax, (%edi)
	mov %ebx, 4(%edi)
	mov %ecx, 8(%edi)
	mov %edx, 12(%edi)
	add $16, %edi
	inc %esi
	cmp $0x80000005, %esi
	jb 1b
	# NUL bytes of the brand string become spaces.
	lea brand, %edi
3:	cmpb $0, (%edi)
	jne 4f
	movb $32, (%edi)
4:	inc %edi
	cmp $brand + 48, %edi
	jb 3b
2:	movb $10, brand + 48
	mov $4, %eax			# write(1, brand, 49)
	mov $1, %ebx
	lea brand, %ecx
	mov $49, %edx
	int $0x80
	mov $3, %eax			# read(0, byte, 1)
	xor %ebx, %ebx
	lea byte, %ecx
	mov $1, %edx
	int $0x80
	mov $1, %eax			# exit(0)
	xor %ebx, %ebx
	int $0x80

	.data
brand:	.fill 48, 1, 32
	.byte 10
byte:	.byte 0
	.section .note.GNU-stack, "", @progbits
