// DescriptorMapper: turns names as written in control files ("ifDescr.3") into numeric text
// through a MibInfo, the way the store has always mapped them.
//
//   DescriptorMapper mapper(*mib);          // one per control-file load
//   std::string numeric;
//   if (mapper.map("ifDescr.3", numeric)) ...   // "1.3.6.1.2.1.2.2.1.2.3"
//
// When one descriptor stands on several object lines, the first at or after the line of the
// previous successful mapping wins, wrapping to the first: the order of a line-by-line search
// that resumes where it last matched. So a control file written in identifier order maps as
// it always did, at the cost of one hash probe per name. That position is the only state,
// and it lives here so that the MibInfo stays shared and unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mibinfo/mib_info.h"

namespace korvimo::mibinfo {

// Whether a name as written in a control file is numeric (its first character is a digit)
// and so needs no mapping.
inline bool isNumericName(std::string_view name) {
    return !name.empty() && name.front() >= '0' && name.front() <= '9';
}

class DescriptorMapper {
  public:
    explicit DescriptorMapper(const MibInfo& mib) : mib_(mib) {}

    // A numeric name is returned unchanged; otherwise the descriptor (the text before the
    // first ".") is replaced by its numeric identifier and the rest of the name, from that "."
    // on, is appended. False when the descriptor is on no object line.
    bool map(std::string_view name, std::string& numeric);

    const MibInfo& mibInfo() const { return mib_; }

  private:
    const MibInfo& mib_;
    uint32_t resume_ = 0;  // record position of the last successful mapping
};

}  // namespace korvimo::mibinfo
