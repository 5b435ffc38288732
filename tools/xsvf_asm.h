#pragma once

#include <cstdint>
#include <string>
#include <vector>

// xsvf-asm: turns a readable description of an XSVF file into the binary file, one command a line.
// The test files of the XSVF player are written this way instead of as hex dumps, so a reader can
// see what each one does.
//
//   # a comment runs to the end of the line (except inside XCOMMENT)
//   XSDRSIZE 32                     length of the following DR values, in bits
//   XTDOMASK FFFF0000               values in hex, most significant digit first; short values are
//   XSDR 12345678                   padded with leading zeros to the XSDRSIZE in force
//   XSDRTDO 00000000 0A0B0C0D       TDI value, then expected TDO
//   XSDRB 0F   XSDRC 0F   XSDRE 0F  pieces of one long DR scan (TDI only)
//   XSDRTDOB/XSDRTDOC/XSDRTDOE tdi tdo
//   XSIR 9 1FF                      IR length in bits (0 to 255), then the value
//   XRUNTEST 1000                   microseconds, decimal or 0x hex
//   XREPEAT 32
//   XSTATE RESET | IDLE | <code>    any TAP state name or its number 0 to 15
//   XENDIR IRPAUSE | IDLE | 0 | 1
//   XENDDR DRPAUSE | IDLE | 0 | 1
//   XCOMMENT free text              the rest of the line, stored with its closing 0 byte
//   XSIR2 300 <hex>                 IR length in bits (0 to 65535), then the value
//   XSETSDRMASKS addrmask datamask  the masks XSDRINC uses (XSDRSIZE values)
//   XSDRINC start piece...          start address, then one piece per step (as many bytes as the
//                                   data mask has bits)
//   XWAIT IDLE IDLE 1000            wait state, end state, microseconds
//   XWAITSTATE IDLE IDLE 10 1000    wait state, end state, clocks, microseconds
//   LCOUNT 10   LDELAY IDLE 10 1000 LSDR tdi tdo
//   XTRST ON | OFF | Z | ABSENT
//   XCOMPLETE
//   BYTES 0A 00 17                  raw bytes as they are: refused opcodes, damaged files
//
// Underscores may separate hex digits (FFFF_0000). A value with more significant digits than its
// length holds is an error, as is anything the tool does not understand; the message names the
// line.
std::vector<uint8_t> AssembleXsvf(const std::string& Text);

// The other way round: an XSVF file as the text AssembleXsvf reads, one command a line, so a user
// can see what a refused or failing file contains. Whatever is not a complete command (an
// unknown opcode, a file cut short, bytes after XCOMPLETE) is listed as BYTES, so that assembling
// the text gives the same file again.
std::string DisassembleXsvf(const std::vector<uint8_t>& Bytes);

// Reads a description file and writes the XSVF file.
void AssembleXsvfFile(const std::string& SourcePath, const std::string& OutputPath);
