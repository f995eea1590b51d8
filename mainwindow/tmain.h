#pragma once
// The main window: layout, menu, the life of the window from creation to
// close, and the receiving end of the measurement thread.

#include "mainwindow/graph.h"
#include "mainwindow/settings.h"
#include "mainwindow/sysmenu.h"
#include "measurement/history.h"

#include <QFrame>
#include <QImage>
#include <QMainWindow>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <cstdint>
#include <memory>

class QAction;
class QCheckBox;

class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;

namespace kp33 {

class AlarmSound;
class MeasurementReceiver;
class ReadTemp;
class UpDown;

// A frame that shows a cached image inside it; the image is composed
// elsewhere and this only copies it, so a repaint never recomputes anything.
class ImageFrame : public QFrame {
    Q_OBJECT
public:
    ImageFrame(QWidget *parent, QPoint imageAt);
    void setImage(const QImage &image);
    const QImage &image() const { return m_image; }
    // The picture itself, to compose into in place; update() shows it.
    QImage &picture() { return m_image; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint m_imageAt;
    QImage m_image;
};

// The thermometer's scale picture at a device pixel ratio, its silver made
// transparent.
QPixmap ScalePicture(int ratio);

// The value indicator: composed off-screen and copied in one piece.
struct TTemp {
    std::uint32_t BackColor = 0;
    std::uint32_t FontColor = 0;
    std::int32_t FontSize = 0; // points
    QString Text;
};

class TMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TMain(QWidget *parent = nullptr);
    ~TMain() override;

    // Window creation: history, settings, port probe, first display, data
    // file. False when the data file cannot be opened: the message has been
    // shown, the port released, nothing saved; the program must end with 1.
    bool FormCreate();

    // The task-bar text; the window caption never changes.
    void SetApplicationTitle(const QString &title);
    QString ApplicationTitle() const { return m_appTitle; }

    void UpdateDisplay();

    // The indicator's operations: a colour change draws, a size only stores,
    // a text always draws.
    void SetBackColor(std::uint32_t colour);
    void SetFontColor(std::uint32_t colour);
    void SetFontSize(std::int32_t points);
    void SetText(const QString &text);
    void DrawIndicator();
    const TTemp &TempIndicator() const { return m_indicator; }
    // The ratio the drawings are composed at: the window's, in whole device
    // pixels. On a screen of another ratio they are composed again.
    int compositionRatio() const;
    void Recompose();
    int indicatorDraws() const { return m_indicatorDraws; }

    // Commands.
    void BTN_Start_StopClick();
    void M_ResetClick();
    void M_ExitClick();
    void M_ASClick();
    void N1Click();
    void M_PZDClick();
    void SelectPort(int n);
    void M_AutoRunClick();
    void N3Click();
    void N4Click();
    void wmSysCommand(int command);
    void FormActivate();

    // Graph bounds and the permitted band (edit, arrows, Enter, leaving the edit).
    void ApplyBoundEdit(QLineEdit *edit);
    void StepBound(QLineEdit *edit, bool up);
    void ApplyLimitEdit(QLineEdit *edit);
    void StepLimit(QLineEdit *edit, bool up);
    // The alarm: evaluated in every display update of a running session.
    void EvaluateAlarm(long double t, const HistorySnapshot &s);
    void PlayAlarm();
    void StopAlarm();
    void TimerTimer();
    bool AlarmActive() const;
    bool SoundPlaying() const;
    std::uint32_t BlinkColor() const { return m_blinkColor; }

    bool OpenPort(std::uint8_t n);
    // A second start asked for this window: restored and in front, and an
    // open box or dialog in front of it.
    void BringForward();
    // Message boxes of the window; a close meanwhile waits for the box.
    void ErrorBox(const QString &text);
    bool QuestionBox(const QString &text);
    // The one box a close still shows, after the close in order: the
    // settings could not be saved. A further close request dismisses it; the
    // end of the session shows none. The window closes after it.
    void SaveFailedBox();
    std::uint8_t OpenedPort() const { return m_openedPort; }
    // The session ends (logoff, shutdown) and the process may be ended as
    // soon as this returns, or a few seconds after it began: the close runs
    // here, within that, with an open box or dialog dismissed but still on
    // the stack below; the window itself closes right after. The registry
    // record and the settings come first; a measurement thread that does not
    // stop within its bound keeps the data file and the port to the end of
    // the process.
    void EndSession();

    Settings &settings() { return m_settings; }
    // The values as they would be saved now (check boxes, indicator colour).
    Settings currentSettings() const;
    bool sessionThreadAlive() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend class BusyScope;
    class BusyScope {
    public:
        explicit BusyScope(TMain *w);
        ~BusyScope();
        BusyScope(const BusyScope &) = delete;
        BusyScope &operator=(const BusyScope &) = delete;

