#include "ui/listing_fetcher.h"

#include <process.h>

#include <new>
#include <utility>

#include "ui/message_pump.h"

std::atomic<int> ListingFetcher::running{0};

ListingFetcher::ListingFetcher(LinkCore& cameraLink, PictureCache* pictureCache, bool fetchThumbnails,
                               DWORD stopGraceMs)
    : link(cameraLink), hold(cameraLink), cache(pictureCache), thumbnails(fetchThumbnails), stopGrace(stopGraceMs) {
    hold.take();
    InitializeCriticalSection(&lock);
    ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    room = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

ListingFetcher::~ListingFetcher() {
    finish();
    if (ready) CloseHandle(ready);
    if (room) CloseHandle(room);
    DeleteCriticalSection(&lock);
}

bool ListingFetcher::start(int pictureCount) {
    if (!hold.taken()) {
        threadDone = true;
        return false;
    }
    count = pictureCount;
    nextNumber = 1;
    ++running;
    started = true;
    if (ready && room) {
        thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, threadMain, this, 0, nullptr));
        if (thread) return true;
    }
    inlineMode = true;
    return true;
}

unsigned __stdcall ListingFetcher::threadMain(void* self) {
    static_cast<ListingFetcher*>(self)->run();
    return 0;
}

void ListingFetcher::run() {
    while (!stopping.load() && nextNumber <= count) {
        ListedPicture picture;
        fetchPicture(nextNumber++, picture);
        const bool last = picture.outcome == ListedPicture::Outcome::Failed;
        if (!waitForRoom()) break;
        EnterCriticalSection(&lock);
        waitingPicture = std::move(picture);
        hasWaiting = true;
        LeaveCriticalSection(&lock);
        SetEvent(ready);
        if (last) break;
    }
    EnterCriticalSection(&lock);
    threadDone = true;
    LeaveCriticalSection(&lock);
    SetEvent(ready);
}

bool ListingFetcher::waitForRoom() {
    for (;;) {
        EnterCriticalSection(&lock);
        const bool full = hasWaiting;
        LeaveCriticalSection(&lock);
        if (stopping.load()) return false;
        if (!full) return true;
        // Woken when the picture is taken or stop is asked; the time-out only re-checks.
        WaitForSingleObject(room, 1000);
    }
}

bool ListingFetcher::take(ListedPicture& out) {
    if (inlineMode) {
        if (threadDone || nextNumber > count) {
            threadDone = true;
            return false;
        }
        fetchPicture(nextNumber++, out);
        if (out.outcome == ListedPicture::Outcome::Failed) threadDone = true;
        return true;
    }
    EnterCriticalSection(&lock);
    const bool had = hasWaiting;
    if (had) {
        out = std::move(waitingPicture);
        waitingPicture = ListedPicture();
        hasWaiting = false;
    }
    LeaveCriticalSection(&lock);
    if (had) SetEvent(room);
    return had;
}

bool ListingFetcher::ended() {
    if (inlineMode) return threadDone;
    EnterCriticalSection(&lock);
    const bool done = threadDone && !hasWaiting;
    LeaveCriticalSection(&lock);
    return done;
}

void ListingFetcher::requestStop() {
    if (stopAsked || finished || !started) return;
    stopAsked = true;
    stopAskedAt = GetTickCount();
    stopping.store(true);
    SetEvent(room);
}

bool ListingFetcher::stopped() {
    if (finished) return true;
    if (!started) {
        finished = true;
        hold.release();
        return true;
    }
    if (!stopAsked) requestStop();
    const DWORD now = GetTickCount();
    if (thread) {
        if (WaitForSingleObject(thread, 0) != WAIT_OBJECT_0) {
            if (!abandonedExchange && now - stopAskedAt >= stopGrace) {
                // The exchange on the line goes on and on: fail its transfers. The thread then
                // ends within one port wait (each is bounded by the port's time-out).
                abandonedExchange = true;
                link.abandonTransfers.store(true);
            }
            return false;
        }
        CloseHandle(thread);
        thread = nullptr;
        link.abandonTransfers.store(false);
        EnterCriticalSection(&lock);
        waitingPicture = ListedPicture();
        hasWaiting = false;
        threadDone = true;
        LeaveCriticalSection(&lock);
        settling = link.settling();  // after an abandon, or a message given up at its bound
    }
    if (settling) {
        // What the camera still sends of the message it was cut off in is dropped as it comes.
        if (!link.lineSettled()) return false;
        settling = false;
    }
    finished = true;
    threadDone = true;
    hold.release();
    --running;
    return true;
}

void ListingFetcher::finish() {
    if (finished) return;
    requestStop();
    MessagePump pump;
    while (!stopped()) pump.waitAndRun(thread ? thread : ready, 100, nullptr);
}

void ListingFetcher::fetchPicture(int number, ListedPicture& out) {
    // The commands of this thread pass the hold while this picture is fetched.
    LinkHold::Use use(hold);
    out = ListedPicture();
    out.number = number;
    try {
        uint16_t handle = 0;
        if (!link.GetImgInfo(static_cast<uint16_t>(number), &handle, false)) {
            out.lineFailed = link.linkError != 0;
            if (!out.lineFailed && link.lastResultCode() == ResultNoPicture) out.outcome = ListedPicture::Outcome::Absent;
            return;
        }
        out.handle = handle;
        uint16_t word = 0;
        out.sizeKiB = link.statusWord(6, word) ? word : 0;
        out.mark = link.statusWord(8, word) ? word : 0;
        const LinkBuffer& block = link.buffers->imageInfo;
        if (block.data) out.info.assign(block.data, block.data + block.count);
        link.buffers->releaseImageInfo();
        if (cache) {
            out.key.number = static_cast<uint16_t>(number);
            out.key.handle = handle;
            out.key.sizeKiB = out.sizeKiB;
            out.key.mark = out.mark;
            out.key.info = out.info;
        }
        out.outcome = ListedPicture::Outcome::Listed;
        if (!thumbnails || !handle || stopping.load()) return;

        // A picture without an information block has no key the cache could trust.
        const bool cached = cache && !out.key.info.empty();
        if (cached) {
            if (const std::vector<uint8_t>* kept = cache->thumbnail(out.key)) {
                out.bytes = *kept;
                out.thumbnail = ListedPicture::Thumbnail::Received;
                return;
            }
        }
        if (!link.GetThumb(handle, false)) {
            out.lineFailed = link.linkError != 0;
            if (!out.lineFailed && link.lastResultCode() == ResultNoThumbnail) {
                out.thumbnail = ListedPicture::Thumbnail::Missing;
            } else {
                out.outcome = ListedPicture::Outcome::Failed;
            }
            return;
        }
        const LinkBuffer& data = link.buffers->thumbnail;
        if (data.data) out.bytes.assign(data.data, data.data + data.count);
        link.buffers->releaseThumbnail();
        out.thumbnail = ListedPicture::Thumbnail::Received;
        if (cached) {
            try {
                cache->putThumbnail(out.key, out.bytes.data(), out.bytes.size());
            } catch (const std::bad_alloc&) {
                // Not kept: the next Open fetches it again.
            }
        }
    } catch (const std::bad_alloc&) {
        // No memory for a copy: reported like a transfer that went wrong.
        out = ListedPicture();
        out.number = number;
    }
}
