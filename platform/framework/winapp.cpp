#include "winapp.h"

#include "doctemplate.h"
#include "document.h"
#include "framewnd.h"

#include "afxres.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenu>
#include <QSocketNotifier>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <errno.h> // errno, program_invocation_short_name
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace framework {
namespace {

WinApp* g_app = nullptr;

// Shown filter texts keep the patterns they were written with; the ones that are
// matched follow them in a second pair of parentheses, which the dialog hides.
QString dialogFilter(const QString& name, const QString& extension)
{
    QString pattern = QStringLiteral("*");
    for (const QChar c : extension) {
        if (c.isLetter())
            pattern += QStringLiteral("[%1%2]").arg(c.toLower()).arg(c.toUpper());
        else
            pattern += c;
    }
    return name + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

// The signals that end a session (a logout, a closed terminal, Ctrl+C or a
// plain kill) reach the event loop through a pipe: the handler only writes
// the signal's number, which is safe in a signal handler, and the loop reads
// it and ends the program as File > Exit does.
class EndSignals
{
public:
    explicit EndSignals(WinApp* app)
    {
        s_interrupted = 0;
        s_handled = false;
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        m_notifier = std::make_unique<QSocketNotifier>(s_pipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [app] {
            char numbers[64];
            bool any = false;
            while (::read(s_pipe[0], numbers, sizeof numbers) > 0)
                any = true;
            if (any && !s_handled) {
                s_handled = true;
                app->OnEndSignal();
            }
        });
        struct sigaction action = {};
        action.sa_handler = &EndSignals::onSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kSignals); ++i)
            m_installed[i] = ::sigaction(kSignals[i], &action, &m_previous[i]) == 0;
    }

    ~EndSignals()
    {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            if (m_installed[i])
                ::sigaction(kSignals[i], &m_previous[i], nullptr);
        }
        m_notifier.reset();
        for (int& fd : s_pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }

    EndSignals(const EndSignals&) = delete;
    EndSignals& operator=(const EndSignals&) = delete;

private:
    static void onSignal(int signal)
    {
        const int savedErrno = errno;
        // Ctrl+C pressed again while the first one is still being handled:
        // the user insists, and the program ends at once.
        if (signal == SIGINT && s_interrupted) {
            ::signal(SIGINT, SIG_DFL);
            ::raise(SIGINT);
        }
        if (signal == SIGINT)
            s_interrupted = 1;
        const char number = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &number, 1);
        errno = savedErrno;
    }

    static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
    static inline int s_pipe[2] = {-1, -1};
    static inline volatile sig_atomic_t s_interrupted = 0;
    static inline bool s_handled = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous[std::size(kSignals)] = {};
    bool m_installed[std::size(kSignals)] = {};
};

// exit() called while Run runs (the display went away): two hooks, since
// exit handlers run in the reverse order of their making and each may only
// use what was made before it. The one made after the start-up runs first and
// may use everything the start-up made (the profile's file access); the one
// made before the start-up covers an exit during it.
WinApp* g_runningApp = nullptr;
bool g_inEventLoop = false;

bool onMainThread()
{
    return QCoreApplication::instance() &&
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

void onExitDuringStartUp(int status, void*)
{
    if (g_runningApp && onMainThread())
        std::exchange(g_runningApp, nullptr)->EndAfterExitCall(status, false);
}

void onExitDuringEventLoop(int status, void*)
{
    if (g_runningApp && g_inEventLoop && onMainThread())
        std::exchange(g_runningApp, nullptr)->EndAfterExitCall(status, true);
}

} // namespace

WinApp::WinApp(const ResourceModule& resources, const char* appName) : m_resources(resources)
{
    AfxSetResourceHandle(&m_resources);
    m_strAppName = appName ? QString::fromUtf8(appName) : m_resources.loadString(AFX_IDS_APP_TITLE);
    m_strProfileName = m_strAppName;
    g_app = this;

    onCommand(ID_FILE_NEW, [this] { OnFileNew(); });
    onCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
    onCommandRange(ID_FILE_MRU_FILE1, ID_FILE_MRU_FILE16, [this](int id) { OnOpenRecentFile(id); });
    onUpdateCommandUI(ID_FILE_MRU_FILE1, [this](CmdUI& ui) {
        if (!m_pRecentFileList || !ui.m_pMenu || !ui.m_pAction)
            return;
        QMenu* menu = ui.m_pMenu;
        // The placeholder is the item that carries the first id and no path.
        QAction* placeholder = nullptr;
        for (QAction* action : menu->actions()) {
            if (action->property("framework.recentFileEntry").toBool())
                continue;
            if (action->property("framework.commandId").toInt() == ID_FILE_MRU_FILE1)
                placeholder = action;
        }
        FrameWnd* frame = m_pMainWnd ? m_pMainWnd.data() : nullptr;
        if (!placeholder || !frame)
            return;
        m_pRecentFileList->UpdateMenu(menu, placeholder, [frame, menu](int id, const QString& t) {
            return frame->addCommandAction(new QAction(t, menu), id);
        });
    });
    onCommand(ID_APP_EXIT, [this] {
        if (m_pMainWnd)
            m_pMainWnd->close();
    });
}

WinApp::~WinApp()
{
    m_pDocTemplate.reset();
    if (g_app == this)
        g_app = nullptr;
    if (&AfxGetResourceHandle() == &m_resources)
        AfxSetResourceHandle(nullptr);
}

WinApp* WinApp::instance()
{
    return g_app;
}

bool WinApp::InitInstance()
{
    return true;
}

int WinApp::ExitInstance()
{
    if (m_saveSettingsAtExit)
        SaveStdProfileSettings();
    return 0;
}

