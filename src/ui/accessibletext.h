#pragma once
// How the station's controls are found and heard through the accessibility
// bus. Edit boxes, lists and views carry their control name (`CmdBox`,
// `JnlData`) as their accessible name, set in each form. A label or panel that
// shows changing text (a status, a time, a progress) is heard by that text:
// this helper makes its text its accessible name and keeps the control name
// findable as its accessible description.

#include <initializer_list>

class QLabel;

namespace tamrisk {

// The labels' texts become their accessible names, in step with every later
// change of the text (the label itself then reports each change to the
// screen reader); their object names become their accessible descriptions.
void HearTextOf(std::initializer_list<QLabel*> labels);

}  // namespace tamrisk
