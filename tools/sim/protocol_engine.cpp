#include "tools/sim/protocol_engine.h"

#include <algorithm>
#include <cstdio>

#include "camera/framing.h"

namespace sim {

using namespace framing;

namespace {

// How many stray bytes a wait tolerates before it gives up on the exchange.
const int maxStrayBytes = 4096;
// The host resends a refused request at most three times: four receptions in all.
const int hostSendings = 4;
// Packets of one request, and NAKs for one request, before the camera gives up.
const int maxRequestPackets = 16;
const int maxRequestNaks = 8;
// A session on a real tty ends after this long without a received byte.
const auto deviceSessionIdle = std::chrono::seconds(5);

std::string byteText(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
    return text;
}

}  // namespace

ProtocolEngine::ProtocolEngine(SimPort& port, CameraModel& camera, FaultPlan& faults, const SimOptions& options,
                               Trace& trace)
    : port_(port), camera_(camera), faults_(faults), options_(options), trace_(trace) {}

bool ProtocolEngine::rateAccepted(uint32_t clientRate) const {
    if (!port_.isPty() || clientRate == 0) return true;
    // A UART tolerates a few percent of speed difference; so do we.
    auto close = [clientRate](uint32_t rate) {
        const uint32_t diff = clientRate > rate ? clientRate - rate : rate - clientRate;
        return rate != 0 && diff * 50 <= rate;
    };
    return close(camera_.rate()) || close(extraRate_);
}

bool ProtocolEngine::fill(int timeoutMs, int& status) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        std::vector<uint8_t> chunk;
        const SimPort::ReadStatus result = port_.readSome(chunk, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (result == SimPort::ReadStatus::Stopped || result == SimPort::ReadStatus::Closed) {
            status = Gone;
            return false;
        }
        if (result == SimPort::ReadStatus::Timeout) {
            status = Timeout;
            return false;
        }
        lastReceive_ = std::chrono::steady_clock::now();
        const uint32_t clientRate = port_.clientRate();
        if (rateAccepted(clientRate)) {
            input_.assign(chunk.begin(), chunk.end());
            inputPos_ = 0;
            return true;
        }
        // At a different line speed the camera's UART sees only garbage: ignore it.
        trace_.line("rx noise count=" + std::to_string(chunk.size()) + " host-rate=" + std::to_string(clientRate) +
                    " camera-rate=" + std::to_string(camera_.rate()));
    }
}

int ProtocolEngine::readByte(int timeoutMs) {
    if (inputPos_ >= input_.size()) {
        int status = Timeout;
        if (!fill(timeoutMs, status)) return status;
    }
    return input_[inputPos_++];
}

bool ProtocolEngine::send(const uint8_t* bytes, size_t count) {
    if (trickling_) {
        // A byte now and then, until the host says anything at all (it gave up on us).
        for (size_t i = 0; i < count; ++i) {
            int status = Timeout;
            if (inputPos_ < input_.size() || fill(options_.trickleGapMs, status)) {
                trace_.line("abort trickle host-spoke");
                return false;
            }
            if (status == Gone || !port_.writeAll(bytes + i, 1, options_.ackTimeoutMs, 0)) return false;
        }
        return true;
    }
    const uint32_t paceRate = options_.pace ? camera_.rate() : 0;
    const int lineMs = paceRate ? static_cast<int>(count * 10 * 1000 / paceRate) : 0;
    return port_.writeAll(bytes, count, options_.ackTimeoutMs + lineMs, paceRate);
}

bool ProtocolEngine::sendControl(uint8_t byte, const char* name) {
    trace_.line(std::string("tx ") + name);
    return send(&byte, 1);
}

int ProtocolEngine::readPacketBody(std::vector<uint8_t>& payload, uint8_t& terminator, bool& good) {
    PacketReader reader;
    for (;;) {
        const int b = readByte(options_.ackTimeoutMs);
        if (b < 0) return b;
        const PacketReader::Result result = reader.feed(static_cast<uint8_t>(b));
        if (result == PacketReader::Result::NeedMore) continue;
        good = result == PacketReader::Result::Complete;
        payload = reader.payload();
        terminator = reader.terminator();
        return 0;
    }
}

