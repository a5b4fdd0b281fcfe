// The status lines of an operation on standard output, as korvan-cli's tool commands print
// them: every appended line as it comes, flushed, so a script reading the pipe sees each at
// once. Lines that replace another (the object in progress of a creation) are the window's.
#pragma once

#include <ostream>

#include "app/core/status_list.h"

namespace korvimo::cli {

void printAppendedLines(StatusList& status, std::ostream& out);

}  // namespace korvimo::cli
