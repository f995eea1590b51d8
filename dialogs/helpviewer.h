#pragma once
// The help viewer: the help file's page beside its contents (one entry per
// <h2> heading) and its index. Index words are given in the file itself, on
// the heading of the section they lead to:
//
//     <h2 id="ports" data-keywords="порт; COM1; dialout">...</h2>
//
// separated by ";". A word listed under several headings appears once per
// section, followed by the section's title. The file is UTF-8 HTML. The
// marks %KP33_INI% and %KP33_DATA% in it show as this run's settings file
// and data folder.

#include <QDialog>
#include <QList>
#include <QStringList>

class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QTextBrowser;

namespace kp33 {

// The index words of each <h2> heading of an HTML text, heading by heading.
QList<QStringList> HeadingKeywords(const QString &html);

class HelpViewer : public QDialog {
    Q_OBJECT
public:
    HelpViewer(QWidget *parent, const QString &htmlPath);

    // Reads the file anew; false when it could not be shown, and the page then
    // says why.
    bool load(const QString &htmlPath);
    QString path() const { return m_path; }
    bool isLoaded() const { return m_loaded; }

    QStringList contents() const;
    QStringList index() const;
    // Brings a section's heading to the top of the page.
    void showSection(int section);
    // The section whose text is at the top of the page; -1 before the first.
    int sectionAtTop() const;

private:
    struct Section {
        QString title;
        int position; // of the heading in the page's document
    };

    void showMessage(const QString &what);
    void fillIndex(const QList<QStringList> &keywords);
    void indexChosen(QListWidgetItem *item);
    void findInIndex(const QString &text);
    void followLink(const QUrl &url);
    void syncContents();

    QString m_path;
    bool m_loaded = false;
    bool m_jumping = false; // the page scrolls because a section was chosen
    QList<Section> m_sections;
    QTabWidget *Tabs;
    QListWidget *Contents;
    QLineEdit *IndexFilter;
    QListWidget *Index;
    QTextBrowser *Page;
};

// What F1 runs: the viewer on programDir() + "HELP/help.html", non-modal and
// owned by owner. One viewer at a time: while it is open, F1 brings it forward.
HelpViewer *ShowHelp(QWidget *owner);

} // namespace kp33
