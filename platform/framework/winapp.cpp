#include "winapp.h"

#include "doctemplate.h"
#include "document.h"
#include "framewnd.h"

#include "images.h"
#include "profilenames.h"
#include "resource.h"
#include "stringtable.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenu>

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

} // namespace

WinApp::WinApp(const char* appName) : m_hInstance(res::resourceRoot())
{
    m_pszAppName = appName ? QString::fromUtf8(appName) : res::loadString(AFX_IDS_APP_TITLE);
    m_pszProfileName = m_pszAppName;
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
    int result = 0;
    if (InitInstance())
        result = QApplication::exec();
    else
        result = m_quitCode;
    if (m_pDocTemplate)
        m_pDocTemplate->CloseAllDocuments();
    const int exitCode = ExitInstance();
    return result != 0 ? result : exitCode;
}

void WinApp::PostQuitMessage(int exitCode)
{
    m_quitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

void WinApp::SetRegistryKey(const char* company)
{
    m_pszRegistryKey = QString::fromUtf8(company);
    m_profile = Profile(Profile::locationFor(m_pszRegistryKey, m_pszProfileName));
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
        m_pRecentFileList = std::make_unique<RecentFileList>(profile::kRecentFileList,
                                                             profile::kRecentFileEntry, maxMRU, 30);
        m_pRecentFileList->setFirstCommandId(ID_FILE_MRU_FILE1);
        m_pRecentFileList->ReadList(m_profile);
    }
    m_nNumPreviewPages =
        GetProfileInt(profile::kSettings, profile::kPreviewPages, profile::kPreviewPagesDefault);
}

void WinApp::SaveStdProfileSettings()
{
    if (m_pRecentFileList)
        m_pRecentFileList->WriteList(m_profile);
    if (m_nNumPreviewPages != 0)
        WriteProfileInt(profile::kSettings, profile::kPreviewPages, m_nNumPreviewPages);
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
    filters << res::loadString(AFX_IDS_ALLFILTER) + QStringLiteral(" (*)");
    return filters;
}

std::optional<std::string> WinApp::DoPromptFileName()
{
    const QStringList filters = fileDialogFilters();
    const QString file = QFileDialog::getOpenFileName(
        m_pMainWnd, res::loadString(AFX_IDS_OPENFILE), QDir::currentPath(),
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
