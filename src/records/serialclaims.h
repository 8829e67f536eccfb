#pragma once
// The claims on serial numbers, made where every program of the line sees them:
// in the line's database when the records are forwarded to one, else in the
// records file itself, so that the station and every tamrisk-cli on one computer
// share them. The connection lives on a thread of its own, opened at the first
// claim and again after a failure, so that a server that came back is used. A
// caller waits for each answer with its events processed: a window stays drawn
// while a slow server is waited for (connections time out in seconds).

#include "recordstore.h"

#include <QString>

#include <functional>
#include <memory>
#include <string>

namespace tamrisk {

class WorkThread;

// Where the claims of records kept in `store` are made: the line's database it
// forwards to, else its own location.
QString ClaimsLocation(const RecordStore& store);

class SerialClaims {
public:
    // Claims in the database at `location` (a file or a postgresql:// URL);
    // nothing is opened before the first claim.
    explicit SerialClaims(QString location);
    // Waits for the work under way and closes the connection on its thread.
    ~SerialClaims();
    SerialClaims(const SerialClaims&) = delete;
    SerialClaims& operator=(const SerialClaims&) = delete;

    QString Location() const { return m_location; }

    // RecordStore::Claim in the claims database: Failed with `error` also when
    // the database cannot be opened or reached.
    RecordStore::ClaimResult Claim(const SerialClaimRow& claim, QString& error);
    // RecordStore::Release in the claims database.
    bool Release(const std::string& space, const std::string& data, const std::string& recordId, QString& error);

private:
    // Runs `work` on the claims thread with the store, opened first when it is not
    // open (an open that fails leaves `error` and runs nothing); returns when it is
    // done. `work` returns false when it failed: the connection is then closed.
    void Call(const std::function<bool(RecordStore& store, QString& error)>& work, QString& error);

    QString m_location;
    std::unique_ptr<RecordStore> m_store;  // made, used and closed on m_thread only
    std::unique_ptr<WorkThread> m_thread;  // last: stopped first, while the store is there to close
};

}  // namespace tamrisk
