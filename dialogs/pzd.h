#pragma once
// The recording parameters: the period in seconds, recording on or off, and
// whether the data file is named by date or chosen by hand. It may be used
// while measuring: the data file is closed or switched only while the
// measurement thread is held off it.

#include <QDialog>
#include <QPointer>
#include <QThread>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kp33 {

class UpDown;
struct DataFileResult;

class TPZD : public QDialog {
    Q_OBJECT
public:
    // thread: the session's measurement thread, null when there is none.
    // haltProgram: called when the data file cannot be opened from here; the
    // program must then end at once. The dialog closes itself afterwards.
    TPZD(QWidget *parent, QPointer<QThread> thread, std::function<void()> haltProgram);

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
    // The data file failed to open: its messages, then the program ends.
    void Halt(const DataFileResult &result);
    void CloseIfRequested();

    QPointer<QThread> m_thread;
    std::function<void()> m_haltProgram;
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
