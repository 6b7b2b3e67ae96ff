OUTPUT_FORMAT("elf32-i386")
SECTIONS
{
  . = 0;
  .text : { *(.text) }
  . = 0x100000;
  .itext : { *(.itext) }
  . = 0x200000;
  .big (NOLOAD) : { *(.big) }
  /DISCARD/ : { *(.note .note.*) *(.comment) }
}
