#include "cli/status_output.h"

namespace korvimo::cli {

void printAppendedLines(StatusList& status, std::ostream& out) {
    status.onChange([&out](const StatusList::Change& change) {
        if (change.kind == StatusList::ChangeKind::Appended) {
            out << change.text << "\n";
            out.flush();
        }
    });
}

}  // namespace korvimo::cli
