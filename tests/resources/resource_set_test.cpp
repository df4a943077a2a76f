// The English and Japanese resource sets, read through the platform's own resource loader.
//
// The same program runs twice: once under the default user language and once under a Japanese
// one (LC_ALL=ja_JP.UTF-8 makes Wine's user interface language 0x411 and the ANSI code page 932).
// DORVEX_EXPECT_LANGUAGE ("en" or "ja") says which run this is, so that a run that silently
// stayed in English cannot pass as the Japanese one. Both sets are always checked explicitly by
// language; what the loader hands out without a language (LoadString, CreateDialog) is checked
// against the set of the running language.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dorvex_version.h"
#include "source/module.h"
#include "tests/resources/dialog_template.h"
#include "tests/resources/expected_resources.h"

namespace {

const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

bool japaneseRun() {
    const char* expected = std::getenv("DORVEX_EXPECT_LANGUAGE");
    return expected && std::string(expected) == "ja";
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

BOOL CALLBACK collectBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR param) {
    if (IS_INTRESOURCE(name)) reinterpret_cast<std::set<UINT>*>(param)->insert(LOWORD(name));
    return TRUE;
}

// Every string of one language, read block by block from the module's RT_STRING resources.
std::map<UINT, std::wstring> stringTable(LANGID language) {
    std::map<UINT, std::wstring> table;
    std::set<UINT> blocks;
    EnumResourceNamesW(moduleInstance(), reinterpret_cast<LPCWSTR>(RT_STRING), collectBlock, reinterpret_cast<LONG_PTR>(&blocks));
    for (UINT block : blocks) {
        HRSRC found = FindResourceExW(moduleInstance(), reinterpret_cast<LPCWSTR>(RT_STRING), MAKEINTRESOURCEW(block), language);
        if (!found) continue;
        const auto* words = static_cast<const WCHAR*>(LockResource(LoadResource(moduleInstance(), found)));
        const size_t count = SizeofResource(moduleInstance(), found) / sizeof(WCHAR);
        size_t pos = 0;
        // A block holds 16 counted strings; ids (block - 1) * 16 + i.
        for (UINT i = 0; i < 16 && pos < count; ++i) {
            const size_t length = words[pos++];
            if (length > count - pos) break;
            if (length) table[(block - 1) * 16 + i] = std::wstring(words + pos, words + pos + length);
            pos += length;
        }
    }
    return table;
}

std::wstring loadStringW(UINT id) {
    const WCHAR* text = nullptr;
    const int length = LoadStringW(moduleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}

// The ANSI route the source's own code takes (LoadStringA, then MessageBoxA / SetWindowTextA),
// turned back into UTF-16 through the ANSI code page.
std::wstring loadStringThroughCodePage(UINT id) {
    char text[512] = {};
    const int length = LoadStringA(moduleInstance(), id, text, sizeof text);
    WCHAR wide[512] = {};
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, length, wide, 512);
    return std::wstring(wide, static_cast<size_t>(wideLength > 0 ? wideLength : 0));
}

}  // namespace

TEST(RunningLanguage, IsTheOneThisRunIsFor) {
    const LANGID ui = GetUserDefaultUILanguage();
    if (japaneseRun()) {
        EXPECT_EQ(ui, japanese);
        EXPECT_EQ(GetACP(), 932u);
    } else {
        EXPECT_EQ(PRIMARYLANGID(ui), LANG_ENGLISH);
    }
}

TEST(StringTables, BothSetsHoldExactlyTheirTexts) {
    for (LANGID language : {english, japanese}) {
        SCOPED_TRACE(language == english ? "English set" : "Japanese set");
        std::map<UINT, std::wstring> table = stringTable(language);
        for (const ExpectedString& expected : expectedStrings()) {
            SCOPED_TRACE(expected.id);
            auto found = table.find(expected.id);
            ASSERT_NE(found, table.end()) << "missing string";
            EXPECT_EQ(utf8(found->second), utf8(language == english ? expected.english : expected.japanese));
            table.erase(found);
        }
        for (const auto& extra : table) ADD_FAILURE() << "string " << extra.first << " is in no table: " << utf8(extra.second);
    }
}

