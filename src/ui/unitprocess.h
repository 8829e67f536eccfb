#pragma once
// The station's place in the line's process. The operation this station does
// (the Operation setting, OperationM in the Scripts menu; a station usually
// does one) and the product of the unit under test (ProductBox beside the Unit
// box), both kept in the settings: the Product box offers the products of the
// line's routes when it has any, and takes any name otherwise. And the entry
// of a run's unit into that operation: asked of the records before anything is
// sent, waited for as a claim is while they are out of reach, the unit given
// back when the run ends.

#include "activerelease.h"
#include "record.h"
#include "unitentries.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QAction;
class QComboBox;
class QWidget;

namespace tamrisk {

class Host;
class OperationRecord;
class RecordsReader;
class ResultSink;
class StationRecords;
class StatusLine;

// What the window shows of a unit's entry.
struct EntryShown {
    // While the entry waits for records out of reach: the wait's text; empty once it ends.
    std::function<void(const std::string& text)> waiting;
    // A unit refused or put on hold, in the status line.
    std::function<void(const QString& text)> alarm;
};

class UnitProcess {
public:
    // Setting names.
    static constexpr const char* OperationSetting = "Operation";
    static constexpr const char* ProductSetting = "Product";

    // Acts on `operation` (an action of `window`) and `product`; the entry's
    // wait and alarms show on `status`, and `cancel` ends the wait; a bad
    // operation name is told through `host`.
    UnitProcess(QWidget& window, QAction& operation, QComboBox& product, StatusLine& status, QAbstractButton& cancel,
                Host& host);

    ~UnitProcess();

    // The records in use (null: none); the Product box is filled from their
    // routes once the window's events run, after the records are opened.
    void SetRecords(StationRecords* records);
    // Fills the Product box from the routes of the records in use, read in the
    // background (the box disabled meanwhile), after freeing the units this
    // computer's ended programs left in test: the products, one to choose, when
    // there are any; else a box to type in.
    void FillProducts();

    // The operation this station does; empty: none.
    QString Operation() const { return m_operationName; }
    // Sets and saves it (trimmed).
    void SetOperation(const QString& operation);
    // The product in the Product box (trimmed); empty: none.
    QString Product() const;

    // The entry shown in the window's status line and its Cancel button.
    EntryShown Shown();

private:
    void AskOperation();
    void ShowProducts(const std::vector<Route>& routes);
    // The operation in the action's text, where the operator sees it.
    void ShowOperation();

    QWidget& m_window;
    QAction& m_operation;
    QComboBox& m_product;
    StatusLine& m_status;
    QAbstractButton& m_cancel;
    Host& m_host;
    StationRecords* m_records = nullptr;
    QString m_operationName;
    bool m_filling = false;
    std::unique_ptr<RecordsReader> m_reader;  // the routes' reads, made at the first  // the box is being filled: its changes are not the operator's
};

// Why a run naming `operation` and `product` for `unit` cannot have its unit's
// entry checked (a bad name, no unit, records off); empty when it can, or when
// it names no operation or product.
std::string EntryProblem(const std::string& operation, const std::string& product, const std::string& unit,
                         bool recordsKept);

// The entry of one script run's unit into its operation, in the station's records.
class StationEntry {
public:
    // The entry of `record`'s unit into `operation` as `product`, which the
    // record's header gets; messages go through `host`.
    StationEntry(StationRecords& records, OperationRecord& record, Host& host, std::string operation,
                 std::string product);

    // Asks whether the unit may enter, before the record starts. True: the run
    // goes on (entered, or nothing to check). False: the record is finished and
    // the operator told, on `results` and through `shown`: a refusal as a record
    // of kind "entry" that failed, with a message; records out of reach for the
    // whole claim wait, or a check that could not be made, as an error; a wait
    // ended by `cancelled` as aborted.
    bool Enter(ResultSink& results, const EntryShown& shown, const std::function<bool()>& cancelled);
    // Takes the active release of the operation and product (ActiveReleases)
    // before the unit enters, for a run of it: checked against its SHA-256
    // and its number put in the record's header. Nothing when it may not run:
    // the record is finished and the operator told as for a refused entry
    // (no active release, or one whose text was changed: a record of kind
    // "entry" that failed), or as an error when the records cannot be asked.
    std::optional<TakenRelease> TakeRelease(ResultSink& results, const EntryShown& shown);
    // Gives the unit back as the run ended with `outcome`, once; a hold the run
    // made is told (a message, the status line) and kept as a record of kind "hold".
    void Leave(RecordOutcome outcome, const EntryShown& shown);
    // Ends the run before it starts: `reason` on `results` and in the record,
    // finished with `outcome`; a refusal (Fail) is told in red and in a message. False.
    bool Refuse(ResultSink& results, const EntryShown& shown, RecordOutcome outcome, const std::string& reason);

private:

    StationRecords& m_records;
    OperationRecord& m_record;
    Host& m_host;
    EntryRequest m_request;
    bool m_entered = false;
};

}  // namespace tamrisk