    private:
        TMain *m_w;
    };

    void buildControls();
    void buildMenu();
    void applySettingsToControls();
    void probePorts();
    void releasePort();
    // The port saved as PORT: the open one, else the configured one.
    std::uint8_t portToSave() const;
    void requestStop();
    // After the thread's rsFinished: waits for its end and shows what it
    // still had on its way.
    void reapThread();
    void stopAndWait();
    // The stop with a bound (the end of the session); false when the thread
    // is still running, and then still using the bus and the data file.
    bool stopWithin(std::uint32_t boundMs);
    // FormClose: stop, data file, registry record, port, settings; once.
    void closeInOrder();
    // The end of the session: registry record and settings, then the stop
    // within its bound, then the data file and the port if it stopped.
    void closeForSessionEnd();
    // What the recording leaves behind at a close, after the thread stopped.
    QStringList closeRecording(); // what became of rows another program kept out
    // Dismisses the box, dialog or menu that keeps a requested close waiting,
    // as Esc, No or Cancel would.
    void dismissModalWork();
    void startSession();
    void stopSession();
    void runSensorSearch();
    void setStartStopCaption(bool running);
    void ControlTClick();
    void AutoScaleClick();
    void ColourLimitLabels();
    // The band limits come from the same snapshot as t.
    void DrawThermometer(bool active, long double t, long double lol, long double hil);
    void DrawGraph(const HistorySnapshot &s);
    void connectLimitControls();
    void applyPairEdit(QLineEdit *edit, bool isHigh, long double &lo, long double &hi);
    bool stepPair(QLineEdit *edit, bool isHigh, long double &lo, long double &hi, bool up);

    Settings m_settings;
    MeasurementReceiver *m_receiver = nullptr;
    QPointer<ReadTemp> m_thread;
    std::uint8_t m_openedPort = 0;
    QString m_appTitle;
    bool m_activated = false;
    int m_busy = 0;
    // From the first close request on, no search, question, dialog or
    // session starts any more.
    bool m_closeRequested = false;
    QTimer *m_dismissTimer = nullptr;
    bool m_closing = false;
    bool m_closeDone = false;
    bool m_sessionEnding = false; // EndSession: no box may wait for an answer
    QString m_saveFailure; // the box a close still owes
    bool m_saveFailedBoxOpen = false;

    // Controls, named as everywhere in this program.
    ImageFrame *Bevel1 = nullptr;
    ImageFrame *FrameTemp = nullptr;
    QFrame *Panel3 = nullptr;
    QLabel *ThermBG = nullptr;
    ImageFrame *ThermP = nullptr;
    QLabel *OutMIN = nullptr;
    QLabel *OutAVG = nullptr;
    QLabel *OutMAX = nullptr;
    QGroupBox *GB1 = nullptr;
    QGroupBox *GB2 = nullptr;
    QLabel *LoD = nullptr;
    QLabel *HiD = nullptr;
    QLabel *MinT = nullptr;
    QLabel *MaxT = nullptr;
    QLineEdit *EditLoT = nullptr;
    QLineEdit *EditHiT = nullptr;
    QLineEdit *EditLoL = nullptr;
    QLineEdit *EditHiL = nullptr;
    UpDown *SpinLoT = nullptr;
    UpDown *SpinHiT = nullptr;
    UpDown *SpinLoL = nullptr;
    UpDown *SpinHiL = nullptr;
    QCheckBox *AutoScale = nullptr;
    QCheckBox *ControlT = nullptr;
    QPushButton *BTN_Start_Stop = nullptr;
    QPushButton *BTN_Exit = nullptr;
    QTimer *Timer = nullptr;

    QAction *M_Start_Stop = nullptr;
    QAction *M_Reset = nullptr;
    QAction *M_Exit = nullptr;
    QAction *M_AS = nullptr;
    QAction *N1 = nullptr;
    QAction *M_PZD = nullptr;
    QMenu *M_Port = nullptr;
    QAction *M_COM[4] = {};
    QAction *M_AutoRun = nullptr;
    QAction *N3 = nullptr;
    QAction *N4 = nullptr;

    std::unique_ptr<AlarmSound> m_sound;
    bool m_blinkPhase = false;
    std::uint32_t m_blinkColor = 0;
    TTemp m_indicator;
    int m_indicatorDraws = 0;
    // What the column and the graph last showed, for a new composition when
    // the window moves to a screen of another ratio.
    struct ColumnLook {
        bool active = false;
        long double t = 0, lol = 0, hil = 0;
    } m_column;
    GraphInputs m_graph;
};

} // namespace kp33