// One packet of a request, after its STX: NAK when bad, NAK throughout a refused cancel,
// otherwise ACK and append.
ProtocolEngine::PacketStep ProtocolEngine::takeRequestPacket(Reception& r) {
    std::vector<uint8_t> payload;
    uint8_t terminator = 0;
    bool good = false;
    const int status = readPacketBody(payload, terminator, good);
    if (status < 0) {
        if (status == Timeout) trace_.line("timeout request-packet");
        return PacketStep::Fail;
    }
    if (!good) {
        trace_.line("rx bad-packet len=" + std::to_string(payload.size()) + " hex=" + trace_.hex(payload));
        return sendControl(NAK, "nak") && ++r.naks <= maxRequestNaks ? PacketStep::Next : PacketStep::Fail;
    }
    trace_.line("rx packet len=" + std::to_string(payload.size()) + (terminator == ETB ? " etb" : " etx") +
                " hex=" + trace_.hex(payload));
    const bool isCancel = r.assembled.empty() && payload.size() >= 2 && payload[0] == 0x00 && payload[1] == 0x9E;
    if (isCancel && (r.refusing || (faults_.refuseWithNak() && faults_.refuseCancel()))) {
        if (!r.refusing) trace_.line("fault refuse-cancel nak");
        r.refusing = true;
        if (!sendControl(NAK, "nak")) return PacketStep::Fail;
        // The host gives up after its fourth sending; the camera then carries on.
        return ++r.cancelNaks >= hostSendings ? PacketStep::Refused : PacketStep::Next;
    }
    if (!sendControl(ACK, "ack")) return PacketStep::Fail;
    r.assembled.insert(r.assembled.end(), payload.begin(), payload.end());
    r.lastLength = payload.size();
    ++r.packets;
    r.expectEot = terminator == ETX;
    return PacketStep::Next;
}

bool ProtocolEngine::receiveRequest(std::vector<uint8_t>& request, bool& refusedByNak) {
    refusedByNak = false;
    if (!sendControl(ACK, "ack")) return false;
    Reception r;
    while (r.packets < maxRequestPackets) {
        const int b = readByte(options_.ackTimeoutMs);
        if (b == Timeout) trace_.line(r.expectEot ? "timeout eot" : "timeout request-packet");
        if ((b == Timeout && r.expectEot) || (b == EOT && r.expectEot)) {
            // A missing EOT costs nothing but the wait: the request itself is complete.
            if (b == EOT) trace_.line("rx eot");
            request = r.assembled;
            return true;
        }
        if (b < 0) return false;
        if (b != STX) {
            // ENQ again: the host missed our ACK and asks once more.
            trace_.line(b == ENQ ? std::string("rx enq") : "rx byte " + byteText(b));
            if (++r.strays > maxStrayBytes || (b == ENQ && !r.expectEot && !sendControl(ACK, "ack"))) return false;
            continue;
        }
        if (r.expectEot) {
            // STX instead of EOT: the host missed our ACK and sends its last packet again.
            r.assembled.resize(r.assembled.size() - r.lastLength);
            --r.packets;
            r.expectEot = false;
        }
        const PacketStep step = takeRequestPacket(r);
        if (step == PacketStep::Fail) return false;
        if (step == PacketStep::Refused) {
            refusedByNak = true;
            return false;
        }
    }
    trace_.line("abort request-too-long");
    return false;
}

std::vector<uint8_t> ProtocolEngine::wireForm(const uint8_t* payload, size_t length, bool more,
                                              const BlockFaults& faults) const {
    const uint8_t terminator = more ? ETB : ETX;
    std::vector<uint8_t> wire(faults.noise);
    wire.push_back(STX);
    // A corrupted length claims from 1 to 64 bytes more or fewer than the packet carries.
    size_t claimed = length;
    if (faults.corruptLength) {
        if ((faults.knob & 0x100) && length > 0)
            claimed = length - (1 + faults.knob % std::min<size_t>(length, 64));
        else
            claimed = (length + 1 + faults.knob % 64) & 0xFFFF;
    }
    appendStuffed(wire, static_cast<uint8_t>(claimed & 0xFF));
    appendStuffed(wire, static_cast<uint8_t>(claimed >> 8));
    const size_t payloadStart = wire.size();
    size_t dropAt = 0;
    for (size_t i = 0; i < length; ++i) {
        if (i == length / 2) dropAt = wire.size();
        appendStuffed(wire, payload[i]);
    }
    appendStuffed(wire, terminator);
    uint8_t checksum = packetChecksum(payload, length, terminator);
    if (faults.corrupt) checksum = static_cast<uint8_t>(checksum + 0x55);
    appendStuffed(wire, checksum);
    if (faults.corruptEscape) {
        // The byte after the first escape of the payload or checksum changes; with no escape
        // there, the checksum byte goes out as a bad escape pair.
        auto escape = std::find(wire.begin() + static_cast<std::ptrdiff_t>(payloadStart), wire.end() - 1, ESC);
        if (escape != wire.end() - 1) {
            *(escape + 1) = static_cast<uint8_t>(*(escape + 1) ^ (1 + faults.knob % 255));
        } else {
            wire.back() = static_cast<uint8_t>(~wire.back() ^ 0x01);
            wire.insert(wire.end() - 1, ESC);
        }
    }
    if (faults.drop && length > 0) wire.erase(wire.begin() + static_cast<std::ptrdiff_t>(dropAt));
    if (faults.truncate) {
        const size_t start = faults.noise.size();
        const size_t keep = 1 + faults.knob % (wire.size() - start - 1);
        wire.resize(start + keep);
    }
    return wire;
}

