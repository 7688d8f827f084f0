// The main window: the two panes, the toolbar, the device bar with the list
// of MIDI output ports, the status bar with the playback position, and the
// transport commands and options.
#pragma once

#include "engine.h"
#include "framewnd.h"
#include "menus.h"

#include <QBasicTimer>
#include <functional>

class QComboBox;
class QSplitter;
class QToolBar;
class CDirectoryView;
class CFilesView;

// The device bar: a child dialog holding the drop-down list of output ports.
class CDialogBar : public QWidget
{
    Q_OBJECT

public:
    // Built from `dialogTemplate` (the main window's, res::kDeviceBar, unless told).
    explicit CDialogBar(QWidget* parent = nullptr,
                        const res::DeviceBarTemplate& dialogTemplate = res::kDeviceBar);
    QComboBox* combo() const { return m_combo; }

private:
    QComboBox* m_combo;
};

// The rebar: its bands are movable tool bars with a handle.
struct CReBar
{
    QToolBar* toolBand = nullptr;
    QToolBar* deviceBand = nullptr;
};

class CMainFrame : public framework::FrameWnd, public IEngineWindow
{
    Q_OBJECT

public:
    // `registerPlayVerb` is the shell registration the constructor runs.
    explicit CMainFrame(std::function<void()> registerPlayVerb = {});
    ~CMainFrame() override;

    // The panes of the splitter, each only when it is of its class.
    CDirectoryView* GetDirectoryView() const;
    CFilesView* GetFilesView() const;

    // Engine operations that belong to the main window.
    int EnumPorts();
    bool CreateAndAddPort();
    void ReleasePort();
    void PlayMidi();
    void PauseMidi();
    void StopMidi();
    void UpdatePosition();
    bool SetPortReverb(bool on);
    int OnPlayNotify();

    int OnSegmentEnd();
    void OnTimer(int idEvent);
    // Shows `text` in the status bar's message pane.
    void SetMessageText(const QString& text);

    // The pause before Play in milliseconds (tests shorten it).
    static void setPlayDelay(int milliseconds);

    framework::StatusBarPanes& m_wndStatusBar;
    QToolBar* m_wndToolBar = nullptr;
    CReBar m_wndReBar;
    CDialogBar* m_wndDlgBar = nullptr;
    QSplitter* m_wndSplitter = nullptr;

    // IEngineWindow
    int DeviceListAdd(const std::string& text, const music::PortCaps* caps) override;
    int DeviceListGetCurSel() const override;
    void DeviceListSetCurSel(int index) override;
    const music::PortCaps* DeviceListGetItemData(int index) const override;
    void SetPositionTimer(bool on) override;
    void EnableReverbItem(bool enable) override;
    void PostSegmentEnd() override;
    void OnPortGone(const std::string& description) override;
    void PlayDelay() override;

protected:
    int OnCreate(framework::CreateContext* context) override;
    bool OnCreateClient(framework::CreateContext* context) override;
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void OnPlayMidi();
    void OnPausePlaying();
    void OnStopPlaying();
    void OnPlayNextFile();
    void OnViewDeviceCombo();
    void OnOptionsReverb();
    void OnOptionToggle(int id, const char* entry);
    void OnSelendokDeviceCombo();
    QString currentFileName() const;
    void switchPane(int step);

    QBasicTimer m_positionTimer;
    bool m_showPosition = false;
};
