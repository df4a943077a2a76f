#include "tools/dsm/open_source.h"

#include "tools/dsm/source_catalog.h"

OpenSource::~OpenSource() {
    if (module)
        FreeLibrary(module);
}

bool OpenSource::load(const std::string& path) {
    module = loadSourceLibrary(path);
    if (!module)
        return false;
    entry = sourceEntry(module);
    if (!entry) {
        FreeLibrary(module);
        module = nullptr;
        return false;
    }
    return true;
}

TW_UINT16 OpenSource::call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
    ++callDepth;
    TW_UINT16 result = entry(origin, dg, dat, msg, data);
    --callDepth;
    return result;
}

void OpenSource::unload() {
    if (module)
        FreeLibrary(module);
    module = nullptr;
    entry = nullptr;
}

void OpenSource::freeLibraryKeepingEntry() {
    if (module)
        FreeLibrary(module);
    module = nullptr;
}

TW_UINT16 OpenSource::askStatus(pTW_IDENTITY origin) {
    TW_STATUS status{};
    if (call(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS)
        return TWCC_BUMMER;
    return status.ConditionCode;
}

void OpenSource::queueNotification(TW_UINT16 msg) {
    if (pending.size() >= maxPending)
        pending.pop_front();
    pending.push_back(msg);
}

bool OpenSource::takeNotification(TW_UINT16& msg) {
    if (pending.empty())
        return false;
    msg = pending.front();
    pending.pop_front();
    return true;
}
