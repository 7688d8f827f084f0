#include "mainfrm.h"

#include "directoryview.h"
#include "filesview.h"

#include "document.h"
#include "menus.h"
#include "messagebox.h"
#include "profilenames.h"
#include "resource.h"
#include "stringtable.h"
#include "waitcursor.h"
#include "winapp.h"

#include <QApplication>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimerEvent>
#include <QToolBar>
#include <QUrl>

#include <unistd.h>

namespace {

// Status-bar panes: the message pane, the playback position, the key locks.
const std::vector<int> kIndicators{ID_SEPARATOR, ID_INDICATOR_POSITION, ID_INDICATOR_CAPS,
                                   ID_INDICATOR_NUM, ID_INDICATOR_SCRL};

int g_playDelay = kPlayDelay;

framework::WinApp* app()
{
    return framework::AfxGetApp();
}

int profileInt(const char* entry, int defaultValue)
{
    return app() ? app()->GetProfileInt(profile::kSettings, entry, defaultValue) : defaultValue;
}

std::string profileString(const char* entry, const char* defaultValue)
{
    return app() ? app()->GetProfileString(profile::kSettings, entry, defaultValue)
                 : std::string(defaultValue ? defaultValue : "");
}

} // namespace

CDialogBar::CDialogBar(QWidget* parent, const res::DeviceBarTemplate& dialogTemplate)
    : QWidget(parent)
{
    // Dialog units follow the dialog font: a quarter of the average
    // character width across, an eighth of the height down.
    const res::DeviceBarTemplate& t = dialogTemplate;
    const QFontMetrics metrics(font());
    const int unitX = std::max(1, metrics.averageCharWidth());
    const int unitY = std::max(1, metrics.height());
    setObjectName(QStringLiteral("deviceBar"));
    m_combo = new QComboBox(this);
    m_combo->setObjectName(QString::number(t.comboId));
    m_combo->setEditable(false);
    m_combo->setMinimumWidth(t.comboWidth * unitX / 4);
    m_combo->setMaxVisibleItems(std::max(3, t.comboDropHeight * unitY / 8 / unitY));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(t.comboX * unitX / 4, t.comboY * unitY / 8, 0, 0);
    layout->addWidget(m_combo);
    layout->addStretch(1);
    setMinimumWidth(t.width * unitX / 4);
}

