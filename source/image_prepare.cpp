// prepareImage: the camera dialog's downloaded JPEG becomes the picture waiting for transfer.
// Kept apart from the transfers so that only code which prepares pictures pulls in the decoder.
#include <limits>
#include <new>

#include "imaging/jpeg_decoder.h"
#include "source/source_session.h"

int SourceSession::prepareImage(const uint8_t* data, uint32_t size) {
    if (!data || size == 0 || size > uint32_t(std::numeric_limits<int32_t>::max())) return 0;
    // Decoded apart first: a picture that fails to decode leaves the one pending as it was.
    JpegDecoder* decoder = new (std::nothrow) JpegDecoder();
    if (!decoder) return 0;
    // The decoder reads its input only during decode(); the caller may free it afterwards.
    if (!decoder->attach(data, int32_t(size)) || !decoder->decode() || !decoder->pixels) {
        delete decoder;
        return 0;
    }
    // One picture at a time: the new one replaces the old, pending or not, and its transfer
    // starts again at the top row.
    discardPicture();
    decodedImage = decoder;
    return 1;
}
