#pragma once
// The active release a station runs, for a front end (the station's window,
// tamrisk-cli run). Asked where every station sees it: the line's database
// when the records are forwarded to one, else the records file itself
// (RecordsRoute::Claims(), as entries of units are). A station keeps a copy of
// each release it takes from the line in its own records file, so that it
// goes on while the line cannot be reached: it then takes the newest copy it
// kept of the product and operation and says so. The questions run on threads
// of their own; a caller waits with its events processed.
//
// Before a unit's run:
//   1. Take(product, operation). A failure: do not run (NotFound: "no active
//      release of P O"; out of reach with no copy kept: the line's failure).
//   2. ReleaseStore::Intact(taken.release), else do not run
//      (TamperedReleaseText).
//   3. Tell the operator taken.notice when there is one, run
//      TextToRun(taken.release, station) with the release's variables and
//      record its number.
//   4. After the run, when it advanced a serial number, KeepProgress with the
//      text it left, so that the station's next run of the release continues
//      from it.

#include "recordslocation.h"
#include "releasestore.h"

#include <memory>
#include <string>

namespace tamrisk {

class StoreThread;

struct TakenRelease {
    enum class Source { Records, KeptCopy };
    ScriptRelease release;
    Source source = Source::Records;
    // What the operator is told: with a kept copy, KeptReleaseNotice; from the
    // line, why the copy could not be kept (the run goes on); else empty.
    std::string notice{};
};

// "the line cannot be reached: running release N kept at this station"
std::string KeptReleaseNotice(const ScriptRelease& release);

class ActiveReleases {
public:
    // Releases taken where `route` asks (RecordsRoute::Claims()), copies kept
    // in route.local when route.line is a line's database; nothing is opened
    // before the first question.
    explicit ActiveReleases(RecordsRoute route);
    ~ActiveReleases();
    ActiveReleases(const ActiveReleases&) = delete;
    ActiveReleases& operator=(const ActiveReleases&) = delete;

    // The active release of `product` and `operation` with its bytes
    // (ReleaseStore::Active), kept in the local file when taken from the line;
    // while the line is out of reach, the newest copy kept here. NotFound when
    // the line has none; the line's failure when it is out of reach and no copy is kept.
    StoreResult<TakenRelease> Take(const std::string& product, const std::string& operation);

    // The text a run of `release` at `station` runs (ReleaseTextToRun): the
    // station's progress through it kept in its own records, or the release's
    // own text when it kept none or one that no longer fits. A progress that
    // cannot be read is passed over for the release's own text, with the
    // reason in `notice`.
    std::string TextToRun(const ScriptRelease& release, const std::string& station, std::string& notice);
    // Keeps `script` as the progress of `station` through release `releaseId`,
    // in the station's own records (route.local).
    StoreResult<void> KeepProgress(qint64 releaseId, const std::string& station, const std::string& script);

private:
    // The station's own records: the local file beside a line's database, else the records themselves.
    StoreThread& Own() { return m_local ? *m_local : *m_records; }

    RecordsRoute m_route;
    std::unique_ptr<StoreThread> m_records;
    std::unique_ptr<StoreThread> m_local;  // with a line's database: the station's own file
};

}  // namespace tamrisk
