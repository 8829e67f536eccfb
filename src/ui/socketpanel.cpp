#include "socketpanel.h"

#include "accessibletext.h"
#include "resultsview.h"
#include "textcodec.h"
#include "ui_socketpanel.h"

#include <QComboBox>
#include <QLineEdit>

#include <cstdio>
#include <utility>

namespace tamrisk {

namespace {

struct TileLook {
    SocketPanel::Tile tile;
    const char* text;
    const char* background;  // white text on it
};

constexpr TileLook TileLooks[] = {
    {SocketPanel::Tile::Idle, "IDLE", "#8a8a8a"},       {SocketPanel::Tile::Running, "RUNNING", "#1565c0"},
    {SocketPanel::Tile::Pass, "PASS", "#2e7d32"},       {SocketPanel::Tile::Fail, "FAIL", "#c62828"},
    {SocketPanel::Tile::Error, "ERROR", "#e65100"},     {SocketPanel::Tile::Aborted, "ABORTED", "#4e342e"},
    {SocketPanel::Tile::Refused, "REFUSED", "#6a1b9a"},
};

const TileLook& LookOf(SocketPanel::Tile tile) {
    for (const TileLook& look : TileLooks) {
        if (look.tile == tile)
            return look;
    }
    return TileLooks[0];
}

SocketPanel::Tile TileOf(const RunEnded& ended) {
    if (ended.refused)
        return SocketPanel::Tile::Refused;
    switch (ended.outcome) {
    case RecordOutcome::Pass: return SocketPanel::Tile::Pass;
    case RecordOutcome::Fail: return SocketPanel::Tile::Fail;
    case RecordOutcome::Aborted: return SocketPanel::Tile::Aborted;
    case RecordOutcome::Error: break;
    }
    return SocketPanel::Tile::Error;
}

}  // namespace

const char* SocketPanel::TileText(Tile tile) { return LookOf(tile).text; }

SocketPanel::SocketPanel(int socket, StationRecords* records, QWidget* parent)
    : QGroupBox(parent), ui(std::make_unique<Ui::SocketPanel>()), m_socket(socket) {
    ui->setupUi(this);
    setTitle(QStringLiteral("Socket %1").arg(socket));
    // Every control carries its socket in its name, to be found and read from outside.
    const QString prefix = ControlName("");
    setObjectName(prefix + QStringLiteral("Panel"));
    setAccessibleName(objectName());
    for (QWidget* control : findChildren<QWidget*>()) {
        if (control->objectName().isEmpty() || control->objectName().startsWith(QLatin1String("qt_")))
            continue;
        control->setObjectName(prefix + control->objectName());
        control->setAccessibleName(control->objectName());
    }
    // Labels whose text changes are heard by that text, as in the station's
    // other windows, and found by their control name (Socket3Verdict).
    HearTextOf({ui->Verdict, ui->LineLbl, ui->TimeLbl, ui->ReasonLbl, ui->QuestionLbl});
    // The log in the main window's face.
    QFont font = ui->LogView->font();
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    ui->LogView->setFont(font);
    m_log = std::make_unique<ResultsView>(ui->LogView);
    ui->LogView->hide();
    ui->QuestionPn->hide();
    SetLamp(false, false);
    SetTile(Tile::Idle);

    m_run = std::make_unique<SocketRun>(
        socket, records,
        SocketRunView{
            .lines =
                [this](std::vector<ResultLine> lines) {
                    // A log out of sight is laid out only once it is shown.
                    for (ResultLine& line : lines) {
                        if (ui->LogBt->isChecked())
                            m_log->AppendResultLine(line.text, line.colour);
                        m_lastRun.push_back(std::move(line));
                    }
                },
            .connection = [this](bool open, bool lost) { SetLamp(open, lost); },
            .asked = [this](const std::string& text, const std::string& caption,
                            bool yesNo) { ShowQuestion(text, caption, yesNo); },
            .told = [this](const std::string& text) { Say(QString::fromStdString(text)); },
            .ended = [this](std::optional<RunEnded> ended,
                            std::optional<std::vector<std::string>> advanced) { Ended(ended, advanced); },
        },
        this);

    connect(ui->StartBt, &QPushButton::clicked, this, [this] {
        if (startAsked)
            startAsked(*this);
    });
    connect(ui->UnitBox, &QLineEdit::returnPressed, this, [this] {
        if (Running())
            return;
        UnitEntered();
        if (unitEnteredAsked)
            unitEnteredAsked(*this);
    });
    connect(ui->UnitBox, &QLineEdit::textEdited, this, [this] { m_unitDone = false; });
    connect(ui->CancelBt, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(ui->LogBt, &QPushButton::toggled, this, [this](bool shown) {
        if (shown) {
            m_log->Clear();
            for (const ResultLine& line : m_lastRun)
                m_log->AppendResultLine(line.text, line.colour);
        }
        ui->LogView->setVisible(shown);
    });
    connect(ui->YesBt, &QPushButton::clicked, this, [this] { m_run->Answer(true); });
    connect(ui->NoBt, &QPushButton::clicked, this, [this] { m_run->Answer(false); });
    connect(ui->PortBox, &QComboBox::currentIndexChanged, this, [this] {
        if (m_filling)
            return;
        const QString previous = std::exchange(m_lastPort, Port());
        if (portChosen)
            portChosen(*this, previous);
    });
    UpdateControls();
}

SocketPanel::~SocketPanel() = default;

QString SocketPanel::ControlName(const char* control) const {
    return QStringLiteral("Socket%1%2").arg(m_socket).arg(QLatin1String(control));
}

void SocketPanel::SetPorts(const std::vector<PortEntry>& ports, const QString& chosen) {
    m_filling = true;
    ui->PortBox->clear();
    ui->PortBox->addItem(QStringLiteral("(none)"), QString());
    for (const PortEntry& port : ports) {
        ui->PortBox->addItem(QString::fromStdString(port.name), QString::fromStdString(port.path));
        ui->PortBox->setItemData(ui->PortBox->count() - 1, QString::fromStdString(port.path), Qt::ToolTipRole);
    }
    const int index = chosen.isEmpty() ? 0 : ui->PortBox->findData(chosen);
    ui->PortBox->setCurrentIndex(index < 0 ? 0 : index);
    m_lastPort = Port();
    m_filling = false;
}

QString SocketPanel::Port() const { return ui->PortBox->currentData().toString(); }

void SocketPanel::ChoosePort(const QString& path) {
    const int index = path.isEmpty() ? 0 : ui->PortBox->findData(path);
    ui->PortBox->setCurrentIndex(index < 0 ? 0 : index);
}

QLineEdit& SocketPanel::UnitBox() { return *ui->UnitBox; }

QString SocketPanel::Unit() const { return ui->UnitBox->text().trimmed(); }

void SocketPanel::Start(SocketRunRequest request) {
    m_started = request.script.selection ? request.script.selection->Lines() : std::vector<std::string>{};
    m_log->Clear();
    m_lastRun.clear();
    ui->ReasonLbl->clear();
    ui->LineLbl->clear();
    SetTile(Tile::Running);
    m_elapsed.start();
    m_run->Start(std::move(request));
    ShowProgress();
    UpdateControls();
}

void SocketPanel::Cancel(bool closing) {
    if (Running())
        m_run->Cancel(closing);
}

void SocketPanel::Say(const QString& text) { ui->ReasonLbl->setText(text); }

void SocketPanel::UnitEntered() {
    m_unitDone = false;
    ui->ReasonLbl->clear();
    ui->LineLbl->clear();
    ui->TimeLbl->clear();
    SetTile(Tile::Idle);
}

void SocketPanel::ShowProgress() {
    if (Running())
        ShowLineAndTime();
}

void SocketPanel::ShowLineAndTime() {
    if (const int line = m_run->Line(); line > 0)
        ui->LineLbl->setText(QStringLiteral("Line %1").arg(line));
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(m_elapsed.elapsed()) / 1000.0);
    ui->TimeLbl->setText(QString::fromLatin1(text));
}

void SocketPanel::SetTile(Tile tile) {
    m_tile = tile;
    const TileLook& look = LookOf(tile);
    ui->Verdict->setText(QString::fromLatin1(look.text));
    ui->Verdict->setStyleSheet(QStringLiteral("color: white; background-color: %1; border-radius: 6px;")
                                   .arg(QLatin1String(look.background)));
}

void SocketPanel::Ended(const std::optional<RunEnded>& ended,
                        const std::optional<std::vector<std::string>>& advanced) {
    // The run is no longer running here: its last line and its whole time stay in sight.
    ShowLineAndTime();
    ui->QuestionPn->hide();
    SetTile(ended ? TileOf(*ended) : Tile::Error);
    if (ended)
        ui->ReasonLbl->setText(QString::fromStdString(ended->reason));
    // A scan that follows replaces the unit just tested.
    m_unitDone = true;
    UpdateControls();
    if (this->ended)
        this->ended(*this, m_started, advanced);
}

void SocketPanel::ShowQuestion(const std::string& text, const std::string& caption, bool yesNo) {
    if (text.empty()) {
        ui->QuestionPn->hide();
        return;
    }
    // Script messages are Windows-1251 bytes, as the main window's boxes show them.
    ui->QuestionLbl->setText(QStringLiteral("Socket %1 – %2: %3")
                                 .arg(m_socket)
                                 .arg(QString::fromStdString(caption), DecodeCp1251(text)));
    ui->YesBt->setText(yesNo ? QStringLiteral("Yes") : QStringLiteral("OK"));
    ui->NoBt->setVisible(yesNo);
    ui->QuestionPn->show();
}

void SocketPanel::SetLamp(bool open, bool lost) {
    const char* colour = open ? "#2e7d32" : lost ? "#c62828" : "#b0b0b0";
    ui->Lamp->setStyleSheet(QStringLiteral("background-color: %1; border-radius: 9px;").arg(QLatin1String(colour)));
    ui->Lamp->setToolTip(open ? QStringLiteral("Connected") : lost ? QStringLiteral("Port lost")
                                                                    : QStringLiteral("Not connected"));
    ui->Lamp->setAccessibleDescription(ui->Lamp->toolTip());
}

void SocketPanel::UpdateControls() {
    const bool running = Running();
    ui->PortBox->setEnabled(!running);
    ui->UnitBox->setReadOnly(running);
    ui->StartBt->setEnabled(!running);
    ui->CancelBt->setEnabled(running);
}

}  // namespace tamrisk
