// The application object: start-up, the per-user profile, the document
// template and the About command.
#pragma once

#include "winapp.h"

class CBrisoldeApp : public framework::WinApp
{
public:
    CBrisoldeApp();
    ~CBrisoldeApp() override;

    bool InitInstance() override;

    void OnAppAbout();
};

extern CBrisoldeApp theApp;
