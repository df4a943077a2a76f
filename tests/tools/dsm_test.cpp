// The Source Manager (TWAIN_32.DLL) as an application and a source see it: enumeration of the
// sources below its folder, opening and closing, routing of triplets, notifications queued and
// delivered through MSG_PROCESSEVENT, and its condition codes.
//
// The sources are two builds of the fake source, copied with a non-source DLL and a junk file
// into a fresh folder that DORVEX_TWAIN_DIR points the manager at. The remembered default
// source is cleared before and after each test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "source/twain.h"
#include "tests/ui/screenshot.h"

namespace {

std::string exeFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\'));
}

template <typename T>
T exported(HMODULE module, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// A folder of sources: Alpha\fake_alpha.ds, deep\er\fake_beta.ds, junk.ds (not a PE file) and
// other\notasource.ds (a DLL without DS_Entry).
class SourceFolder {
public:
    explicit SourceFolder(bool withSources) {
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        root = std::string(temp) + "dsm_test_" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(serial++);
        CreateDirectoryA(root.c_str(), nullptr);
        if (!withSources)
            return;
        std::string bin = exeFolder();
        for (const char* dir : {"\\Alpha", "\\deep", "\\deep\\er", "\\other"})
            CreateDirectoryA((root + dir).c_str(), nullptr);
        CopyFileA((bin + "\\fake_alpha.ds").c_str(), (root + "\\Alpha\\fake_alpha.ds").c_str(), FALSE);
        CopyFileA((bin + "\\fake_beta.ds").c_str(), (root + "\\deep\\er\\fake_beta.ds").c_str(), FALSE);
        CopyFileA((bin + "\\TWAIN_32.DLL").c_str(), (root + "\\other\\notasource.ds").c_str(), FALSE);
        HANDLE junk = CreateFileA((root + "\\junk.ds").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        WriteFile(junk, "not a library", 13, &written, nullptr);
        CloseHandle(junk);
    }
    ~SourceFolder() { removeTree(root); }
    std::string alphaPath() const { return root + "\\Alpha\\fake_alpha.ds"; }
    std::string root;

private:
    static void removeTree(const std::string& dir) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::string name = found.cFileName;
                if (name == "." || name == "..")
                    continue;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    removeTree(dir + "\\" + name);
                else
                    DeleteFileA((dir + "\\" + name).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(dir.c_str());
    }
    static int serial;
};
int SourceFolder::serial = 0;

TW_IDENTITY named(const char* product) {
    TW_IDENTITY id{};
    std::strncpy(id.ProductName, product, sizeof id.ProductName - 1);
    return id;
}

class DsmTest : public ::testing::Test {
protected:
    void SetUp() override { useFolder(true); }

    void useFolder(bool withSources) {
        forgetDefault();
        folder.reset(new SourceFolder(withSources));
        SetEnvironmentVariableA("DORVEX_TWAIN_DIR", folder->root.c_str());
        dsm = LoadLibraryA("TWAIN_32.DLL");
        ASSERT_NE(dsm, nullptr);
        entry = exported<DSMENTRYPROC>(dsm, "DSM_Entry");
        ASSERT_NE(entry, nullptr);
        window = CreateWindowA("STATIC", "dsm test", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        app = TW_IDENTITY{};
        std::strcpy(app.ProductName, "dsm test");
    }

    void TearDown() override {
        for (TW_IDENTITY* source : {&alpha, &beta})
            if (source->Id)
                call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, source);
        if (app.Id)
            call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
        DestroyWindow(window);
        FreeLibrary(dsm);
        folder.reset();
        forgetDefault();
    }

    static void forgetDefault() {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, rememberedKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, rememberedValue);
        RegCloseKey(key);
    }
    static std::string rememberedDefault() {
        char text[64] = "";
        DWORD size = sizeof text - 1;
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, rememberedKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "(none)";
        LONG rc = RegQueryValueExA(key, rememberedValue, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS ? std::string(text) : "(none)";
    }
    static constexpr const char* rememberedKey = "Software\\Dorvex\\Source Manager";
    static constexpr const char* rememberedValue = "Default Source";

    TW_UINT16 call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
        return entry(&app, dest, dg, dat, msg, data);
    }
    TW_UINT16 managerStatus() {
        TW_STATUS status{0xAAAA, 0xBBBB};
        EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
        EXPECT_EQ(status.Reserved, 0);
        return status.ConditionCode;
    }
    void openManager() { ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window), TWRC_SUCCESS); }
    void openSource(TW_IDENTITY& source, const char* product) {
        source = named(product);
        ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source), TWRC_SUCCESS);
    }
    void closeSource(TW_IDENTITY& source) {
        ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
        source.Id = 0;
    }
    void enable(TW_IDENTITY& source) {
        TW_USERINTERFACE ui{TRUE, FALSE, window};
        ASSERT_EQ(call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
    }
    // MSG_PROCESSEVENT for a message of the given kind; returns the result, TWMessage in out.
    TW_UINT16 processEvent(TW_IDENTITY& source, UINT kind, TW_UINT16& out) {
        MSG msg{window, kind, 0, 0, 0, {0, 0}};
        TW_EVENT event{&msg, 0xEEEE};
        TW_UINT16 result = call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        out = event.TWMessage;
        return result;
    }
    HMODULE fakeModule(const char* name) { return GetModuleHandleA(name); }

    std::unique_ptr<SourceFolder> folder;
    HMODULE dsm = nullptr;
    DSMENTRYPROC entry = nullptr;
    HWND window = nullptr;
    TW_IDENTITY app{}, alpha{}, beta{};
};