TEST(StringTables, IdentityModelAndQualityNamesAndTheTitleAreTheSameInBothSets) {
    const std::map<UINT, std::wstring> en = stringTable(english), ja = stringTable(japanese);
    for (UINT id : {2000u, 2001u, 2002u, 2003u, 2004u, 2005u, 2006u, 2007u, 2008u, 2009u, 57344u}) {
        SCOPED_TRACE(id);
        ASSERT_TRUE(en.count(id) && ja.count(id));
        EXPECT_EQ(en.at(id), ja.at(id));
        EXPECT_FALSE(en.at(id).empty());
    }
    // Everything else the user reads differs, so a Japanese user never meets an English text.
    for (UINT id : {2010u, 2013u, 2014u, 2015u, 3000u, 3005u, 3100u, 3200u, 4000u, 4014u})
        EXPECT_NE(en.at(id), ja.at(id)) << id;
}

TEST(StringTables, TheLoaderGivesTheRunningLanguagesText) {
    const bool ja = japaneseRun();
    for (const ExpectedString& expected : expectedStrings()) {
        SCOPED_TRACE(expected.id);
        const std::wstring wanted = ja ? expected.japanese : expected.english;
        EXPECT_EQ(utf8(loadStringW(expected.id)), utf8(wanted));
        EXPECT_EQ(utf8(loadStringThroughCodePage(expected.id)), utf8(wanted));
    }
}

namespace {

// The predefined classes appear either as ordinals or by name; class names are case-insensitive.
uint16_t classOrdinal(const DialogControl& control) {
    if (control.classOrdinal) return control.classOrdinal;
    const wchar_t* const names[] = {L"Button", L"Edit", L"Static", L"ListBox", L"ScrollBar", L"ComboBox"};
    for (uint16_t i = 0; i < 6; ++i)
        if (lstrcmpiW(control.className.c_str(), names[i]) == 0) return static_cast<uint16_t>(0x80 + i);
    return 0;
}

bool hasClass(const DialogControl& control, const wchar_t* name) {
    return lstrcmpiW(control.className.c_str(), name) == 0;
}

bool kindMatches(ControlKind kind, const DialogControl& control) {
    const DWORD style = control.style;
    const DWORD staticType = style & SS_TYPEMASK, buttonType = style & 0x0F;
    const bool isStatic = classOrdinal(control) == 0x82, isButton = classOrdinal(control) == 0x80;
    switch (kind) {
    case ControlKind::LeftLabel: return isStatic && staticType == SS_LEFT;
    case ControlKind::RightLabel: return isStatic && staticType == SS_RIGHT;
    case ControlKind::CentreLabel: return isStatic && staticType == SS_CENTER;
    case ControlKind::Bitmap: return isStatic && staticType == SS_BITMAP;
    case ControlKind::Button: return isButton && buttonType == BS_PUSHBUTTON;
    case ControlKind::DefaultButton: return isButton && buttonType == BS_DEFPUSHBUTTON;
    case ControlKind::CheckBox: return isButton && buttonType == BS_AUTOCHECKBOX;
    case ControlKind::Divider: return isButton && buttonType == BS_GROUPBOX;
    case ControlKind::NumberEdit: return classOrdinal(control) == 0x81 && (style & ES_NUMBER);
    case ControlKind::DropList: return classOrdinal(control) == 0x85 && (style & 0x3) == CBS_DROPDOWNLIST;
    case ControlKind::Spin: return hasClass(control, UPDOWN_CLASSW);
    case ControlKind::Progress: return hasClass(control, PROGRESS_CLASSW);
    }
    return false;
}

void expectPlace(const Place& expected, const DialogBox& actual) {
    if (expected.x == unplaced.x) return;
    EXPECT_EQ(actual.x, expected.x);
    EXPECT_EQ(actual.y, expected.y);
    EXPECT_EQ(actual.cx, expected.cx);
    EXPECT_EQ(actual.cy, expected.cy);
}

void expectTemplate(const ExpectedDialog& expected, const DialogTemplate& actual, bool ja, int englishPointSize) {
    ASSERT_TRUE(actual.ok) << "template missing or unreadable";
    EXPECT_EQ(utf8(actual.caption), utf8(ja ? expected.japaneseCaption : expected.englishCaption));
    EXPECT_EQ(utf8(actual.face), utf8(ja ? japaneseDialogFace : englishDialogFace));
    EXPECT_EQ(actual.pointSize, expected.pointSize ? expected.pointSize : englishPointSize);
    if (expected.height > 0) {
        EXPECT_EQ(actual.box.cx, ja ? expected.japaneseWidth : expected.englishWidth);
        EXPECT_EQ(actual.box.cy, expected.height);
    }
    EXPECT_EQ((actual.style & WS_CAPTION) == WS_CAPTION, expected.hasCaption);
    EXPECT_EQ((actual.style & WS_SYSMENU) != 0, expected.hasSystemMenu);
    EXPECT_EQ((actual.exStyle & WS_EX_CONTEXTHELP) != 0, expected.hasContextHelp);
    EXPECT_TRUE(actual.style & DS_MODALFRAME);
    EXPECT_FALSE(actual.style & WS_VISIBLE) << "shown before the code has laid it out";

    ASSERT_EQ(actual.controls.size(), expected.controls.size());
    for (size_t i = 0; i < expected.controls.size(); ++i) {
        const ExpectedControl& want = expected.controls[i];
        const DialogControl& have = actual.controls[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " id " + std::to_string(want.id) + " " + utf8(want.english));
        EXPECT_EQ(static_cast<int16_t>(have.id), want.id);
        EXPECT_TRUE(kindMatches(want.kind, have)) << "class " << have.classOrdinal << " " << utf8(have.className) << " style " << std::hex << have.style;
        EXPECT_EQ(utf8(have.text), utf8(ja ? want.japanese : want.english));
        expectPlace(ja ? want.japanesePlace : want.englishPlace, have.box);
    }
}

}  // namespace

