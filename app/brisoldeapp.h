// The application object: start-up, the per-user profile, the document
// template, the command line and the About command.
#pragma once

#include "commandline.h"
#include "mprisplayer.h"
#include "templateserver.h"
#include "transport.h"
#include "winapp.h"

#include <memory>
#include <optional>

class QPrinter;

class CBrisoldeApp : public framework::WinApp
{
public:
    // The transport is made with `transportOptions` when the program starts;
    // the program takes the defaults.
    explicit CBrisoldeApp(CTransport::Options transportOptions = {});
    ~CBrisoldeApp() override;

    bool InitInstance() override;
    // The display went away under the running program: the engine stops and
    // silences its port before the program ends.
    void OnExitWhileRunning() override;

    void OnAppAbout();
    void OnFilePrintSetup();

    // Carries out the command line; false when the program is to end.
    bool ProcessShellCommand(const CCommandLineInfo& info);

    // The arguments after the program's name; the process's own unless set.
    void setArguments(const QList<QByteArray>& arguments) { m_arguments = arguments; }

    // Class factory for embedded documents, connected to the document template.
    embedding::TemplateServer m_server;

    // The playback engine, made and started by InitInstance; null before.
    CTransport* transport() const { return m_pTransport.get(); }
    // The player on the session bus for the desktop's media controls; null
    // without a bus, and for a start that serves embedded objects.
    CMprisPlayer* mprisPlayer() const { return m_pMprisPlayer.get(); }

private:
    CTransport::Options m_transportOptions;
    std::unique_ptr<CTransport> m_pTransport;
    std::unique_ptr<CMprisPlayer> m_pMprisPlayer; // goes before the transport
    std::unique_ptr<QPrinter> m_printer;
    std::optional<QList<QByteArray>> m_arguments;
};
