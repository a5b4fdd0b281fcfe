// zorlet: turns the MIB compiler's output into mibinfo.out (see zorlet_program.h).
#include "zorlet/zorlet_program.h"

int main(int argc, char** argv) {
    return korvimo::zorlet::runZorlet(argc, argv);
}
