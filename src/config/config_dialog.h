#pragma once
// The configuration dialog frmConfig's procedures. It is loaded, hidden, by the
// first access to one of its controls and destroyed by Save, Cancel and Exit.

#include "forms/forms.h"
#include "persist/errorreport.h"

// Installs the dialog's loader (builds the dialog, then runs its Form_Load),
// through which frmConfig() loads it.
void InstallConfigDialog();

void frmConfig_Form_Load();

// Show gCommPort, gFlowControl and gParity in the dialog's boxes: as the list
// entry where one stands for the value, otherwise as stored (the boxes take any
// text), so an untouched Save keeps the value. Steps are the caller's.
void ShowCommPort(const Steps& step);
void ShowFlowControl(const Steps& step);
void ShowParity(const Steps& step);
void lblMode_Click(int index);
void btnSave_Click();
void StoreSettings();
void btnCancel_Click();