TEST_F(DsmTest, OpenManagerAssignsAnIdAndRefusesBadWindowsAndRepeats) {
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &alpha), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, nullptr), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADVALUE);
    HWND notAWindow = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &notAWindow), TWRC_FAILURE);
    EXPECT_EQ(app.Id, 0u);
    openManager();
    EXPECT_NE(app.Id, 0u);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    EXPECT_EQ(managerStatus(), TWCC_SUCCESS);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_NULL, &window), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADPROTOCOL);
}

TEST_F(DsmTest, EnumeratesEverySourceBelowTheFolderInPathOrder) {
    openManager();
    TW_IDENTITY id{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Alpha");
    EXPECT_STREQ(id.Manufacturer, "Test Maker");
    EXPECT_STREQ(id.Version.Info, "fake 1.0");
    TW_UINT32 alphaId = id.Id;
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Beta");
    TW_UINT32 betaId = id.Id;
    // Every source has an Id of its own, none of them the application's.
    EXPECT_NE(alphaId, 0u);
    EXPECT_NE(betaId, 0u);
    EXPECT_NE(alphaId, betaId);
    EXPECT_NE(alphaId, app.Id);
    EXPECT_NE(betaId, app.Id);
    // junk.ds and notasource.ds are no sources.
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_ENDOFLIST);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_FAILURE);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Alpha");
    EXPECT_EQ(id.Id, alphaId);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, alphaId);
    // The same Ids in the manager's next session.
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
    app.Id = 0;
    openManager();
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, alphaId);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id), TWRC_SUCCESS);
    EXPECT_EQ(id.Id, betaId);
    // Enumerating loaded each source and let it go again.
    EXPECT_EQ(fakeModule("fake_alpha.ds"), nullptr);
    EXPECT_EQ(fakeModule("fake_beta.ds"), nullptr);
}

int fakeSourceLoads() {
    char text[16] = "0";
    GetEnvironmentVariableA("DORVEX_FAKE_SOURCE_LOADS", text, sizeof text);
    return std::atoi(text);
}

TEST_F(DsmTest, ReopeningTheManagerLoadsOnlySourcesThatChanged) {
    SetEnvironmentVariableA("DORVEX_FAKE_SOURCE_LOADS", "0");
    openManager();
    EXPECT_EQ(fakeSourceLoads(), 2);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
        app.Id = 0;
        openManager();
    }
    EXPECT_EQ(fakeSourceLoads(), 2);
    TW_IDENTITY id{};
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Alpha");

    // Another library in Alpha's place is asked again on the next opening.
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
    app.Id = 0;
    ASSERT_TRUE(CopyFileA((exeFolder() + "\\fake_beta.ds").c_str(), folder->alphaPath().c_str(), FALSE));
    HANDLE file = CreateFileA(folder->alphaPath().c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME later{0x12345678u, 0x01D00000u};
    SetFileTime(file, nullptr, nullptr, &later);
    CloseHandle(file);
    openManager();
    EXPECT_EQ(fakeSourceLoads(), 3);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Beta");
}

TEST_F(DsmTest, DefaultIsTheFirstSourceUntilOneIsOpenedOrSelected) {
    openManager();
    TW_IDENTITY id{};
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Alpha");
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, nullptr), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADVALUE);
    // Opening a source makes it the user's default, in this session and the next.
    openSource(beta, "Fake Beta");
    EXPECT_EQ(rememberedDefault(), "Fake Beta");
    id = TW_IDENTITY{};
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Beta");
    EXPECT_EQ(id.Id, beta.Id);
    closeSource(beta);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
    app.Id = 0;
    openManager();
    TW_IDENTITY unnamed{};
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &unnamed), TWRC_SUCCESS);
    EXPECT_STREQ(unnamed.ProductName, "Fake Beta");
    beta = unnamed;
    closeSource(beta);
    // A remembered source that is no longer installed leaves the first one as the default.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, rememberedKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, rememberedValue, 0, REG_SZ, reinterpret_cast<const BYTE*>("Gone Away"), 10);
    RegCloseKey(key);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Alpha");
}

