#include "dialogs/pzd.h"

#include "dialogs/faces.h"
#include "dialogs/filedialogseam.h"
#include "dialogs/messagebox.h"
#include "dialogs/updown.h"
#include "measurement/datafile.h"
#include "measurement/history.h"
#include "measurement/recording.h"
#include "measurement/waithelper.h"
#include "sensorbus/globals.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <algorithm>
#include <optional>

namespace kp33 {

namespace {

template <typename W>
W *place(W *w, const char *name, QRect geometry)
{
    w->setObjectName(QLatin1String(name));
    w->setGeometry(geometry);
    return w;
}

} // namespace

QString TPZD::NoFileMessage() { return QStringLiteral("Не указан файл данных!"); }
QString TPZD::BadNameMessage() { return QStringLiteral("Недопустимое имя файла!"); }

TPZD::TPZD(QWidget *parent, QPointer<QThread> thread) : QDialog(parent), m_thread(std::move(thread))
{
    setObjectName(QStringLiteral("TPZD"));
    setWindowTitle(QStringLiteral("Параметры записи данных"));
    // Fixed dialog border with the close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFont(DesignFont(Face::MSSansSerif, 11));
    setFixedSize(257, 244);
    if (const QScreen *s = parent ? parent->screen() : screen()) {
        QRect r(QPoint(), size());
        r.moveCenter(s->availableGeometry().center());
        move(r.topLeft());
    }

    GroupBox1 = place(new QGroupBox(QStringLiteral("Период записи (сек)"), this), "GroupBox1", {8, 8, 241, 57});
    SavePeriod = place(new QLineEdit(QStringLiteral("1"), GroupBox1), "SavePeriod", {16, 24, 41, 21});
    SavePeriod->setMaxLength(2);
    UpDownSavePeriod = place(new UpDown(GroupBox1), "UpDownSavePeriod", {57, 24, 15, 21});
    NoSaveData = place(new QCheckBox(QStringLiteral("&Не записывать данные"), GroupBox1), "NoSaveData",
                       {88, 26, 137, 17});

    FileData = place(new QGroupBox(QStringLiteral("Файл данных"), this), "FileData", {8, 72, 241, 65});
    // A radio group shares its height among its items below the caption line.
    FileDataItem0 = place(new QRadioButton(QStringLiteral("&создаётся автоматически"), FileData),
                          "FileDataItem0", {8, 14, 231, 23});
    FileDataItem1 = place(new QRadioButton(QStringLiteral("&выбирается вруную"), FileData), "FileDataItem1",
                          {8, 37, 231, 23});
    FileDataItems = new QButtonGroup(this);
    FileDataItems->addButton(FileDataItem0, 0);
    FileDataItems->addButton(FileDataItem1, 1);

    GroupBox2 = place(new QGroupBox(QStringLiteral("Путь к файлу данных"), this), "GroupBox2", {8, 144, 241, 57});
    FilePath = place(new QLineEdit(GroupBox2), "FilePath", {16, 24, 189, 21});
    BTN_SelectFile = place(new QPushButton(QStringLiteral("..."), GroupBox2), "BTN_SelectFile", {205, 24, 21, 21});

    BTN_OK = place(new QPushButton(QStringLiteral("&OK"), this), "BTN_OK", {43, 212, 75, 25});
    BTN_OK->setDefault(true);
    BTN_Cancel = place(new QPushButton(QStringLiteral("&Отмена"), this), "BTN_Cancel", {139, 212, 75, 25});

    // Tab walks the buttons first, then the three groups, each in its own order.
    QWidget *order[] = {BTN_OK,        BTN_Cancel,    SavePeriod, NoSaveData,
                        FileDataItem0, FileDataItem1, FilePath,   BTN_SelectFile};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    BTN_OK->setFocus();

    // The settings as they stand now; opening never touches the data file.
    m_step = IsWinNT.load() ? 1 : 2;
    // The arrow pair's position cannot leave its range 0..60.
    SavePeriod->setText(QString::number(std::clamp<int>(PeriodSave.load(), 0, MaxPeriod)));
    NoSaveData->setChecked(!Save.load());
    (FileType.load() ? FileDataItem1 : FileDataItem0)->setChecked(true);
    // Shown in the platform's own separators, as the user would type it.
    FilePath->setText(QDir::toNativeSeparators(history().FileSave()));
    FilePath->setCursorPosition(0); // a long path shows from its start
    ApplyEnabledState();

    SavePeriod->installEventFilter(this);
    connect(UpDownSavePeriod, &UpDown::up, this, [this] { StepPeriod(true); });
    connect(UpDownSavePeriod, &UpDown::down, this, [this] { StepPeriod(false); });
    connect(NoSaveData, &QCheckBox::clicked, this, &TPZD::NoSaveDataClick);
    connect(FileDataItems, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked)
            FileDataClick();
    });
    connect(BTN_SelectFile, &QPushButton::clicked, this, &TPZD::BTN_SelectFileClick);
    connect(BTN_OK, &QPushButton::clicked, this, &TPZD::BTN_OKClick);
    connect(BTN_Cancel, &QPushButton::clicked, this, &TPZD::reject);
}

