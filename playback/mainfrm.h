// The main window: the two panes, the toolbar, the device bar with the list
// of MIDI output ports, the status bar with the playback position, and the
// transport commands and options.
#pragma once

#include "framewnd.h"
#include "menus.h"
#include "transport.h"

#include <functional>

class QComboBox;
class QSplitter;
class QToolBar;
class CDirectoryView;
class CFilesView;

namespace framework {
class Profile;
}

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

// The main window. It carries out the transport commands and options on the
// transport it is given, and follows the transport's signals: the end of a
// piece, a port made active or lost, a file that did not load.
class CMainFrame : public framework::FrameWnd
{
    Q_OBJECT

public:
    // Settings are read from and written to `profile`; `registerPlayVerb` is
    // the shell registration the constructor runs.
    CMainFrame(CTransport& transport, const framework::Profile& profile,
               std::function<void()> registerPlayVerb = {});
    // Shuts the transport's engine down.
    ~CMainFrame() override;

    CTransport& transport() const { return m_transport; }

    // The panes of the splitter, each only when it is of its class.
    CDirectoryView* GetDirectoryView() const;
    CFilesView* GetFilesView() const;

    // Fills the device list with the transport's ports and selects the default one.
    int EnumPorts();
    // Makes the port of the device list's selection the active port.
    bool CreateAndAddPort();

    // The piece played to its end: stop, then the next file, the same piece
    // again or nothing, as Play Directory and Loop say.
    int OnSegmentEnd();
    // Shows `text` in the status bar's message pane.
    void SetMessageText(const QString& text);

    framework::StatusBarPanes& m_wndStatusBar;
    QToolBar* m_wndToolBar = nullptr;
    CReBar m_wndReBar;
    CDialogBar* m_wndDlgBar = nullptr;
    QSplitter* m_wndSplitter = nullptr;

protected:
    int OnCreate(framework::CreateContext* context) override;
    bool OnCreateClient(framework::CreateContext* context) override;
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
    void OnPortChanged();
    void OnPortLost(const QString& description);
    void OnPieceLoaded(const QString& path, const QString& problem);
    // Marks the playing file in the file list.
    void MarkPlayingFile();
    QString currentFileName() const;
    // The position pane's tool tip: elapsed and total time as minutes:seconds.
    void SetPositionToolTip(const music::TempoMap& tempoMap, MUSIC_TIME position,
                            MUSIC_TIME length);
    void switchPane(int step);
    int profileInt(const char* entry, int defaultValue) const;

    CTransport& m_transport;
    const framework::Profile& m_profile;
    std::string m_loadedPath; // the piece the transport holds (bytes of its path)
};