// Drives the "Select Source" dialog from another thread, by its control ids: waits for it (at
// most 10 s), records the names listed and the one selected at first, selects `pick` (-1 to
// leave the selection) and presses `button`.
struct SelectDialogDriver {
    int pick = -1;
    int button = IDOK;
    bool found = false;
    std::vector<std::string> names;
    int initial = -2;
    HWND owner = nullptr;

    static DWORD WINAPI run(void* self) {
        auto& d = *static_cast<SelectDialogDriver*>(self);
        HWND dialog = nullptr;
        for (int i = 0; i < 200 && !dialog; ++i) {
            // Visible only once WM_INITDIALOG has filled the list and set its selection.
            dialog = FindWindowA("#32770", "Select Source");
            if (dialog && !IsWindowVisible(dialog))
                dialog = nullptr;
            if (!dialog)
                Sleep(50);
        }
        if (!dialog)
            return 0;
        d.found = true;
        d.owner = GetWindow(dialog, GW_OWNER);
        HWND list = GetDlgItem(dialog, 1001);
        int count = static_cast<int>(SendMessageA(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count && i < 64; ++i) {
            char text[64] = "";
            if (SendMessageA(list, LB_GETTEXTLEN, i, 0) < LRESULT(sizeof text))
                SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            d.names.push_back(text);
        }
        d.initial = static_cast<int>(SendMessageA(list, LB_GETCURSEL, 0, 0));
        if (d.pick >= 0)
            SendMessageA(list, LB_SETCURSEL, d.pick, 0);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(d.button, BN_CLICKED), 0);
        return 0;
    }
};

TEST_F(DsmTest, UserSelectShowsTheSourcesAndRemembersTheChoice) {
    openManager();
    TW_IDENTITY listed[2];
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &listed[0]), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &listed[1]), TWRC_SUCCESS);

    auto select = [&](SelectDialogDriver& driver, TW_IDENTITY& id) {
        HANDLE thread = CreateThread(nullptr, 0, SelectDialogDriver::run, &driver, 0, nullptr);
        TW_UINT16 rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id);
        WaitForSingleObject(thread, 15000);
        CloseHandle(thread);
        return rc;
    };
    // Cancel: nothing chosen, nothing remembered, no failure to report.
    SelectDialogDriver cancel;
    cancel.button = IDCANCEL;
    TW_IDENTITY id = named("Untouched");
    EXPECT_EQ(select(cancel, id), TWRC_CANCEL);
    ASSERT_TRUE(cancel.found);
    EXPECT_EQ(cancel.names, (std::vector<std::string>{"Fake Alpha", "Fake Beta"}));
    EXPECT_EQ(cancel.initial, 0);
    EXPECT_EQ(cancel.owner, window);
    EXPECT_STREQ(id.ProductName, "Untouched");
    EXPECT_EQ(managerStatus(), TWCC_SUCCESS);
    EXPECT_EQ(rememberedDefault(), "(none)");

    // OK on the second: its identity with its Id, and it is the default from now on.
    SelectDialogDriver second;
    second.pick = 1;
    id = TW_IDENTITY{};
    ASSERT_EQ(select(second, id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Beta");
    EXPECT_EQ(id.Id, listed[1].Id);
    EXPECT_EQ(rememberedDefault(), "Fake Beta");
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_SUCCESS);
    EXPECT_STREQ(id.ProductName, "Fake Beta");

    // The next time the list starts at the default; OK as it stands takes it.
    SelectDialogDriver asItStands;
    id = TW_IDENTITY{};
    ASSERT_EQ(select(asItStands, id), TWRC_SUCCESS);
    EXPECT_EQ(asItStands.initial, 1);
    EXPECT_EQ(id.Id, listed[1].Id);
}

