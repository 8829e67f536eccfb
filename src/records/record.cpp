#include "record.h"

#include "programversion.h"

#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <cstdlib>

#include <pwd.h>
#include <unistd.h>

namespace tamrisk {

namespace {

constexpr std::array<std::string_view, 4> OutcomeTexts = {"pass", "fail", "aborted", "error"};
constexpr std::array<std::string_view, 3> SerialResultTexts = {"answered", "refused", "unknown"};
constexpr std::array<std::string_view, 6> ColourTexts = {"black", "blue", "green", "red", "gray", "purple"};

template <typename Enum, std::size_t N>
std::optional<Enum> FromText(const std::array<std::string_view, N>& texts, std::string_view text) {
    const auto found = std::find(texts.begin(), texts.end(), text);
    if (found == texts.end())
        return std::nullopt;
    return static_cast<Enum>(found - texts.begin());
}

std::string LoginName() {
    if (const passwd* entry = getpwuid(geteuid()); entry != nullptr && entry->pw_name != nullptr)
        return entry->pw_name;
    const char* user = std::getenv("USER");
    return user != nullptr ? user : "";
}

}  // namespace

std::string_view OutcomeText(RecordOutcome outcome) {
    return OutcomeTexts.at(static_cast<std::size_t>(outcome));
}

std::optional<RecordOutcome> OutcomeFromText(std::string_view text) {
    return FromText<RecordOutcome>(OutcomeTexts, text);
}

std::string_view SerialResultText(SerialResult result) {
    return SerialResultTexts.at(static_cast<std::size_t>(result));
}

std::optional<SerialResult> SerialResultFromText(std::string_view text) {
    return FromText<SerialResult>(SerialResultTexts, text);
}

std::string_view ColourText(ResultColour colour) {
    return ColourTexts.at(static_cast<std::size_t>(colour));
}

std::optional<ResultColour> ColourFromText(std::string_view text) {
    return FromText<ResultColour>(ColourTexts, text);
}

bool IsRecordKind(std::string_view kind) {
    return std::find(RecordKinds.begin(), RecordKinds.end(), kind) != RecordKinds.end();
}

std::string ProgramVersion() {
    return ProgramVersionText;
}

std::string DefaultStationName() {
    return QSysInfo::machineHostName().toStdString();
}

RecordHeader NewRecordHeader(std::string kind) {
    RecordHeader header;
    header.id = QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
    header.kind = std::move(kind);
    header.station = DefaultStationName();
    header.operatorName = LoginName();
    header.version = ProgramVersion();
    return header;
}

}  // namespace tamrisk
