#pragma once

// The application title, help file and font substitutions.
void InitApplication();
// Creates the main window, the data module and every other window once, in the fixed order.
// Throws the data layer's error when the database cannot be opened; what was created stays
// for DestroyApplicationForms().
void CreateApplicationForms();
// Destroys them in reverse order; the data module closes its tables.
void DestroyApplicationForms();

inline constexpr const char* kHelpFile = "C:\\Morvanta\\Help\\Morvanta.hlp";
