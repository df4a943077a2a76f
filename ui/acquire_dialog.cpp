#include "ui/acquire_dialog.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>
#include <utility>

#include "camera/camera_link.h"
#include "imaging/exif_reader.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/tiff_thumbnail_decoder.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/context_help.h"
#include "ui/information_dialog.h"
#include "ui/message_pump.h"
#include "ui/picture_info_text.h"
#include "ui/gdi_palette.h"
#include "ui/source_settings.h"
#include "ui/thumbnail_grid.h"
#include "ui/user_messages.h"
#include "ui/wait_cursor.h"

namespace {

constexpr HelpEntry acquireHelp[] = {
    {IDC_THUMBNAIL_GRID, IDC_THUMBNAIL_GRID, IDS_HELP_FIRST + 4},
    {IDC_AQUIRE, IDC_AQUIRE, IDS_HELP_FIRST + 5},
    {IDC_SHOW_INFO, IDC_SHOW_INFO, IDS_HELP_FIRST + 6},
    {IDC_THUMBNAIL, IDC_THUMBNAIL, IDS_HELP_FIRST + 7},
};

// Expected size of a download whose size the camera did not report, for the progress bar.
constexpr uint32_t unknownPictureSize = 400000;

// Pixel layout of the dialog around the grid.
constexpr int gridLeft = 10;
constexpr int gridTop = 10;
constexpr int buttonWidth = 80;
constexpr int buttonHeight = 26;
constexpr int buttonGap = 20;

int32_t clampedLength(uint32_t count) {
    return count > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(count);
}

PictureFacts factsOf(const ImageInfoRecord& info) {
    PictureFacts facts;
    facts.dateTimeOriginal = info.dateTimeOriginal ? info.dateTimeOriginal->c_str() : nullptr;
    facts.make = info.make ? info.make->c_str() : nullptr;
    facts.model = info.model ? info.model->c_str() : nullptr;
    facts.width = info.width;
    facts.height = info.height;
    facts.qualityCode = info.qualityCode;
    facts.fNumber = info.fNumber;
    facts.exposureTime = info.exposureTime;
    facts.exposureBias = info.exposureBias;
    return facts;
}

}  // namespace

AcquireDialog::AcquireDialog(CameraLink& cameraLink, SourceSettings& sourceSettings)
    : link(cameraLink), settings(sourceSettings) {}

AcquireDialog::~AcquireDialog() {
    delete grid;
    grid = nullptr;
    list.clear();
}

INT_PTR AcquireDialog::run(HWND parent) {
    errorId = 0;
    stopRequested = 0;
    busy = 0;
    listingBegun = false;
    return runModal(IDD_ACQUIRE, parent);
}

// ---- initialisation ----

