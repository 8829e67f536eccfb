#include "tamriskfp.h"

#include "resultsview.h"
#include "ui_tamriskfp.h"

namespace tamrisk {

TTestForm::TTestForm(Station& station, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TTestForm>()), m_station(station) {
    ui->setupUi(this);
}
TTestForm::~TTestForm() = default;
void TTestForm::SetWindows(const StationWindows&) {}
ResultsView& TTestForm::Results() { static ResultsView* none = nullptr; return *none; }
bool TTestForm::ScriptRunning() const { return false; }
void TTestForm::UpdateControls() {}
bool TTestForm::LoadScriptFile(const QString&) { return false; }
bool TTestForm::SelectPort(const QString&) { return false; }

}  // namespace tamrisk
