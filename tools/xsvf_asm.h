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
//   XCOMPLETE
//   BYTES 0A 00 17                  raw bytes as they are: refused opcodes, damaged files
//
// Underscores may separate hex digits (FFFF_0000). A value with more significant digits than its
// length holds is an error, as is anything the tool does not understand; the message names the
// line.
std::vector<uint8_t> AssembleXsvf(const std::string& Text);

// Reads a description file and writes the XSVF file.
void AssembleXsvfFile(const std::string& SourcePath, const std::string& OutputPath);
