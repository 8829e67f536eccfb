#include "command.h"

#include "accessibletext.h"
#include "host.h"
#include "resultlog.h"
#include "stationrecords.h"
#include "statusbits.h"
#include "station.h"
#include "status.h"
#include "textcodec.h"
#include "ui_command.h"
#include "windowplace.h"

#include <QFont>
#include <QShowEvent>

#include <algorithm>
#include <string>

namespace tamrisk {

namespace {

// The range of commands the dialog sends; a script may go up to 255.
constexpr int MinDialogCommand = 32;
constexpr int MaxDialogCommand = 148;

// The decimal number at the start of `text`: leading blanks and a sign
// allowed, anything after the digits ignored, 0 without digits. The
// magnitude stops growing far above any command number, so a long run of
// digits stays out of range instead of wrapping into it.
int LeadingNumber(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int magnitude = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min(magnitude * 10 + (text[i].unicode() - u'0'), 1'000'000);
    return negative ? -magnitude : magnitude;
}

QString StatusGroups(const StatusBytesArray& status) {
    QString groups;
    for (std::uint8_t byte : status)
        groups += QStringLiteral("%1 ").arg(byte & 0x3F, 2, 16, QLatin1Char('0')).toUpper();
    return groups;
}

}  // namespace

TCommandFrm::TCommandFrm(Station& station, ResultSink& results, TStatusDlg* statusDlg, CommandFrmHooks hooks,
                         QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TCommandFrm>()), m_station(station), m_results(results),
      m_statusDlg(statusDlg), m_hooks(std::move(hooks)), m_close([this] { QDialog::reject(); }) {
    ui->setupUi(this);
    setObjectName("CommandFrm");
    // A form file can only give point sizes; the dialog is laid out for 15-pixel text.
    QFont text(QStringLiteral("Arial"));
    text.setPixelSize(15);
    setFont(text);

    HearTextOf({ui->StatusTxt, ui->TimePn});

    connect(ui->ExecuteBt, &QPushButton::clicked, this, &TCommandFrm::ExecuteBtClick);
    connect(ui->StatusBt, &QPushButton::clicked, this, &TCommandFrm::StatusBtClick);
}

TCommandFrm::~TCommandFrm() = default;

void TCommandFrm::FormShow() { ui->StatusBt->setEnabled(false); }

void TCommandFrm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) {
        CentreOnDesktop(*this);
        FormShow();
    }
    QDialog::showEvent(event);
}

void TCommandFrm::ConnectEnabled(bool enabled) {
    if (m_hooks.connectEnabled)
        m_hooks.connectEnabled(enabled);
}

void TCommandFrm::ExecuteBtClick() {
    Host& host = m_station.host;
    // Reached from inside another transaction's wait (or this one's): the
    // link takes one transaction at a time, so the click does nothing.
    if (m_close.IsBusy() || m_station.transactor.InProgress())
        return;

    const int command = LeadingNumber(ui->CmdBox->text());
    if (command < MinDialogCommand || command > MaxDialogCommand) {
        host.showMessage("Invalid command number", "Error");
        return;
    }
    // The printer takes Windows-1251; a character outside it is refused
    // rather than sent as something else.
    const QString written = ui->DataBox->text();
    qsizetype bad = 0;
    const std::optional<std::string> data = EncodeCp1251(written, &bad);
    if (!data) {
        const qsizetype width = written[bad].isHighSurrogate() && bad + 1 < written.size() ? 2 : 1;
        const QString character = written.mid(bad, width);
        const char32_t code = character.toUcs4().value(0);
        host.showMessageDetail("The data holds a character that cannot be sent to the printer: U+" +
                                   QString::number(code, 16).toUpper().rightJustified(4, u'0').toStdString() +
                                   " at position " + std::to_string(written.left(bad).toUcs4().size() + 1),
                               "Error", character.toStdString());
        return;
    }

    const QString oldAnswer = ui->AnswerBox->text();
    const QString oldStatus = ui->StatusTxt->text();
    const QString oldTime = ui->TimePn->text();
    const bool statusWasEnabled = ui->StatusBt->isEnabled();

    ui->AnswerBox->clear();
    ui->ExecuteBt->setEnabled(false);
    ui->StatusBt->setEnabled(false);
    ui->StatusTxt->clear();
    ConnectEnabled(false);
    ui->TimePn->clear();
    // A close asked for from here on waits for the answer and the shown result.
    const CloseGuard::Busy busy(m_close);
    host.processEvents();

    std::unique_ptr<OperationRecord> record;
    if (m_records != nullptr) {
        record = m_records->Begin("command");
        record->Start();
    }
    ResultSink& sink = record ? record->Tee(m_results) : m_results;
    const LoggedCommand outcome = LogCommand(m_station.transactor, host, sink, command, *data);
    if (record)
        FinishRecord(*record, outcome.result);

    if (outcome.result == ExecResult::ExecBusy) {
        // Nothing went out and nothing was logged: the dialog is as it was.
        ui->AnswerBox->setText(oldAnswer);
        ui->StatusTxt->setText(oldStatus);
        ui->TimePn->setText(oldTime);
        ui->ExecuteBt->setEnabled(true);
        ui->StatusBt->setEnabled(statusWasEnabled);
        ConnectEnabled(true);
    } else {
        const TransactionState& state = m_station.state;
        ui->AnswerBox->setText(DecodeCp1251(state.AnswerData));
        ui->StatusTxt->setText(StatusGroups(state.StatusBytes));
        ui->ExecuteBt->setEnabled(true);
        ui->StatusBt->setEnabled(true);
        ConnectEnabled(true);
        ui->TimePn->setText(QString::fromLatin1(FormatElapsed("Execution time: ", outcome.seconds)));
        if (m_hooks.timerText)
            m_hooks.timerText(QString::fromLatin1(FormatElapsed("", outcome.seconds)));
    }
}

void TCommandFrm::FinishRecord(OperationRecord& record, ExecResult result) {
    if (result == ExecResult::ExecBusy) {
        m_records->Finish(record, RecordOutcome::Error, "another transaction is in progress");
        return;
    }
    Verdict verdict = CommandVerdict(m_station.Connected, m_station.state.StatusFlags, record, "Serial port lost",
                                     "the printer refused it");
    m_records->Finish(record, verdict.outcome, std::move(verdict.reason));
}

void TCommandFrm::StatusBtClick() {
    if (m_statusDlg != nullptr)
        m_statusDlg->exec();
}

void TCommandFrm::reject() {
    if (m_close.Request())
        QDialog::reject();
}

}  // namespace tamrisk
