#include "socketwindow.h"

#include "settings.h"
#include "socketpanel.h"
#include "ui_socketwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include <algorithm>
#include <utility>

namespace tamrisk {

namespace {

// Panels per row: four across a screen, eight in two rows of four.
constexpr int PanelsPerRow = 4;
constexpr int ProgressIntervalMs = 200;

QString PortKey(int socket) { return QString::fromLatin1(SocketWindow::PortSetting).arg(socket); }

}  // namespace

SocketWindow::SocketWindow(StationRecords* records, SocketScript script, std::function<std::vector<PortEntry>()> ports,
                           QWidget* parent)
    : QWidget(parent, Qt::Window), ui(std::make_unique<Ui::SocketWindow>()), m_records(records),
      m_script(std::move(script)), m_ports(ports ? std::move(ports) : ListStationPorts) {
    ui->setupUi(this);
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    ui->AutoStartBox->setChecked(settings->value(QLatin1String(AutoStartSetting), true).toBool());
    connect(ui->AutoStartBox, &QCheckBox::toggled, this,
            [](bool on) { OpenSettingsStore()->setValue(QLatin1String(AutoStartSetting), on); });
    connect(ui->SocketsBox, &QSpinBox::valueChanged, this, [this](int count) {
        if (count != SocketCount())
            SetSocketCount(count);
    });
    m_progress.setInterval(ProgressIntervalMs);
    connect(&m_progress, &QTimer::timeout, this, [this] {
        for (const auto& panel : m_panels)
            panel->ShowProgress();
    });
    m_progress.start();
    // A scanner types into whatever holds the focus: keys typed elsewhere in
    // this window are taken to a socket's Unit box.
    qApp->installEventFilter(this);
    SetSocketCount(settings->value(QLatin1String(CountSetting), 4).toInt());
}

SocketWindow::~SocketWindow() {
    qApp->removeEventFilter(this);
    // The runs end (cancelled) before the records they write to go.
    CancelAll(true);
    m_panels.clear();
}

SocketPanel& SocketWindow::Panel(int socket) { return *m_panels.at(static_cast<std::size_t>(socket - 1)); }

void SocketWindow::SetSocketCount(int count) {
    count = std::clamp(count, 1, MaxSockets);
    // A socket under way stays until its run ends.
    while (SocketCount() > count && !m_panels.back()->Running())
        m_panels.pop_back();
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    const std::vector<PortEntry> ports = m_ports();
    while (SocketCount() < count) {
        const int socket = SocketCount() + 1;
        auto panel = std::make_unique<SocketPanel>(socket, m_records, ui->PanelsArea);
        panel->SetPorts(ports, settings->value(PortKey(socket)).toString());
        // A port kept for two sockets (settings edited by hand) is the first one's.
        for (const auto& other : m_panels) {
            if (!panel->Port().isEmpty() && other->Port() == panel->Port())
                panel->ChoosePort({});
        }
        panel->startAsked = [this](SocketPanel& asked) { StartSocket(asked.Socket()); };
        // A unit entered starts its socket only with the automatic start on: off, Start does.
        panel->unitEnteredAsked = [this](SocketPanel& entered) {
            if (ui->AutoStartBox->isChecked())
                StartSocket(entered.Socket());
        };
        panel->portChosen = [this](SocketPanel& chosen, const QString& previous) { PortChosen(chosen, previous); };
        panel->ended = [this](SocketPanel&, const std::vector<std::string>& started,
                              const std::optional<std::vector<std::string>>& advanced) {
            if (advanced && m_script.advanced)
                m_script.advanced(started, *advanced);
            if (m_closeWhenEnded && !Running())
                close();
        };
        ui->PanelsLayout->addWidget(panel.get(), (socket - 1) / PanelsPerRow, (socket - 1) % PanelsPerRow);
        m_panels.push_back(std::move(panel));
    }
    ui->SocketsBox->setValue(SocketCount());
    SaveLayout();
}

void SocketWindow::RefreshPorts() {
    const std::vector<PortEntry> ports = m_ports();
    for (const auto& panel : m_panels) {
        if (!panel->Running())
            panel->SetPorts(ports, panel->Port());
    }
}

bool SocketWindow::Running() const {
    return std::any_of(m_panels.begin(), m_panels.end(), [](const auto& panel) { return panel->Running(); });
}

QString SocketWindow::PortTaken(const SocketPanel& panel) const {
    const QString port = panel.Port();
    for (const auto& other : m_panels) {
        if (other.get() != &panel && !port.isEmpty() && other->Port() == port)
            return QStringLiteral("%1 is the port of socket %2: a port serves one socket.").arg(port).arg(other->Socket());
    }
    return {};
}

void SocketWindow::PortChosen(SocketPanel& panel, const QString& previous) {
    if (const QString taken = PortTaken(panel); !taken.isEmpty()) {
        panel.ChoosePort(previous);
        panel.Say(taken);
        return;
    }
    SaveLayout();
}

void SocketWindow::StartSocket(int socket) {
    SocketPanel& panel = Panel(socket);
    if (panel.Running())
        return;
    const QString port = panel.Port();
    if (port.isEmpty()) {
        panel.Say(QStringLiteral("No port: choose the port of this socket's printer."));
        return;
    }
    if (const QString taken = PortTaken(panel); !taken.isEmpty()) {
        panel.Say(taken);
        return;
    }
    const std::string unit = panel.Unit().toStdString();
    std::string problem = "no script is given";
    std::optional<ScriptRunRequest> script = m_script.request ? m_script.request(unit, problem) : std::nullopt;
    if (!script) {
        panel.Say(QStringLiteral("Not started: %1.").arg(QString::fromStdString(problem)));
        return;
    }
    panel.Start({.port = port.toStdString(),
                 .unit = unit,
                 .speedBps = m_script.speedBps ? m_script.speedBps() : 115200,
                 .script = *std::move(script)});
    // The next scan goes to the next idle socket, not to this one's box.
    if (panel.isAncestorOf(QApplication::focusWidget()))
        setFocus();
}

SocketPanel* SocketWindow::TargetSocket() const {
    for (const auto& panel : m_panels) {
        if (!panel->Running() && panel->isAncestorOf(QApplication::focusWidget()))
            return panel.get();
    }
    for (const auto& panel : m_panels) {
        if (!panel->Running())
            return panel.get();
    }
    return nullptr;
}

bool SocketWindow::EnterUnit(const QString& unit) {
    SocketPanel* panel = TargetSocket();
    if (panel == nullptr)
        return false;
    panel->UnitBox().setText(unit.trimmed());
    panel->UnitEntered();
    if (ui->AutoStartBox->isChecked())
        StartSocket(panel->Socket());
    return true;
}

void SocketWindow::CancelAll(bool closing) {
    for (const auto& panel : m_panels)
        panel->Cancel(closing);
}

bool SocketWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->text().isEmpty() || !key->text().at(0).isPrint())
        return false;
    // Into a Unit box: the unit of the last run gives way to the new one.
    for (const auto& panel : m_panels) {
        if (widget == &panel->UnitBox()) {
            if (panel->UnitDone() && !panel->Running())
                panel->UnitBox().clear();
            return false;
        }
    }
    // Typed where text is typed anyway (a port's list): left there.
    if (qobject_cast<QLineEdit*>(widget) != nullptr)
        return false;
    SocketPanel* panel = TargetSocket();
    if (panel == nullptr)
        return false;
    QLineEdit& box = panel->UnitBox();
    box.clear();
    box.setFocus();
    box.insert(key->text());
    return true;
}

