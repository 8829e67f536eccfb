#pragma once
// The socket window: several printers at once, a panel per socket (1 to 8),
// each socket's run on a thread of its own. The operator walks the rack with
// a scanner: a unit entered (ending with Enter) goes to the focused socket's
// Unit box, or else to the first idle socket's, and starts it unless the
// automatic start is off. A port chosen by another socket is refused. The
// number of sockets, each socket's port and the automatic start are kept in
// the settings. Closing the window with runs going asks once, then cancels
// them all (each recorded aborted) and closes when they have ended.

#include "portlist.h"
#include "scriptrun.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Ui {
class SocketWindow;
}

namespace tamrisk {

class SocketPanel;
class StationRecords;

// What every socket runs: the station's script, asked as each socket starts.
struct SocketScript {
    // The request for `unit` (UTF-8); none, with why in `problem`, when nothing can run.
    std::function<std::optional<ScriptRunRequest>(const std::string& unit, std::string& problem)> request;
    // The line speed in bit/s.
    std::function<int()> speedBps;
    // A run left `advanced`, having started from `started`: its serial numbers went on.
    std::function<void(const std::vector<std::string>& started, const std::vector<std::string>& advanced)> advanced;
};

class SocketWindow : public QWidget {
    Q_OBJECT
public:
    // Setting names.
    static constexpr const char* CountSetting = "Sockets/Count";
    static constexpr const char* PortSetting = "Sockets/Port%1";
    static constexpr const char* AutoStartSetting = "Sockets/AutoStart";
    static constexpr int MaxSockets = 8;

    // Runs recorded in `records` (null: none); `ports` lists the ports (the
    // system's and the simulator's by default).
    SocketWindow(StationRecords* records, SocketScript script, std::function<std::vector<PortEntry>()> ports = {},
                 QWidget* parent = nullptr);
    ~SocketWindow() override;

    // Shows `count` sockets (1 to 8, clamped) and keeps the number.
    void SetSocketCount(int count);
    int SocketCount() const { return static_cast<int>(m_panels.size()); }
    // Socket `socket` (1-based).
    SocketPanel& Panel(int socket);
    // Lists the ports again in every idle socket.
    void RefreshPorts();
    // A run is under way in some socket.
    bool Running() const;
    // Starts socket `socket` with the unit in its box: says in its panel why
    // when it has no port, shares its port, or there is no script.
    void StartSocket(int socket);
    // A unit entered as a scanner enters it: into the focused idle socket's
    // box, else the first idle one's, then started (with the automatic start).
    // False when no socket is idle.
    bool EnterUnit(const QString& unit);
    // Cancels every run under way.
    void CancelAll(bool closing = false);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The idle socket a unit goes to: the one holding the focus, else the first; null when none.
    SocketPanel* TargetSocket() const;
    // Why `panel`'s port may not be its own: another socket has it chosen; empty when it may.
    QString PortTaken(const SocketPanel& panel) const;
    void PortChosen(SocketPanel& panel, const QString& previous);
    void SaveLayout() const;

    std::unique_ptr<Ui::SocketWindow> ui;
    StationRecords* m_records;
    SocketScript m_script;
    std::function<std::vector<PortEntry>()> m_ports;
    std::vector<std::unique_ptr<SocketPanel>> m_panels;
    QTimer m_progress;
    bool m_closeWhenEnded = false;
    bool m_closeAsked = false;
};

}  // namespace tamrisk
