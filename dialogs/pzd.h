#pragma once
// The recording parameters: the period in seconds, recording on or off, and
// whether the data file is named by date or chosen by hand. It may be used
// while measuring: the data file is closed or switched only while the
// measurement thread is held off it.

#include <QDialog>
#include <QPointer>
#include <QThread>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kp33 {

class DataFileTrial;
class UpDown;

class TPZD : public QDialog {
    Q_OBJECT
public:
    // thread: the session's measurement thread, null when there is none.
    // A file choice that cannot be opened never ends the program: its
    // message shows and the dialog stays open for another choice.
    TPZD(QWidget *parent, QPointer<QThread> thread);

    static constexpr int MaxPeriod = 60;

    static QString NoFileMessage();   // "Не указан файл данных!"
    static QString BadNameMessage();  // "Недопустимое имя файла!"

public slots:
    // Esc, Cancel and the close box; while the thread is being waited for,
    // the close is kept and carried out when the wait is over.
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void SavePeriodExit();
    void StepPeriod(bool up);
    void NoSaveDataClick();
    void FileDataClick();
    void BTN_SelectFileClick();
    void BTN_OKClick();

    void ApplyEnabledState();
    int PeriodInRange(const QString &text) const;
    bool ChosenFile() const;
    // Shows why a hand-chosen path cannot be a data file; true when refused.
    bool RefusePath(const QString &path);
    // The recording hold: asks the thread to stay off the file and waits
    // (dispatching) for its answer; a no-op without a live thread.
    void RequestHold(bool busyCursor);
    void ReleaseHold();
    // A new file choice is opened before the file in use is let go: when it
    // cannot be, its message shows (false) and the file in use and recording
    // go on as they were.
    bool Opened(const DataFileTrial &trial);
    // The opened choice replaces the file in use, inside the hold while the
    // thread may be writing, and recording is on.
    void UseDataFile(DataFileTrial &trial);
    void CloseIfRequested();

    QPointer<QThread> m_thread;
    int m_step = 1;             // lower bound and step of the period
    int m_waiting = 0;          // nested hold waits in progress
    bool m_closeRequested = false;

    QGroupBox *GroupBox1;
    QLineEdit *SavePeriod;
    UpDown *UpDownSavePeriod;
    QCheckBox *NoSaveData;
    QGroupBox *FileData;
    QRadioButton *FileDataItem0;
    QRadioButton *FileDataItem1;
    QButtonGroup *FileDataItems;
    QGroupBox *GroupBox2;
    QLineEdit *FilePath;
    QPushButton *BTN_SelectFile;
    QPushButton *BTN_OK;
    QPushButton *BTN_Cancel;
};

} // namespace kp33
