#pragma once
// One socket of the socket window: its port and connection lamp, the Unit box,
// the verdict tile (readable from two metres), the line being run and the time
// so far, the first failed check or the reason under the tile, a question the
// run asks, Start, Cancel, and Log (the socket's last run, coloured as the
// main window's results). Every control is named after its socket
// (Socket3UnitBox), as an object and for accessibility. The panel runs what
// the window gives it (SocketRun) and shows how it ended.

#include "portlist.h"
#include "socketrun.h"

#include <QElapsedTimer>
#include <QGroupBox>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;

namespace Ui {
class SocketPanel;
}

namespace tamrisk {

class ResultsView;
class StationRecords;

class SocketPanel : public QGroupBox {
    Q_OBJECT
public:
    enum class Tile { Idle, Running, Pass, Fail, Error, Aborted, Refused };

    // Socket `socket` (1-based), its runs recorded in `records` (null: none).
    SocketPanel(int socket, StationRecords* records, QWidget* parent = nullptr);
    ~SocketPanel() override;

    int Socket() const { return m_socket; }
    // "Socket3" + `control`: the name of one of this panel's controls.
    QString ControlName(const char* control) const;

    // Lists `ports` in the Port box, `chosen` (a path) selected when among them.
    void SetPorts(const std::vector<PortEntry>& ports, const QString& chosen);
    // The path of the port chosen; empty when none.
    QString Port() const;
    // Chooses the port at `path` (none when empty or not listed).
    void ChoosePort(const QString& path);

    QLineEdit& UnitBox();
    // The unit in the Unit box, trimmed.
    QString Unit() const;
    // Whether the Unit box holds the unit of the last run (its next key starts a new unit).
    bool UnitDone() const { return m_unitDone; }

    bool Running() const { return m_run->Running(); }
    Tile Verdict() const { return m_tile; }
    static const char* TileText(Tile tile);

    // Runs `request`: the log emptied, the tile RUNNING, the time from now.
    void Start(SocketRunRequest request);
    // Asks the run to stop; `closing`: the window is being closed.
    void Cancel(bool closing = false);
    // Shows why the socket did not start, under the tile, the verdict kept.
    void Say(const QString& text);
    // The unit was entered: its verdict and reason go, the tile IDLE.
    void UnitEntered();
    // Updates the line and the time of a run under way (the window's timer).
    void ShowProgress();

    // The operator asks to start (Start).
    std::function<void(SocketPanel& panel)> startAsked;
    // A unit was entered in the Unit box (its Enter, a scanner's last key).
    std::function<void(SocketPanel& panel)> unitEnteredAsked;
    // The operator chose another port; `previous` was chosen before.
    std::function<void(SocketPanel& panel, const QString& previous)> portChosen;
    // A run has ended (after the tile shows it): the lines it started from and
    // those it left when it advanced a serial number.
    std::function<void(SocketPanel& panel, const std::vector<std::string>& started,
                       const std::optional<std::vector<std::string>>& advanced)>
        ended;

private:
    void SetTile(Tile tile);
    // Shows the line the run is at (or ended at) and its time so far.
    void ShowLineAndTime();
    void Ended(const std::optional<RunEnded>& ended, const std::optional<std::vector<std::string>>& advanced);
    void ShowQuestion(const std::string& text, const std::string& caption, bool yesNo);
    void SetLamp(bool open, bool lost);
    void UpdateControls();

    std::unique_ptr<Ui::SocketPanel> ui;
    const int m_socket;
    std::unique_ptr<ResultsView> m_log;
    std::vector<ResultLine> m_lastRun;  // the last run's log, put in the view while Log shows it
    std::unique_ptr<SocketRun> m_run;
    Tile m_tile = Tile::Idle;
    QElapsedTimer m_elapsed;
    std::vector<std::string> m_started;
    QString m_lastPort;
    bool m_unitDone = false;
    bool m_filling = false;
};

}  // namespace tamrisk
