#pragma once
// The digest a run's record gives its script, one for the CLI and the station.

#include <string>
#include <vector>

namespace tamrisk {

// The SHA-256 (64 lower-case hex digits) of a whole script as its lines, each
// followed by CR LF, as the station saves a script: one digest for a file and
// for the station's editor holding it, whatever line ends the file had (for a
// file saved so, the file's own SHA-256).
std::string ScriptSha256(const std::vector<std::string>& lines);

}  // namespace tamrisk
