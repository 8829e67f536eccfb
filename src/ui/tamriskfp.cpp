#include "tamriskfp.h"

#include "about.h"
#include "accessibletext.h"
#include "activerelease.h"
#include "coderead.h"
#include "command.h"
#include "editorlines.h"
#include "journal.h"
#include "memread.h"
#include "readklenbin.h"
#include "resultlog.h"
#include "resultsexport.h"
#include "resultsview.h"
#include "scriptfile.h"
#include "scriptrun.h"
#include "scriptrunner.h"
#include "scriptsyntax.h"
#include "settings.h"
#include "socketwindow.h"
#include "station.h"
#include "recordsactions.h"
#include "recordsmodel.h"
#include "stationrecords.h"
#include "status.h"
#include "statusline.h"
#include "textcodec.h"
#include "unitprocess.h"
#include "ui_tamriskfp.h"
#include "waitingpanel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QMouseEvent>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <utility>

namespace tamrisk {

namespace {

const QColor DisconnectedColour(0, 128, 0);
const QColor ConnectedColour(0, 255, 0);

constexpr int MinFormHeight = 320;
constexpr int ClearBtMargin = 16;

}  // namespace

TTestForm::TTestForm(Station& station, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TTestForm>()), m_station(station),
      m_close([this] { close(); }, [this] { return Busy(); }), m_clicks(station.host) {
    ui->setupUi(this);

    // "Courier New" where it exists; another fixed-pitch face where it does not.
    for (QPlainTextEdit* view : {ui->ScrMemo, ui->FPData}) {
        QFont font = view->font();
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
        font.setBold(true);
        view->setFont(font);
    }
    m_results = std::make_unique<ResultsView>(ui->FPData);
    m_run = std::make_unique<ScriptRunControl>(m_station, *m_results, m_close);
    m_scriptFiles = std::make_unique<ScriptFiles>(*this, m_station.host);
    m_statusLine = std::make_unique<StatusLine>(*ui->StatusPn);
    m_waiting = std::make_unique<WaitingPanel>(*ui->WaitingPn, *this);
    m_variablesFile = std::make_unique<VariablesFileChoice>(*this, *ui->VarsPn);
    m_recordsActions = std::make_unique<RecordsActions>(*this, *ui->RecordsM, *ui->UniqueSerialsM, *ui->ClaimWaitM);
    m_process = std::make_unique<UnitProcess>(*this, *ui->OperationM, *ui->ProductBox, *m_statusLine, *ui->CancelBt,
                                              m_station.host);
    m_run->SetEntryShown(m_process->Shown());
    ScriptTmr = new QTimer(this);
    ScriptTmr->setObjectName(QStringLiteral("ScriptTmr"));
    ScriptTmr->setInterval(100);
    connect(ScriptTmr, &QTimer::timeout, this, &TTestForm::ScriptTmrTimer);
    m_run->Runner().SetHooks({
        .runControls =
            [this](bool running) {
                ui->ConnectBt->setEnabled(!running);
                ui->CancelBt->setEnabled(running);
                ui->LoadScriptM->setEnabled(!running && Allowed(Privilege::EngineeringRun));
            },
        .timerEnabled = [this](bool enabled) { enabled ? ScriptTmr->start() : ScriptTmr->stop(); },
        .timerText = [this](const std::string& text) { ui->TimerPn->setText(DecodeCp1251(text)); },
        .commandStarting = {},
        // The wait's own text while it lasts; what the status line said before, after it.
        .claimWaiting = [this](const std::string& text) { m_statusLine->ShowClaimWait(text); },
        .lineStarting = {},
    });

    HearTextOf({ui->StatusPn, ui->TimerPn, ui->WaitingPn, ui->PersonPn});
    ui->PersonPn->hide();  // shown while someone is logged in
    // A greyed-out item says in its tooltip who may use it.
    ui->TestM->setToolTipsVisible(true);
    ui->ModeM->setToolTipsVisible(true);
    ui->WaitingPn->hide();  // shown with a line database

    ui->PortNum->OnDropDown = [this] { PortNumDropDown(); };
    connect(ui->ConnectBt, &QPushButton::clicked, this, &TTestForm::ConnectBtClick);
    connect(ui->ExecuteBt, &QPushButton::clicked, this, &TTestForm::ExecuteBtClick);
    connect(ui->CancelBt, &QPushButton::clicked, this, &TTestForm::CancelBtClick);
    connect(ui->ClearBt, &QPushButton::clicked, this, &TTestForm::ClearBtClick);
    connect(ui->CommandM, &QAction::triggered, this, &TTestForm::CommandMClick);
    connect(ui->ReadFirmwareM, &QAction::triggered, this, &TTestForm::ReadFirmwareMClick);
    connect(ui->ReadFMemM, &QAction::triggered, this, &TTestForm::ReadFMemMClick);
    connect(ui->JournalM, &QAction::triggered, this, &TTestForm::JournalMClick);
    connect(ui->ReadKlenBinM, &QAction::triggered, this, &TTestForm::ReadKlenBinMClick);
    connect(ui->LoadScriptM, &QAction::triggered, this, &TTestForm::LoadScriptMClick);
    connect(ui->SaveM, &QAction::triggered, this, &TTestForm::SaveMClick);
    connect(ui->RepeatM, &QAction::triggered, this, &TTestForm::ExecuteBtClick);
    connect(ui->EngineeringM, &QAction::triggered, this, &TTestForm::EngineeringMClick);
    connect(ui->HelpM, &QAction::triggered, this, &TTestForm::HelpMClick);
    connect(ui->AboutM, &QAction::triggered, this, [this] { ShowAbout(*this, m_records); });
    connect(ui->SaveResultsM, &QAction::triggered, this, &TTestForm::SaveResultsMClick);
    connect(ui->SocketsM, &QAction::triggered, this, [this] {
        SocketWindow& sockets = Sockets();
        sockets.RefreshPorts();
        sockets.show();
        sockets.raise();
        sockets.activateWindow();
    });
    {
        const std::unique_ptr<QSettings> settings = OpenSettingsStore();
        ui->StopOnFailM->setChecked(settings->value(QLatin1String(StopOnFailSetting), false).toBool());
        SetVariablesFile(settings->value(QLatin1String(VariablesFileSetting)).toString(), false);
    }
    connect(ui->StopOnFailM, &QAction::toggled, this,
            [](bool on) { OpenSettingsStore()->setValue(QLatin1String(StopOnFailSetting), on); });
    connect(ui->VariablesFileM, &QAction::triggered, this, [this] { m_variablesFile->Ask(); });
    connect(ui->UnitBox, &QLineEdit::returnPressed, this, &TTestForm::UnitBoxReturn);
    connect(ui->ScrMemo, &QPlainTextEdit::textChanged, this, &TTestForm::ScrMemoChange);
    ui->ScrMemo->viewport()->installEventFilter(this);
    ui->FPData->viewport()->installEventFilter(this);

    m_connectionLost = m_station.OnConnectionLost([this] {
        ShowConnected(false);
        UpdateControls();
    });
}

TTestForm::~TTestForm() = default;

void TTestForm::SetWindows(const StationWindows& windows) { m_windows = windows; }

void TTestForm::SetRecords(StationRecords* records) {
    m_records = records;
    m_recordsActions->SetRecords(records);
    m_process->SetRecords(records);
    if (records != nullptr) {
        records->unit = [this] { return ui->UnitBox->text().trimmed().toStdString(); };
        records->outcomeShown = [this](RecordOutcome outcome, const QString& reason) { ShowOutcome(outcome, reason); };
        records->problemShown = [this](const QString& message) { m_statusLine->ShowRecordsProblem(message); };
    }
    m_waiting->SetRecords(records);
}

void TTestForm::ShowOutcome(RecordOutcome outcome, const QString& reason) {
    ui->OutcomePn->setText(OutcomeCaption(outcome));
    ui->OutcomePn->setToolTip(reason);
    m_statusLine->ShowOutcome(outcome, reason);
    QPalette palette = ui->OutcomePn->palette();
    palette.setColor(QPalette::WindowText, OutcomeColour(outcome));
    ui->OutcomePn->setPalette(palette);
}

void TTestForm::UnitBoxReturn() {
    // A scanner types the unit's label and Enter: the test runs when it may.
    if (ui->ExecuteBt->isEnabled())
        ExecuteBtClick();
}

CommandFrmHooks TTestForm::CommandHooks() {
    return {
        .connectEnabled = [this](bool enabled) { ui->ConnectBt->setEnabled(enabled); },
        .timerText = [this](const QString& text) { ui->TimerPn->setText(text); },
    };
}

ResultsView& TTestForm::Results() { return *m_results; }

bool TTestForm::ScriptRunning() const { return m_run->Running(); }

QSize TTestForm::InitialSize(QSize screen) { return {screen.width() * 7 / 8, screen.height() * 7 / 8}; }

QSize TTestForm::SmallestFormSize() const {
    const int clearRight = ui->ClearBt->mapTo(this, QPoint(ui->ClearBt->width(), 0)).x();
    return {clearRight + ClearBtMargin + 1, MinFormHeight};
}

bool TTestForm::FormCanResize(int width, int height) const {
    const QSize smallest = SmallestFormSize();
    return width >= smallest.width() && height >= smallest.height();
}

void TTestForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TTestForm::FormShow() {
    m_station.LoadSettings(*OpenSettingsStore());
    PortNumDropDown();
    const int speed = m_station.SpeedIndex;
    ui->SpeedBox->setCurrentIndex(speed >= 0 && speed < ui->SpeedBox->count() ? speed : -1);
    if (m_pendingPort)
        SelectPort(*std::exchange(m_pendingPort, std::nullopt));
    m_results->Clear();
    UpdateControls();
    // The layout has placed the buttons by now; the window refuses what FormCanResize refuses.
    setMinimumSize(SmallestFormSize());
}

void TTestForm::PortNumDropDown() {
    const int selected = m_station.link.FillPortList();
    ui->PortNum->clear();
    for (int i = 0; i < static_cast<int>(m_station.link.PortList.size()); ++i) {
        const PortEntry entry = m_station.link.PortAt(i);
        ui->PortNum->addItem(QString::fromStdString(entry.name));
        // What tells one adapter from another, the names staying as they are.
        ui->PortNum->setItemData(i, QString::fromStdString(PortDetails(entry)), Qt::ToolTipRole);
    }
    ui->PortNum->setCurrentIndex(selected);
}

bool TTestForm::SelectPort(const QString& nameOrPath) {
    if (!m_shown) {
        m_pendingPort = nameOrPath;
        m_station.link.EnumeratePorts();
        return m_station.link.FindPort(nameOrPath.toStdString()) >= 0;
    }
    const int index = m_station.link.FindPort(nameOrPath.toStdString());
    if (index < 0 || index >= ui->PortNum->count())
        return false;
    // A port given by path (a stable /dev/serial/by-id link) is saved as given.
    if (nameOrPath.startsWith(QLatin1Char('/')))
        m_station.link.GivenPortPath = nameOrPath.toStdString();
    ui->PortNum->setCurrentIndex(index);
    // The list shows PortIndex each time it is opened.
    m_station.link.PortIndex = index;
    return true;
}

void TTestForm::ShowConnected(bool connected) {
    ui->ConnectBt->setText(connected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    ui->Shape1->SetBrushColor(connected ? ConnectedColour : DisconnectedColour);
    ui->Shape1->setAccessibleDescription(connected ? QStringLiteral("Connected") : QStringLiteral("Disconnected"));
}

void TTestForm::ConnectBtClick() {
    if (m_station.Connected) {
        m_station.Disconnect();
        ShowConnected(false);
    } else {
        m_station.SpeedIndex = ui->SpeedBox->currentIndex();
        if (m_station.Connect(ui->PortNum->currentIndex()))
            ShowConnected(true);
    }
    UpdateControls();
}

void TTestForm::SetPerson(const std::optional<Operator>& person) {
    m_role = person ? std::optional(person->role) : std::nullopt;
    ui->PersonPn->setText(person ? QStringLiteral("%1 (%2)").arg(QString::fromStdString(person->name),
                                                                 QString::fromLatin1(RoleName(person->role)))
                                 : QString());
    ui->PersonPn->setVisible(person.has_value());
    ui->LogOutM->setVisible(person.has_value());
    ui->EngineeringM->setVisible(person.has_value());
    ui->EngineeringM->setChecked(false);
    UpdateControls();
}

bool TTestForm::Allowed(Privilege privilege) const { return !m_role || May(*m_role, privilege); }

QAction& TTestForm::LogOutAction() { return *ui->LogOutM; }

QAction& TTestForm::IdleLogOutAction() { return *ui->IdleLogOutM; }

void TTestForm::Guard(QAction& action, Privilege privilege, bool enabled) {
    static constexpr const char* OwnTip = "ownToolTip";
    if (!action.property(OwnTip).isValid())
        action.setProperty(OwnTip, action.toolTip());
    const bool allowed = Allowed(privilege);
    action.setEnabled(enabled && allowed);
    action.setToolTip(allowed ? action.property(OwnTip).toString() : QString::fromStdString(LeastMayText(privilege)));
}

void TTestForm::UpdateControls() {
    const bool connected = m_station.Connected;
    const bool running = m_run->Running();
    ui->TestM->setEnabled(!running);  // and with it its title in the menu bar
    Guard(*ui->CommandM, Privilege::ExecuteCommand, connected);
    Guard(*ui->ReadFirmwareM, Privilege::ReadMemories, connected);
    Guard(*ui->ReadFMemM, Privilege::ReadMemories, connected);
    Guard(*ui->JournalM, Privilege::Journal, !running);
    // The binary read of the journal's memory is the journal's too.
    Guard(*ui->ReadKlenBinM, Privilege::Journal, connected);
    // A role below an engineer runs the active release and changes no script.
    Guard(*ui->LoadScriptM, Privilege::EngineeringRun, !running);
    Guard(*ui->SaveM, Privilege::EngineeringRun, ScriptPresent);
    Guard(*ui->VariablesFileM, Privilege::EngineeringRun, true);
    Guard(*ui->EngineeringM, Privilege::EngineeringRun, !running);
    const bool editing = Allowed(Privilege::EngineeringRun);
    // A release on the page stays as released until Engineering Run is checked.
    ui->ScrMemo->setReadOnly(!editing || (m_pageRelease && RunsRelease()));
    ui->ScrMemo->setToolTip(editing ? QString() : QString::fromStdString(LeastMayText(Privilege::EngineeringRun)));
    QString page = QStringLiteral("Current script");
    if (m_role && !RunsRelease())
        page = QStringLiteral("Engineering run");
    else if (m_role && m_pageRelease)
        page = *m_pageRelease;
    ui->MemoPages->setTabText(ui->MemoPages->indexOf(ui->ScriptPg), page);
    // The active release needs no script on the page: it is taken from the records.
    const bool runnable = (ScriptPresent || RunsRelease()) && connected && !running;
    ui->RepeatM->setEnabled(runnable);
    ui->ExecuteBt->setEnabled(runnable);
    ui->ClearBt->setEnabled(!running);
    ui->ConnectBt->setEnabled(!running);
    ui->HelpM->setEnabled(!running);
    ui->LogOutM->setEnabled(!running);  // a run ends before its person leaves
}

void TTestForm::CancelBtClick() { m_station.state.CancelRequest = true; }

void TTestForm::ClearBtClick() {
    if (ui->MemoPages->currentWidget() == ui->ScriptPg) {
        // Only a role that may edit scripts clears one.
        if (Allowed(Privilege::EngineeringRun))
            ui->ScrMemo->clear();
    } else {
        m_results->Clear();
    }
}

void TTestForm::CommandMClick() {
    if (!m_station.Connected) {
        m_station.host.showMessage("Serial port not open", "Error");
        return;
    }
    if (m_windows.CommandFrm != nullptr)
        m_windows.CommandFrm->exec();
}

void TTestForm::ReadFirmwareMClick() {
    if (!m_station.Connected) {
        m_station.host.showMessage("Serial port not open", "Error");
        return;
    }
    if (m_windows.CodeForm != nullptr)
        m_windows.CodeForm->exec();
}

void TTestForm::ReadFMemMClick() {
    if (m_windows.MemForm != nullptr)
        m_windows.MemForm->exec();
}

void TTestForm::JournalMClick() {
    if (m_windows.JournalForm != nullptr)
        m_windows.JournalForm->exec();
}

void TTestForm::ReadKlenBinMClick() {
    if (m_windows.ReadKlenFrm != nullptr)
        m_windows.ReadKlenFrm->exec();
}

void TTestForm::SetVariablesFile(const QString& fileName, bool remember) { m_variablesFile->Set(fileName, remember); }

bool TTestForm::RunsRelease() const { return m_role && !ui->EngineeringM->isChecked(); }

bool TTestForm::FillRunRequest(ScriptRunRequest& request, bool release, const QString& unit) {
    std::optional<CheckVariables> variables =
        ReadRunVariables(m_station.host, release ? QString() : m_variablesFile->File(), unit);
    if (!variables)
        return false;
    // A refused release names no file of the page; a release run names its own.
    request.scriptFile = release ? std::string() : m_scriptFile.toStdString();
    request.variables = *std::move(variables);
    request.stopOnFail = ui->StopOnFailM->isChecked();
    request.operation = m_process->Operation().toStdString();
    request.product = m_process->Product().toStdString();
    request.takeRelease = release;
    request.engineering = m_role && !release;
    return true;
}

void TTestForm::ExecuteBtClick() {
    const bool release = RunsRelease();
    if ((!ScriptPresent && !release) || m_run->Running())
        return;
    // The release brings its own script and variables file.
    std::optional<ScriptRunRequest> request =
        release ? std::optional(ScriptRunRequest{}) : EditorRunRequest(m_station.host, *ui->ScrMemo);
    if (!request || !FillRunRequest(*request, release, ui->UnitBox->text()))
        return;
    if (release) {
        request->released = [this](const TakenRelease& taken, const std::string& text) { ShowRelease(taken, text); };
        request->advanced = [this](const std::string& text) { ShowReleaseText(text); };
    } else if (request->engineering) {
        m_statusLine->ShowText(QStringLiteral("Engineering run"));
    }
    m_run->Run(*request, ui->ScrMemo->document(), m_records, [this](bool running) {
        if (running) {
            UpdateControls();
            ui->MemoPages->setCurrentWidget(ui->ResultPg);
            ui->FPData->setFocus();
        }
        ui->ScrMemo->setEnabled(!running);
        if (!running)
            UpdateControls();
    });
}

SocketWindow& TTestForm::Sockets() {
    if (!m_sockets) {
        m_sockets = std::make_unique<SocketWindow>(
            m_records,
            SocketScript{
                .request = [this](const std::string& unit, std::string& problem) { return SocketRequest(unit, problem); },
                .speedBps = [this] { return m_station.SpeedBps(); },
                .advanced = [this](const std::vector<std::string>& started,
                                   const std::vector<std::string>& advanced) { SocketAdvanced(started, advanced); },
            },
            std::function<std::vector<PortEntry>()>(), this);
    }
    return *m_sockets;
}

void TTestForm::EndSockets() { m_sockets.reset(); }

std::optional<ScriptRunRequest> TTestForm::SocketRequest(const std::string& unit, std::string& problem) {
    const bool release = RunsRelease();
    if (!ScriptPresent && !release) {
        problem = "no script is loaded in the main window";
        return std::nullopt;
    }
    ScriptRunRequest request;
    if (!release) {
        // Each socket runs a copy of the whole page.
        QTextDocument& document = *ui->ScrMemo->document();
        auto lines = EncodeScriptLines(m_station.host, EditorLines(document, 0, EditorLineCount(document)), 1,
                                       "the script was not run.");
        if (!lines) {
            problem = "the script holds a character the printer cannot be sent";
            return std::nullopt;
        }
        request.wholeScript = [whole = *lines] { return std::optional(whole); };
        request.selection.emplace(*std::move(lines));
    }
    if (!FillRunRequest(request, release, QString::fromStdString(unit))) {
        problem = "the variables file cannot be read";
        return std::nullopt;
    }
    return request;
}

void TTestForm::SocketAdvanced(const std::vector<std::string>& started, const std::vector<std::string>& advanced) {
    // Another socket's run, or the operator, changed the page meanwhile: the claims keep the numbers apart.
    if (RunsRelease() || ScriptBytes(*ui->ScrMemo->document()) != started || advanced.size() != started.size())
        return;
    EditorScriptList page(*ui->ScrMemo->document());
    for (std::size_t i = 0; i < advanced.size(); ++i) {
        if (advanced[i] != started[i])
            page.ReplaceLine(i, advanced[i]);
    }
}

void TTestForm::ShowRelease(const TakenRelease& taken, const std::string& text) {
    const ScriptRelease& release = taken.release;
    if (!m_pageRelease)
        m_ownScript = ui->ScrMemo->toPlainText();
    ShowReleaseText(text);
    m_pageRelease = QStringLiteral("Release %1 of %2 %3")
                        .arg(release.number)
                        .arg(QString::fromStdString(release.product), QString::fromStdString(release.operation));
    m_statusLine->ShowText(taken.notice.empty() ? *m_pageRelease : QString::fromStdString(taken.notice));
    UpdateControls();
}

void TTestForm::ShowReleaseText(const std::string& text) {
    QStringList lines;
    for (const std::string& line : SplitScriptLines(text))
        lines << DecodeCp1251(line);
    m_showingRelease = true;
    ui->ScrMemo->setPlainText(lines.join(u'\n'));
    m_showingRelease = false;
}

void TTestForm::EngineeringMClick(bool on) {
    if (on && m_pageRelease) {
        if (!m_ownScript.isEmpty()) {
            m_showingRelease = true;
            ui->ScrMemo->setPlainText(m_ownScript);
            m_showingRelease = false;
        }
        m_pageRelease.reset();
    }
    UpdateControls();
}

void TTestForm::ScriptTmrTimer() { m_run->Runner().ScriptTmrTimer(); }

void TTestForm::LoadScriptMClick() {
    if (const std::optional<QString> fileName = m_scriptFiles->AskToLoad()) {
        // The dialog leaves the screen before the file is read.
        m_station.host.processEvents();
        if (LoadScriptFile(*fileName))
            ui->MemoPages->setCurrentWidget(ui->ScriptPg);
    }
    UpdateControls();
}

bool TTestForm::LoadScriptFile(const QString& fileName) {
    std::optional<ScriptFileText> script = ReadScriptFile(m_station.host, fileName);
    if (!script)
        return false;
    ui->ScrMemo->setPlainText(script->text);
    ScriptDescription = std::move(script->description);
    QString status = QFileInfo(fileName).fileName();
    if (!ScriptDescription.empty())
        status += QStringLiteral("   (") + DecodeCp1251(ScriptDescription) + u')';
    m_statusLine->ShowText(status);
    m_scriptFile = QFileInfo(fileName).fileName();
    return true;
}

void TTestForm::SaveMClick() {
    const std::optional<QString> fileName = m_scriptFiles->AskToSave();
    if (!fileName)
        return;
    const QTextDocument& document = *ui->ScrMemo->document();
    if (m_scriptFiles->Save(*fileName, EditorLines(document, 0, EditorLineCount(document))))
        LoadScriptFile(*fileName);
}

void TTestForm::SaveResultsMClick() {
    const std::optional<ResultsFileChoice> choice = AskResultsFile(this);
    if (!choice)
        return;
    QString error;
    if (!SaveResults(choice->fileName, choice->html, error))
        m_station.host.showMessageDetail("Can't write results file", "Error", error.toStdString());
}

bool TTestForm::SaveResults(const QString& fileName, bool html, QString& error) {
    m_results->Flush();
    return WriteResultsFile(*ui->FPData->document(), fileName, html, error);
}

void TTestForm::ScrMemoChange() {
    bool changed = false;
    if (!m_showingRelease && m_role) {
        // The person's own script (typed, loaded, cleared) is no release: an
        // engineer's is run as an engineering run.
        changed = m_pageRelease.has_value();
        m_pageRelease.reset();
        if (Allowed(Privilege::EngineeringRun) && !ui->EngineeringM->isChecked()) {
            ui->EngineeringM->setChecked(true);
            changed = true;
        }
    }
    const bool hasLines = EditorLineCount(*ui->ScrMemo->document()) > 0;
    changed = changed || ScriptPresent != hasLines;
    ScriptPresent = hasLines;
    if (changed)
        UpdateControls();
}

void TTestForm::ScrMemoMouseUp(bool shift) {
    if (shift && ui->ScrMemo->textCursor().hasSelection())
        ExtendEditorSelection(*ui->ScrMemo);
}

void TTestForm::FPDataMouseDown(Qt::MouseButtons buttons) {
    if (!m_clicks.LeftPressDoubles(buttons))
        return;
    m_results->Flush();
    const int caret = ui->FPData->textCursor().selectionStart();
    const QString line = LineAt(*ui->FPData->document(), caret);
    // Only the line's start matters: "<- [" and the six status bytes.
    const QByteArray start = QStringView(line).left(21).toLatin1();
    if (ReadAnswerLineStatus(std::string_view(start.constData(), static_cast<std::size_t>(start.size())),
                             m_station.state.StatusBytes)) {
        if (m_windows.StatusDlg != nullptr)
            m_windows.StatusDlg->exec();
    }
    QTextCursor restored(ui->FPData->document());
    restored.setPosition(std::min(caret, ui->FPData->document()->characterCount() - 1));
    ui->FPData->setTextCursor(restored);
}

void TTestForm::HelpMClick() {
    ui->MemoPages->setCurrentWidget(ui->ResultPg);
    ui->FPData->setFocus();
    for (const SyntaxHelpLine& line : ScriptSyntaxHelp())
        m_results->AppendResultLine(line.text, line.colour);
}

bool TTestForm::eventFilter(QObject* watched, QEvent* event) {
    if (m_forwarding)
        return false;
    // The views' handlers look at what the press or release did (where the
    // caret went, what is selected), so the view gets the event first.
    auto forwardFirst = [&] {
        m_forwarding = true;
        QCoreApplication::sendEvent(watched, event);
        m_forwarding = false;
    };
    const QEvent::Type type = event->type();
    if (watched == ui->FPData->viewport()) {
        if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
            type == QEvent::MouseButtonRelease) {
            if (!m_clicks.IsPress(type))
                return false;
            const Qt::MouseButtons buttons = static_cast<QMouseEvent*>(event)->buttons();
            forwardFirst();
            FPDataMouseDown(buttons);
            return true;
        }
    } else if (watched == ui->ScrMemo->viewport() && type == QEvent::MouseButtonRelease) {
        const bool shift = static_cast<QMouseEvent*>(event)->modifiers().testFlag(Qt::ShiftModifier);
        forwardFirst();
        ScrMemoMouseUp(shift);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TTestForm::Busy() const {
    QWidget* modal = QApplication::activeModalWidget();
    return m_run->Running() || m_station.transactor.InProgress() || (modal != nullptr && modal != this);
}

void TTestForm::closeEvent(QCloseEvent* event) {
    // The sockets' runs are asked about first, in their own window.
    if (m_sockets && m_sockets->Running()) {
        m_sockets->show();
        m_sockets->close();
        event->ignore();
        return;
    }
    // Closing in the middle of a run, a transaction or a message box would pull
    // the window out from under them: they are asked to stop, and the window
    // closes once they have.
    const bool putOff = m_close.Pending() || m_close.Settling();
    if (!m_close.Request()) {
        if (m_run->Running() || m_station.transactor.InProgress())
            m_station.state.CancelRequest = true;
        event->ignore();
        return;
    }
    FormClose();
    if (putOff && m_station.Connected) {
        // The printer was left mid-conversation: release the port now.
        m_station.Disconnect();
        ShowConnected(false);
    }
    event->accept();
}

void TTestForm::FormClose() {
    const std::unique_ptr<QSettings> store = OpenSettingsStore();
    const int port = ui->PortNum->currentIndex();
    SaveSettings(*store, port, ui->SpeedBox->currentIndex(), m_station.link.PortPathToSave(port));
    store->sync();
}

}  // namespace tamrisk
