// Resource and control ids shared by the dialog template and the program.
// The control ids the update logic touches are in update_logic.h.
#pragma once

#define IDD_UPDATER 101
// Created at run time, not part of the template.
#define IDC_STATUS_BAR 100