// The dialog in the user's language: run in English and under LC_ALL=ja_JP.UTF-8 (see
// DORVEX_EXPECT_LANGUAGE), its title and buttons read back as UTF-16; under with_screenshots.sh
// it is photographed (select_source_en.png, select_source_ja.png).
TEST_F(DsmTest, UserSelectSpeaksTheUsersLanguage) {
    const char* language = std::getenv("DORVEX_EXPECT_LANGUAGE");
    if (!language)
        GTEST_SKIP() << "run with DORVEX_EXPECT_LANGUAGE=en or ja";
    const bool japanese = std::string(language) == "ja";
    struct Seen {
        HWND dialog = nullptr;
        std::wstring title, ok, cancel, first;
        bool photographed = false;
    } seen;
    auto text = [](HWND window) {
        WCHAR buffer[128] = {};
        GetWindowTextW(window, buffer, 128);
        return std::wstring(buffer);
    };
    openManager();
    std::thread driver([&] {
        // Ours is the only dialog of this process with the source list (id 1001).
        for (int i = 0; i < 200 && !seen.dialog; ++i) {
            HWND found = nullptr;
            while ((found = FindWindowExA(nullptr, found, "#32770", nullptr)) != nullptr) {
                DWORD process = 0;
                GetWindowThreadProcessId(found, &process);
                if (process == GetCurrentProcessId() && GetDlgItem(found, 1001) && IsWindowVisible(found))
                    seen.dialog = found;
            }
            if (!seen.dialog)
                Sleep(50);
        }
        if (!seen.dialog)
            return;
        seen.title = text(seen.dialog);
        seen.ok = text(GetDlgItem(seen.dialog, IDOK));
        seen.cancel = text(GetDlgItem(seen.dialog, IDCANCEL));
        WCHAR name[64] = {};
        if (SendMessageW(GetDlgItem(seen.dialog, 1001), LB_GETTEXTLEN, 0, 0) < 64)
            SendMessageW(GetDlgItem(seen.dialog, 1001), LB_GETTEXT, 0, reinterpret_cast<LPARAM>(name));
        seen.first = name;
        if (std::getenv("DORVEX_SHOT_DIR")) {
            SetCursorPos(0, 0);
            Sleep(300);
            seen.photographed = takeScreenshot("select_source", seen.dialog);
        }
        PostMessageA(seen.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    TW_IDENTITY id{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_CANCEL);
    driver.join();
    ASSERT_NE(seen.dialog, nullptr) << "no Select Source dialog came up";
    EXPECT_EQ(seen.title, japanese ? L"\u30BD\u30FC\u30B9\u306E\u9078\u629E" : L"Select Source");  // ソースの選択
    EXPECT_EQ(seen.ok, L"OK");
    EXPECT_EQ(seen.cancel, japanese ? L"\uFF77\uFF6C\uFF9D\uFF7E\uFF99" : L"Cancel");  // ｷｬﾝｾﾙ
    EXPECT_EQ(seen.first, L"Fake Alpha");
    if (std::getenv("DORVEX_SHOT_DIR")) {
        EXPECT_TRUE(seen.photographed);
    }
}

// The application closes the manager from a timer while the Select Source dialog runs its
// loop: the selection then fails cleanly instead of touching the closed session.
struct CloseFromTimer {
    DSMENTRYPROC entry;
    TW_IDENTITY* app;
    HWND* window;
    TW_UINT16 result = 0xFFFF;
};
CloseFromTimer closeFromTimer;

void CALLBACK closeManagerNow(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    closeFromTimer.result =
        closeFromTimer.entry(closeFromTimer.app, nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, closeFromTimer.window);
}

TEST_F(DsmTest, ClosingTheManagerDuringSelectSourceFailsTheSelection) {
    openManager();
    closeFromTimer = CloseFromTimer{entry, &app, &window};
    UINT_PTR timer = SetTimer(nullptr, 0, 100, closeManagerNow);
    ASSERT_NE(timer, 0u);
    struct Driver {
        static DWORD WINAPI run(void*) {
            HWND dialog = nullptr;
            for (int i = 0; i < 200 && !dialog; ++i) {
                dialog = FindWindowA("#32770", "Select Source");
                Sleep(50);
            }
            Sleep(500);  // the timer has fired by now
            if (dialog)
                PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
    };
    HANDLE thread = CreateThread(nullptr, 0, Driver::run, nullptr, 0, nullptr);
    TW_IDENTITY id{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &id), TWRC_FAILURE);
    WaitForSingleObject(thread, 15000);
    CloseHandle(thread);
    EXPECT_EQ(closeFromTimer.result, TWRC_SUCCESS);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    EXPECT_EQ(id.ProductName[0], '\0');
    EXPECT_EQ(rememberedDefault(), "(none)");
    app.Id = 0;  // closed already
}

TEST_F(DsmTest, EmptyFolderHasNoSources) {
    TearDown();
    useFolder(false);
    openManager();
    TW_IDENTITY id{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_NODS);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_NODS);
    id = named("Fake Alpha");
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_NODS);
}

TEST_F(DsmTest, OpenDsLoadsTheSourceAssignsAnIdAndPassesTheApplication) {
    openManager();
    openSource(beta, "Fake Beta");
    EXPECT_NE(beta.Id, 0u);
    EXPECT_NE(beta.Id, app.Id);
    EXPECT_STREQ(beta.Manufacturer, "Test Maker");
    HMODULE module = fakeModule("fake_beta.ds");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(exported<int (*)()>(module, "FakeSource_state")(), 4);
    EXPECT_EQ(exported<TW_UINT32 (*)()>(module, "FakeSource_id")(), beta.Id);
    TW_UINT32 originId = 0, dg = 0;
    TW_UINT16 dat = 0, msg = 0;
    TW_MEMREF data = nullptr;
    exported<void (*)(TW_UINT32*, TW_UINT32*, TW_UINT16*, TW_UINT16*, TW_MEMREF*)>(module, "FakeSource_lastCall")(
        &originId, &dg, &dat, &msg, &data);
    EXPECT_EQ(originId, app.Id);
    EXPECT_EQ(msg, MSG_OPENDS);
    EXPECT_EQ(data, &beta);

    TW_IDENTITY again = named("Fake Beta");
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &again), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    // An empty identity means the default source: the one last opened, here already open.
    TW_IDENTITY fallback{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &fallback), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    openSource(alpha, "Fake Alpha");
    fallback = alpha;
    EXPECT_NE(alpha.Id, beta.Id);

    // The manager cannot close while sources are open.
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    closeSource(beta);
    EXPECT_EQ(fakeModule("fake_beta.ds"), nullptr);
    TW_IDENTITY stale = fallback;
    stale.Id = 999;
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &stale), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_NODS);
}

