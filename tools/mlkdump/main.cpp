// mlkdump: decodes a raw record file (".mlk") that the allocation tracker wrote on a test machine.
#include "mlk_dump.h"

#include <iostream>

int main(int argc, char** argv) {
    return mlk::runMlkDump(argc, argv, std::cout, std::cerr);
}