void SocketWindow::closeEvent(QCloseEvent* event) {
    if (!Running()) {
        m_closeWhenEnded = false;
        m_closeAsked = false;
        event->accept();
        return;
    }
    event->ignore();
    // Asked once: a second close while the runs unwind waits for them.
    if (m_closeAsked)
        return;
    const int running = static_cast<int>(
        std::count_if(m_panels.begin(), m_panels.end(), [](const auto& panel) { return panel->Running(); }));
    const auto answer = QMessageBox::question(
        this, QStringLiteral("Sockets"),
        QStringLiteral("%1 of the sockets %2 running. Cancel %3 and close the window?")
            .arg(running)
            .arg(running == 1 ? QStringLiteral("is") : QStringLiteral("are"))
            .arg(running == 1 ? QStringLiteral("its run") : QStringLiteral("their runs")));
    if (answer != QMessageBox::Yes)
        return;
    m_closeAsked = true;
    m_closeWhenEnded = true;
    CancelAll(true);
}

void SocketWindow::SaveLayout() const {
    const std::unique_ptr<QSettings> settings = OpenSettingsStore();
    settings->setValue(QLatin1String(CountSetting), SocketCount());
    for (const auto& panel : m_panels)
        settings->setValue(PortKey(panel->Socket()), panel->Port());
}

}  // namespace tamrisk
