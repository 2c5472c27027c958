// The program: kjsager [T3=<folder of the start-up files>]
#include "app/kj_startup.h"

int main(int argc, char** argv) {
    return kj::RunProgram(argc, argv);
}
