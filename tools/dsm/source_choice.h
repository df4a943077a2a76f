// The user's choice of source: the "Select Source" dialog of MSG_USERSELECT and the default
// source remembered per user in the registry.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "tools/dsm/source_choice_ids.h"

// Control id of the dialog's list (besides IDOK and IDCANCEL), for whoever drives it.
constexpr int selectSourceListId = IDC_SOURCE_LIST;

// Where the default is remembered: HKEY_CURRENT_USER\<rememberedSourceKey>, REG_SZ value
// <rememberedSourceValue> holding the source's product name.
constexpr char rememberedSourceKey[] = "Software\\Dorvex\\Source Manager";
constexpr char rememberedSourceValue[] = "Default Source";

// Shows the modal dialog with the names listed and `initial` selected. The index chosen, -1
// when the user cancels, -2 when the dialog cannot be shown.
int askUserForSource(HWND owner, const std::vector<std::string>& names, size_t initial);

// The product name last remembered, "" when there is none.
std::string rememberedSource();
void rememberSource(const char* productName);

// True for a window of this process (one of another process makes no owner for our dialog:
// its process may not be answering).
bool windowOfThisProcess(HWND window);
