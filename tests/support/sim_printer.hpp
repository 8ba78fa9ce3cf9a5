// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A PJL printer on a loopback port (socket://host:port): it records the job
// streams sent to it and answers "@PJL INFO STATUS" and "@PJL INFO ID" from
// a scripted state.  A job whose header asks "@PJL USTATUS DEVICE = ON" is
// sent each change of the state as "@PJL USTATUS DEVICE" until its trailer's
// "@PJL USTATUSOFF".  It answers SNMP (v1/v2c, community "public") on UDP
// port 161 from the same state: the Printer MIB's supplies, the Host MIB's
// error bits.  Clients ask SNMP on the fixed port, so each printer has a
// loopback address of its own (127.0.x.y), which only root can bind.
namespace testsupport {

class SimPrinter {
public:
    enum class State { Ready, TonerLow, PaperOutTray2, Jam, DoorOpen, Offline, Busy };
    // Answer: as a printer does; Silent: reads queries, never answers;
    // Drop: closes a connection as soon as it asks for status (in a job:
    // sends status messages cut off before their end).
    enum class Mode { Answer, Silent, Drop };

    // A connection that sent a job ("@PJL JOB"), checked as this project's
    // job streams are framed.
    struct Job {
        bool valid = false;
        std::string error;   // why the framing is wrong
        std::string pdf;     // the FSIZ bytes between header and trailer
    };

    // On an address of its own answering SNMP, or on `port` of 127.0.0.1 (a
    // printer that comes back where it was) without SNMP.
    explicit SimPrinter(int port = 0);
    ~SimPrinter();
    SimPrinter(const SimPrinter&) = delete;
    SimPrinter& operator=(const SimPrinter&) = delete;

    std::string Uri() const { return "socket://" + host_ + ":" + std::to_string(port_); }
    const std::string& Host() const { return host_; }
    int Port() const { return port_; }
    void Set(State state);
    void Set(Mode mode);
    // While held, a job that has come whole is recorded but its connection
    // stays open and what follows its PDF is not read on, as a printer's
    // while it prints; released, it closes.
    void Hold(bool hold);
    // Why this printer has no SNMP (empty when it answers SNMP).
    const std::string& SnmpProblem() const { return snmpProblem_; }
    // Whether SNMP requests are answered (they are unless told).
    void SetSnmp(bool answers);
    int SnmpRequests() const { return snmpRequests_; }
    // The status answer for a state, as the printer sends it.
    static std::string StatusAnswer(State state);

    // The jobs received so far, once `count` have arrived or timeoutMs passed.
    std::vector<Job> WaitForJobs(size_t count, int timeoutMs);
    int StatusQueries() const { return queries_; }

private:
    struct Connection {
        int fd;
        std::string data;
        size_t scanned = 0;  // bytes searched for queries
        size_t bodyEnd = std::string::npos;  // a job's: where its trailer starts
        bool statusChanges = false;  // USTATUS DEVICE is on
        State told = State::Ready;   // the state it knows of
        bool held = false;
    };
    void run();
    // False when the connection is to be closed.
    bool answerQueries(Connection& c);
    // A job's header and trailer lines, as they come.
    bool serveJob(Connection& c);
    void send(Connection& c, State state, const char* kind);
    void record(Connection& c);
    void wake();
    void answerSnmp();

    int wake_[2] = {-1, -1};
    bool hold_ = false;
    int listener_ = -1;
    int snmp_ = -1;
    std::string host_ = "127.0.0.1";
    std::string snmpProblem_;
    int port_ = 0;
    std::atomic<int> snmpRequests_{0};
    bool snmpAnswers_ = true;
    std::atomic<bool> stop_{false};
    std::atomic<int> queries_{0};
    std::mutex lock_;
    std::condition_variable changed_;
    State state_ = State::Ready;
    Mode mode_ = Mode::Answer;
    std::vector<Job> jobs_;
    std::thread thread_;
};

}  // namespace testsupport
