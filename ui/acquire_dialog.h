// AcquireDialog: the modal picture browser (dialog 131). It lists the camera's pictures into
// the thumbnail grid, fetches thumbnails, shows a picture's recorded information and downloads
// the chosen picture's JPEG into the camera link's JPEG buffer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/dialog_window.h"
#include "ui/listing_fetcher.h"
#include "ui/picture_cache.h"
#include "ui/picture_list.h"

class CameraLink;
struct SourceSettings;
class ThumbnailGrid;

class AcquireDialog : public DialogWindow {
public:
    // Result of run() after an error that has already been shown to the user; the camera
    // dialog closes as well.
    static constexpr INT_PTR ResultReportedError = 3;

    AcquireDialog(CameraLink& link, SourceSettings& settings);
    ~AcquireDialog() override;

    // IDOK: the chosen picture's JPEG is in the link's JPEG buffer (the caller consumes and
    // releases it); IDCANCEL: closed by the user or setup failed; 3: an error was reported.
    INT_PTR run(HWND parent);

    // State a test or a driver can watch while the dialog runs.
    bool isBusy() const { return busy != 0; }
    const PictureList& pictures() const { return list; }
    ThumbnailGrid* thumbnailGrid() const { return grid; }
    int beepCount() const { return beeps; }

    // How long a stopped listing lets the exchange on the line end by itself before abandoning
    // it (ms). Tests shorten it.
    DWORD listingStopGraceMs = ListingFetcher::defaultStopGraceMs;

protected:
    BOOL onInitDialog() override;
    void onCommand(int id, int notifyCode, HWND control) override;
    void onOK() override {}  // only Aquire ends the dialog with IDOK
    void onCancel() override;
    void onDestroy() override;
    void onRelease() override;
    INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

private:
    bool createGrid();
    void layOut();
    void setCommandButtons(bool enabled);
    void loadPictures();
    void loadCache();
    bool showListedPicture(ListedPicture& picture, int slot, bool& thumbnailMissing, int& failure);
    void fillSlotTexts(PictureEntry& entry, const uint8_t* block, uint32_t count);
    void finishListing(bool thumbnailMissing);
    int fetchThumbnail(int slot);
    void setThumbnail(PictureEntry& entry, const uint8_t* data, uint32_t count);
    int downloadPicture(int slot);
    const PictureKey* cachedKey(int slot) const;
    int firstSelectedSlot() const;
    int firstSelectedSlotWithoutThumbnail() const;
    void onAquire();
    void onShowInfo();
    void onThumbnail();
    LRESULT onFetchThumbnailRequest();
    void onSelectionChanged();
    void showMessage(int stringId, UINT icon);
    void failWith(int stringId);
    void errorBeep();

    CameraLink& link;
    SourceSettings& settings;
    ThumbnailGrid* grid = nullptr;
    PictureList list;
    // With the cache on: what identifies each slot's picture, from its listing.
    PictureCache* cache = nullptr;
    std::vector<PictureKey> keys;
    int errorId = 0;
    int stopRequested = 0;
    int busy = 0;
    bool listingBegun = false;  // set once per run: no message starts a second listing
    int beeps = 0;
};
