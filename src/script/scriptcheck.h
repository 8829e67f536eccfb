#pragma once
// Whether a script may be released: every line read as a run reads it, and
// refused at the first line that a run would report in red instead of running
// (a repeat that cannot run, a line or its data too long to send, a check
// line that cannot be read). Pure functions.

#include "answercheck.h"

#include <string>
#include <string_view>

namespace tamrisk {

// The first problem of `script` (its bytes, Windows-1251) as "line N: why",
// its check lines read with `variables` (and {unit}, which a run gives); empty
// when every line reads.
std::string ScriptProblem(std::string_view script, const CheckVariables& variables);

}  // namespace tamrisk