TEST(DialogTemplates, EveryDialogExistsInBothSetsWithItsTextsAndPlaces) {
    for (const ExpectedDialog& expected : expectedDialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        const DialogTemplate en = loadDialogTemplate(moduleInstance(), expected.id, english);
        const DialogTemplate ja = loadDialogTemplate(moduleInstance(), expected.id, japanese);
        {
            SCOPED_TRACE("English");
            expectTemplate(expected, en, false, en.pointSize);
        }
        {
            SCOPED_TRACE("Japanese");
            expectTemplate(expected, ja, true, en.pointSize);
        }
        if (expected.height < 0) {  // laid out by the code: the sets must at least agree
            EXPECT_EQ(en.box.cx, ja.box.cx);
            EXPECT_EQ(en.box.cy, ja.box.cy);
        }
    }
}

TEST(DialogTemplates, AMalformedTemplateIsRefusedNotOverread) {
    const DialogTemplate en = loadDialogTemplate(moduleInstance(), 133, english);
    ASSERT_TRUE(en.ok);
    HRSRC found = FindResourceExW(moduleInstance(), reinterpret_cast<LPCWSTR>(RT_DIALOG), MAKEINTRESOURCEW(133), english);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(moduleInstance(), found)));
    const size_t size = SizeofResource(moduleInstance(), found);
    // Every truncation fails cleanly; the whole resource reads the same controls again.
    for (size_t cut = 0; cut + 4 < size; cut += 7) EXPECT_FALSE(parseDialogTemplate(bytes, cut).ok) << cut;
    EXPECT_EQ(parseDialogTemplate(bytes, size).controls.size(), en.controls.size());
}

namespace {

INT_PTR CALLBACK plainDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

std::wstring windowTextW(HWND window) {
    WCHAR text[512] = {};
    const int length = GetWindowTextW(window, text, 512);
    return std::wstring(text, static_cast<size_t>(length > 0 ? length : 0));
}

std::wstring fontFace(HFONT font) {
    LOGFONTW description = {};
    if (!font || !GetObjectW(font, sizeof description, &description)) return {};
    return description.lfFaceName;
}

// Characters of `text` that the font the dialog was given has no glyph for (they would show
// as boxes). Wine's font replacements decide which real font a Windows face name ends up as.
std::wstring missingGlyphs(HWND dialog, HFONT font, const std::wstring& text) {
    std::wstring missing;
    if (text.empty()) return missing;
    HDC dc = GetDC(dialog);
    HGDIOBJ old = SelectObject(dc, font);
    std::wstring glyphs(text.size(), L'\0');
    const DWORD done = GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), reinterpret_cast<WORD*>(&glyphs[0]),
                                        GGI_MARK_NONEXISTING_GLYPHS);
    for (size_t i = 0; i < text.size(); ++i)
        if (done == GDI_ERROR || static_cast<WORD>(glyphs[i]) == 0xFFFF) missing.push_back(text[i]);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return missing;
}

}  // namespace

