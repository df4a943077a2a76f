// Times the acquire dialog against a paced simulator: listing with automatic thumbnails and the
// download of picture 1 (Aquire to the dialog's end), with the picture cache off, then on over
// three Opens. Run by tests/bench/acquire_list.sh, which turns the times into line efficiencies
// with the simulator's trace. Prints key=value lines.
#include <windows.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>

#include "camera/camera_link.h"
#include "dialog_driver.h"
#include "imaging/jpeg_decoder.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/acquire_dialog.h"
#include "ui/picture_cache.h"
#include "ui/source_settings.h"

namespace {

double seconds() {
    static LARGE_INTEGER frequency{};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Lines in the simulator's trace so far (it is flushed per line): marks where a phase's
// exchanges begin and end, for the script to count their bytes.
long traceLines(const char* path) {
    if (!path) return 0;
    Sleep(300);  // let the last exchange's lines reach the file
    FILE* f = fopen(path, "rb");
    if (!f) return 0;
    long lines = 0;
    int c;
    while ((c = fgetc(f)) != EOF) lines += c == '\n';
    fclose(f);
    return lines;
}

struct Phase {
    double listSeconds = 0;
    double downloadSeconds = 0;
    int pictures = 0;
    int thumbnails = 0;
    INT_PTR result = 0;
    uint32_t jpegBytes = 0;
};

// One Open: times the listing, then Aquire of slot 0 (or Cancel). Prints the trace marks.
Phase openOnce(CameraLink& link, SourceSettings& settings, HWND owner, bool aquire, const char* name,
               const char* trace) {
    Phase phase;
    AcquireDialog dialog(link, settings);
    DialogDriver driver;
    double start = 0, clicked = 0;
    long listEnd = 0;
    const long listStart = traceLines(trace);
    // From run() on: what the user waits for includes the dialog's opening. (Taken when the
    // driver first saw the window, the start would come only once the listing's first pump
    // ran, after the first picture had crossed the line.)
    driver.add("listed", [&] { return !dialog.isBusy() && IsWindowEnabled(dialog.item(IDC_AQUIRE)); }, [&] {
        phase.listSeconds = seconds() - start;
        phase.pictures = dialog.pictures().count;
        for (int i = 0; i < phase.pictures; ++i) phase.thumbnails += dialog.pictures().entries[i].thumbnail ? 1 : 0;
        listEnd = traceLines(trace);
        clicked = seconds();
        DialogDriver::click(dialog.hwnd(), aquire ? IDC_AQUIRE : IDCANCEL);  // slot 0 is selected
    });
    driver.start(600000);
    start = seconds();
    phase.result = dialog.run(owner);
    phase.downloadSeconds = seconds() - clicked;
    driver.stop();
    phase.jpegBytes = link.buffers->jpeg.count;
    printf("%s_list_seconds=%.3f %s_pictures=%d %s_thumbnails=%d %s_list_lines=%ld:%ld\n", name, phase.listSeconds,
           name, phase.pictures, name, phase.thumbnails, name, listStart, listEnd);
    if (aquire)
        printf("%s_download_seconds=%.3f %s_jpeg_bytes=%u %s_result=%d %s_download_lines=%ld:%ld\n", name,
               phase.downloadSeconds, name, static_cast<unsigned>(phase.jpegBytes), name, static_cast<int>(phase.result),
               name, listEnd, traceLines(trace));
    fflush(stdout);
    return phase;
}

}  // namespace

// argv[1]: the simulator's trace (Windows path); argv[2]: a scratch cache file.
int main(int argc, char** argv) {
    const char* trace = argc > 1 ? argv[1] : nullptr;
    HWND owner = CreateWindowExA(0, "STATIC", "camera", WS_POPUP | WS_VISIBLE, 0, 0, 200, 100, nullptr, nullptr,
                                 moduleInstance(), nullptr);
    CameraLink link(1);
    if (!link.createWindow(owner)) return 2;
    const uint8_t port = 1;
    link.SetIO(port, 9600, 0, 0, 8, 2, false);
    link.linkError = 0;
    if (!link.SetIO(port, 115200, 0, 0, 8, 2, false) || !link.GetStat(0, false)) {
        printf("error=connect\n");
        return 1;
    }
    SourceSettings settings;
    settings.autoThumbnails = 1;

    // Cache off: what every Open costs without it.
    settings.cache = 0;
    const Phase off = openOnce(link, settings, owner, true, "off", trace);
    const LinkBuffer& jpeg = link.buffers->jpeg;
    JpegDecoder decoder;
    decoder.attach(jpeg.data, static_cast<int32_t>(jpeg.count));
    const double decodeStart = seconds();
    const int decoded = decoder.decode();
    const double decodeEnd = seconds();
    printf("decode_ok=%d decode_seconds=%.3f size=%dx%d\n", decoded, decodeEnd - decodeStart, decoder.width,
           decoder.height);
    link.buffers->releaseJpeg();

    // Cache on, starting empty: the first Open fills it, the second finds every thumbnail; the
    // second Open's Aquire downloads the picture, a third Open's Aquire of it crosses no wire.
    settings.cache = 1;
    if (argc > 2) DeleteFileA(argv[2]);
    pictureCache().clearMemory();
    pictureCache().setFile(argc > 2 ? argv[2] : "");
    openOnce(link, settings, owner, false, "first", trace);
    openOnce(link, settings, owner, true, "second", trace);
    link.buffers->releaseJpeg();
    const Phase again = openOnce(link, settings, owner, true, "again", trace);
    link.buffers->releaseJpeg();
    link.SetIO(port, 9600, 0, 0, 8, 2, false);
    DestroyWindow(owner);
    if (argc > 2) DeleteFileA(argv[2]);
    return off.result == IDOK && again.result == IDOK ? 0 : 1;
}
