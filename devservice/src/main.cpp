// kestrel-devservice: the local recognition service. See devservice/README.md.
#include "commands.hpp"

#include <iostream>

int main(int argc, char** argv) {
    return kestrel::devservice::runCommand({argv + 1, argv + argc}, std::cout, std::cerr);
}
