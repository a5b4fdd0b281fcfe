// The kmx command line: compiles one MIB file for zorlet.
//
//   kmx [--home DIR] -o OUTFILE -e ERRFILE MIBFILE
//
// OUTFILE and ERRFILE are created (emptied) in every case, relative to the current directory
// like MIBFILE; the compilation batch runs kmx in the mibs directory. --home DIR names the
// installation home whose bin/korvan.ini (INSTALLDIR, MIBDIRLIST) and mibs directory are
// searched for imported modules; without it the home is the directory above the one that
// holds the kmx program. The exit status is 0 when at least one module was compiled, else 1
// (the batch does not look at it).
//
//   int main(int argc, char** argv) { return korvimo::kmx::runKmx(argc, argv); }
#pragma once

namespace korvimo::kmx {

int runKmx(int argc, char** argv);

}  // namespace korvimo::kmx
