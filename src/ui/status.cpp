#include "status.h"

#include "statusbits.h"
#include "transaction.h"
#include "ui_status.h"

#include <QCheckBox>
#include <QFont>
#include <QShowEvent>

namespace tamrisk {

TStatusDlg::TStatusDlg(TransactionState& state, std::function<bool()> scriptRunning, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TStatusDlg>()), m_state(state),
      m_scriptRunning(std::move(scriptRunning)) {
    ui->setupUi(this);
    setObjectName("StatusDlg");
    // A form file can only give point sizes; the dialog is laid out for 13-pixel text.
    QFont text(QStringLiteral("Arial"));
    text.setPixelSize(13);
    setFont(text);

    // The form names its boxes after the bits; the table says which bit each shows.
    for (const StatusBit& bit : StatusBitTable()) {
        if (bit.checkBox == nullptr)
            continue;
        auto* box = findChild<QCheckBox*>(QString::fromLatin1(bit.checkBox));
        Q_ASSERT(box != nullptr);
        if (box == nullptr)
            continue;
        m_bitBoxes.push_back({box, bit.byte, bit.bit});
        // Display-only: a click puts every box back to its bit.
        connect(box, &QCheckBox::clicked, this, &TStatusDlg::FormShow);
    }
    for (const LinkConditionBox& link : LinkConditionTable()) {
        auto* box = findChild<QCheckBox*>(QString::fromLatin1(link.checkBox));
        Q_ASSERT(box != nullptr);
        if (box != nullptr)
            m_linkBoxes.push_back({box, link.flag});
    }

    // Enter and Escape both mean the harmless button: an operator who presses
    // Enter to dismiss the dialog must never have a command sent again.
    ui->CancelBt->setDefault(true);
    ui->RepeatBt->setAutoDefault(false);
    ui->StopBt->setAutoDefault(false);

    connect(ui->CancelBt, &QPushButton::clicked, this, &TStatusDlg::CancelBtClick);
    connect(ui->RepeatBt, &QPushButton::clicked, this, &TStatusDlg::RepeatBtClick);
    connect(ui->StopBt, &QPushButton::clicked, this, &TStatusDlg::StopBtClick);
}

TStatusDlg::~TStatusDlg() = default;

void TStatusDlg::FormShow() {
    const bool running = m_scriptRunning && m_scriptRunning();
    ui->RepeatBt->setVisible(running);
    ui->StopBt->setVisible(running);
    ui->CancelBt->setText(running ? QStringLiteral("Skip") : QStringLiteral("Cancel"));
    ui->CancelBt->setFocus();
    for (const BitBox& b : m_bitBoxes)
        b.box->setChecked(((m_state.StatusBytes[b.byte] >> b.bit) & 1) != 0);
    for (const LinkBox& l : m_linkBoxes)
        l.box->setChecked((m_state.StatusFlags & l.flag) != 0);
}

void TStatusDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window manager's re-showing (after a minimise) is not a new showing.
    if (!event->spontaneous())
        FormShow();
}

void TStatusDlg::CancelBtClick() { reject(); }

void TStatusDlg::RepeatBtClick() {
    m_state.RepeatRequest = true;
    accept();
}

void TStatusDlg::StopBtClick() {
    m_state.CancelRequest = true;
    accept();
}

}  // namespace tamrisk
