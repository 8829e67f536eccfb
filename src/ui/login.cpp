#include "login.h"

#include "ui_login.h"

#include <QDateTime>
#include <QPushButton>

#include <algorithm>
#include <initializer_list>

namespace tamrisk {

QString LogInMessage(const StoreError& failure) {
    return (failure.OutOfReach() ? QStringLiteral("the line cannot be reached: ")
                                 : QStringLiteral("the log-in could not be checked: ")) +
           failure.Text();
}

QString LogInMessage(const StoreResult<LogInOutcome>& outcome) {
    if (!outcome)
        return LogInMessage(outcome.error());
    using Verdict = LogInOutcome::Verdict;
    switch (outcome->verdict) {
    case Verdict::Accepted: return {};
    case Verdict::WrongPin:
        return outcome->triesLeft == 1 ? QStringLiteral("Wrong PIN: 1 try left before the ID is locked")
                                       : QStringLiteral("Wrong PIN: %1 tries left before the ID is locked")
                                             .arg(outcome->triesLeft);
    case Verdict::Locked:
        return QStringLiteral("This ID is locked until %1")
            .arg(QDateTime::fromMSecsSinceEpoch(outcome->lockedUntilMs).toString(QStringLiteral("HH:mm:ss")));
    case Verdict::Disabled: return QStringLiteral("This ID is disabled");
    case Verdict::Unknown: return QStringLiteral("Unknown ID");
    }
    return {};
}

TLogInDlg::TLogInDlg(Check check, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TLogInDlg>()), m_check(std::move(check)) {
    ui->setupUi(this);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // A scanner ends the ID with Enter: the PIN comes next.
    connect(ui->IdBox, &QLineEdit::returnPressed, this, [this] {
        if (!ui->IdBox->text().trimmed().isEmpty())
            ui->PinBox->setFocus();
    });
    connect(ui->PinBox, &QLineEdit::returnPressed, this, &TLogInDlg::LogInBtClick);
    connect(ui->LogInBt, &QPushButton::clicked, this, &TLogInDlg::LogInBtClick);
    connect(ui->QuitBt, &QPushButton::clicked, this, &TLogInDlg::reject);
}

TLogInDlg::~TLogInDlg() = default;

void TLogInDlg::Clear(const QString& message) {
    ui->IdBox->clear();
    ui->PinBox->clear();
    ui->MessageLb->setText(message);
    ui->IdBox->setFocus();
}

void TLogInDlg::reject() {
    if (!m_checking)
        QDialog::reject();
}

void TLogInDlg::LogInBtClick() {
    if (m_checking)
        return;
    const std::string id = ui->IdBox->text().trimmed().toStdString();
    if (id.empty()) {
        ui->MessageLb->setText(QStringLiteral("Type or scan your ID"));
        ui->IdBox->setFocus();
        return;
    }
    std::string pin = ui->PinBox->text().toStdString();
    ui->PinBox->clear();
    // Nothing to press or type while the records answer.
    const auto checking = [this](bool on) {
        m_checking = on;
        for (QWidget* control : std::initializer_list<QWidget*>{ui->IdBox, ui->PinBox, ui->LogInBt, ui->QuitBt})
            control->setEnabled(!on);
    };
    checking(true);
    ui->MessageLb->setText(QStringLiteral("Checking…"));
    const StoreResult<LogInOutcome> outcome = m_check(id, pin);
    std::fill(pin.begin(), pin.end(), '\0');
    checking(false);
    if (outcome && outcome->verdict == LogInOutcome::Verdict::Accepted) {
        m_person = outcome->person;
        Clear();
        accept();
        return;
    }
    ui->MessageLb->setText(LogInMessage(outcome));
    // A wrong PIN is typed again; any other refusal wants another ID.
    if (outcome && outcome->verdict == LogInOutcome::Verdict::WrongPin) {
        ui->PinBox->setFocus();
    } else {
        ui->IdBox->selectAll();
        ui->IdBox->setFocus();
    }
}

}  // namespace tamrisk
