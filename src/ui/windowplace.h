#pragma once
// Where the station's dialogs appear: centred on the desktop each time they open.

class QWidget;

namespace tamrisk {

// Moves `window` (its frame included) to the centre of the primary screen's work area.
void CentreOnDesktop(QWidget& window);

}  // namespace tamrisk
