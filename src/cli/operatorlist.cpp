// tamrisk-cli operator list: the people of the line, their roles and whether
// they are disabled or locked, as a table, CSV or JSON; never a PIN's hash.

#include "operatoractions.h"

#include "cli.h"
#include "clisession.h"
#include "outputformats.h"
#include "recordsactions.h"
#include "recordstore.h"
#include "reports.h"
#include "terminalsink.h"

#include <QDateTime>

#include <ostream>

namespace tamrisk {

int OperatorListAction(const std::vector<std::string>& rest, std::ostream& out, std::ostream& err) {
    const ParsedArgs args = ParseArgs(rest, WithLogInOptions({"records", "format"}), {});
    if (!args.error.empty())
        return UsageError(err, args.error);
    if (!args.positional.empty())
        return UsageError(err, "operator list takes no argument besides its options");
    const auto format = FormatNamed(args.value("format").value_or("table"), ListFormats);
    if (!format)
        return UsageError(err, "--format takes " + FormatChoices(ListFormats));

    RecordStore store;
    CliLogIn login;
    if (const int status = OpenPeople(args, store, login, err); status != CliOk)
        return status;
    const StoreResult<std::vector<Operator>> people = store.Operators().List();
    if (!people)
        return StoreFailed(err, "cannot read the operators:", people.error());
    if (*format == RecordFormat::Json) {
        out << OperatorsJson(*people).toStdString() << '\n';
        return CliOk;
    }
    if (*format == RecordFormat::Csv) {
        out << OperatorsCsv(*people).toStdString();
        return CliOk;
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    std::vector<std::vector<std::string>> rows = {{"ID", "NAME", "ROLE", "STATE"}};
    for (const Operator& person : *people) {
        const std::string state = person.disabled              ? "disabled"
                                  : person.lockedUntilMs > now ? LockedUntil(person.lockedUntilMs)
                                                               : "";
        rows.push_back(
            {EscapeControls(person.id), EscapeControls(person.name), std::string(RoleName(person.role)), state});
    }
    WriteTable(out, rows);
    return CliOk;
}

}  // namespace tamrisk