TEST_F(DsmTest, RefusedOpenReportsTheSourcesConditionCodeAndUnloadsIt) {
    openManager();
    // Hold the library ourselves so that the switch set here survives until the manager loads it.
    HMODULE held = LoadLibraryA(folder->alphaPath().c_str());
    ASSERT_NE(held, nullptr);
    exported<void (*)(TW_UINT16)>(held, "FakeSource_failOpen")(TWCC_MAXCONNECTIONS);
    TW_IDENTITY id = named("Fake Alpha");
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id), TWRC_FAILURE);
    EXPECT_EQ(id.Id, 0u);
    EXPECT_EQ(managerStatus(), TWCC_MAXCONNECTIONS);
    exported<void (*)(TW_UINT16)>(held, "FakeSource_failOpen")(TWCC_SUCCESS);
    FreeLibrary(held);
    EXPECT_EQ(fakeModule("fake_alpha.ds"), nullptr);
    openSource(alpha, "Fake Alpha");
}

TEST_F(DsmTest, TripletsWithADestinationReachOnlyThatSource) {
    openManager();
    openSource(alpha, "Fake Alpha");
    openSource(beta, "Fake Beta");
    auto lastCall = exported<void (*)(TW_UINT32*, TW_UINT32*, TW_UINT16*, TW_UINT16*, TW_MEMREF*)>(
        fakeModule("fake_beta.ds"), "FakeSource_lastCall");
    auto alphaCalls = exported<int (*)()>(fakeModule("fake_alpha.ds"), "FakeSource_callCount");
    int alphaBefore = alphaCalls();

    TW_CAPABILITY cap{ICAP_BITDEPTH, TWON_DONTCARE16, nullptr};
    ASSERT_EQ(call(&beta, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    GlobalFree(cap.hContainer);
    TW_UINT32 originId = 0, dg = 0;
    TW_UINT16 dat = 0, msg = 0;
    TW_MEMREF data = nullptr;
    lastCall(&originId, &dg, &dat, &msg, &data);
    EXPECT_EQ(originId, app.Id);
    EXPECT_EQ(dg, DG_CONTROL);
    EXPECT_EQ(dat, DAT_CAPABILITY);
    EXPECT_EQ(msg, MSG_GET);
    EXPECT_EQ(data, &cap);
    TW_IMAGEINFO info{};
    EXPECT_EQ(call(&beta, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_FAILURE);  // fake: state 4
    lastCall(&originId, &dg, &dat, &msg, &data);
    EXPECT_EQ(dg, DG_IMAGE);
    EXPECT_EQ(dat, DAT_IMAGEINFO);
    EXPECT_EQ(alphaCalls(), alphaBefore);

    // DAT_STATUS with a destination is the source's code; without one, the manager's.
    TW_STATUS status{};
    ASSERT_EQ(call(&beta, DG_CONTROL, DAT_STATUS, MSG_GET, &status), TWRC_SUCCESS);
    EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);
    EXPECT_EQ(managerStatus(), TWCC_SUCCESS);

    TW_IDENTITY unknown = beta;
    unknown.Id = 4242;
    EXPECT_EQ(call(&unknown, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADDEST);
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADPROTOCOL);
    EXPECT_EQ(call(&beta, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, nullptr), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_BADVALUE);
    EXPECT_EQ(alphaCalls(), alphaBefore);
}

TEST_F(DsmTest, NotificationIsPostedQueuedAndDeliveredThroughProcessEvent) {
    openManager();
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    HMODULE module = fakeModule("fake_alpha.ds");
    auto notify = exported<TW_UINT16 (*)(TW_UINT16)>(module, "FakeSource_notify");
    UINT claimed = RegisterWindowMessageA("FakeSource claims this");
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_MOUSEMOVE, out), TWRC_NOTDSEVENT);

    ASSERT_EQ(notify(MSG_XFERREADY), TWRC_SUCCESS);
    ASSERT_EQ(notify(MSG_CLOSEDSREQ), TWRC_SUCCESS);
    // Each notification posted a message to the application's window to wake its loop.
    MSG posted;
    int wakeUps = 0;
    while (PeekMessageA(&posted, window, 0, 0, PM_REMOVE)) {
        if (posted.message >= 0xC000) {
            ++wakeUps;
            EXPECT_EQ(posted.wParam, alpha.Id);
        }
    }
    EXPECT_EQ(wakeUps, 2);

    // The next events deliver them in order, whether the source claims the event or not,
    // and the source still sees each event.
    auto calls = exported<int (*)()>(module, "FakeSource_callCount");
    int before = calls();
    EXPECT_EQ(processEvent(alpha, claimed, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_XFERREADY);
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_CLOSEDSREQ);
    EXPECT_EQ(calls(), before + 2);
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);
    EXPECT_EQ(processEvent(alpha, claimed, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_NULL);
}

