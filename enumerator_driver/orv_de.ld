/* Layout of the enumerator driver before it is packed into an LE image: object 1 (.text:
 * locked code and data, preloaded) and object 2 (.itext: discardable start-up code). Each
 * object is relocated on its own by the system loader, so each starts at its own base; the
 * packer turns every absolute reference and every reference from one object into the other
 * into an LE fixup. */
OUTPUT_FORMAT("elf32-i386")
OUTPUT_ARCH(i386)
SECTIONS
{
  . = 0;
  .text : {
    *(.text .text.*)
    *(.rodata .rodata.*)
    *(.data .data.*)
    *(.bss .bss.* COMMON)
  }
  . = 0x100000;
  .itext : {
    *(.itext .itext.*)
  }
  /DISCARD/ : {
    *(.comment) *(.note .note.*) *(.eh_frame) *(.eh_frame_hdr)
  }
}
