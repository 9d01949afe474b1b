// The about box: the program's name, version and rights, on its own template.
#pragma once

#include "framework/Afx.h"

class CAboutDlg : public CDialog {
public:
    CAboutDlg();
    ~CAboutDlg() override = default;

    DECLARE_MESSAGE_MAP()
};
