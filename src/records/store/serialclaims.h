#pragma once
// The claims on serial numbers, made where every program of the line sees them:
// in the line's database when the records are forwarded to one, else in the
// records file itself, so that the station and every tamrisk-cli on one computer
// share them. The connection lives on a thread of its own, opened at the first
// claim and again after a failure, so that a server that came back is used. A
// caller waits for each answer with its events processed: a window stays drawn
// while a slow server is waited for (connections time out in seconds). Every
// claim is on disk before its answer is given (in a records file, each commit is
// synced), so that a power cut cannot give its number out again.
//
// A claim may be made ahead: the next number of an incrementing line is claimed
// on the claims thread while the current one is on the wire, and the claim of
// that number, when it comes, takes the answer already there. At most one number
// a space is held ahead; one not used is given back (GiveBackAhead).

#include "recordstore.h"

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tamrisk {

class StoreThread;

class SerialClaims {
public:
    // Claims in the database at `location` (a file or a postgresql:// URL);
    // nothing is opened before the first claim.
    explicit SerialClaims(QString location);
    // Waits for the work under way and closes the connection on its thread.
    ~SerialClaims();
    SerialClaims(const SerialClaims&) = delete;
    SerialClaims& operator=(const SerialClaims&) = delete;

    QString Location() const;

    // ClaimStore::Claim in the claims database, or the answer of the claim made
    // ahead of this same number (waited for); the open's failure when the
    // database cannot be opened.
    StoreResult<ClaimResult> Claim(const SerialClaimRow& claim);
    // Starts claiming `claim` on the claims thread and returns at once; a number
    // held ahead in the same space for another number is given back first.
    void ClaimAhead(const SerialClaimRow& claim);
    // Gives back every number claimed ahead and not used (in the background,
    // before any later work of this object). Nothing to give back is no failure.
    void GiveBackAhead();
    // ClaimStore::Release in the claims database.
    StoreResult<void> Release(const std::string& space, const std::string& data, const std::string& recordId);

private:
    // Runs `job` on the claims thread and returns when it is done, with the
    // caller's events processed meanwhile.
    void Wait(const std::function<void()>& job);
    // Posts `job` to the claims thread, made on first use.
    void Post(std::function<void()> job);
    // On the claims thread: `work` with the opened store, or the failure of the
    // open; a connection lost is closed so that the next call opens it again (a
    // server that came back is used).
    template <typename T>
    StoreResult<T> WithStore(const std::function<StoreResult<T>(ClaimStore& claims)>& work);
    // On the claims thread: ClaimStore::Claim with the store opened first.
    StoreResult<ClaimResult> ClaimHere(const SerialClaimRow& claim, bool again);
    // Posts the giving back of the number held ahead in `space` (main thread's list).
    void GiveBack(const std::string& space);

    // The claims made ahead, by space, as asked on the caller's thread.
    std::map<std::string, SerialClaimRow> m_aheadAsked;
    // The last number whose claim got no answer: tried again, its own claim is found.
    std::optional<std::pair<std::string, std::string>> m_unanswered;
    // Takes the answer to the claim of `key` made ahead into `result`; false when
    // there is none (yet). Either thread.
    bool TakeAheadAnswer(const std::pair<std::string, std::string>& key, std::optional<StoreResult<ClaimResult>>& result);

    // The answers of the claims made ahead, by (space, data), as the claims thread made them.
    std::mutex m_aheadMutex;
    std::map<std::pair<std::string, std::string>, StoreResult<ClaimResult>> m_aheadAnswers;
    std::unique_ptr<StoreThread> m_line;  // last: stopped first, while the answers are there to keep
};

}  // namespace tamrisk
