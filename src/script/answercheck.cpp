#include "answercheck.h"

namespace tamrisk {

namespace {

constexpr std::string_view CheckResultTexts[] = {"pass", "fail", "error"};

}  // namespace

std::string_view CheckResultText(CheckResult result) { return CheckResultTexts[static_cast<int>(result)]; }

std::optional<CheckResult> CheckResultFromText(std::string_view text) {
    for (int i = 0; i < 3; ++i)
        if (CheckResultTexts[i] == text)
            return static_cast<CheckResult>(i);
    return std::nullopt;
}

}  // namespace tamrisk