CMainFrame::CMainFrame(std::function<void()> registerPlayVerb) : m_wndStatusBar(statusPanes())
{
    // The directory listed last is the starting point of relative paths.
    const std::string directory =
        profileString(profile::kDefaultDirectory, profile::kDefaultDirectoryNoDefault);
    if (::chdir(directory.c_str()) != 0) {
        // An absent or vanished directory is no reason not to start.
    }
    if (registerPlayVerb)
        registerPlayVerb();
    g_bPortReverb = true;

    setAcceptDrops(true);
    // A first window that shows both panes and the whole status bar.
    resize(900, 600);

    onCommand(ID_PLAY_MIDI, [this] { OnPlayMidi(); });
    onCommand(ID_PAUSE_PLAYING, [this] { OnPausePlaying(); });
    onCommand(ID_STOP_PLAYING, [this] { OnStopPlaying(); });
    onCommand(ID_PLAY_NEXT_FILE, [this] { OnPlayNextFile(); });
    onCommand(ID_VIEW_DEVICE_COMBO, [this] { OnViewDeviceCombo(); });
    onCommand(ID_OPTIONS_REVERB, [this] { OnOptionsReverb(); });
    onCommand(ID_OPTIONS_AUTOPLAY,
              [this] { OnOptionToggle(ID_OPTIONS_AUTOPLAY, profile::kAutoplay); });
    onCommand(ID_OPTIONS_LOOP, [this] { OnOptionToggle(ID_OPTIONS_LOOP, profile::kLoop); });
    onCommand(ID_OPTIONS_PLAY_DIRECTORY,
              [this] { OnOptionToggle(ID_OPTIONS_PLAY_DIRECTORY, profile::kPlayDirectory); });
    onCommand(ID_OPTIONS_GM_RESET,
              [this] { OnOptionToggle(ID_OPTIONS_GM_RESET, profile::kGmReset); });
    onCommand(ID_VIEW_TOOLBAR,
              [this] { m_wndReBar.toolBand->setVisible(!m_wndReBar.toolBand->isVisible()); });
    onCommand(ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(!statusBar()->isVisible()); });
    onCommand(ID_NEXT_PANE, [this] { switchPane(1); });
    onCommand(ID_PREV_PANE, [this] { switchPane(-1); });

    onUpdateCommandUI(ID_FILE_SAVE, [](framework::CmdUI& ui) { ui.Enable(false); });
    onUpdateCommandUI(ID_FILE_SAVE_AS, [](framework::CmdUI& ui) { ui.Enable(false); });
    onUpdateCommandUI(ID_PLAY_MIDI, [this](framework::CmdUI& ui) {
        ui.Enable(!currentFileName().isEmpty() && g_nPlayState != PLAY_PLAYING);
    });
    const auto whilePlaying = [this](framework::CmdUI& ui) {
        ui.Enable(!currentFileName().isEmpty() && g_nPlayState == PLAY_PLAYING);
    };
    onUpdateCommandUI(ID_PAUSE_PLAYING, whilePlaying);
    onUpdateCommandUI(ID_STOP_PLAYING, whilePlaying);
    onUpdateCommandUI(ID_PLAY_NEXT_FILE, whilePlaying);
    onUpdateCommandUI(ID_VIEW_DEVICE_COMBO, [this](framework::CmdUI& ui) {
        ui.SetCheck(m_wndReBar.deviceBand && m_wndReBar.deviceBand->isVisible() ? 1 : 0);
    });
    // These two leave the items as the program set them.
    onUpdateCommandUI(ID_OPTIONS_AUTOPLAY, [](framework::CmdUI&) {});
    onUpdateCommandUI(ID_OPTIONS_REVERB, [](framework::CmdUI&) {});
    onUpdateCommandUI(ID_VIEW_TOOLBAR, [this](framework::CmdUI& ui) {
        ui.SetCheck(m_wndReBar.toolBand && m_wndReBar.toolBand->isVisible() ? 1 : 0);
    });
    onUpdateCommandUI(ID_VIEW_STATUS_BAR, [this](framework::CmdUI& ui) {
        ui.SetCheck(statusBar()->isVisible() ? 1 : 0);
    });
    onUpdateCommandUI(ID_INDICATOR_POSITION, [](framework::CmdUI& ui) {
        ui.Enable(true);
        if (g_nPlayState == PLAY_PLAYING)
            ui.SetText(QString::asprintf("%16d/%16d", g_mtPosition, g_mtLength));
    });
    // The lock keys' state is not known to a portable program: those panes stay blank.
    for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL})
        onUpdateCommandUI(id, [](framework::CmdUI& ui) { ui.Enable(false); });

    SetPlayNotifyWindow(this);
}

CMainFrame::~CMainFrame()
{
    SetPlayNotifyWindow(nullptr);
    FreeDirectMusic();
}

void CMainFrame::setPlayDelay(int milliseconds)
{
    g_playDelay = milliseconds;
}

bool CMainFrame::OnCreateClient(framework::CreateContext* context)
{
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("splitter"));
    m_wndSplitter->setChildrenCollapsible(false);
    const int width = this->width();
    auto* left = new CDirectoryView(m_wndSplitter);
    auto* right = new CFilesView(m_wndSplitter);
    m_wndSplitter->addWidget(left);
    m_wndSplitter->addWidget(right);
    m_wndSplitter->setSizes({width / 4, width - width / 4});
    m_wndSplitter->setStretchFactor(1, 1);
    if (context && context->m_pCurrentDoc) {
        context->m_pCurrentDoc->AddView(left);
        context->m_pCurrentDoc->AddView(right);
    }
    setCentralWidget(m_wndSplitter);
    return true;
}

