#pragma once
// A stand-alone pair of arrow buttons (16 x 21): it holds no value of its
// own, it only says "up" or "down", repeating while a button is held.

#include <QWidget>

class QToolButton;

namespace kp33 {

class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget *parent = nullptr);
    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

signals:
    void up();
    void down();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QToolButton *m_up;
    QToolButton *m_down;
};

} // namespace kp33
