#include <iostream>
#include <string>
#include <vector>

#include "CheckCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return SorvellCheckMain(args, std::cout, std::cerr);
}