TEST_F(DsmTest, NotificationReachesAnApplicationWhoseSourceClaimsEveryEvent) {
    openManager();
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    HMODULE module = fakeModule("fake_alpha.ds");
    exported<void (*)(bool)>(module, "FakeSource_claimEverything")(true);
    auto notify = exported<TW_UINT16 (*)(TW_UINT16)>(module, "FakeSource_notify");
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_MOUSEMOVE, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_NULL);
    ASSERT_EQ(notify(MSG_XFERREADY), TWRC_SUCCESS);
    EXPECT_EQ(processEvent(alpha, WM_MOUSEMOVE, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_XFERREADY);
    EXPECT_EQ(processEvent(alpha, WM_MOUSEMOVE, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_NULL);

    // Our own wake-up message delivers without bothering the source; once its notification
    // is out, a late one is left to the application.
    ASSERT_EQ(notify(MSG_CLOSEDSREQ), TWRC_SUCCESS);
    MSG wakeUp{};
    ASSERT_TRUE(PeekMessageA(&wakeUp, window, 0xC000, 0xFFFF, PM_REMOVE));
    auto calls = exported<int (*)()>(module, "FakeSource_callCount");
    int before = calls();
    TW_EVENT event{&wakeUp, 0xEEEE};
    EXPECT_EQ(call(&alpha, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_DSEVENT);
    EXPECT_EQ(event.TWMessage, MSG_CLOSEDSREQ);
    EXPECT_EQ(calls(), before);
    event.TWMessage = 0xEEEE;
    EXPECT_EQ(call(&alpha, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event), TWRC_NOTDSEVENT);
    EXPECT_EQ(calls(), before);
    exported<void (*)(bool)>(module, "FakeSource_claimEverything")(false);
    MSG drain;
    while (PeekMessageA(&drain, nullptr, 0, 0, PM_REMOVE)) {
    }
}

// A window on a thread of its own that pumps its messages and counts the manager's wake-ups.
class ForeignWindow {
public:
    ForeignWindow() {
        ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, run, this, 0, &threadId);
        WaitForSingleObject(ready, 10000);
    }
    ~ForeignWindow() {
        PostThreadMessageA(threadId, WM_QUIT, 0, 0);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        CloseHandle(ready);
    }
    HWND window = nullptr;
    volatile LONG wakeUps = 0;

private:
    static DWORD WINAPI run(void* self) {
        auto& f = *static_cast<ForeignWindow*>(self);
        f.window = CreateWindowA("STATIC", "foreign parent", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        UINT wake = RegisterWindowMessageA("TWAIN_32 source notification");
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here
        SetEvent(f.ready);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (msg.message == wake)
                InterlockedIncrement(&f.wakeUps);
            DispatchMessageA(&msg);
        }
        DestroyWindow(f.window);
        return 0;
    }
    HANDLE ready = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
};

// Counts the wake-ups waiting in this thread's queue (thread messages and window messages).
int wakeUpsHere(UINT wake, HWND expectedWindow) {
    int count = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == wake && msg.hwnd == expectedWindow)
            ++count;
    return count;
}

TEST_F(DsmTest, NullAndForeignParentsAreAcceptedAndWakeUpsComeToTheApplicationsThread) {
    ForeignWindow foreign;
    ASSERT_NE(foreign.window, nullptr);
    UINT wake = RegisterWindowMessageA("TWAIN_32 source notification");
    HWND desktop = GetDesktopWindow();  // another process's window under Wine
    for (HWND parent : {HWND(nullptr), foreign.window, desktop}) {
        SCOPED_TRACE(parent == nullptr ? "null parent" : parent == desktop ? "desktop" : "another thread's");
        HWND own = window;
        window = parent;
        openManager();
        openSource(alpha, "Fake Alpha");
        TW_USERINTERFACE ui{FALSE, FALSE, parent};
        ASSERT_EQ(call(&alpha, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS);
        wakeUpsHere(wake, nullptr);
        // The idle application's queue gets a message for the thread; the parent gets none.
        ASSERT_EQ(exported<TW_UINT16 (*)(TW_UINT16)>(fakeModule("fake_alpha.ds"), "FakeSource_notify")(MSG_XFERREADY),
                  TWRC_SUCCESS);
        EXPECT_EQ(wakeUpsHere(wake, nullptr), 1);
        TW_UINT16 out = 0;
        EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_DSEVENT);
        EXPECT_EQ(out, MSG_XFERREADY);
        closeSource(alpha);
        ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
        app.Id = 0;
        window = own;
    }
    Sleep(100);
    EXPECT_EQ(foreign.wakeUps, 0);
}

