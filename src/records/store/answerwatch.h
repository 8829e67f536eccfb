#pragma once
// Bounds how long a connection waits for its database server's answer where
// nothing else does. Over TCP the kernel gives up on a dead peer (keepalives, a
// bound on unacknowledged data); over a Unix socket a server that accepted the
// connection but stopped answering (halted, hung) holds the waiting call until
// the server itself wakes. An AnswerWatch shuts such a socket down (shutdown(2),
// both ways) once its limit passes without progress, so that the call waiting on
// it returns at once with the connection lost. One thread watches every socket
// of the process.

#include <chrono>
#include <memory>

namespace tamrisk {

class AnswerWatch {
public:
    // Watches the connected socket `socket` from now on: when `limit` passes
    // without Progress(), the socket is shut down. A socket of -1 (none, or not
    // a socket) is not watched.
    AnswerWatch(int socket, std::chrono::milliseconds limit);
    // Stops watching; once it returns, the socket is never touched again.
    ~AnswerWatch();
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;

    // The server answered: the limit counts from now.
    void Progress();
    // True once the socket was shut down for want of an answer.
    bool Fired() const;

    struct Entry;

private:
    std::unique_ptr<Entry> m_entry;
};

}  // namespace tamrisk
