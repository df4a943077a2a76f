// The camera's side of the line protocol: answers the host's enquiry, reads its request
// packet (ACK, or NAK on a bad checksum), and sends each block of its data and status
// messages with its own enquiry, waiting for the host's ACK and resending on NAK. Injects the
// faults of the FaultPlan, keeps silent at a wrong line speed, and counts sessions.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/sim/camera_model.h"
#include "tools/sim/fault_plan.h"
#include "tools/sim/sim_options.h"
#include "tools/sim/sim_port.h"
#include "tools/sim/trace.h"

namespace sim {

class ProtocolEngine {
public:
    ProtocolEngine(SimPort& port, CameraModel& camera, FaultPlan& faults, const SimOptions& options, Trace& trace);

    // Serves requests until a stop request or until the asked number of sessions has ended.
    void run();

private:
    enum class Outcome { Done, Aborted, Cancelled, NewRequest, Resume };
    enum : int { Timeout = -1, Gone = -2 };

    int readByte(int timeoutMs);
    bool fill(int timeoutMs, int& status);
    bool rateAccepted(uint32_t clientRate) const;
    bool send(const uint8_t* bytes, size_t count);
    bool sendControl(uint8_t byte, const char* name);

    // State of one request's reception.
    struct Reception {
        std::vector<uint8_t> assembled;
        size_t lastLength = 0;
        int naks = 0, strays = 0, packets = 0, cancelNaks = 0;
        bool refusing = false;
        bool expectEot = false;
    };
    enum class PacketStep { Next, Fail, Refused };

    // After the host's ENQ: ACK, packets, EOT. refusedByNak tells a cancel refused with NAKs.
    bool receiveRequest(std::vector<uint8_t>& request, bool& refusedByNak);
    PacketStep takeRequestPacket(Reception& reception);
    int readPacketBody(std::vector<uint8_t>& payload, uint8_t& terminator, bool& good);
    Reply answer(const std::vector<uint8_t>& request);
    void exchange(const std::vector<uint8_t>& request);
    std::vector<uint8_t> statusOnTheWire(const Reply& reply);
    Outcome sendMessage(const std::vector<uint8_t>& bytes, const Reply& reply, const char* part);
    Outcome sendBlock(const uint8_t* payload, size_t length, bool more, const std::string& label,
                      const std::string& message, const std::string& command);
    Outcome waitAckOrNested(const char* step, bool& acked, bool& nak);
    Outcome nestedRequest();
    std::vector<uint8_t> wireForm(const uint8_t* payload, size_t length, bool more, const BlockFaults& faults) const;
    // A reply that never ends: empty blocks, with noise before each enquiry when noisy.
    Outcome endlessReply(const Reply& reply, bool noisy);
    // Whether the hostile mode given for command hits this reply (each hits once).
    static bool hostileTakes(const std::string& mode, const std::string& command, bool& used);

    void beginSessionIfNeeded();
    void endSession();
    bool sessionsDone() const { return options_.sessions > 0 && sessionsEnded_ >= options_.sessions; }

    SimPort& port_;
    CameraModel& camera_;
    FaultPlan& faults_;
    const SimOptions& options_;
    Trace& trace_;

    std::vector<uint8_t> input_;
    size_t inputPos_ = 0;
    uint32_t extraRate_ = 0;  // a second accepted rate while SetIO's status goes out
    bool pending_ = false;
    std::vector<uint8_t> pendingRequest_;
    int nesting_ = 0;
    bool silent_ = false;
    int silentSeen_ = 0;
    bool sessionActive_ = false;
    int sessionNumber_ = 0;
    int sessionsEnded_ = 0;
    std::chrono::steady_clock::time_point lastReceive_ = std::chrono::steady_clock::now();
    bool trickling_ = false;
    bool endlessUsed_ = false, floodUsed_ = false, trickleUsed_ = false;
    uint32_t noiseState_ = 1;
};

}  // namespace sim