TEST_F(DsmTest, OpenByIdWhenTheNamesSayNothing) {
    openManager();
    TW_IDENTITY first{}, second{};
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &first), TWRC_SUCCESS);
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &second), TWRC_SUCCESS);
    // The second source by its Id alone, and by its Id with another source's name.
    beta = TW_IDENTITY{};
    beta.Id = second.Id;
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &beta), TWRC_SUCCESS);
    EXPECT_STREQ(beta.ProductName, "Fake Beta");
    EXPECT_EQ(beta.Id, second.Id);
    EXPECT_NE(fakeModule("fake_beta.ds"), nullptr);
    EXPECT_EQ(fakeModule("fake_alpha.ds"), nullptr);
    closeSource(beta);
    beta = first;
    beta.Id = second.Id;
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &beta), TWRC_SUCCESS);
    EXPECT_STREQ(beta.ProductName, "Fake Beta");
    // The listed identity as it came opens that source; an open one cannot be opened twice.
    alpha = first;
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &alpha), TWRC_SUCCESS);
    EXPECT_EQ(alpha.Id, first.Id);
    TW_IDENTITY again = second;
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &again), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    // An Id that names nothing, without a name, opens nothing.
    TW_IDENTITY unknown{};
    unknown.Id = 0x7FFFFFF0;
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &unknown), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_NODS);
}

// A source that the 2.x manager opened calls our DSM_Entry with its notifications: they go on
// to that manager's DSM_Entry with the source and application it knows; without that manager
// in the process they are refused.
TEST_F(DsmTest, NotificationsOfAnotherManagersSourceAreForwardedToIt) {
    openManager();
    HMODULE held = LoadLibraryA(folder->alphaPath().c_str());
    ASSERT_NE(held, nullptr);
    auto notify = exported<TW_UINT16 (*)(TW_UINT16)>(held, "FakeSource_notify");
    HMODULE other = LoadLibraryA((exeFolder() + "\\standin\\TWAINDSM.DLL").c_str());
    ASSERT_NE(other, nullptr);
    ASSERT_EQ(exported<TW_UINT16 (*)(const char*)>(other, "StandIn_openSource")(folder->alphaPath().c_str()),
              TWRC_SUCCESS);
    TW_UINT32 appId = exported<TW_UINT32 (*)()>(other, "StandIn_applicationId")();
    TW_UINT32 sourceId = exported<TW_UINT32 (*)()>(other, "StandIn_sourceId")();
    ASSERT_EQ(notify(MSG_XFERREADY), TWRC_SUCCESS);
    ASSERT_EQ(notify(MSG_CLOSEDSREQ), TWRC_SUCCESS);
    auto record = exported<bool (*)(int, TW_UINT32*, TW_UINT32*, TW_UINT32*, TW_UINT16*, TW_UINT16*)>(
        other, "StandIn_record");
    ASSERT_EQ(exported<int (*)()>(other, "StandIn_recordCount")(), 2);
    const TW_UINT16 expected[] = {MSG_XFERREADY, MSG_CLOSEDSREQ};
    for (int i = 0; i < 2; ++i) {
        TW_UINT32 originId = 0, destId = 0, dg = 0;
        TW_UINT16 dat = 0, msg = 0;
        ASSERT_TRUE(record(i, &originId, &destId, &dg, &dat, &msg));
        EXPECT_EQ(originId, sourceId);
        EXPECT_EQ(destId, appId);
        EXPECT_EQ(dg, DG_CONTROL);
        EXPECT_EQ(dat, DAT_NULL);
        EXPECT_EQ(msg, expected[i]);
    }
    // Our own application saw nothing of it.
    EXPECT_EQ(managerStatus(), TWCC_SUCCESS);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0xC000, 0xFFFF, PM_REMOVE));

    // Without the other manager nobody knows that application: refused.
    exported<void (*)()>(other, "StandIn_releaseSource")();
    FreeLibrary(other);
    ASSERT_EQ(GetModuleHandleA("TWAINDSM.DLL"), nullptr);
    EXPECT_EQ(notify(MSG_XFERREADY), TWRC_FAILURE);
    TW_IDENTITY standInApp{};
    standInApp.Id = appId;
    auto sourceEntry = exported<DSENTRYPROC>(held, "DS_Entry");
    TW_IDENTITY source{};
    EXPECT_EQ(sourceEntry(&standInApp, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source), TWRC_SUCCESS);
    FreeLibrary(held);
}