BOOL AcquireDialog::onInitDialog() {
    setCommandButtons(false);
    if (!createGrid()) {
        PostMessageA(hwnd(), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    layOut();
    StatusRecord status;
    const int count = link.statusRecord(status) ? status.picturesTaken : 0;
    if (!list.allocate(count)) {
        PostMessageA(hwnd(), WM_COMMAND, IDCANCEL, 0);
        return TRUE;
    }
    grid->setList(list);
    busy = 1;
    ShowWindow(hwnd(), SW_SHOW);
    UpdateWindow(hwnd());
    PostMessageA(hwnd(), UM_LOAD_PICTURES, 0, 0);
    return TRUE;
}

bool AcquireDialog::createGrid() {
    grid = new (std::nothrow) ThumbnailGrid;
    if (!grid) return false;
    // A grid without a window could show nothing and select nothing: treat it like no grid.
    return grid->create(hwnd(), IDC_THUMBNAIL_GRID) != nullptr;
}

void AcquireDialog::layOut() {
    HWND gridWindow = grid->hwnd();
    SetWindowPos(gridWindow, nullptr, gridLeft, gridTop, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT r;
    GetWindowRect(gridWindow, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    const int y = h + buttonGap;
    MoveWindow(item(IDC_AQUIRE), 30, y, buttonWidth, buttonHeight, FALSE);
    MoveWindow(item(IDC_SHOW_INFO), 120, y, buttonWidth, buttonHeight, FALSE);
    MoveWindow(item(IDC_THUMBNAIL), 210, y, buttonWidth, buttonHeight, FALSE);
    MoveWindow(item(IDCANCEL), w - 90, y, buttonWidth, buttonHeight, FALSE);
    const int width = w + 22 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    const int height = h + 56 + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYDLGFRAME);
    SetWindowPos(hwnd(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    centreOverOwner(hwnd());
}

void AcquireDialog::setCommandButtons(bool enabled) {
    for (int id : {IDC_AQUIRE, IDC_SHOW_INFO, IDC_THUMBNAIL}) EnableWindow(item(id), enabled ? TRUE : FALSE);
}

// ---- listing ----

void AcquireDialog::loadPictures() {
    listingBegun = true;
    // The camera is read on the fetcher's thread, one picture ahead of what is shown here; until
    // stopped() says so, the link and the cache are the fetcher's alone.
    ListingFetcher fetcher(link, settings.cache ? &pictureCache() : nullptr, settings.autoThumbnails != 0,
                           listingStopGraceMs);
    if (!fetcher.holdsLink()) {
        // Opened over a dialog whose listing still stops on this link (and uses the cache).
        busy = 0;
        errorBeep();
        endDialog(IDCANCEL);
        return;
    }
    loadCache();
    fetcher.start(list.count);
    int filled = 0;
    bool thumbnailMissing = false;
    int failure = 0;
    MessagePump pump;
    for (;;) {
        ListedPicture picture;
        if (fetcher.take(picture)) {
            if (showListedPicture(picture, filled, thumbnailMissing, failure)) {
                ++filled;
                // The next slot's row becomes the bottom one; only what changed is redrawn.
                grid->showFilledSlot(filled - 1, filled / 4 - 2);
            }
            if (failure) break;
            pump.run(this);
        } else if (fetcher.ended()) {
            break;
        } else {
            pump.waitAndRun(fetcher.readyEvent(), 250, this);
        }
        // Destroyed with its owner, or ended by the session, while the pump ran: the grid and
        // the list are no longer ours to touch (the link stays until this handler returns).
        // Someone ending the application's loop stops the listing as well.
        if (!alive() || stopRequested || pump.quitSeen()) break;
    }
    // The stop runs in this loop too: the thread answers its messages until the fetcher has
    // ended, however long the exchange on the line takes. What runs meanwhile may destroy,
    // disable or close us (again) and end the application's loop: the grid and the list are
    // not touched, and a WM_QUIT is handed on once the link is ours again.
    fetcher.requestStop();
    while (!fetcher.stopped()) pump.waitAndRun(fetcher.readyEvent(), 100, this);
    pump.repostQuit();
    // A failure, or an exchange abandoned at the stop, leaves the line's error latched.
    link.takeLinkError();
    if (cache) cache->save();
    if (failure && alive()) failWith(failure);  // still busy: the buttons stay out of reach
    busy = 0;
    if (failure || !alive()) return;
    finishListing(thumbnailMissing);
}

void AcquireDialog::loadCache() {
    cache = settings.cache ? &pictureCache() : nullptr;
    keys.assign(static_cast<size_t>(list.count > 0 ? list.count : 0), PictureKey());
    if (!cache) return;
    if (!cache->fileChosen()) cache->setFile(defaultPictureCacheFile());
    cache->load();
}

// Puts a listed picture into slot; true when the slot was filled. A failure sets failure to the
// message that reports it.
bool AcquireDialog::showListedPicture(ListedPicture& picture, int slot, bool& thumbnailMissing, int& failure) {
    if (picture.outcome == ListedPicture::Outcome::Absent) return false;
    if (picture.outcome == ListedPicture::Outcome::Failed) {
        failure = picture.lineFailed ? IDS_ERR_COMMUNICATION : IDS_ERR_TRANSFER;
        return false;
    }
    PictureEntry* entry = list.entry(slot);
    if (!entry) return false;
    entry->pictureHandle = picture.handle;
    entry->pictureNumber = static_cast<uint16_t>(picture.number);
    snprintf(entry->label, sizeof(entry->label), "%02d.", slot + 1);
    entry->dateText[0] = '\0';
    entry->sizeKiB = picture.sizeKiB;
    entry->markFlag = picture.mark;
    fillSlotTexts(*entry, picture.info.data(), static_cast<uint32_t>(picture.info.size()));
    if (cache && static_cast<size_t>(slot) < keys.size()) keys[static_cast<size_t>(slot)] = std::move(picture.key);
    if (picture.thumbnail == ListedPicture::Thumbnail::Received)
        setThumbnail(*entry, picture.bytes.data(), static_cast<uint32_t>(picture.bytes.size()));
    else if (picture.thumbnail == ListedPicture::Thumbnail::Missing)
        thumbnailMissing = true;
    return true;
}

void AcquireDialog::fillSlotTexts(PictureEntry& entry, const uint8_t* block, uint32_t count) {
    ExifReader reader;
    reader.attach(block, clampedLength(count));
    if (!reader.readInfo()) return;
    const ImageInfoRecord& info = reader.info;
    if (info.dateTimeOriginal) formatDateText(info.dateTimeOriginal->c_str(), entry.dateText, sizeof(entry.dateText));
    if (!info.model) return;
    const int qualityId = qualityNameId(info.model->c_str(), info.width, info.qualityCode);
    if (!qualityId) return;
    const size_t used = strnlen(entry.label, sizeof(entry.label));
    LoadStringA(moduleInstance(), qualityId, entry.label + used, static_cast<int>(sizeof(entry.label) - used));
}

void AcquireDialog::finishListing(bool thumbnailMissing) {
    if (grid) grid->scrollTo(0);
    setCommandButtons(true);
    // Aquire becomes the default button in place of Cancel.
    SendMessageA(item(IDCANCEL), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(hwnd(), DM_SETDEFID, IDC_AQUIRE, 0);
    SendMessageA(item(IDC_AQUIRE), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(item(IDC_AQUIRE)), TRUE);
    if (thumbnailMissing) showMessage(IDS_INFO_SOME_WITHOUT_THUMBNAIL, MB_ICONINFORMATION);
}

// ---- camera operations ----

int AcquireDialog::fetchThumbnail(int slot) {
    PictureEntry* entry = list.entry(slot);
    if (!entry || !entry->pictureHandle) return 0;
    const PictureKey* key = cachedKey(slot);
    const std::vector<uint8_t>* kept = key ? cache->thumbnail(*key) : nullptr;
    if (kept && !LinkBuffers::replace(link.buffers->thumbnail, static_cast<uint32_t>(kept->size()))) kept = nullptr;
    if (kept) {
        std::memcpy(link.buffers->thumbnail.data, kept->data(), kept->size());
    } else if (!link.GetThumb(static_cast<uint16_t>(entry->pictureHandle), false)) {
        if (link.takeLinkError()) {
            errorId = IDS_ERR_COMMUNICATION;
            return 0;
        }
        if (link.lastResultCode() == ResultNoThumbnail) {
            errorId = IDS_INFO_NO_THUMBNAIL;
            return 1;
        }
        errorId = IDS_ERR_TRANSFER;
        return 0;
    } else if (key) {
        cache->putThumbnail(*key, link.buffers->thumbnail.data, link.buffers->thumbnail.count);
    }
    setThumbnail(*entry, link.buffers->thumbnail.data, link.buffers->thumbnail.count);
    link.buffers->releaseThumbnail();
    return 1;
}

// Decodes a thumbnail (JPEG, or the camera's uncompressed TIFF) into the slot's bitmap. One that
// does not decode leaves the placeholder; it is not an error.
void AcquireDialog::setThumbnail(PictureEntry& entry, const uint8_t* data, uint32_t count) {
    HDC dc = GetDC(hwnd());
    HPALETTE previous = nullptr;
    const bool dither = sharedPalette != nullptr;
    if (dither) {
        previous = SelectPalette(dc, sharedPalette, FALSE);
        RealizePalette(dc);
    }
    HBITMAP bitmap = nullptr;
    if (count > 0 && data[0] == 0xFF) {
        JpegDecoder decoder;
        decoder.attach(data, clampedLength(count));
        if (decoder.decode()) bitmap = decoder.createBitmap(dc, dither ? 1 : 0);
    } else if (count > 0) {
        TiffThumbnailDecoder decoder;
        decoder.attach(data, clampedLength(count));
        if (decoder.decode()) bitmap = decoder.createBitmap(dc, dither ? 1 : 0);
    }
    if (bitmap) {
        if (entry.thumbnail) DeleteObject(entry.thumbnail);
        entry.thumbnail = bitmap;
    }
    if (previous) SelectPalette(dc, previous, FALSE);
    ReleaseDC(hwnd(), dc);
}

int AcquireDialog::downloadPicture(int slot) {
    const PictureEntry* entry = list.entry(slot);
    if (!entry || !entry->pictureHandle) return 0;
    const uint32_t expected = entry->sizeKiB ? entry->sizeKiB * 1024u : unknownPictureSize;
    const PictureKey* key = cachedKey(slot);
    if (const std::vector<uint8_t>* kept = key ? cache->picture(*key) : nullptr) {
        if (LinkBuffers::replace(link.buffers->jpeg, static_cast<uint32_t>(kept->size()))) {
            std::memcpy(link.buffers->jpeg.data, kept->data(), kept->size());
            return 1;
        }
    }
    if (link.GetJpeg(static_cast<uint16_t>(entry->pictureHandle), expected, false)) {
        if (key) cache->putPicture(*key, link.buffers->jpeg.data, link.buffers->jpeg.count);
        return 1;
    }
    if (link.takeLinkError()) {
        errorId = IDS_ERR_COMMUNICATION;
    } else if (!link.downloadCancelled) {
        errorId = IDS_ERR_TRANSFER;
    }
    return 0;
}

// ---- commands ----

int AcquireDialog::firstSelectedSlot() const {
    for (int i = 0; grid && i < list.count; ++i)
        if (grid->isSelected(i)) return i;
    return -1;
}

int AcquireDialog::firstSelectedSlotWithoutThumbnail() const {
    for (int i = 0; grid && i < list.count; ++i)
        if (grid->isSelected(i) && !list.entries[i].thumbnail) return i;
    return -1;
}

void AcquireDialog::onCommand(int id, int notifyCode, HWND control) {
    switch (id) {
    case IDC_AQUIRE:
    case IDC_SHOW_INFO:
    case IDC_THUMBNAIL:
        // The buttons are disabled while listing; a command sent to them anyway waits too.
        if (busy) return;
        if (id == IDC_AQUIRE) onAquire();
        if (id == IDC_SHOW_INFO) onShowInfo();
        if (id == IDC_THUMBNAIL) onThumbnail();
        return;
    default:
        DialogWindow::onCommand(id, notifyCode, control);
    }
}

void AcquireDialog::onCancel() {
    if (busy)
        stopRequested = 1;
    else
        endDialog(IDCANCEL);
}

void AcquireDialog::onAquire() {
    const int slot = firstSelectedSlot();
    if (slot < 0) {
        errorBeep();
        return;
    }
    errorId = 0;
    if (downloadPicture(slot)) {
        link.hideProgress();
        endDialog(IDOK);
    } else if (errorId) {
        UpdateWindow(hwnd());
        failWith(errorId);
    }
    // Cancelled by the user in the progress window: the dialog stays open.
}

void AcquireDialog::onShowInfo() {
    const int slot = firstSelectedSlot();
    if (slot < 0) {
        errorBeep();
        return;
    }
    PictureEntry& entry = list.entries[slot];
    PictureInfoText text;
    text.clear();
    {
        WaitCursor wait;
        uint16_t scratch = 0;
        if (!link.GetImgInfo(entry.pictureNumber, &scratch, false)) {
            failWith(link.takeLinkError() ? IDS_ERR_COMMUNICATION : IDS_ERR_TRANSFER);
            return;
        }
        const LinkBuffer& block = link.buffers->imageInfo;
        ExifReader reader;
        reader.attach(block.data, clampedLength(block.count));
        if (reader.readInfo())
            fillPictureInfoText(factsOf(reader.info), text);
        else if (reader.info.width != 0)
            fillPictureSizeOnly(factsOf(reader.info), text);
        link.buffers->releaseImageInfo();
    }
    ImageInfoDialog information(static_cast<unsigned>(slot + 1), text, entry, hwnd());
    information.run();
}

void AcquireDialog::onThumbnail() {
    const int slot = firstSelectedSlotWithoutThumbnail();
    if (slot < 0 || !list.entries[slot].pictureHandle) {
        errorBeep();
        return;
    }
    int fetched;
    {
        WaitCursor wait;
        errorId = 0;
        fetched = fetchThumbnail(slot);
    }
    if (!fetched)
        failWith(errorId ? errorId : IDS_ERR_TRANSFER);
    else if (errorId == IDS_INFO_NO_THUMBNAIL)
        showMessage(IDS_INFO_NO_THUMBNAIL, MB_ICONINFORMATION);
    else if (grid)
        InvalidateRect(grid->hwnd(), nullptr, FALSE);
}

// The information dialog asks for the thumbnail of the selected picture. 0 asks it to close.
LRESULT AcquireDialog::onFetchThumbnailRequest() {
    if (busy) return 1;  // the listing has the link
    const int slot = firstSelectedSlotWithoutThumbnail();
    if (slot < 0 || !list.entries[slot].pictureHandle) return 1;
    int fetched;
    {
        WaitCursor wait;
        errorId = 0;
        fetched = fetchThumbnail(slot);
    }
    if (!fetched) {
        showMessage(errorId ? errorId : IDS_ERR_TRANSFER, MB_ICONEXCLAMATION);
        if (alive()) PostMessageA(hwnd(), WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    if (errorId == IDS_INFO_NO_THUMBNAIL)
        showMessage(IDS_INFO_NO_THUMBNAIL, MB_ICONINFORMATION);
    else if (grid)
        InvalidateRect(grid->hwnd(), nullptr, FALSE);
    // Ended under the box: the information dialog closes too.
    if (!alive()) return 0;
    return 1;
}

// ---- window messages ----

void AcquireDialog::onSelectionChanged() {
    HWND aquire = item(IDC_AQUIRE);
    // While listing Aquire is disabled and cannot take the focus.
    if (IsWindowEnabled(aquire)) SendMessageA(hwnd(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(aquire), TRUE);
    if (grid && grid->hwnd()) InvalidateRect(grid->hwnd(), nullptr, FALSE);
}

INT_PTR AcquireDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
    handled = true;
    switch (message) {
    case UM_SELCHANGED:
        onSelectionChanged();
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, 1);
        return TRUE;
    case UM_ACTIVATE_PICTURE:
        if (!busy) onAquire();
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, 1);
        return TRUE;
    case UM_LOAD_PICTURES:
        // Once, from onInitDialog; the same message from anyone else (while the listing runs,
        // stops or reports its failure) starts no second listing.
        if (busy && !listingBegun) loadPictures();
        return TRUE;
    case UM_FETCH_THUMBNAIL:
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, onFetchThumbnailRequest());
        return TRUE;
    case UM_CONTEXT_HELP:
        showContextHelp(hwnd(), acquireHelp, std::size(acquireHelp));
        return TRUE;
    case WM_HELP:
        forwardHelpRequest(hwnd());
        return TRUE;
    case WM_QUERYNEWPALETTE: {
        const BOOL changed = realizeSharedPalette(hwnd());
        SetWindowLongPtrA(hwnd(), DWLP_MSGRESULT, changed);
        return changed;
    }
    default:
        break;
    }
    return DialogWindow::onMessage(message, wParam, lParam, handled);
}

const PictureKey* AcquireDialog::cachedKey(int slot) const {
    if (!cache || slot < 0 || static_cast<size_t>(slot) >= keys.size()) return nullptr;
    const PictureKey& key = keys[static_cast<size_t>(slot)];
    return key.info.empty() ? nullptr : &key;  // not listed, or listed without the cache
}

void AcquireDialog::onDestroy() {
    // Thumbnails fetched on request since the listing (a running listing saves when it stops).
    if (cache && !busy) cache->save();
}

void AcquireDialog::onRelease() {
    // The window is gone and none of our handlers runs: the grid first, its cells point into
    // the list. (Not at WM_DESTROY: a handler below may still be on its way out.)
    delete grid;
    grid = nullptr;
    list.clear();
}

// ---- messages to the user ----

void AcquireDialog::showMessage(int stringId, UINT icon) {
    if (alive()) messageBox(hwnd(), static_cast<UINT>(stringId), MB_OK | icon);
}

// Reports a failure that ends the dialog; the camera dialog then closes too.
void AcquireDialog::failWith(int stringId) {
    showMessage(stringId, MB_ICONEXCLAMATION);
    endDialog(ResultReportedError);
}

void AcquireDialog::errorBeep() {
    ++beeps;
    MessageBeep(MB_ICONEXCLAMATION);
}