ProtocolEngine::Outcome ProtocolEngine::nestedRequest() {
    // A cancel's status can itself meet an enquiry; deeper than that is not a host talking.
    if (nesting_ >= 2) {
        trace_.line("abort nested-enquiries");
        return Outcome::Aborted;
    }
    struct Depth {
        int& n;
        explicit Depth(int& count) : n(count) { ++n; }
        ~Depth() { --n; }
    } depth(nesting_);
    std::vector<uint8_t> request;
    bool refusedByNak = false;
    if (!receiveRequest(request, refusedByNak)) return refusedByNak ? Outcome::Resume : Outcome::Aborted;
    const bool isCancel = request.size() >= 2 && request[0] == 0x00 && request[1] == 0x9E;
    if (!isCancel) {
        // The host has given up on this message and starts a new exchange.
        trace_.line(std::string("abort superseded-by ") + commandName(static_cast<uint16_t>(request[0] | (request.size() > 1 ? request[1] << 8 : 0))));
        pendingRequest_ = request;
        pending_ = true;
        return Outcome::NewRequest;
    }
    trace_.line("cancel nested CancelTransfer");
    const Reply reply = answer(request);
    const Outcome outcome = sendMessage(statusOnTheWire(reply), reply, "status");
    if (outcome != Outcome::Done) return outcome;
    if (reply.result() != ResultOk) return Outcome::Resume;
    trace_.line("cancel accepted");
    return Outcome::Cancelled;
}

// Waits for the host's answer to an ENQ or a packet. An ENQ from the host means it wants the
// line: a CancelTransfer (answered here; Resume when refused) or a new request.
ProtocolEngine::Outcome ProtocolEngine::waitAckOrNested(const char* step, bool& acked, bool& nak) {
    acked = nak = false;
    for (int strays = 0; strays <= maxStrayBytes; ++strays) {
        const int b = readByte(options_.ackTimeoutMs);
        if (b == Timeout) {
            trace_.line(std::string("timeout ") + step);
            return Outcome::Aborted;
        }
        if (b < 0) return Outcome::Aborted;
        if (b == ACK) {
            trace_.line("rx ack");
            acked = true;
            return Outcome::Done;
        }
        if (b == NAK) {
            trace_.line("rx nak");
            nak = true;
            return Outcome::Done;
        }
        if (b == ENQ && options_.strict) {
            // A strict camera does not give up its own message for the host's enquiry.
            trace_.line("strict ignore-enq");
            continue;
        }
        if (b == ENQ) {
            trace_.line("rx enq");
            return nestedRequest();
        }
        trace_.line("rx byte " + byteText(b));
    }
    return Outcome::Aborted;
}

