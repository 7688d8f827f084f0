// The application object: one per program, constructed with the program's
// global objects. It names the per-user profile, keeps the recent-file list,
// owns the document template and runs the event loop.
#pragma once

#include "command.h"
#include "profile.h"
#include "recentfilelist.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <string>

namespace framework {

class Document;
class FrameWnd;
class SingleDocTemplate;

class WinApp : public CommandTarget
{
public:
    // `appName` null takes the application title from string resource 57344.
    explicit WinApp(const char* appName = nullptr);
    ~WinApp() override;

    static WinApp* instance();

    virtual bool InitInstance();
    virtual int ExitInstance();
    // InitInstance, then the event loop while it returned true, then the frame
    // is destroyed and ExitInstance runs. Needs a QApplication.
    int Run();
    // Ends the event loop with `exitCode`; before it runs, the status Run
    // returns when InitInstance fails.
    void PostQuitMessage(int exitCode);

    // From here on the profile lives in "<config>/<company>/<application title>.ini".
    void SetRegistryKey(const char* company);
    const Profile& profile() const { return m_profile; }

    int GetProfileInt(const char* section, const char* entry, int defaultValue) const;
    bool WriteProfileInt(const char* section, const char* entry, int value) const;
    // The stored text, or `defaultValue` (null gives an empty text).
    std::string GetProfileString(const char* section, const char* entry,
                                 const char* defaultValue = nullptr) const;
    // A null `value` removes the entry.
    bool WriteProfileString(const char* section, const char* entry, const char* value) const;
    bool WriteProfileString(const char* section, const char* entry, const std::string& value) const;

    // Reads the recent-file list of `maxMRU` entries and the preview page count.
    void LoadStdProfileSettings(int maxMRU = 4);
    // Writes the recent-file list and, when non-zero, the preview page count.
    void SaveStdProfileSettings();
    // Whether ExitInstance saves them (not after a run that only registered the program).
    void setSaveSettingsAtExit(bool save) { m_saveSettingsAtExit = save; }

    void AddToRecentFileList(const std::string& path);
    RecentFileList* recentFileList() const { return m_pRecentFileList.get(); }

    void AddDocTemplate(SingleDocTemplate* docTemplate);
    SingleDocTemplate* docTemplate() const { return m_pDocTemplate.get(); }

    // The framework's open path; null when the open failed.
    virtual Document* OpenDocumentFile(const std::string& path);
    // File New: a new, empty document in the one frame.
    void OnFileNew();
    // File Open: asks for a file with the template's filter, then opens it.
    void OnFileOpen();
    // Asks for a file to open; nullopt when the user cancelled.
    virtual std::optional<std::string> DoPromptFileName();
    // The File Open dialog's filters: the template's, then all files.
    QStringList fileDialogFilters() const;
    // Opens entry `id` - first recent-file command of the recent-file list.
    void OnOpenRecentFile(int id);

    QString m_pszAppName;
    QString m_pszRegistryKey;
    QString m_pszProfileName;
    QPointer<FrameWnd> m_pMainWnd;
    // The program's module: the root of its resources (see res::resourceRoot()).
    const char* m_hInstance;
    int m_nNumPreviewPages = 0;

private:
    Profile m_profile;
    std::unique_ptr<RecentFileList> m_pRecentFileList;
    std::unique_ptr<SingleDocTemplate> m_pDocTemplate;
    bool m_saveSettingsAtExit = true;
    int m_quitCode = 0;
};

inline WinApp* AfxGetApp()
{
    return WinApp::instance();
}

} // namespace framework