int WinApp::Run()
{
    // From the start: a signal that comes while the program starts up is
    // carried out as soon as the event loop runs.
    const EndSignals endSignals(this);
    static const bool startUpHooked = ::on_exit(&onExitDuringStartUp, nullptr) == 0;
    (void)startUpHooked;
    g_runningApp = this;
    int result = 0;
    if (InitInstance()) {
        static const bool loopHooked = ::on_exit(&onExitDuringEventLoop, nullptr) == 0;
        (void)loopHooked;
        g_inEventLoop = true;
        result = QApplication::exec();
        g_inEventLoop = false;
    } else {
        result = m_quitCode;
    }
    g_runningApp = nullptr;
    if (m_pDocTemplate)
        m_pDocTemplate->CloseAllDocuments();
    const int exitCode = ExitInstance();
    return result != 0 ? result : exitCode;
}

void WinApp::OnEndSignal()
{
    if (m_pMainWnd)
        m_pMainWnd->sendCommand(ID_APP_EXIT);
    // Also ends the loops of modal dialogs and a run without a main window.
    QCoreApplication::exit(0);
}

void WinApp::EndAfterExitCall(int status, bool saveSettings)
{
    std::fprintf(stderr, "%s: the connection to the display was lost, so the program ends.\n",
                 program_invocation_short_name);
    OnExitWhileRunning();
    if (saveSettings)
        ExitInstance();
    std::fflush(nullptr);
    ::_exit(status);
}

void WinApp::PostQuitMessage(int exitCode)
{
    m_quitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

void WinApp::SetRegistryKey(const char* company)
{
    m_strRegistryKey = QString::fromUtf8(company);
    m_profile = Profile(Profile::locationFor(m_strRegistryKey, m_strProfileName));
}

int WinApp::GetProfileInt(const char* section, const char* entry, int defaultValue) const
{
    return m_profile.getInt(section, entry, defaultValue);
}

bool WinApp::WriteProfileInt(const char* section, const char* entry, int value) const
{
    return m_profile.writeInt(section, entry, value);
}

std::string WinApp::GetProfileString(const char* section, const char* entry,
                                     const char* defaultValue) const
{
    if (auto value = m_profile.getString(section, entry))
        return *std::move(value);
    return defaultValue ? std::string(defaultValue) : std::string();
}

bool WinApp::WriteProfileString(const char* section, const char* entry, const char* value) const
{
    if (!value)
        return m_profile.removeEntry(section, entry);
    return m_profile.writeString(section, entry, value);
}

bool WinApp::WriteProfileString(const char* section, const char* entry,
                                const std::string& value) const
{
    return m_profile.writeString(section, entry, value);
}

void WinApp::LoadStdProfileSettings(int maxMRU)
{
    if (maxMRU > 0) {
        m_pRecentFileList = std::make_unique<RecentFileList>(kRecentFileListSection,
                                                             kRecentFileEntryFormat, maxMRU, 30);
        m_pRecentFileList->setFirstCommandId(ID_FILE_MRU_FILE1);
        m_pRecentFileList->ReadList(m_profile);
    }
    m_nNumPreviewPages = GetProfileInt(kPreviewPagesSection, kPreviewPagesEntry, 0);
}

void WinApp::SaveStdProfileSettings()
{
    if (m_pRecentFileList)
        m_pRecentFileList->WriteList(m_profile);
    if (m_nNumPreviewPages != 0)
        WriteProfileInt(kPreviewPagesSection, kPreviewPagesEntry, m_nNumPreviewPages);
}

void WinApp::AddToRecentFileList(const std::string& path)
{
    if (m_pRecentFileList)
        m_pRecentFileList->Add(path);
}

void WinApp::AddDocTemplate(SingleDocTemplate* docTemplate)
{
    m_pDocTemplate.reset(docTemplate);
}

Document* WinApp::OpenDocumentFile(const std::string& path)
{
    return m_pDocTemplate ? m_pDocTemplate->OpenDocumentFile(path) : nullptr;
}

void WinApp::OnFileNew()
{
    if (m_pDocTemplate)
        m_pDocTemplate->OpenDocumentFile(std::nullopt);
}

void WinApp::OnFileOpen()
{
    if (const auto path = DoPromptFileName())
        OpenDocumentFile(*path);
}

QStringList WinApp::fileDialogFilters() const
{
    QStringList filters;
    if (m_pDocTemplate) {
        const QString name = m_pDocTemplate->GetDocString(SingleDocTemplate::filterName);
        const QString ext = m_pDocTemplate->GetDocString(SingleDocTemplate::filterExt);
        if (!name.isEmpty() && !ext.isEmpty())
            filters << dialogFilter(name, ext);
    }
    filters << m_resources.loadString(AFX_IDS_ALLFILTER) + QStringLiteral(" (*)");
    return filters;
}

std::optional<std::string> WinApp::DoPromptFileName()
{
    const QStringList filters = fileDialogFilters();
    const QString file = QFileDialog::getOpenFileName(
        m_pMainWnd, m_resources.loadString(AFX_IDS_OPENFILE), QDir::currentPath(),
        filters.join(QStringLiteral(";;")), nullptr, QFileDialog::HideNameFilterDetails);
    if (file.isEmpty())
        return std::nullopt;
    return QFile::encodeName(file).toStdString();
}

void WinApp::OnOpenRecentFile(int id)
{
    if (!m_pRecentFileList)
        return;
    const int index = id - m_pRecentFileList->firstCommandId();
    if (index < 0 || index >= m_pRecentFileList->GetSize())
        return;
    const std::string path = (*m_pRecentFileList)[index];
    if (!path.empty())
        OpenDocumentFile(path);
}

} // namespace framework
