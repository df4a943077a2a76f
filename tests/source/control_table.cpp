#include "tests/source/control_table.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr int unchanged = -1;
constexpr int endTransfer = -2;  // 6 stays 6 (picture not delivered); 7 (delivered) goes to 5

struct ControlRow {
    const char* name;
    TW_UINT16 dat;
    TW_UINT16 msg;
    bool validMessage;
    int firstState;
    int lastState;
    bool stateFirst;
    int nextState;
};

const ControlRow rows[] = {
    {"IDENTITY/GET", DAT_IDENTITY, MSG_GET, true, 3, 7, false, unchanged},
    {"IDENTITY/OPENDS", DAT_IDENTITY, MSG_OPENDS, true, 3, 3, false, 4},
    {"IDENTITY/CLOSEDS", DAT_IDENTITY, MSG_CLOSEDS, true, 4, 7, false, 3},
    {"IDENTITY/SET", DAT_IDENTITY, MSG_SET, false, 3, 7, false, unchanged},
    {"IDENTITY/USERSELECT", DAT_IDENTITY, MSG_USERSELECT, false, 3, 7, false, unchanged},
    {"USERINTERFACE/ENABLEDS", DAT_USERINTERFACE, MSG_ENABLEDS, true, 4, 4, false, 5},
    {"USERINTERFACE/DISABLEDS", DAT_USERINTERFACE, MSG_DISABLEDS, true, 5, 7, false, 4},
    {"USERINTERFACE/ENABLEDSUIONLY", DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, false, 3, 7, false, unchanged},
    {"USERINTERFACE/GET", DAT_USERINTERFACE, MSG_GET, false, 3, 7, false, unchanged},
    {"STATUS/GET", DAT_STATUS, MSG_GET, true, 3, 7, false, unchanged},
    {"STATUS/SET", DAT_STATUS, MSG_SET, false, 3, 7, false, unchanged},
    {"PENDINGXFERS/GET", DAT_PENDINGXFERS, MSG_GET, true, 4, 7, false, unchanged},
    {"PENDINGXFERS/RESET", DAT_PENDINGXFERS, MSG_RESET, true, 6, 7, false, 5},
    {"PENDINGXFERS/ENDXFER", DAT_PENDINGXFERS, MSG_ENDXFER, true, 6, 7, false, endTransfer},
    {"PENDINGXFERS/SET", DAT_PENDINGXFERS, MSG_SET, false, 3, 7, false, unchanged},
    {"SETUPMEMXFER/GET", DAT_SETUPMEMXFER, MSG_GET, true, 4, 6, true, unchanged},
    {"SETUPMEMXFER/SET", DAT_SETUPMEMXFER, MSG_SET, false, 4, 6, true, unchanged},
    {"SETUPFILEXFER/GET", DAT_SETUPFILEXFER, MSG_GET, false, 3, 7, false, unchanged},
    {"SETUPFILEXFER/SET", DAT_SETUPFILEXFER, MSG_SET, false, 3, 7, false, unchanged},
    {"XFERGROUP/GET", DAT_XFERGROUP, MSG_GET, true, 4, 6, true, unchanged},
    {"XFERGROUP/SET", DAT_XFERGROUP, MSG_SET, false, 4, 6, true, unchanged},
    {"EVENT/GET", DAT_EVENT, MSG_GET, false, 3, 7, false, unchanged},
    {"PARENT/OPENDSM", DAT_PARENT, MSG_OPENDSM, false, 3, 7, false, unchanged},
    {"NULL/XFERREADY", DAT_NULL, MSG_XFERREADY, false, 3, 7, false, unchanged},
    {"0x0042/GET", 0x0042, MSG_GET, false, 3, 7, false, unchanged},
};

TW_UINT16 expectedCode(const ControlRow& row, int state) {
    const bool inRange = state >= row.firstState && state <= row.lastState;
    if (row.stateFirst && !inRange) return TWCC_SEQERROR;
    if (!row.validMessage) return TWCC_BADPROTOCOL;
    return inRange ? TWCC_SUCCESS : TWCC_SEQERROR;
}

int expectedState(const ControlRow& row, int state) {
    if (row.nextState == unchanged) return state;
    if (row.nextState == endTransfer) return state == 7 ? 5 : 6;
    return row.nextState;
}

}  // namespace

void checkControlTable(ControlDriver& driver, int firstState, int lastState) {
    for (int state = firstState; state <= lastState; ++state) {
        for (const ControlRow& row : rows) {
            SCOPED_TRACE(::testing::Message() << row.name << " in state " << state);
            driver.reach(state);
            ASSERT_EQ(driver.currentState(), state);
            // Room for any of the structures, zeroed: a user interface without ShowUI, an
            // identity with Id 0, and so on.
            alignas(8) uint8_t data[512];
            std::memset(data, 0, sizeof data);
            const TW_UINT16 code = expectedCode(row, state);
            const TW_UINT16 rc = driver.call(DG_CONTROL, row.dat, row.msg, data);
            EXPECT_EQ(rc, code == TWCC_SUCCESS ? TWRC_SUCCESS : TWRC_FAILURE);
            EXPECT_EQ(driver.lastConditionCode(), code);
            EXPECT_EQ(driver.currentState(), code == TWCC_SUCCESS ? expectedState(row, state) : state);
        }
    }
}
