// kmx: the MIB compiler that the compilation batch runs (see kmx_program.h and, for the
// output format, module_writer.h).
#include "kmx/kmx_program.h"

int main(int argc, char** argv) {
    return korvimo::kmx::runKmx(argc, argv);
}
