#pragma once
// The main window Main: its controls, start-up and the small commands.

#include "forms/forms.h"

// Window heights of the two views and their common width, in twips.
inline constexpr int kCompactHeight = 3165;
inline constexpr int kExtendedHeight = 6495;
inline constexpr int kMainWidth = 5565;

// Creates the main window, runs Form_Load and shows it.
void LoadMain();
// Destroys the main window; with no window left the program ends.
void UnloadMain();

void Form_Load();
void Label1_DblClick();
void btnConfigure_Click();
void btnExit_Click();
