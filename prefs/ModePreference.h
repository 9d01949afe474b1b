// The per-user memory of the chosen mode: 1 for "Adapter Mode", 0 for "Adapter + Battery Mode".
#pragma once

constexpr int MODE_PREFERENCE_READ = 1;
constexpr int MODE_PREFERENCE_WRITE = 2;

// Reads (operation 1) or writes (operation 2) the stored mode. A read of a missing or unreadable
// value stores 1 and hands back 1; when the registry cannot be opened, value is left as it was.
void AccessModePreference(int operation, int& value);

// Reads the stored mode without changing anything: false when there is none that can be read.
bool PeekModePreference(int& value);
