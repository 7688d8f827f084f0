#include "mainfrm.h"

#include "directoryview.h"
#include "filesview.h"

#include "document.h"
#include "menus.h"
#include "messagebox.h"
#include "profile.h"
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
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QStyleOptionFrame>
#include <QToolBar>
#include <QUrl>

#include <unistd.h>

namespace {

// Status-bar panes: the message pane, the playback position, the key locks.
const std::vector<int> kIndicators{ID_SEPARATOR, ID_INDICATOR_POSITION, ID_INDICATOR_CAPS,
                                   ID_INDICATOR_NUM, ID_INDICATOR_SCRL};

framework::WinApp* app()
{
    return framework::AfxGetApp();
}

// "4:05": whole minutes and seconds of `microseconds`, minutes past the hour too.
QString minutesSeconds(std::uint64_t microseconds)
{
    const std::uint64_t seconds = microseconds / 1000000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Draws the position pane's figures in cells of one width, the widest
// digit's, so that the numbers keep their places as they count ("%16d" pads
// with spaces, which most fonts make narrower than digits). A text with
// anything but figures (the credit line) is drawn as the label draws it.
class TabularFigures final : public QObject
{
public:
    explicit TabularFigures(QLabel* label) : QObject(label), m_label(label)
    {
        label->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != m_label || event->type() != QEvent::Paint)
            return false;
        const QString text = m_label->text();
        const auto figure = [](QChar c) {
            return c.isDigit() || c == QLatin1Char(' ') || c == QLatin1Char('/') ||
                   c == QLatin1Char('-');
        };
        if (text.isEmpty() || !std::all_of(text.begin(), text.end(), figure))
            return false;
        QPainter painter(m_label);
        // The label's own frame, as QFrame draws it.
        QStyleOptionFrame frame;
        frame.initFrom(m_label);
        frame.rect = m_label->frameRect();
        frame.frameShape = m_label->frameShape();
        frame.lineWidth = m_label->lineWidth();
        frame.midLineWidth = m_label->midLineWidth();
        if (m_label->frameShadow() == QFrame::Sunken)
            frame.state |= QStyle::State_Sunken;
        else if (m_label->frameShadow() == QFrame::Raised)
            frame.state |= QStyle::State_Raised;
        m_label->style()->drawControl(QStyle::CE_ShapedFrame, &frame, &painter, m_label);

        const QFontMetrics metrics(m_label->font());
        int cell = 0;
        for (char digit = '0'; digit <= '9'; ++digit)
            cell = std::max(cell, metrics.horizontalAdvance(QLatin1Char(digit)));
        // Where the label would start its text: its margin and its indent
        // (half an x beside a frame, as QLabel does).
        const QRect area = m_label->contentsRect();
        const int indent = m_label->indent() >= 0 ? m_label->indent()
                           : m_label->frameWidth() > 0
                               ? metrics.horizontalAdvance(QLatin1Char('x')) / 2
                               : 0;
        int x = area.left() + m_label->margin() + indent;
        const int baseline = area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent();
        painter.setFont(m_label->font());
        painter.setPen(
            m_label->palette().color(m_label->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                     m_label->foregroundRole()));
        painter.setClipRect(area);
        for (const QChar c : text) {
            const int width = c == QLatin1Char('/') ? metrics.horizontalAdvance(c) : cell;
            // Each figure centred in its cell.
            painter.drawText(x + (width - metrics.horizontalAdvance(c)) / 2, baseline, QString(c));
            x += width;
        }
        return true;
    }

private:
    QLabel* m_label;
};

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

CMainFrame::CMainFrame(CTransport& transport, const framework::Profile& profile,
                       std::function<void()> registerPlayVerb)
    : m_wndStatusBar(statusPanes()), m_transport(transport), m_profile(profile)
{
    // The directory listed last is the starting point of relative paths.
    const std::string directory =
        m_profile.getString(profile::kSettings, profile::kDefaultDirectory)
            .value_or(profile::kDefaultDirectoryNoDefault);
    if (::chdir(directory.c_str()) != 0) {
        // An absent or vanished directory is no reason not to start.
    }
    if (registerPlayVerb)
        registerPlayVerb();
    m_transport.SetPortReverbRequest(true);

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
        ui.Enable(!currentFileName().isEmpty() && m_transport.GetPlayState() != PLAY_PLAYING);
    });
    const auto whilePlaying = [this](framework::CmdUI& ui) {
        ui.Enable(!currentFileName().isEmpty() && m_transport.GetPlayState() == PLAY_PLAYING);
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
    onUpdateCommandUI(ID_INDICATOR_POSITION, [this](framework::CmdUI& ui) {
        ui.Enable(true);
        if (m_transport.GetPlayState() == PLAY_PLAYING) {
            ui.SetText(
                QString::asprintf("%16d/%16d", m_transport.GetPosition(), m_transport.GetLength()));
            if (m_transport.GetSegment())
                SetPositionToolTip(m_transport.GetSegment()->tempoMap(), m_transport.GetPosition(),
                                   m_transport.GetLength());
        }
    });
    // The lock keys' state is not known to a portable program: those panes stay blank.
    for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL})
        onUpdateCommandUI(id, [](framework::CmdUI& ui) { ui.Enable(false); });

    // What the transport says. The end of a piece arrives posted, so it is
    // handled after the command that was running.
    connect(&m_transport, &CTransport::pieceEnded, this, [this] { OnSegmentEnd(); });
    connect(&m_transport, &CTransport::portChanged, this, [this] { OnPortChanged(); });
    connect(&m_transport, &CTransport::portLost, this, &CMainFrame::OnPortLost);
    connect(&m_transport, &CTransport::pieceLoaded, this, &CMainFrame::OnPieceLoaded);
    connect(&m_transport, &CTransport::stateChanged, this, [this] { MarkPlayingFile(); });
}

