// Graph bounds, the permitted band and the alarm.

#include "mainwindow/tmain.h"

#include "dialogs/updown.h"
#include "mainwindow/alarmsound.h"
#include "mainwindow/tempparse.h"
#include "measurement/history.h"
#include "measurement/readtemp.h"
#include "sensorbus/globals.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <cmath>

namespace kp33 {

namespace {

constexpr long double ScaleLow = -55.0L;
constexpr long double ScaleHigh = 125.0L;
// What an entry that does not parse counts as: outside the scale, so refused.
constexpr long double Unparsable = 1000.0L;

// The edit's own forms: "12." and ".5", and a lone point as 0.0.
long double parseEntry(QString s)
{
    if (!s.isEmpty()) {
        if (s.endsWith(QLatin1Char('.')))
            s += QLatin1Char('0');
        if (s.startsWith(QLatin1Char('.')))
            s.prepend(QLatin1Char('0'));
    }
    return parseTemp(s).value_or(Unparsable);
}

} // namespace

// Validates an edit of a pair (lo, hi) and takes it over, or puts the stored
// value back. Returns nothing: a refused entry is silent by design.
void TMain::applyPairEdit(QLineEdit *edit, bool isHigh, long double &lo, long double &hi)
{
    long double &own = isHigh ? hi : lo;
    const long double v = parseEntry(edit->text());
    const bool refused = v < ScaleLow || v > ScaleHigh || (!isHigh && closerThanADegree(v, hi)) ||
                         (isHigh && closerThanADegree(lo, v));
    if (!refused)
        own = std::nearbyint(v * 10) / 10;
    edit->setText(TempToStr(own));
}

bool TMain::stepPair(QLineEdit *edit, bool isHigh, long double &lo, long double &hi, bool up)
{
    applyPairEdit(edit, isHigh, lo, hi);
    long double &own = isHigh ? hi : lo;
    if (up && own < ScaleHigh)
        own += 1;
    if (!up && own > ScaleLow)
        own -= 1;
    // A step that brings the pair closer than a degree is undone, quietly.
    if (!isHigh && closerThanADegree(own, hi)) {
        own -= 1;
        return false;
    }
    if (isHigh && closerThanADegree(lo, own)) {
        own += 1;
        return false;
    }
    edit->setText(TempToStr(own));
    return true;
}

void TMain::ApplyBoundEdit(QLineEdit *edit)
{
    applyPairEdit(edit, edit == EditHiT, m_settings.LoT, m_settings.HiT);
}

void TMain::StepBound(QLineEdit *edit, bool up)
{
    if (stepPair(edit, edit == EditHiT, m_settings.LoT, m_settings.HiT, up))
        UpdateDisplay();
}

void TMain::ApplyLimitEdit(QLineEdit *edit)
{
    // The thread copies the band into every sample it stores: change it under
    // the history's lock, never half-way.
    long double lo = history().LoL(), hi = history().HiL();
    applyPairEdit(edit, edit == EditHiL, lo, hi);
    history().SetLoL(lo);
    history().SetHiL(hi);
}

void TMain::StepLimit(QLineEdit *edit, bool up)
{
    long double lo = history().LoL(), hi = history().HiL();
    stepPair(edit, edit == EditHiL, lo, hi, up);
    history().SetLoL(lo);
    history().SetHiL(hi);
    // A new limit shows from the next display update on.
}

bool TMain::eventFilter(QObject *watched, QEvent *event)
{
    auto *edit = qobject_cast<QLineEdit *>(watched);
    const bool bound = edit && (edit == EditLoT || edit == EditHiT);
    const bool limit = edit && (edit == EditLoL || edit == EditHiL);
    if (!bound && !limit)
        return QMainWindow::eventFilter(watched, event);

    if (event->type() == QEvent::FocusOut) {
        // Leaving the edit means moving to another control of the window. A
        // menu opening, the menu bar taking the keyboard or the window losing
        // the activation is no such move: the focus comes back to the edit,
        // and a half-typed value must still be half-typed then.
        const Qt::FocusReason reason = static_cast<QFocusEvent *>(event)->reason();
        const bool leaving = reason != Qt::PopupFocusReason && reason != Qt::MenuBarFocusReason &&
                             reason != Qt::ActiveWindowFocusReason;
        if (leaving && bound)
            ApplyBoundEdit(edit); // EditTExit
        else if (leaving)
            ApplyLimitEdit(edit); // EditLExit
    } else if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier));
        if (plain && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            const bool up = key->key() == Qt::Key_Up;
            if (bound)
                StepBound(edit, up);
            else
                StepLimit(edit, up);
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (bound) {
                ApplyBoundEdit(edit);
                edit->selectAll();
                UpdateDisplay();
            } else {
                ApplyLimitEdit(edit);
                edit->selectAll();
            }
            return true;
        }
        // Only what the user types is judged. Keys that edit rather than type
        // carry control characters (Backspace U+0008, Ctrl+A U+0001, and
        // Delete U+007F, which lies outside 1..31) and pass to the edit.
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint()) {
            const QChar c = text.at(0);
            const bool allowed = c == QLatin1Char('-') || c == QLatin1Char('.') ||
                                 (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
            if (!allowed)
                return true; // the character never reaches the edit
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMain::connectLimitControls()
{
    for (QLineEdit *e : {EditLoT, EditHiT, EditLoL, EditHiL})
        e->installEventFilter(this);
    // SpinTClick / SpinLClick: each arrow steps the value of its own edit.
    connect(SpinLoT, &UpDown::up, this, [this] { StepBound(EditLoT, true); });
    connect(SpinLoT, &UpDown::down, this, [this] { StepBound(EditLoT, false); });
    connect(SpinHiT, &UpDown::up, this, [this] { StepBound(EditHiT, true); });
    connect(SpinHiT, &UpDown::down, this, [this] { StepBound(EditHiT, false); });
    connect(SpinLoL, &UpDown::up, this, [this] { StepLimit(EditLoL, true); });
    connect(SpinLoL, &UpDown::down, this, [this] { StepLimit(EditLoL, false); });
    connect(SpinHiL, &UpDown::up, this, [this] { StepLimit(EditHiL, true); });
    connect(SpinHiL, &UpDown::down, this, [this] { StepLimit(EditHiL, false); });
    connect(Timer, &QTimer::timeout, this, &TMain::TimerTimer);
    m_sound = std::make_unique<AlarmSound>();
}

void TMain::M_ASClick()
{
    m_settings.SignalUse = !m_settings.SignalUse;
    M_AS->setChecked(m_settings.SignalUse);
}

void TMain::EvaluateAlarm(long double t, const HistorySnapshot &s)
{
    const bool out = t < s.LoL || t > s.HiL;
    const bool alarm = out && m_settings.SignalUse && ControlT->isChecked();
    if (alarm && !Timer->isActive()) {
        if (isMinimized())
            showNormal();
        m_blinkColor = t < s.LoL ? m_settings.LoTColor : m_settings.HiTColor;
        PlayAlarm();
        Timer->start();
    } else if (!alarm && Timer->isActive()) {
        StopAlarm();
    }
}

void TMain::PlayAlarm()
{
    if (m_sound)
        m_sound->play();
}

void TMain::StopAlarm()
{
    if (m_sound)
        m_sound->stop();
    Timer->stop();
}

bool TMain::AlarmActive() const { return Timer->isActive(); }

bool TMain::SoundPlaying() const { return m_sound && m_sound->playing(); }

void TMain::TimerTimer()
{
    m_blinkPhase = !m_blinkPhase;
    SetBackColor(m_blinkPhase ? m_blinkColor : m_settings.NormalColor);
}

} // namespace kp33