ProtocolEngine::Outcome ProtocolEngine::sendBlock(const uint8_t* payload, size_t length, bool more,
                                                  const std::string& label, const std::string& message,
                                                  const std::string& command) {
    for (;;) {  // one round per enquiry; a refused cancel brings us back here
        const std::vector<uint8_t> noise = faults_.noiseBeforeEnquiry(command);
        if (!noise.empty()) {
            trace_.line("fault noise " + std::to_string(noise.size()) + " before-enq " + label + message +
                        " hex=" + trace_.hex(noise));
            if (!send(noise.data(), noise.size())) return Outcome::Aborted;
        }
        if (!sendControl(ENQ, "enq")) return Outcome::Aborted;
        bool acked = false, nak = false;
        Outcome outcome = waitAckOrNested("ack-enq", acked, nak);
        if (outcome == Outcome::Resume) continue;
        if (outcome != Outcome::Done) return outcome;
        if (!acked) {
            trace_.line("abort nak-for-enq");
            return Outcome::Aborted;
        }
        bool repeated = false;
        bool resume = false;
        for (int sending = 1; !resume; ++sending) {
            const BlockFaults faults = repeated ? BlockFaults{} : faults_.nextTransmission(command);
            if (faults.corrupt) trace_.line("fault corrupt " + label + message);
            if (faults.drop) trace_.line("fault drop " + label + message);
            if (faults.corruptLength) trace_.line("fault corrupt-length " + label + message);
            if (faults.corruptEscape) trace_.line("fault corrupt-escape " + label + message);
            if (faults.truncate) trace_.line("fault truncate " + label + message);
            if (!faults.noise.empty())
                trace_.line("fault noise " + std::to_string(faults.noise.size()) + " before-stx " + label + message +
                            " hex=" + trace_.hex(faults.noise));
            if (faults.extraEnq) {
                trace_.line("fault extra-enq " + label + message);
                if (!sendControl(ENQ, "enq")) return Outcome::Aborted;
            }
            const std::vector<uint8_t> wire = wireForm(payload, length, more, faults);
            trace_.line("tx " + label + " len=" + std::to_string(length) + (more ? " etb" : " etx") + message +
                        " hex=" + trace_.hex(payload, length));
            if (!send(wire.data(), wire.size())) return Outcome::Aborted;
            outcome = waitAckOrNested("ack-block", acked, nak);
            if (outcome == Outcome::Resume) {
                resume = true;
                continue;
            }
            if (outcome != Outcome::Done) return outcome;
            if (nak) {
                if (sending >= hostSendings) {
                    trace_.line("abort nak-limit " + label + message);
                    return Outcome::Aborted;
                }
                continue;
            }
            if (!repeated && faults_.repeatAfterAck(command)) {
                // As if our ACK had not arrived: the same packet again instead of EOT.
                trace_.line("fault repeat " + label + message);
                repeated = true;
                continue;
            }
            return sendControl(EOT, "eot") ? Outcome::Done : Outcome::Aborted;
        }
    }
}

// The status as it goes out: whole, or cut short by a --short-status fault. The camera's own
// decisions (a new rate, an accepted cancel) still follow the whole status.
std::vector<uint8_t> ProtocolEngine::statusOnTheWire(const Reply& reply) {
    std::vector<uint8_t> garbage;
    if (faults_.garbageStatus(reply.command, garbage)) {
        trace_.line("fault garbage-status " + reply.command + " len=" + std::to_string(garbage.size()));
        return garbage;
    }
    size_t length = 0;
    if (!faults_.shortStatus(reply.command, length)) return reply.status;
    length = std::min(length, reply.status.size());
    trace_.line("fault short-status " + reply.command + " len=" + std::to_string(length) +
                " of=" + std::to_string(reply.status.size()));
    return std::vector<uint8_t>(reply.status.begin(), reply.status.begin() + static_cast<std::ptrdiff_t>(length));
}

ProtocolEngine::Outcome ProtocolEngine::sendMessage(const std::vector<uint8_t>& bytes, const Reply& reply,
                                                    const char* part) {
    const size_t blockSize = options_.blockSize;
    const size_t blocks = bytes.empty() ? 1 : (bytes.size() + blockSize - 1) / blockSize;
    const std::string partName(part);
    if (partName == "data") {
        trace_.line("tx data " + reply.command + " bytes=" + std::to_string(bytes.size()) +
                    " blocks=" + std::to_string(blocks));
    } else {
        const std::string result =
            bytes.size() >= 4 ? hex16(static_cast<uint16_t>(bytes[2] | bytes[3] << 8)) : std::string("none");
        trace_.line("tx status " + reply.command + " result=" + result + " hex=" + trace_.hex(bytes));
    }
    for (size_t i = 0; i < blocks; ++i) {
        const size_t offset = i * blockSize;
        const size_t length = bytes.empty() ? 0 : std::min(blockSize, bytes.size() - offset);
        const std::string label = "block " + std::to_string(i + 1) + "/" + std::to_string(blocks);
        const std::string message = " msg=" + reply.command + "." + partName;
        const Outcome outcome =
            sendBlock(bytes.empty() ? nullptr : bytes.data() + offset, length, i + 1 < blocks, label, message,
                      reply.command);
        if (outcome != Outcome::Done) return outcome;
    }
    return Outcome::Done;
}

Reply ProtocolEngine::answer(const std::vector<uint8_t>& request) {
    Reply reply = camera_.handle(request);
    if (reply.code == CmdCancelTransfer && options_.strict && nesting_ == 0) {
        // Nothing to cancel: a strict camera says so.
        trace_.line("strict refuse-cancel");
        return camera_.refusedCancel();
    }
    if (reply.code == CmdCancelTransfer && !faults_.refuseWithNak() && faults_.refuseCancel()) {
        trace_.line("fault refuse-cancel result");
        reply = camera_.refusedCancel();
    }
    return reply;
}