CMainFrame::~CMainFrame()
{
    m_transport.disconnect(this);
    m_transport.FreeDirectMusic();
}

int CMainFrame::profileInt(const char* entry, int defaultValue) const
{
    return m_profile.getInt(profile::kSettings, entry, defaultValue);
}

bool CMainFrame::OnCreateClient(framework::CreateContext* context)
{
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("splitter"));
    m_wndSplitter->setChildrenCollapsible(false);
    const int width = this->width();
    auto* left = new CDirectoryView(m_profile, m_wndSplitter);
    auto* right = new CFilesView(m_profile, m_wndSplitter);
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
    new TabularFigures(m_wndStatusBar.pane(1));

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
    const std::string directory =
        m_profile.getString(profile::kSettings, profile::kDefaultDirectoryName)
            .value_or(profile::defaultDirectoryNameDefault());
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
    // The message pane itself. Empty text brings the idle text back: what
    // keeps the active port from sounding (no SoundFont, say) while
    // something does, else the idle prompt.
    QString shown = text;
    if (shown.isEmpty() && m_transport.GetPort() && m_transport.GetPortCaps())
        shown = QString::fromStdString(m_transport.GetPortCaps()->notice);
    m_wndStatusBar.setPaneText(0, shown.isEmpty() ? res::loadString(AFX_IDS_IDLEMESSAGE) : shown);
}

void CMainFrame::SetPositionToolTip(const music::TempoMap& tempoMap, MUSIC_TIME position,
                                    MUSIC_TIME length)
{
    // Elapsed and total real time, as the piece's tempo changes make them.
    const auto realTime = [&tempoMap](MUSIC_TIME time) {
        return tempoMap.realTime(std::max<MUSIC_TIME>(time, 0));
    };
    if (QLabel* pane = m_wndStatusBar.pane(1))
        pane->setToolTip(
            QStringLiteral("%1 of %2")
                .arg(minutesSeconds(realTime(position)), minutesSeconds(realTime(length))));
}

// The device list and the transport's ports.

