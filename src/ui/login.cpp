#include "login.h"

#include "ui_login.h"

#include <QDateTime>
#include <QPushButton>

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
    m_checking = true;
    for (QWidget* control : {static_cast<QWidget*>(ui->IdBox), static_cast<QWidget*>(ui->PinBox),
                             static_cast<QWidget*>(ui->LogInBt), static_cast<QWidget*>(ui->QuitBt)})
        control->setEnabled(false);
    ui->MessageLb->setText(QStringLiteral("Checking…"));
    const StoreResult<LogInOutcome> outcome = m_check(id, pin);
    std::fill(pin.begin(), pin.end(), '\0');
    m_checking = false;
    for (QWidget* control : {static_cast<QWidget*>(ui->IdBox), static_cast<QWidget*>(ui->PinBox),
                             static_cast<QWidget*>(ui->LogInBt), static_cast<QWidget*>(ui->QuitBt)})
        control->setEnabled(true);
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
