#include "tests/source/entry_fixture.h"

bool EntryTest::load() {
    module = LoadLibraryA((programDirectory() + "DorvexTwain.ds").c_str());
    if (!module) return false;
    entry = reinterpret_cast<DSENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DS_Entry")));
    return entry != nullptr;
}

void EntryTest::unload() {
    // As a manager does before it unloads a source: disabled and closed, whoever opened it (a
    // source unloaded while enabled stays loaded, and the next test would find it so).
    if (entry) {
        for (TW_IDENTITY* origin : {&app, &otherApp}) {
            TW_USERINTERFACE ui{FALSE, FALSE, nullptr};
            callAs(*origin, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
            callAs(*origin, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, nullptr);
        }
    }
    if (module) FreeLibrary(module);
    module = nullptr;
    entry = nullptr;
    unmapped();
}

bool EntryTest::unmapped() {
    const std::string path = programDirectory() + "DorvexTwain.ds";
    for (int i = 0; i < 1000 && GetModuleHandleA(path.c_str()); ++i) Sleep(20);
    return GetModuleHandleA(path.c_str()) == nullptr;
}

TW_UINT16 EntryTest::conditionCode() {
    TW_STATUS status{0xFFFF, 0xFFFF};
    if (call(DG_CONTROL, DAT_STATUS, MSG_GET, &status) != TWRC_SUCCESS) return 0xFFFF;
    EXPECT_EQ(status.Reserved, 0);
    return status.ConditionCode;
}

int EntryTest::probeState() {
    TW_PENDINGXFERS pending{};
    if (call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending) != TWRC_SUCCESS) return 3;
    if (pending.Count == 0xFFFF) {
        TW_IMAGEINFO info{};
        return call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS ? 6 : 7;
    }
    // States 4 and 5 answer alike except MSG_ENABLEDS: in 5 it is out of sequence, in 4 it
    // is refused for the missing structure before anything happens.
    call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, nullptr);
    return conditionCode() == TWCC_SEQERROR ? 5 : 4;
}

void EntryTest::open(TW_UINT32 sourceId) {
    TW_IDENTITY source{};
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &source), TWRC_SUCCESS);
    source.Id = sourceId;
    ASSERT_EQ(call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
}

void EntryTest::enable(bool showUI, HWND parent) {
    TW_USERINTERFACE ui{TW_BOOL(showUI), TRUE, parent};
    ASSERT_EQ(call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    EXPECT_EQ(ui.ModalUI, FALSE);
}
