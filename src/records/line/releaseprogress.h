#pragma once
// A station's progress through a release. A release's bytes never change, so
// the serial numbers its lines step would start again from the release's own
// at every run; instead each station keeps the text its last run of a release
// left (the release's text with its stepping fields advanced) in its own
// records, and its next run of that release continues from it.

#include "storeconnection.h"

#include <QtGlobal>

#include <optional>
#include <string>

namespace tamrisk {

// The text a run of a release runs, given the release's own text `released`
// and the progress a station kept of it (none: never run there): the
// progress when it has the release's lines, each the same but for the digits
// of its stepping serial-number fields (HideSteppingDigits); else, for a line
// added, removed or changed in any other way, the release's own text.
std::string ReleaseTextToRun(const std::string& released, const std::optional<std::string>& progress);

class ReleaseProgressStore {
public:
    explicit ReleaseProgressStore(StoreConnection& connection) : m_c(connection) {}

    // The text `station` last left of release `releaseId`; NotFound when it
    // kept none.
    StoreResult<std::string> Progress(qint64 releaseId, const std::string& station);
    // Keeps `script` as the progress of `station` through release `releaseId`
    // at `nowMs`, in place of the one kept before.
    StoreResult<void> KeepProgress(qint64 releaseId, const std::string& station, const std::string& script,
                                   qint64 nowMs);

private:
    StoreConnection& m_c;
};

}  // namespace tamrisk
