// The language number: the section of the language file that holds the user's language.
#pragma once

#include <windows.h>

// The language number of a 16-bit language identifier; 1 for every identifier not in the table.
int LanguageNumberFromLangId(LANGID langId);

// True for the languages written from right to left (Arabic, Persian): their dialog reads mirrored.
bool IsRightToLeftLanguage(int languageNumber);