int CMainFrame::EnumPorts()
{
    const int count = m_transport.EnumPorts();
    QComboBox* combo = m_wndDlgBar->combo();
    combo->clear();
    for (const music::PortCaps* caps : m_transport.Ports())
        combo->addItem(QString::fromStdString(caps->description));
    // Only the default port is chosen; without it the list has no selection.
    combo->setCurrentIndex(m_transport.DefaultPortEntry());
    return count;
}

bool CMainFrame::CreateAndAddPort()
{
    return m_transport.CreateAndAddPort(m_wndDlgBar->combo()->currentIndex());
}

void CMainFrame::OnPortChanged()
{
    // The Reverb item follows the port made active; a release leaves it.
    const music::PortCaps* caps = m_transport.GetPortCaps();
    if (m_transport.GetPort() && caps)
        EnableMenuItem(ID_OPTIONS_REVERB,
                       caps->reverb ? framework::MF_ENABLED : framework::MF_GRAYED);
    // A port that cannot sound says why (SetMessageText); another one does not.
    SetMessageText(QString());
}

void CMainFrame::OnPortLost(const QString& description)
{
    // Stopped, so that the transport's rules follow; the user may choose
    // another port and play again.
    OnStopPlaying();
    SetMessageText(QStringLiteral("Stopped: the output port \"%1\" went away").arg(description));
}

void CMainFrame::OnPieceLoaded(const QString& path, const QString& problem)
{
    m_loadedPath = problem.isEmpty() ? QFile::encodeName(path).toStdString() : std::string();
    MarkPlayingFile();
    // The one report of a file that does not play: the loader's reason in the status bar.
    if (problem.isEmpty())
        SetMessageText(QString());
    else
        SetMessageText(
            QStringLiteral("Cannot play %1: %2").arg(path.section(QLatin1Char('/'), -1), problem));
}

void CMainFrame::MarkPlayingFile()
{
    // The file list marks the loaded piece while it plays or is paused.
    const int state = m_transport.GetPlayState();
    if (CFilesView* files = GetFilesView())
        files->SetPlayingFile(state == PLAY_PLAYING || state == PLAY_PAUSED ? m_loadedPath
                                                                            : std::string());
}

// Messages.

int CMainFrame::OnSegmentEnd()
{
    OnStopPlaying();
    if (profile::isOn(profileInt(profile::kPlayDirectory, profile::kPlayDirectoryDefault))) {
        if (CFilesView* files = GetFilesView())
            files->PlayNextFile();
    } else if (profile::isOn(profileInt(profile::kLoop, profile::kLoopDefault))) {
        m_transport.PlayMidi();
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
    m_transport.PlayMidi();
}

void CMainFrame::OnPausePlaying()
{
    framework::WaitCursor wait;
    m_transport.PauseMidi();
}

void CMainFrame::OnStopPlaying()
{
    framework::WaitCursor wait;
    m_transport.StopMidi();
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
    if (m_transport.SetPortReverb(!checked))
        CheckMenuItem(ID_OPTIONS_REVERB, checked ? framework::MF_UNCHECKED : framework::MF_CHECKED);
}

void CMainFrame::OnOptionToggle(int id, const char* entry)
{
    const unsigned state = GetMenuState(id);
    if (state == framework::kMenuStateNotFound)
        return;
    const int value = (state & framework::MF_CHECKED) ? profile::kOff : profile::kOn;
    CheckMenuItem(id, unsigned(value));
    m_profile.writeInt(profile::kSettings, entry, value);
}

void CMainFrame::OnSelendokDeviceCombo()
{
    const int index = m_wndDlgBar->combo()->currentIndex();
    m_profile.writeInt(profile::kSettings, profile::kDevice, index);
    if (index == m_transport.GetDeviceIndex())
        return;
    if (m_transport.GetSegment())
        m_transport.StopMidi();
    if (m_transport.GetPort())
        m_transport.ReleasePort();
    m_transport.SetDeviceIndex(index);
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
