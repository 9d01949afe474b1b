// The application object: one copy per log-on, one modal settings dialog, then the end.
#pragma once

#include "framework/Afx.h"

// Name of the mutex that marks a running copy in the log-on's namespace.
constexpr wchar_t kSingleInstanceMutex[] = L"165123CA-1478-4474-A229-3CF2CBFE60A4";

class CPelloranApp : public CWinApp {
public:
    CPelloranApp() = default;
    ~CPelloranApp() override = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};

// True when another copy of the tool already runs in this log-on.
bool AnotherInstanceRuns();
