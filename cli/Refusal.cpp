#include "cli/Refusal.h"

#include <string>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "workflow/Messages.h"

namespace quorvane {

int Refused(std::string_view what, std::string_view message, std::string_view cause) {
    std::string line = what.empty() ? std::string() : std::string(what) + ": ";
    for (std::size_t end = message.find('\n'); end != std::string_view::npos;
         end = message.find('\n')) {
        PrintError(line.append(message.substr(0, end)));
        line.clear();
        message.remove_prefix(end + 1);
    }
    line.append(message);
    if (!cause.empty()) {
        line.append(" (").append(cause).append(")");
    }
    PrintError(line);
    return kExitError;
}

int Refused(std::string_view what, std::string_view message, const std::optional<Failure>& cause) {
    return Refused(what, message, cause ? CauseText(message, *cause) : std::string());
}

int Refused(std::string_view what, const StepResult& result) {
    return Refused(what, result.message, result.cause);
}

}  // namespace quorvane
