// Command-line front end of the XSVF assembler: xsvf-asm <description> <output.xsvf>, and
// xsvf-asm --disassemble <file.xsvf> for the text of a file.
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "native_path.h"
#include "native_process.h"
#include "xsvf_asm.h"

int main(int argc, char** argv) {
    const std::vector<std::string> Args = platform::Utf8Arguments(argc, argv);
    if (Args.size() == 3 && Args[1] == "--disassemble") {
        std::ifstream In(platform::PathFromUtf8(Args[2]), std::ios::binary);
        if (!In) {
            std::fprintf(stderr, "xsvf-asm: cannot read %s\n", Args[2].c_str());
            return 1;
        }
        const std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(In)),
                                         std::istreambuf_iterator<char>());
        std::fputs(DisassembleXsvf(Bytes).c_str(), stdout);
        return 0;
    }
    if (Args.size() != 3 || Args[1] == "--help") {
        std::fprintf(stderr, "usage: xsvf-asm <description.txt> <output.xsvf>\n"
                             "       xsvf-asm --disassemble <file.xsvf>\n"
                             "One XSVF command a line (XSDRSIZE 32, XSDRTDO 12345678 FFFFFFFF, "
                             "XREPEAT 2, XCOMPLETE, ...); see xsvf_asm.h for the full syntax.\n");
        return 2;
    }
    try {
        AssembleXsvfFile(Args[1], Args[2]);
    } catch (const std::exception& E) {
        std::fprintf(stderr, "xsvf-asm: %s\n", E.what());
        return 1;
    }
    return 0;
}