int CMainFrame::OnCreate(framework::CreateContext* context)
{
    if (framework::FrameWnd::OnCreate(context) == -1)
        return -1;

    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar"));
    if (!LoadToolBar(m_wndToolBar, IDR_MAINFRAME))
        return -1;

    m_wndDlgBar = new CDialogBar(this);
    connect(m_wndDlgBar->combo(), &QComboBox::activated, this, [this] { OnSelendokDeviceCombo(); });

    // The rebar's two bands, each with a grip, on one row at the top.
    m_wndReBar.toolBand = m_wndToolBar;
    m_wndReBar.toolBand->setMovable(true);
    m_wndReBar.toolBand->setWindowTitle(QStringLiteral("Toolbar"));
    addToolBar(Qt::TopToolBarArea, m_wndReBar.toolBand);
    m_wndReBar.deviceBand = new QToolBar(this);
    m_wndReBar.deviceBand->setObjectName(QStringLiteral("deviceBand"));
    m_wndReBar.deviceBand->setWindowTitle(QStringLiteral("Device Combo Box"));
    m_wndReBar.deviceBand->setMovable(true);
    m_wndReBar.deviceBand->addWidget(m_wndDlgBar);
    addToolBar(Qt::TopToolBarArea, m_wndReBar.deviceBand);

    m_wndStatusBar.create(this, kIndicators, [](int id) {
        return id == ID_SEPARATOR ? res::loadString(AFX_IDS_IDLEMESSAGE) : res::loadString(id);
    });
    // Pane widths from the client width now: a third for messages; the
    // position pane takes two thirds of what the others leave.
    const int w = width();
    m_wndStatusBar.setPaneWidth(0, w / 3);
    int rest = w;
    for (int pane : {0, 2, 3, 4})
        rest -= m_wndStatusBar.paneWidth(pane);
    m_wndStatusBar.setPaneWidth(1, std::max(0, rest - rest / 3));

    // Tool tips and fly-by prompts come with the actions' texts.
    m_wndToolBar->setToolTipDuration(-1);

    EnumPorts();
    if (!CreateAndAddPort()) {
        framework::AfxMessageBox(QString::fromUtf8(res::kCreateAndAddPortFailed),
                                 QMessageBox::Critical);
        return 0;
    }
    CheckMenuItem(ID_OPTIONS_REVERB,
                  unsigned(profileInt(profile::kReverb, profile::kReverbDefault)));
    CheckMenuItem(ID_OPTIONS_AUTOPLAY,
                  unsigned(profileInt(profile::kAutoplay, profile::kAutoplayDefault)));
    CheckMenuItem(ID_OPTIONS_LOOP, unsigned(profileInt(profile::kLoop, profile::kLoopDefault)));
    CheckMenuItem(ID_OPTIONS_PLAY_DIRECTORY,
                  unsigned(profileInt(profile::kPlayDirectory, profile::kPlayDirectoryDefault)));
    CheckMenuItem(ID_OPTIONS_GM_RESET,
                  unsigned(profileInt(profile::kGmReset, profile::kGmResetDefault)));
    const std::string directory = profileString(profile::kDefaultDirectoryName,
                                                profile::defaultDirectoryNameDefault().c_str());
    if (::chdir(directory.c_str()) != 0) {
        // Ignored, as every change of directory here.
    }
    return 0;
}

CDirectoryView* CMainFrame::GetDirectoryView() const
{
    return m_wndSplitter && m_wndSplitter->count() > 0
               ? qobject_cast<CDirectoryView*>(m_wndSplitter->widget(0))
               : nullptr;
}

