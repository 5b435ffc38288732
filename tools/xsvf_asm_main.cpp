// Command-line front end of the XSVF assembler: xsvf-asm <description> <output.xsvf>
#include <cstdio>
#include <exception>
#include <string>

#include "xsvf_asm.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) == "--help") {
        std::fprintf(stderr, "usage: xsvf-asm <description.txt> <output.xsvf>\n"
                             "One XSVF command a line (XSDRSIZE 32, XSDRTDO 12345678 FFFFFFFF, "
                             "XREPEAT 2, XCOMPLETE, ...); see xsvf_asm.h for the full syntax.\n");
        return 2;
    }
    try {
        AssembleXsvfFile(argv[1], argv[2]);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "xsvf-asm: %s\n", E.what());
        return 1;
    }
    return 0;
}
