#include "camera/link_buffers.h"

#include <cstdlib>
#include <cstring>

LinkBuffers::LinkBuffers() {
    replace(statusMessage, 9);
    replace(statusRecord, 34);
}

LinkBuffers::~LinkBuffers() {
    release(statusMessage);
    release(statusRecord);
    release(imageInfo);
    release(thumbnail);
    release(spare);
    release(jpeg);
}

void LinkBuffers::release(LinkBuffer& buffer) {
    std::free(buffer.data);
    buffer.data = nullptr;
    buffer.count = 0;
}

bool LinkBuffers::resize(LinkBuffer& buffer, uint32_t count) {
    if (count == 0) {
        release(buffer);
        return true;
    }
    void* grown = std::realloc(buffer.data, count);
    if (!grown) return false;
    buffer.data = static_cast<uint8_t*>(grown);
    buffer.count = count;
    return true;
}

bool LinkBuffers::replace(LinkBuffer& buffer, uint32_t count) {
    release(buffer);
    if (count == 0) return true;
    void* block = std::calloc(count, 1);
    if (!block) return false;
    buffer.data = static_cast<uint8_t*>(block);
    buffer.count = count;
    return true;
}