void TPZD::reject()
{
    if (m_waiting > 0) {
        m_closeRequested = true;
        return;
    }
    QDialog::reject();
}

void TPZD::CloseIfRequested()
{
    if (m_closeRequested && m_waiting == 0) {
        m_closeRequested = false;
        QDialog::reject();
    }
}

bool TPZD::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != SavePeriod)
        return QDialog::eventFilter(watched, event);
    if (event->type() == QEvent::FocusOut) {
        SavePeriodExit();
    } else if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain =
            !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
        if (plain && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            StepPeriod(key->key() == Qt::Key_Up);
            return true;
        }
        // Control keys (Backspace, Delete, Ctrl+V ...) pass; any printable
        // character but a digit never reaches the field.
        const QString text = key->text();
        for (const QChar c : text) {
            if (c.isPrint() && !(c >= QLatin1Char('0') && c <= QLatin1Char('9')))
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

int TPZD::PeriodInRange(const QString &text) const
{
    bool ok = false;
    int n = text.toInt(&ok, 10);
    if (!ok)
        n = 0;
    // Two-second cycles record only whole cycles: an odd number loses 1.
    if (m_step == 2)
        n -= n % 2;
    if (n < m_step)
        return m_step;
    return n > MaxPeriod ? MaxPeriod : n;
}

void TPZD::SavePeriodExit()
{
    const QString shown = QString::number(PeriodInRange(SavePeriod->text()));
    if (SavePeriod->text() != shown)
        SavePeriod->setText(shown);
}

void TPZD::StepPeriod(bool up)
{
    // The arrows start from what the field would hold once left, so an odd
    // number typed on a two-second system steps along the even ones.
    const int n = PeriodInRange(SavePeriod->text()) + (up ? m_step : -m_step);
    SavePeriod->setText(QString::number(std::clamp(n, m_step, MaxPeriod)));
}

bool TPZD::ChosenFile() const { return FileDataItem1->isChecked(); }

void TPZD::ApplyEnabledState()
{
    const bool recording = !NoSaveData->isChecked();
    const bool chosen = ChosenFile();
    for (QWidget *w : {static_cast<QWidget *>(SavePeriod), static_cast<QWidget *>(UpDownSavePeriod),
                       static_cast<QWidget *>(FileData), static_cast<QWidget *>(FilePath)})
        w->setEnabled(recording);
    FilePath->setReadOnly(!chosen);
    if (chosen) {
        FilePath->setPalette(QPalette());
    } else {
        // Read-only shows on the button face, as the automatic name is not for editing.
        QPalette p = FilePath->palette();
        p.setColor(QPalette::Base, palette().color(QPalette::Active, QPalette::Button));
        FilePath->setPalette(p);
    }
    BTN_SelectFile->setEnabled(recording && chosen);
}

void TPZD::FileDataClick() { ApplyEnabledState(); }

void TPZD::BTN_SelectFileClick()
{
    const QString path = ChooseDataFile(this, QDir::fromNativeSeparators(FilePath->text()));
    if (!path.isEmpty()) {
        FilePath->setText(QDir::toNativeSeparators(path));
        FilePath->setCursorPosition(0);
    }
}

bool TPZD::RefusePath(const QString &path)
{
    // Such a name could never be opened, and a NUL would silently name
    // another file: said plainly before anything is tried.
    if (path.isEmpty()) {
        ShowError(this, NoFileMessage());
        return true;
    }
    if (path.contains(QLatin1Char('\n')) || path.contains(QLatin1Char('\r')) || path.contains(QChar(0))) {
        ShowError(this, BadNameMessage());
        return true;
    }
    return false;
}

void TPZD::RequestHold(bool busyCursor)
{
    // Any live thread, also one already told to stop: it may still be in the
    // middle of a row.
    if (!m_thread || m_thread->isFinished())
        return;
    RecordHold = rhRequested;
    if (busyCursor)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    ++m_waiting;
    WaitWhileDispatching([] { return RecordHold.load() == rhHeld; }, m_thread);
    --m_waiting;
    if (busyCursor)
        QApplication::restoreOverrideCursor();
}

void TPZD::ReleaseHold() { RecordHold = rhNone; }

bool TPZD::Opened(const DataFileTrial &trial)
{
    if (trial.ok())
        return true;
    QPointer<TPZD> self(this);
    for (const QString &message : trial.messages())
        ShowError(self, message);
    return false;
}

void TPZD::UseDataFile(DataFileTrial &trial)
{
    // Only a thread that may be writing a row needs holding off the file.
    const bool hold = Save.load();
    if (hold)
        RequestHold(false);
    // The choice changes together with the file, inside the hold: a row must
    // never reach the new file before the switch.
    trial.TakeIntoUse();
    Save = true;
    if (hold)
        ReleaseHold();
}

void TPZD::NoSaveDataClick()
{
    if (NoSaveData->isChecked()) {
        ApplyEnabledState();
        if (Save.load()) {
            RequestHold(true);
            CloseDataFile();
            // Off before the release, or the thread would reopen the file
            // that was just closed.
            Save = false;
            ReleaseHold();
        }
        Save = false;
        CloseIfRequested();
        return;
    }

    // Unticked: recording goes on in the file the settings name. When that
    // file cannot be used, the box stays unticked with the choice open for
    // editing, and OK switches recording on with what the dialog then holds.
    ApplyEnabledState();
    if (FileType.load() && RefusePath(history().FileSave()))
        return;
    DataFileTrial trial(FileType.load(), history().FileSave());
    if (Opened(trial))
        UseDataFile(trial);
}

void TPZD::BTN_OKClick()
{
    // As if the field had been left first: Enter reaches OK with the focus
    // still in it.
    SavePeriodExit();
    const bool chosen = ChosenFile();
    // The path as shown is compared, so a name kept as it was stays the
    // name stored, in whichever separators the settings file held it.
    const bool edited = FilePath->text() != QDir::toNativeSeparators(history().FileSave());
    const QString path = edited ? QDir::fromNativeSeparators(FilePath->text()) : history().FileSave();
    const bool changed = chosen != FileType.load() || edited;
    // Unticked here, but the file would not open: recording still waits to
    // be switched on.
    const bool switchOn = !NoSaveData->isChecked() && !Save.load();
    // Refused before anything is stored, so the dialog stays as it was.
    if ((changed || switchOn) && chosen && RefusePath(path))
        return;
    std::optional<DataFileTrial> trial;
    if ((changed && Save.load()) || switchOn) {
        trial.emplace(chosen, path);
        if (!Opened(*trial))
            return;
    }

    PeriodSave = static_cast<std::uint8_t>(PeriodInRange(SavePeriod->text()));
    RecordCounter = 0; // the next row follows one full period later
    if (trial) {
        UseDataFile(*trial);
    } else if (changed) {
        // Not recording: only the choice is kept, the file stays closed.
        FileType = chosen;
        history().SetFileSave(path);
    }
    m_closeRequested = false;
    accept();
}

} // namespace kp33
