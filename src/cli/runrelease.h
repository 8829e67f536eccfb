#pragma once
// What tamrisk-cli run runs where the records hold people: a person's run of
// a unit takes the active release of its product and operation from the
// records (never a file from disk), its text checked against its SHA-256; a
// script file given instead is an engineering run, for the roles that may make
// one. Where nobody logs in (the records hold no operators), the file given,
// as always.

#include "activerelease.h"
#include "cliargs.h"
#include "operatorstore.h"

#include <iosfwd>
#include <optional>
#include <string>

namespace tamrisk {

// The script of a run and how its record names it.
struct RunSource {
    std::string name;                 // the script's file name, as the record keeps it
    std::string path;                 // the file run; empty for a release
    std::string script;               // a release's bytes; empty for a file, read by the run itself
    std::optional<std::string> vars;  // a release's variables file
    std::optional<int> releaseNumber;
    qint64 releaseId = 0;  // a release's id, under which the station's progress through it is kept
    bool engineering = false;
};

// Whether `args` name a run of the active release: no SCRIPT given.
bool RunsRelease(const ParsedArgs& args);

// Decides what the run of `args` runs, `person` the one logged in (none where
// the records hold no operators). A release is taken where units enter
// (ActiveReleases over the route of the records `args` choose), a copy kept at
// the station told on `err` when the line is out of reach. CliOk with
// `source` (a release's text as this station last left it, ActiveReleases::TextToRun), else after a message on `err`
// the exit status: CliNoRelease for no active release or one whose text no longer matches its SHA-256, CliNotPermitted
// for a file run by a role that may not make an engineering run, the store's when it cannot be asked.
int TakeRunSource(const ParsedArgs& args, const std::optional<Operator>& person, RunSource& source, std::ostream& err);

// Keeps `script` (the text a run of the release `source` left, its serial
// numbers advanced) as this station's progress through it, in the station's
// own records of `args`, so that its next run continues from there
// (ActiveReleases::KeepProgress). Empty when kept, else why not.
std::string KeepRunProgress(const ParsedArgs& args, const RunSource& source, const std::string& script);

}  // namespace tamrisk
