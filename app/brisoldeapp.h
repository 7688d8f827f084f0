// The application object: start-up, the per-user profile, the document
// template, the command line and the About command.
#pragma once

#include "commandline.h"
#include "templateserver.h"
#include "winapp.h"

#include <memory>
#include <optional>

class QPrinter;

class CBrisoldeApp : public framework::WinApp
{
public:
    CBrisoldeApp();
    ~CBrisoldeApp() override;

    bool InitInstance() override;

    void OnAppAbout();
    void OnFilePrintSetup();

    // Carries out the command line; false when the program is to end.
    bool ProcessShellCommand(const CCommandLineInfo& info);

    // The arguments after the program's name; the process's own unless set.
    void setArguments(const QList<QByteArray>& arguments) { m_arguments = arguments; }

    // Class factory for embedded documents, connected to the document template.
    embedding::TemplateServer m_server;

private:
    std::unique_ptr<QPrinter> m_printer;
    std::optional<QList<QByteArray>> m_arguments;
};