// The templates the loader picks without being told a language, created as real windows: the
// running language's captions and texts, its dialog font, and a font that can draw them.
TEST(DialogsOnScreen, ShowTheRunningLanguagesTextsInAFontThatHasTheirGlyphs) {
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_UPDOWN_CLASS | ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&classes));
    const bool ja = japaneseRun();
    for (const ExpectedDialog& expected : expectedDialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(expected.id));
        HWND dialog = CreateDialogParamW(moduleInstance(), MAKEINTRESOURCEW(expected.id), nullptr, plainDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        EXPECT_EQ(utf8(windowTextW(dialog)), utf8(ja ? expected.japaneseCaption : expected.englishCaption));
        const HFONT font = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
        EXPECT_EQ(utf8(fontFace(font)), utf8(ja ? japaneseDialogFace : englishDialogFace));
        std::wstring shown = windowTextW(dialog);
        HWND child = GetWindow(dialog, GW_CHILD);
        for (const ExpectedControl& control : expected.controls) {
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(static_cast<int16_t>(GetDlgCtrlID(child)), control.id);
            if (control.kind != ControlKind::Bitmap) {
                EXPECT_EQ(utf8(windowTextW(child)), utf8(ja ? control.japanese : control.english));
                shown += windowTextW(child);
            }
            child = GetWindow(child, GW_HWNDNEXT);
        }
        EXPECT_EQ(utf8(missingGlyphs(dialog, font, shown)), "");
        DestroyWindow(dialog);
    }
}

// The grid's cell font (string 2016) must draw the running language's quality, date and
// power texts as well.
TEST(DialogsOnScreen, TheCellFontHasGlyphsForTheTextsItDraws) {
    const std::wstring face = loadStringW(2016);
    LOGFONTW description = {};
    description.lfHeight = -12;
    description.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(description.lfFaceName, face.c_str(), LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&description);
    ASSERT_NE(font, nullptr);
    HWND window = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::wstring texts;
    for (UINT id : {2006u, 2007u, 2008u, 2009u, 2010u, 2011u, 2012u, 2013u, 2014u}) texts += loadStringW(id);
    EXPECT_EQ(utf8(missingGlyphs(window, font, texts)), "");
    DestroyWindow(window);
    DeleteObject(font);
}

namespace {

// One string of a version resource's StringFileInfo, in the table its own Translation names.
std::wstring versionString(const std::vector<uint8_t>& block, const wchar_t* name) {
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT size = 0;
    void* data = const_cast<uint8_t*>(block.data());
    if (!VerQueryValueW(data, L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &size) ||
        size < sizeof *translation)
        return L"(no translation)";
    WCHAR path[128];
    wsprintfW(path, L"\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, name);
    WCHAR* value = nullptr;
    if (!VerQueryValueW(data, path, reinterpret_cast<void**>(&value), &size) || !value) return L"(missing)";
    return value;
}

}  // namespace

TEST(VersionResources, EachSetNamesTheModuleWithItsOwnVersion) {
    for (LANGID language : {english, japanese}) {
        SCOPED_TRACE(language == english ? "English set" : "Japanese set");
        HRSRC found = FindResourceExW(moduleInstance(), reinterpret_cast<LPCWSTR>(RT_VERSION), MAKEINTRESOURCEW(1), language);
        ASSERT_NE(found, nullptr);
        const auto* bytes = static_cast<const uint8_t*>(LockResource(LoadResource(moduleInstance(), found)));
        // VerQueryValue may write into the block it reads, so it gets a copy.
        const std::vector<uint8_t> block(bytes, bytes + SizeofResource(moduleInstance(), found));
        // The build's one version definition, with the set's letter.
        const char* version = language == english ? DORVEX_VERSION_TEXT_EN : DORVEX_VERSION_TEXT_JA;
        EXPECT_EQ(utf8(versionString(block, L"FileDescription")), "Dorvex TwainDS");
        EXPECT_EQ(utf8(versionString(block, L"OriginalFilename")), "DorvexTwain.ds");
        EXPECT_EQ(utf8(versionString(block, L"ProductName")), "Dorvex");
        EXPECT_EQ(utf8(versionString(block, L"CompanyName")), "Zelmar Corporation");
        EXPECT_EQ(utf8(versionString(block, L"FileVersion")), version);
        EXPECT_EQ(utf8(versionString(block, L"ProductVersion")), version);
        VS_FIXEDFILEINFO* fixed = nullptr;
        UINT size = 0;
        std::vector<uint8_t> copy = block;
        ASSERT_TRUE(VerQueryValueW(copy.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
        ASSERT_GE(size, sizeof *fixed);
        const unsigned numbers[] = {DORVEX_VERSION_NUMBERS};
        EXPECT_EQ(fixed->dwFileVersionMS, numbers[0] << 16 | numbers[1]);
        EXPECT_EQ(fixed->dwProductVersionMS, numbers[0] << 16 | numbers[1]);
    }
}