CFilesView* CMainFrame::GetFilesView() const
{
    return m_wndSplitter && m_wndSplitter->count() > 1
               ? qobject_cast<CFilesView*>(m_wndSplitter->widget(1))
               : nullptr;
}

QString CMainFrame::currentFileName() const
{
    const CFilesView* files = GetFilesView();
    const framework::Document* document = files ? files->GetDocument() : nullptr;
    return document ? QString::fromStdString(document->GetPathName()) : QString();
}

void CMainFrame::SetMessageText(const QString& text)
{
    // The message pane itself; empty text brings the idle prompt back.
    m_wndStatusBar.setPaneText(0, text.isEmpty() ? res::loadString(AFX_IDS_IDLEMESSAGE) : text);
}

// Engine operations.

int CMainFrame::EnumPorts()
{
    return ::EnumPorts(*this);
}

bool CMainFrame::CreateAndAddPort()
{
    return ::CreateAndAddPort(*this);
}

void CMainFrame::ReleasePort()
{
    ::ReleasePort();
}

void CMainFrame::PlayMidi()
{
    ::PlayMidi(*this);
}

void CMainFrame::PauseMidi()
{
    ::PauseMidi(*this);
}

void CMainFrame::StopMidi()
{
    ::StopMidi(*this);
}

void CMainFrame::UpdatePosition()
{
    ::UpdatePosition();
}

bool CMainFrame::SetPortReverb(bool on)
{
    return ::SetPortReverb(on);
}

int CMainFrame::OnPlayNotify()
{
    return ::OnPlayNotify(*this);
}

int CMainFrame::DeviceListAdd(const std::string& text, const music::PortCaps* caps)
{
    QComboBox* combo = m_wndDlgBar->combo();
    const int selected = combo->currentIndex();
    combo->addItem(QString::fromStdString(text),
                   QVariant::fromValue(reinterpret_cast<quintptr>(caps)));
    // A list gains no selection by growing; only the default port is chosen.
    if (selected == -1)
        combo->setCurrentIndex(-1);
    return combo->count() - 1;
}

int CMainFrame::DeviceListGetCurSel() const
{
    return m_wndDlgBar->combo()->currentIndex();
}

void CMainFrame::DeviceListSetCurSel(int index)
{
    m_wndDlgBar->combo()->setCurrentIndex(index);
}

const music::PortCaps* CMainFrame::DeviceListGetItemData(int index) const
{
    const QVariant item = m_wndDlgBar->combo()->itemData(index);
    return item.isValid() ? reinterpret_cast<const music::PortCaps*>(item.value<quintptr>())
                          : nullptr;
}

void CMainFrame::SetPositionTimer(bool on)
{
    if (on) {
        m_positionTimer.start(kPositionTimerPeriod, this);
        m_showPosition = true;
    } else {
        m_positionTimer.stop();
    }
}

void CMainFrame::EnableReverbItem(bool enable)
{
    EnableMenuItem(ID_OPTIONS_REVERB, enable ? framework::MF_ENABLED : framework::MF_GRAYED);
}

void CMainFrame::PostSegmentEnd()
{
    QCoreApplication::postEvent(this, new QEvent(WM_SEGMENT_END));
}

void CMainFrame::OnPortGone(const std::string& description)
{
    // Stopped, so that the transport's rules follow; the user may choose
    // another port and play again.
    OnStopPlaying();
    SetMessageText(QStringLiteral("Stopped: the output port \"%1\" went away")
                       .arg(QString::fromStdString(description)));
}

void CMainFrame::PlayDelay()
{
    if (g_playDelay > 0)
        QThread::msleep(unsigned(g_playDelay));
}

// Messages.

bool CMainFrame::event(QEvent* event)
{
    if (event->type() == WM_PLAY_NOTIFY) {
        OnPlayNotify();
        return true;
    }
    if (event->type() == WM_SEGMENT_END) {
        OnSegmentEnd();
        return true;
    }
    return framework::FrameWnd::event(event);
}

void CMainFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() == m_positionTimer.timerId())
        OnTimer(ID_TIMER_POSITION);
    else
        framework::FrameWnd::timerEvent(event);
}

void CMainFrame::OnTimer(int idEvent)
{
    if (idEvent == ID_TIMER_POSITION)
        UpdatePosition();
}

int CMainFrame::OnSegmentEnd()
{
    OnStopPlaying();
    if (profile::isOn(profileInt(profile::kPlayDirectory, profile::kPlayDirectoryDefault))) {
        if (CFilesView* files = GetFilesView())
            files->PlayNextFile();
    } else if (profile::isOn(profileInt(profile::kLoop, profile::kLoopDefault))) {
        PlayMidi();
    }
    return 0;
}

namespace {

// Dropped files are only read: a drop is taken as a copy (or a link), never
// as a move, which would let the source delete the user's file. False when
// the source offers neither.
bool acceptAsCopy(QDropEvent* event)
{
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    event->ignore();
    return false;
}

} // namespace

void CMainFrame::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        acceptAsCopy(event);
}

void CMainFrame::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasUrls())
        acceptAsCopy(event);
}

void CMainFrame::dropEvent(QDropEvent* event)
{
    if (!acceptAsCopy(event))
        return;
    // Each dropped file is opened in turn, so the last one stays loaded.
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    for (const std::string& path : paths) {
        if (app())
            app()->OpenDocumentFile(path);
    }
}

// Commands.

void CMainFrame::OnPlayMidi()
{
    framework::WaitCursor wait;
    PlayMidi();
}

void CMainFrame::OnPausePlaying()
{
    framework::WaitCursor wait;
    PauseMidi();
}

void CMainFrame::OnStopPlaying()
{
    framework::WaitCursor wait;
    StopMidi();
}

void CMainFrame::OnPlayNextFile()
{
    OnStopPlaying();
    OnSegmentEnd();
}

void CMainFrame::OnViewDeviceCombo()
{
    m_wndReBar.deviceBand->setVisible(!m_wndReBar.deviceBand->isVisible());
}

void CMainFrame::OnOptionsReverb()
{
    const bool checked = (GetMenuState(ID_OPTIONS_REVERB) & framework::MF_CHECKED) != 0;
    if (SetPortReverb(!checked))
        CheckMenuItem(ID_OPTIONS_REVERB, checked ? framework::MF_UNCHECKED : framework::MF_CHECKED);
}

void CMainFrame::OnOptionToggle(int id, const char* entry)
{
    const unsigned state = GetMenuState(id);
    if (state == framework::kMenuStateNotFound)
        return;
    const int value = (state & framework::MF_CHECKED) ? profile::kOff : profile::kOn;
    CheckMenuItem(id, unsigned(value));
    if (app())
        app()->WriteProfileInt(profile::kSettings, entry, value);
}

void CMainFrame::OnSelendokDeviceCombo()
{
    const int index = DeviceListGetCurSel();
    if (app())
        app()->WriteProfileInt(profile::kSettings, profile::kDevice, index);
    if (index == g_nDeviceIndex)
        return;
    if (g_pSegment)
        StopMidi();
    if (g_pPort)
        ReleasePort();
    g_nDeviceIndex = index;
    if (!CreateAndAddPort())
        framework::AfxMessageBox(QString::fromUtf8(res::kCreateAndAddPortFailed),
                                 QMessageBox::Critical);
}

void CMainFrame::switchPane(int step)
{
    if (!m_wndSplitter || m_wndSplitter->count() == 0)
        return;
    int current = 0;
    for (int i = 0; i < m_wndSplitter->count(); ++i) {
        if (m_wndSplitter->widget(i)->hasFocus())
            current = i;
    }
    const int count = m_wndSplitter->count();
    m_wndSplitter->widget(((current + step) % count + count) % count)->setFocus();
}
