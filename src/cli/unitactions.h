#pragma once
// The actions of tamrisk-cli unit, each in a file of its own.

#include <iosfwd>
#include <string>
#include <vector>

namespace tamrisk {

int UnitHistoryAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err);

}  // namespace tamrisk
