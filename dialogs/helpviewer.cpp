#include "dialogs/helpviewer.h"

#include "dialogs/faces.h"
#include "sensorbus/globals.h"

#include <QAbstractTextDocumentLayout>
#include <QCollator>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSet>
#include <QSplitter>
#include <QStringDecoder>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace kp33 {

namespace {

// Far more than any help text; a bigger file is a wrong file, not worth the memory.
constexpr qint64 MaxHelpSize = 8 * 1024 * 1024;

const QString Untitled = QStringLiteral("Справка");

QString plainText(const QString &html) { return QTextDocumentFragment::fromHtml(html).toPlainText(); }

QString nativeHtml(const QString &path) { return QDir::toNativeSeparators(path).toHtmlEscaped(); }

// Where this run keeps its files depends on whether the program folder could
// be written, so the help names them as they are.
QString withFolders(QString html)
{
    html.replace(QLatin1String("%KP33_INI%"), nativeHtml(settingsDir() + QStringLiteral("KP33.ini")));
    html.replace(QLatin1String("%KP33_DATA%"), nativeHtml(dataParentDir() + QStringLiteral("DATA")));
    return html;
}

} // namespace

QList<QStringList> HeadingKeywords(const QString &html)
{
    static const QRegularExpression comment(QStringLiteral("<!--.*?-->"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression heading(QStringLiteral("<h2(\\s[^>]*)?>"),
                                            QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression keywords(QStringLiteral("\\sdata-keywords\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"),
                                             QRegularExpression::CaseInsensitiveOption);
    QString text = html;
    text.remove(comment); // a heading commented out is no section
    QList<QStringList> out;
    for (const auto &h : heading.globalMatch(text)) {
        QStringList words;
        const auto k = keywords.match(h.captured(1));
        if (k.hasMatch()) {
            // Entities first, so "&amp;" is one character and not a split.
            const QString value = plainText(k.captured(1).isNull() ? k.captured(2) : k.captured(1));
            for (const QString &w : value.split(QLatin1Char(';'))) {
                const QString word = w.simplified();
                if (!word.isEmpty())
                    words << word;
            }
        }
        out << words;
    }
    return out;
}

HelpViewer::HelpViewer(QWidget *parent, const QString &htmlPath) : QDialog(parent)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                   Qt::WindowCloseButtonHint);
    resize(760, 520);
    setMinimumSize(420, 300);

    Tabs = new QTabWidget;
    Tabs->setObjectName(QStringLiteral("Tabs"));
    Contents = new QListWidget;
    Contents->setObjectName(QStringLiteral("Contents"));
    Contents->setSpacing(1);
    Tabs->addTab(Contents, QStringLiteral("Содержание"));

    auto *indexPage = new QWidget;
    auto *indexLayout = new QVBoxLayout(indexPage);
    indexLayout->setContentsMargins(4, 6, 4, 4);
    auto *prompt = new QLabel(QStringLiteral("Введите первые буквы слова:"));
    IndexFilter = new QLineEdit;
    IndexFilter->setObjectName(QStringLiteral("IndexFilter"));
    prompt->setBuddy(IndexFilter);
    Index = new QListWidget;
    Index->setObjectName(QStringLiteral("Index"));
    indexLayout->addWidget(prompt);
    indexLayout->addWidget(IndexFilter);
    indexLayout->addWidget(Index);
    Tabs->addTab(indexPage, QStringLiteral("Указатель"));

    Page = new QTextBrowser;
    Page->setObjectName(QStringLiteral("Page"));
    Page->setOpenLinks(false);
    Page->document()->setDefaultFont(DesignFont(Face::Arial, 13));

    auto *splitter = new QSplitter;
    splitter->addWidget(Tabs);
    splitter->addWidget(Page);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({260, 500});

    auto *close = new QPushButton(QStringLiteral("Закрыть"));
    close->setObjectName(QStringLiteral("BTN_Close"));
    // Not a default button: Enter belongs to the index field and the lists.
    close->setAutoDefault(false);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);

    connect(close, &QPushButton::clicked, this, &QDialog::close);
    connect(Contents, &QListWidget::currentRowChanged, this, &HelpViewer::showSection);
    connect(Contents, &QListWidget::itemClicked, this, [this](QListWidgetItem *item) {
        showSection(Contents->row(item));
    });
    connect(Index, &QListWidget::itemClicked, this, &HelpViewer::indexChosen);
    connect(Index, &QListWidget::itemActivated, this, &HelpViewer::indexChosen);
    connect(IndexFilter, &QLineEdit::textChanged, this, &HelpViewer::findInIndex);
    connect(IndexFilter, &QLineEdit::returnPressed, this, [this] { indexChosen(Index->currentItem()); });
    connect(Page, &QTextBrowser::anchorClicked, this, &HelpViewer::followLink);
    connect(Page->verticalScrollBar(), &QScrollBar::valueChanged, this, &HelpViewer::syncContents);

    load(htmlPath);
}

