// ListingFetcher: reads the card's pictures for the acquire dialog on a thread of its own.
//
// For the numbers 1..count it asks the camera for each picture's information block and, when
// asked to, its thumbnail (from the picture cache when the cache holds it), and hands the
// pictures over in order. It runs one picture ahead of the dialog, so that the line carries the
// next picture's commands while the dialog decodes and paints the last one: the line does not
// stand idle between pictures, and the dialog answers the user while a command is on the line.
//
// From its construction until it has stopped the fetcher holds the camera link (LinkHold): a
// command from anyone else fails at once. Between start() and the stop it alone uses the picture
// cache too.
// The thread ends after the last number, after a failure (the failing picture is the last one
// handed over), or when requestStop() asks it to. A stop lets the command on the line end, so
// that the camera is left between two exchanges; a line that keeps one exchange going past
// its grace (a camera that never stops sending) has the link's transfers abandoned, which ends
// it at the next byte. The camera, its message cut off, may go on sending for a while and then
// waits for an answer before it gives up: after an abandon the stop also waits until the line
// has been quiet for longer than that, so that the next command finds the camera listening.
// Nothing here waits on the caller's thread: the caller polls stopped() from its message loop
// (the application's thread must keep answering its messages). When no thread can be started,
// take() fetches each picture itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

#include "camera/link_core.h"
#include "ui/picture_cache.h"

struct ListedPicture {
    enum class Outcome {
        Listed,  // information read; the thumbnail as told by thumbnail
        Absent,  // the camera has no picture under this number
        Failed,  // the camera refused, or the line failed (lineFailed): nothing follows
    };
    enum class Thumbnail {
        NotAsked,  // thumbnails off, or the picture has no handle
        Received,  // bytes holds it (from the camera or the cache)
        Missing,   // the camera has none for this picture
    };
    int number = 0;
    Outcome outcome = Outcome::Failed;
    bool lineFailed = false;
    uint16_t handle = 0;
    uint16_t sizeKiB = 0;  // status word 6 of GetImgInfo (0 when the status was too short)
    uint16_t mark = 0;     // status word 8
    std::vector<uint8_t> info;
    Thumbnail thumbnail = Thumbnail::NotAsked;
    std::vector<uint8_t> bytes;
    PictureKey key;  // with the cache: what identifies the picture (info included); else empty
};

class ListingFetcher {
public:
    // How long a stop lets the exchange on the line go on before it abandons it.
    static constexpr DWORD defaultStopGraceMs = 30000;
    // After an abandon the link settles the line (LinkCore::lineSettled) before the stop ends.

    // cache may be null (cache off). Takes the link's hold unless another has it (holdsLink()).
    ListingFetcher(LinkCore& link, PictureCache* cache, bool thumbnails, DWORD stopGraceMs = defaultStopGraceMs);
    ~ListingFetcher();
    ListingFetcher(const ListingFetcher&) = delete;
    ListingFetcher& operator=(const ListingFetcher&) = delete;

    // False when another listing of the same link still holds it: nothing can be fetched.
    bool holdsLink() const { return hold.taken(); }
    // Starts on the numbers 1..count. When no thread can start, take() fetches each picture on
    // the caller's thread. False, with nothing fetched and ended() true, without the hold.
    bool start(int count);
    // Moves the next picture into out; false when none is ready yet (or none will come).
    bool take(ListedPicture& out);
    // Every picture has been handed over, or the thread ended.
    bool ended();
    // Signalled when a picture becomes ready or the thread ends.
    HANDLE readyEvent() const { return ready; }
    // Asks the thread to stop and returns at once. Safe to call more than once.
    void requestStop();
    // After requestStop(): true once the thread has ended and, after an abandon, the line has
    // settled; what was fetched and nobody took is dropped, and the hold is given back. Never
    // waits: the caller handles its messages between two calls (MessagePump). An abandoned
    // exchange leaves the link's linkError latched.
    bool stopped();
    // The stop had to abandon the exchange on the line.
    bool abandoned() const { return abandonedExchange; }
    // requestStop(), then a MessagePump until stopped(). For callers without a loop of their
    // own (and the destructor); a WM_QUIT met meanwhile is posted again afterwards.
    void finish();

    // A fetcher's thread or its stop is still under way somewhere in the process: its link
    // keeps the port until then.
    static bool anyRunning() { return running.load() > 0; }

private:
    static unsigned __stdcall threadMain(void* self);
    void run();
    void fetchPicture(int number, ListedPicture& out);
    // Waits until the one waiting place is free; false when stop was asked meanwhile.
    bool waitForRoom();

    LinkCore& link;
    LinkHold hold;
    PictureCache* cache;
    bool thumbnails;
    DWORD stopGrace;
    int count = 0;
    int nextNumber = 1;  // the next number to fetch
    HANDLE thread = nullptr;
    HANDLE ready = nullptr;  // auto-reset: a picture was queued or the thread ended
    HANDLE room = nullptr;   // auto-reset: a picture was taken, or stop was asked
    CRITICAL_SECTION lock{};
    ListedPicture waitingPicture;  // under lock: the one picture ready and not taken
    bool hasWaiting = false;       // under lock
    bool threadDone = false;       // under lock
    bool inlineMode = false;
    std::atomic<bool> stopping{false};
    // The stop, on the caller's thread.
    bool started = false;
    bool stopAsked = false;
    bool finished = false;
    bool abandonedExchange = false;
    bool settling = false;
    DWORD stopAskedAt = 0;
    static std::atomic<int> running;
};
