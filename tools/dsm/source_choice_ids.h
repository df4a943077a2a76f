// Resource ids of the manager's "Select Source" dialog (C++ and the resource script).
#pragma once

#define IDD_SELECT_SOURCE 100
#define IDC_SOURCE_LIST 1001
