#include "cli.h"

#include <iostream>

int main(int argc, char** argv)
{
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = mdbtool::run(args, std::cin, std::cout, std::cerr);
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "ferrowane-mdb: cannot write the output\n";
        return mdbtool::kExitFailure;
    }
    return code;
}
