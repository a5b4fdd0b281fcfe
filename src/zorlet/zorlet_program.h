// The zorlet console program: command line, banner, files and the run that turns the MIB
// compiler's output into mibinfo.out.
//
//   zorlet [--home DIR] input_filename output_filename [error_filename]
//
// The error file is written only when exactly three file names are given. The input is only
// ever read. Whatever happens, the program prints a final newline and exits with status 1;
// callers judge the run by mibinfo.out and the error file. --home DIR names the installation
// home like every program of the system; zorlet reads nothing from a home, so the option does
// not change where its files are: names are taken relative to the current directory.
//
//   int main(int argc, char** argv) { return korvimo::zorlet::runZorlet(argc, argv); }
#pragma once

namespace korvimo::zorlet {

int runZorlet(int argc, char** argv);

}  // namespace korvimo::zorlet