bool ProtocolEngine::hostileTakes(const std::string& mode, const std::string& command, bool& used) {
    if (used || mode != command) return false;
    used = true;
    return true;
}

ProtocolEngine::Outcome ProtocolEngine::endlessReply(const Reply& reply, bool noisy) {
    const std::string message = " msg=" + reply.command + (reply.hasData ? ".data" : ".status");
    std::vector<uint8_t> noise(noisy ? 4000 : 0);
    for (unsigned long long n = 1;; ++n) {
        for (uint8_t& b : noise) {
            noiseState_ = noiseState_ * 1103515245u + 12345u;
            b = static_cast<uint8_t>(noiseState_ >> 16);
            if (b == ENQ) b = 0x30;
        }
        if (!noise.empty() && !send(noise.data(), noise.size())) return Outcome::Aborted;
        const Outcome outcome = sendBlock(nullptr, 0, true, "block " + std::to_string(n) + "/endless", message,
                                          reply.command);
        if (outcome != Outcome::Done) return outcome;
    }
}

void ProtocolEngine::exchange(const std::vector<uint8_t>& request) {
    const Reply reply = answer(request);
    Outcome outcome = Outcome::Done;
    const bool endless = hostileTakes(options_.endlessBlocks, reply.command, endlessUsed_);
    const bool flood = !endless && hostileTakes(options_.noiseFlood, reply.command, floodUsed_);
    if (endless || flood) {
        trace_.line(std::string(endless ? "fault endless-blocks " : "fault noise-flood ") + reply.command);
        noiseState_ = options_.seed | 1u;
        endlessReply(reply, flood);
        trace_.line("abort " + reply.command);
        return;
    }
    if (hostileTakes(options_.trickle, reply.command, trickleUsed_)) {
        trace_.line("fault trickle " + reply.command + " gap=" + std::to_string(options_.trickleGapMs));
        trickling_ = true;
    }
    struct TrickleEnds {
        bool& flag;
        ~TrickleEnds() { flag = false; }
    } trickleEnds{trickling_};
    if (reply.hasData) outcome = sendMessage(reply.data, reply, "data");
    if (outcome == Outcome::Done) {
        // The host acknowledges SetIO's status before it retunes; accept that ACK at either speed.
        extraRate_ = reply.newRate;
        outcome = sendMessage(statusOnTheWire(reply), reply, "status");
        extraRate_ = 0;
        if (outcome == Outcome::Done && reply.newRate) {
            port_.setDeviceRate(reply.newRate);
            camera_.applyRate(reply.newRate);
        }
    }
    if (outcome == Outcome::Aborted) trace_.line("abort " + reply.command);
    if (!options_.silentCommand.empty() && (options_.silentCommand == "any" || options_.silentCommand == reply.command) &&
        ++silentSeen_ == options_.silentCount) {
        trace_.line("fault silent");
        silent_ = true;
    }
}

void ProtocolEngine::beginSessionIfNeeded() {
    if (sessionActive_) return;
    sessionActive_ = true;
    trace_.line("session begin " + std::to_string(++sessionNumber_));
    if (!options_.quiet) {
        std::printf("session %d begin\n", sessionNumber_);
        std::fflush(stdout);
    }
}

void ProtocolEngine::endSession() {
    input_.clear();
    inputPos_ = 0;
    port_.discardPending();
    if (!sessionActive_) return;
    sessionActive_ = false;
    ++sessionsEnded_;
    trace_.line("session end " + std::to_string(sessionNumber_));
    if (!options_.quiet) {
        std::printf("session %d end\n", sessionNumber_);
        std::fflush(stdout);
    }
}

void ProtocolEngine::run() {
    while (!stopRequested && !sessionsDone()) {
        if (pending_) {
            pending_ = false;
            exchange(pendingRequest_);
            continue;
        }
        const int b = readByte(200);
        if (port_.consumeOpened()) trace_.line("port open");
        if (port_.consumeClosed()) {
            trace_.line("port close");
            endSession();
            continue;
        }
        if (b < 0) {
            if (!port_.isPty() && sessionActive_ && std::chrono::steady_clock::now() - lastReceive_ > deviceSessionIdle) {
                endSession();
            }
            continue;
        }
        if (silent_) continue;
        if (b != ENQ) {
            trace_.line("rx byte " + byteText(b));
            continue;
        }
        trace_.line("rx enq");
        beginSessionIfNeeded();
        std::vector<uint8_t> request;
        bool refusedByNak = false;
        if (receiveRequest(request, refusedByNak)) exchange(request);
    }
}

}  // namespace sim
