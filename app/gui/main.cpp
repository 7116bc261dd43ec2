// kelvane: the desktop program.

#include "app/gui/startup.h"

int main(int argc, char** argv) {
    return kelvane::RunKelvane(argc, argv);
}
