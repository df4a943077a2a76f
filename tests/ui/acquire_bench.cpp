// Times the acquire dialog against a paced simulator: listing with automatic thumbnails and the
// download of picture 1 (Aquire to the dialog's end). Run by tests/bench/acquire_list.sh, which
// turns the times into line efficiencies with the simulator's trace. Prints key=value lines.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "camera/camera_link.h"
#include "dialog_driver.h"
#include "imaging/jpeg_decoder.h"
#include "resources/resource_ids.h"
#include "source/module.h"
#include "ui/acquire_dialog.h"
#include "ui/source_settings.h"

namespace {

double seconds() {
    static LARGE_INTEGER frequency{};
    if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int main() {
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
    AcquireDialog dialog(link, settings);
    DialogDriver driver;
    double start = 0, listed = 0, clicked = 0;
    int pictures = 0, thumbnails = 0;
    driver.add("open", [&] { return dialog.hwnd() != nullptr; }, [&] { start = seconds(); });
    driver.add("listed", [&] { return !dialog.isBusy() && IsWindowEnabled(dialog.item(IDC_AQUIRE)); }, [&] {
        listed = seconds();
        pictures = dialog.pictures().count;
        for (int i = 0; i < pictures; ++i) thumbnails += dialog.pictures().entries[i].thumbnail ? 1 : 0;
        clicked = seconds();
        DialogDriver::click(dialog.hwnd(), IDC_AQUIRE);  // slot 0 is selected
    });
    driver.start(600000);
    const double opened = seconds();
    const INT_PTR result = dialog.run(owner);
    const double done = seconds();
    driver.stop();
    const LinkBuffer& jpeg = link.buffers->jpeg;
    const uint32_t jpegBytes = jpeg.count;
    JpegDecoder decoder;
    decoder.attach(jpeg.data, static_cast<int32_t>(jpeg.count));
    const double decodeStart = seconds();
    const int decoded = decoder.decode();
    const double decodeEnd = seconds();
    link.buffers->releaseJpeg();
    link.SetIO(port, 9600, 0, 0, 8, 2, false);
    printf("result=%d\n", static_cast<int>(result));
    printf("pictures=%d thumbnails=%d\n", pictures, thumbnails);
    printf("list_seconds=%.3f\n", listed - (start ? start : opened));
    printf("download_seconds=%.3f\n", done - clicked);
    printf("jpeg_bytes=%u\n", static_cast<unsigned>(jpegBytes));
    printf("decode_ok=%d decode_seconds=%.3f size=%dx%d\n", decoded, decodeEnd - decodeStart, decoder.width,
           decoder.height);
    printf("messages=%u\n", static_cast<unsigned>(driver.messages.size()));
    DestroyWindow(owner);
    return result == IDOK ? 0 : 1;
}
