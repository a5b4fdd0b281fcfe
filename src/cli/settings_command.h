// `korvan-cli settings`: shows the start-up settings that korvan.ini gives on the current
// home, creating the file with its defaults when it is missing.
//
//   return runSettings(std::cout);
#pragma once

#include <ostream>

namespace korvimo::cli {

int runSettings(std::ostream& out);

}  // namespace korvimo::cli
