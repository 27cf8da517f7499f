#pragma once

// The one place where the command line words a refusal or a file's problem for its error stream.

#include <optional>
#include <string_view>

#include "files/Result.h"
#include "workflow/Enrolment.h"

namespace quorvane {

// The one wording of a refusal or a file's problem on the command line: "WHAT: MESSAGE (CAUSE)"
// on the error stream, without "WHAT: " when `what` is empty and without the cause when it is
// empty. A message of several lines (a proven cause first) stays several lines, the cause after
// the last. Returns kExitError.
int Refused(std::string_view what, std::string_view message, std::string_view cause);
// The same with a lower layer's failure as the cause (worded by CauseText), or none.
int Refused(std::string_view what, std::string_view message, const std::optional<Failure>& cause);
// A step's refusal so.
int Refused(std::string_view what, const StepResult& result);

}  // namespace quorvane