bool HelpViewer::load(const QString &htmlPath)
{
    m_path = htmlPath;
    m_loaded = false;
    m_sections.clear();
    Contents->clear();
    Index->clear();
    IndexFilter->clear();

    const QFileInfo info(htmlPath);
    if (!info.exists()) {
        showMessage(QStringLiteral("Файл справки не найден."));
        return false;
    }
    // A FIFO or a device would block or never end; only a plain file is read.
    if (!info.isFile()) {
        showMessage(QStringLiteral("Файл справки не открывается: это не обычный файл."));
        return false;
    }
    if (info.size() > MaxHelpSize) {
        showMessage(QStringLiteral("Файл справки не открывается: он слишком велик."));
        return false;
    }
    QFile file(htmlPath);
    if (!file.open(QIODevice::ReadOnly)) {
        showMessage(QStringLiteral("Файл справки не открывается: ") + file.errorString());
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString html = utf8(file.read(MaxHelpSize));
    if (utf8.hasError()) {
        showMessage(QStringLiteral("Файл справки повреждён: его текст не в кодировке UTF-8."));
        return false;
    }

    Page->document()->setBaseUrl(QUrl::fromLocalFile(info.absoluteFilePath()));
    Page->setHtml(withFolders(html));
    const QString title = Page->documentTitle().simplified();
    setWindowTitle(title.isEmpty() ? Untitled : title);

    for (QTextBlock b = Page->document()->begin(); b.isValid(); b = b.next())
        if (b.blockFormat().headingLevel() == 2)
            m_sections.append({b.text().simplified(), b.position()});
    for (const Section &s : m_sections)
        Contents->addItem(s.title);
    fillIndex(HeadingKeywords(html));
    m_loaded = true;
    return true;
}

void HelpViewer::showMessage(const QString &what)
{
    setWindowTitle(Untitled);
    Page->setHtml(QStringLiteral("<h3>%1</h3><p>%2</p><p>Программа продолжает работу; "
                                 "справку можно открыть снова клавишей F1.</p>")
                      .arg(what.toHtmlEscaped(), nativeHtml(m_path)));
}

void HelpViewer::fillIndex(const QList<QStringList> &keywords)
{
    struct Entry {
        QString word;
        int section;
    };
    QList<Entry> entries;
    QHash<QString, int> sectionsPerWord;
    // Headings and their keyword lists pair up in page order.
    for (int s = 0; s < std::min<qsizetype>(keywords.size(), m_sections.size()); ++s) {
        QSet<QString> seen;
        for (const QString &w : keywords[s])
            if (!seen.contains(w.toLower())) {
                seen.insert(w.toLower());
                entries.append({w, s});
                ++sectionsPerWord[w.toLower()];
            }
    }
    QCollator collator{QLocale(QLocale::Russian)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Russian words first, as a Russian index has them. Linux's collation
    // does so by itself; Windows' puts the Latin script before the Cyrillic
    // in every language.
    const auto cyrillic = [](const QString &w) {
        for (const QChar c : w)
            if (c.isLetter())
                return c.script() == QChar::Script_Cyrillic;
        return false;
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry &a, const Entry &b) {
        const bool ra = cyrillic(a.word), rb = cyrillic(b.word);
        if (ra != rb)
            return ra;
        const int c = collator.compare(a.word, b.word);
        return c != 0 ? c < 0 : a.section < b.section;
    });
    for (const Entry &e : entries) {
        QString text = e.word;
        if (sectionsPerWord.value(e.word.toLower()) > 1)
            text += QStringLiteral(" — ") + m_sections[e.section].title;
        auto *item = new QListWidgetItem(text, Index);
        item->setData(Qt::UserRole, e.section);
    }
}

QStringList HelpViewer::contents() const
{
    QStringList out;
    for (const Section &s : m_sections)
        out << s.title;
    return out;
}

QStringList HelpViewer::index() const
{
    QStringList out;
    for (int i = 0; i < Index->count(); ++i)
        out << Index->item(i)->text();
    return out;
}

void HelpViewer::showSection(int section)
{
    if (section < 0 || section >= m_sections.size())
        return;
    const QTextBlock block = Page->document()->findBlock(m_sections[section].position);
    const QRectF r = Page->document()->documentLayout()->blockBoundingRect(block);
    // The list shows the chosen section even when, near the end of the page,
    // its heading cannot reach the top.
    m_jumping = true;
    Page->verticalScrollBar()->setValue(qRound(r.top()));
    m_jumping = false;
    const QSignalBlocker quiet(Contents);
    Contents->setCurrentRow(section);
}

int HelpViewer::sectionAtTop() const
{
    const int top = Page->verticalScrollBar()->value();
    int at = -1;
    for (int s = 0; s < m_sections.size(); ++s) {
        const QTextBlock block = Page->document()->findBlock(m_sections[s].position);
        if (qRound(Page->document()->documentLayout()->blockBoundingRect(block).top()) <= top)
            at = s;
    }
    return at;
}

void HelpViewer::syncContents()
{
    if (m_jumping)
        return;
    const QSignalBlocker quiet(Contents);
    const int s = sectionAtTop();
    if (s >= 0)
        Contents->setCurrentRow(s);
    else
        Contents->clearSelection();
}

void HelpViewer::indexChosen(QListWidgetItem *item)
{
    if (item)
        showSection(item->data(Qt::UserRole).toInt());
}

void HelpViewer::findInIndex(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return;
    for (int i = 0; i < Index->count(); ++i)
        if (Index->item(i)->text().startsWith(t, Qt::CaseInsensitive)) {
            Index->setCurrentRow(i);
            Index->scrollToItem(Index->item(i), QAbstractItemView::PositionAtTop);
            return;
        }
}

void HelpViewer::followLink(const QUrl &url)
{
    // Only links within the page: the help refers to nothing outside itself.
    if (url.scheme().isEmpty() && url.path().isEmpty() && url.hasFragment())
        Page->scrollToAnchor(url.fragment());
}

HelpViewer *ShowHelp(QWidget *owner)
{
    static QPointer<HelpViewer> open;
    const QString path = programDir() + QStringLiteral("HELP/help.html");
    if (open && open->parentWidget() != owner)
        delete open.data();
    if (!open) {
        open = new HelpViewer(owner, path);
        open->setAttribute(Qt::WA_DeleteOnClose);
        open->show();
        return open;
    }
    if (open->path() != path || !open->isLoaded())
        open->load(path);
    open->showNormal();
    open->raise();
    open->activateWindow();
    return open;
}

} // namespace kp33
