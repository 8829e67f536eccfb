#include "accessibletext.h"

#include <QLabel>

namespace tamrisk {

void HearTextOf(std::initializer_list<QLabel*> labels) {
    for (QLabel* label : labels) {
        // A label without an accessible name of its own is named by its text,
        // and announces a new text as a change of its name.
        label->setAccessibleName(QString());
        label->setAccessibleDescription(label->objectName());
    }
}

}  // namespace tamrisk