TEST_F(DsmTest, NotificationsGoOnlyToTheSourceThatSentThem) {
    openManager();
    openSource(alpha, "Fake Alpha");
    openSource(beta, "Fake Beta");
    enable(alpha);
    enable(beta);
    auto notifyBeta = exported<TW_UINT16 (*)(TW_UINT16)>(fakeModule("fake_beta.ds"), "FakeSource_notify");
    ASSERT_EQ(notifyBeta(MSG_CLOSEDSREQ), TWRC_SUCCESS);
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);
    EXPECT_EQ(processEvent(beta, WM_TIMER, out), TWRC_DSEVENT);
    EXPECT_EQ(out, MSG_CLOSEDSREQ);
}

TEST_F(DsmTest, BadNotificationsAreRefusedAndQueueNothing) {
    openManager();
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    HMODULE module = fakeModule("fake_alpha.ds");
    auto notify = exported<TW_UINT16 (*)(TW_UINT16)>(module, "FakeSource_notify");
    auto notifyAs = exported<TW_UINT16 (*)(TW_UINT32, TW_UINT32, TW_UINT16)>(module, "FakeSource_notifyAs");
    EXPECT_EQ(notify(MSG_OPENDS), TWRC_FAILURE);
    EXPECT_EQ(notifyAs(4242, app.Id, MSG_XFERREADY), TWRC_FAILURE);    // not an open source
    EXPECT_EQ(notifyAs(alpha.Id, 4242, MSG_XFERREADY), TWRC_FAILURE);  // not its application
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);
    // The application's own condition code was not touched by the source's mistakes.
    EXPECT_EQ(managerStatus(), TWCC_SUCCESS);
}

TEST_F(DsmTest, ClosingASourceDropsItsNotificationsAndTheQueueIsBounded) {
    openManager();
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    auto notify = exported<TW_UINT16 (*)(TW_UINT16)>(fakeModule("fake_alpha.ds"), "FakeSource_notify");
    ASSERT_EQ(notify(MSG_XFERREADY), TWRC_SUCCESS);
    closeSource(alpha);
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);

    notify = exported<TW_UINT16 (*)(TW_UINT16)>(fakeModule("fake_alpha.ds"), "FakeSource_notify");
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(notify(i == 19 ? MSG_CLOSEDSREQ : MSG_XFERREADY), TWRC_SUCCESS);
    int delivered = 0;
    TW_UINT16 last = 0;
    while (delivered < 100 && processEvent(alpha, WM_TIMER, out) == TWRC_DSEVENT) {
        ++delivered;
        last = out;
    }
    EXPECT_EQ(delivered, 16);
    EXPECT_EQ(last, MSG_CLOSEDSREQ);  // the oldest were dropped, not the newest
    MSG drain;
    while (PeekMessageA(&drain, window, 0, 0, PM_REMOVE)) {
    }
}

// What the application does from inside a source's call (a modal loop of the source running
// the application's window procedure): here, it tries to close that very source.
struct Reentry {
    DSMENTRYPROC entry;
    TW_IDENTITY* app;
    TW_IDENTITY* source;
    TW_UINT16 closeResult;
    TW_UINT16 closeCode;
};
Reentry reentry;

void closeFromInside() {
    reentry.closeResult = reentry.entry(reentry.app, nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, reentry.source);
    TW_STATUS status{};
    reentry.entry(reentry.app, nullptr, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    reentry.closeCode = status.ConditionCode;
}

TEST_F(DsmTest, ASourceCannotBeClosedFromInsideItsOwnCall) {
    openManager();
    openSource(alpha, "Fake Alpha");
    enable(alpha);
    HMODULE module = fakeModule("fake_alpha.ds");
    reentry = Reentry{entry, &app, &alpha, 0xFFFF, 0xFFFF};
    exported<void (*)(void (*)())>(module, "FakeSource_reenterOnNextEvent")(closeFromInside);
    TW_UINT16 out = 0;
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);
    EXPECT_EQ(reentry.closeResult, TWRC_FAILURE);
    EXPECT_EQ(reentry.closeCode, TWCC_SEQERROR);
    // Still open and served; closing afterwards works.
    EXPECT_EQ(exported<int (*)()>(module, "FakeSource_state")(), 5);
    EXPECT_EQ(processEvent(alpha, WM_TIMER, out), TWRC_NOTDSEVENT);
    closeSource(alpha);
}

TEST_F(DsmTest, CloseManagerForgetsTheApplication) {
    openManager();
    TW_UINT32 first = app.Id;
    ASSERT_EQ(call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window), TWRC_SUCCESS);
    TW_IDENTITY id{};
    EXPECT_EQ(call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id), TWRC_FAILURE);
    EXPECT_EQ(managerStatus(), TWCC_SEQERROR);
    app.Id = 0;
    openManager();
    EXPECT_NE(app.Id, first);
}

}  // namespace
