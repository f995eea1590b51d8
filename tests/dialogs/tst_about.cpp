// The about box, the version text and its fallbacks, and the help viewer with
// the shipped help file.

#include "dialogs/scaling.h"
#include "dialogs/about.h"
#include "dialogs/faces.h"
#include "dialogs/helpviewer.h"
#include "dialogs/versioninfo.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRawFont>
#include <QRegularExpression>
#include <QStyleFactory>
#include <QTextBrowser>
#include <QtTest>
#include <optional>
#include <unistd.h>

using namespace kp33;

Q_DECLARE_METATYPE(std::optional<kp33::VersionBlock>)

namespace {

const QByteArray Russian1251("\x19\x04\xE3\x04", 4);
const QByteArray English1200("\x09\x04\xB0\x04", 4);

std::optional<VersionBlock> block(const QByteArray &translation, const std::optional<QString> &fileVersion)
{
    VersionBlock b;
    b.translation = translation;
    b.strings[QStringLiteral("041904E3")][QStringLiteral("ProductVersion")] = QStringLiteral("1.0.0.0");
    if (fileVersion)
        b.strings[QStringLiteral("041904E3")][QStringLiteral("FileVersion")] = *fileVersion;
    return b;
}

template <typename T> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

// Three long sections; a heading commented out; a word under two headings;
// an entity inside a word.
QByteArray sampleHelp()
{
    QByteArray html = "<html><head><title>Проба</title></head><body>"
                      "<!-- <h2 data-keywords=\"спрятано\">Закомментировано</h2> -->";
    for (const char *h : {"<h2 id=\"a\" data-keywords=\"порт; Общее; a &amp; b\">Первый</h2>", "<h2 id=\"b\">Второй</h2>",
                          "<h2 id=\"c\" data-keywords='общее;  ; конец'>Третий</h2>"})
        html += h + QByteArray("<p>Строка текста.</p>").repeated(40) + "<p><a href=\"#c\">к третьему</a></p>";
    return html + "</body></html>";
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void cleanup();
    void versionText_data();
    void versionText();
    void programFileCarriesTheBuiltItems();
    void layout();
    void mailLink();
    void showAboutBuildsAndDestroys();
    void unavailableHelp_data();
    void unavailableHelp();
    void shippedHelp_data();
    void shippedHelp();
    void helpBesideTheProgramIsThisPlatforms();
    void helpNamesThisRunsFolders_data();
    void helpNamesThisRunsFolders();
    void helpNavigation();
    void f1OpensOneViewer();
    void labelsInTheCarriedFaces();
};

void TestAbout::initTestCase()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

void TestAbout::cleanup()
{
    RestoreProgramVersion();
    SetMailOpener(nullptr);
}

void TestAbout::versionText_data()
{
    QTest::addColumn<std::optional<VersionBlock>>("version");
    QTest::addColumn<QString>("text");
    QTest::newRow("built in") << std::optional(BuiltInVersion()) << "Версия: 1.1";
    QTest::newRow("the program's own file") << ProgramFileVersion() << "Версия: 1.1";
    QTest::newRow("no version block") << std::optional<VersionBlock>() << "Версия: 0.0";
    QTest::newRow("no translation") << block({}, "1.1.0.41") << "Версия: 0.0";
    QTest::newRow("translation too short") << block(Russian1251.left(2), "1.1.0.41") << "Версия: 0.0";
    QTest::newRow("no FileVersion") << block(Russian1251, std::nullopt) << "Версия: 0.0";
    QTest::newRow("empty FileVersion") << block(Russian1251, "") << "Версия: 0.0";
    QTest::newRow("first translation not ours") << block(English1200 + Russian1251, "1.1.0.41") << "Версия: 0.0";
    QTest::newRow("later translations ignored") << block(Russian1251 + English1200, "1.1.0.41") << "Версия: 1.1";
    QTest::newRow("one full stop") << block(Russian1251, "1.2") << "Версия: ";
    QTest::newRow("three parts") << block(Russian1251, "1.2.3") << "Версия: 1";
    QTest::newRow("trailing stops") << block(Russian1251, "12.34..") << "Версия: 12.34";
}

void TestAbout::versionText()
{
    QFETCH(std::optional<VersionBlock>, version);
    QFETCH(QString, text);
    QCOMPARE(kp33::VersionText(version), text);
    // The box reads the program's items when it opens.
    SetProgramVersion(version);
    TAbout box(nullptr);
    QCOMPARE(child<QLabel>(&box, "Version")->text(), text);
}

// On Windows the block is the resource compiler's work, read back from the
// program file: the same items as compiled in, Cyrillic intact.
void TestAbout::programFileCarriesTheBuiltItems()
{
    const std::optional<VersionBlock> file = ProgramFileVersion();
    QVERIFY(file);
    const VersionBlock built = BuiltInVersion();
    QCOMPARE(file->fileVersion, built.fileVersion);
    QCOMPARE(file->productVersion, built.productVersion);
    QCOMPARE(file->translation, built.translation);
    QCOMPARE(file->strings, built.strings);
    QCOMPARE(file->queryString(QStringLiteral("\\StringFileInfo\\041904E3\\FileDescription")),
             std::optional<QString>(QStringLiteral("Виртуальный термометр KP33")));
}

void TestAbout::layout()
{
    TAbout box(nullptr);
    QCOMPARE(box.minimumSize(), QSize(427, 322));
    QCOMPARE(box.maximumSize(), QSize(427, 322));
    const struct {
        const char *name;
        QRect at;
    } labels[] = {{"Label3", {236, 16, 98, 50}}, {"Label10", {234, 14, 98, 50}}, {"Label1", {179, 64, 218, 22}},
                  {"Version", {250, 92, 77, 17}}, {"Label5", {31, 144, 364, 16}}, {"MyEMail", {150, 168, 69, 16}},
                  {"Label9", {28, 200, 185, 16}}, {"Label8", {146, 296, 135, 16}}};
    for (const auto &e : labels) {
        // Place and height as designed; a label grows only to the right, so
        // its whole text shows in its own font.
        auto *l = child<QLabel>(&box, e.name);
        QVERIFY2(l && l->pos() == e.at.topLeft() && l->height() == e.at.height(), e.name);
        QVERIFY2(l->width() >= std::max(e.at.width(), l->fontMetrics().horizontalAdvance(l->text())), e.name);
    }
    QCOMPARE(child<QLabel>(&box, "Label5")->toolTip(), QStringLiteral("e-mail: kp33@example.org"));
    QCOMPARE(child<QLabel>(&box, "Img1")->pixmap().size(), QSize(142, 84));
    QCOMPARE(child<QLabel>(&box, "Img2")->pixmap().size(), QSize(70, 48));
    // Stacking: the mark lies over its shadow, and nothing lies over the link.
    QCOMPARE(box.childAt(300, 40)->objectName(), QStringLiteral("Label10"));
    auto *link = child<QLabel>(&box, "MyEMail");
    QCOMPARE(box.childAt(link->geometry().center()), link);
}

void TestAbout::mailLink()
{
    QList<QUrl> opened;
    SetMailOpener([&](const QUrl &url) { opened << url; });
    TAbout box(nullptr);
    box.show();
    auto *link = child<QLabel>(&box, "MyEMail");
    QTest::mouseClick(link, Qt::LeftButton);
    QCOMPARE(opened, QList<QUrl>{QUrl(QStringLiteral("mailto:kp33@example.org"))});
    // A press on the link released off it is no click.
    QTest::mousePress(link, Qt::LeftButton);
    QTest::mouseRelease(link, Qt::LeftButton, {}, QPoint(link->width() + 5, 5));
    QCOMPARE(opened.size(), 1);
    QVERIFY(box.isVisible());
}

void TestAbout::showAboutBuildsAndDestroys()
{
    // What both commands run: a new modal box over the owner, gone once
    // closed, whether by OK, Enter or Esc.
    QWidget owner;
    owner.show();
    for (int how = 0; how < 3; ++how) {
        QPointer<TAbout> seen;
        bool modal = false;
        QTimer::singleShot(0, this, [&] {
            seen = qobject_cast<TAbout *>(QApplication::activeModalWidget());
            modal = seen && seen->isModal() && seen->parentWidget() == &owner;
            if (seen && how == 0)
                QTest::mouseClick(child<QPushButton>(seen, "BTN"), Qt::LeftButton);
            else if (seen)
                QTest::keyClick(seen, how == 1 ? Qt::Key_Return : Qt::Key_Escape);
        });
        ShowAbout(&owner);
        QVERIFY2(modal && seen.isNull(), qPrintable(QString::number(how)));
    }
}

void TestAbout::unavailableHelp_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    QTest::newRow("missing") << "missing" << "не найден";
    QTest::newRow("directory") << "directory" << "не обычный файл";
    QTest::newRow("fifo") << "fifo" << "не обычный файл";
    QTest::newRow("not readable") << "unreadable" << "не открывается";
    QTest::newRow("not UTF-8") << "latin1" << "повреждён";
}

void TestAbout::unavailableHelp()
{
    QFETCH(QString, kind);
    QFETCH(QString, says);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("help.html"));
    if (kind == "directory") {
        QVERIFY(QDir().mkdir(path));
    } else if (kind == "fifo") {
        if (!test::HasFifos)
            QSKIP("no FIFOs in this file system");
        QVERIFY(test::MakeFifo(path));
    } else if (kind == "latin1") {
        QVERIFY(writeFile(path, "<h2>Caf\xE9</h2>"));
    } else if (kind == "unreadable") {
        QVERIFY(writeFile(path, sampleHelp()) && QFile::setPermissions(path, QFileDevice::WriteOwner));
        if (::access(QFile::encodeName(path).constData(), R_OK) == 0)
            QSKIP("this user reads files without read permission");
    }
    HelpViewer viewer(nullptr, path);
    viewer.show();
    QVERIFY(!viewer.isLoaded());
    QVERIFY(viewer.contents().isEmpty() && viewer.index().isEmpty());
    const QString page = child<QTextBrowser>(&viewer, "Page")->toPlainText();
    QVERIFY2(page.contains(says) && page.contains(QDir::toNativeSeparators(path)), qPrintable(page));

    if (kind == "missing") { // the same viewer shows the file once it is there
        QVERIFY(writeFile(path, sampleHelp()));
        QVERIFY(viewer.load(path));
        QCOMPARE(viewer.contents().size(), 3);
    }
}

void TestAbout::shippedHelp_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("sections");
    QTest::addColumn<QStringList>("has");
    QTest::addColumn<QStringList>("hasNot"); // patterns, in the page's HTML
    const QStringList before{
        "Начало работы", "Подключение датчика и выбор порта", "Измерение и демонстрационный режим",
        "График, границы и допустимая температура", "Аварийная сигнализация", "Запись данных",
        "Параметры датчика и цвета", "Файл настроек", "Где хранятся файлы",
    };
    const QStringList after{"Устранение неполадок", "О программе"};
    // What only a Linux system has: its device and system paths, its
    // commands, its folders, and the context menu that stands in for the
    // system menu there.
    const QStringList linuxOnly{
        "/dev/", "/sys/", "/etc/", "/usr\\b", "~/", "\\.local\\b", "\\$HOME", "\\$USER", "\\bsudo\\b",
        "\\bdialout\\b", "\\budev\\b", "\\bchmod\\b", "\\bapt(-get)?\\b", "\\busermod\\b", "\\bXDG_",
        "latency_timer", "\\btty(S|USB|ACM)", "\\bLinux\\b", "правой кнопк",
    };
    // And what only Windows has.
    const QStringList windowsOnly{"Диспетчер", "LOCALAPPDATA", "HKEY_", "setup\\.exe", "\\b[A-Z]:\\\\"};
    QTest::newRow("Linux") << QStringLiteral(KP33_HELP_POSIX) << before + after
                           << QStringList{"/dev/ttyS0",
                                          "/dev/ttyUSB0",
                                          "/dev/serial/by-id/",
                                          "sudo usermod -aG dialout $USER",
                                          "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer",
                                          "/etc/udev/rules.d/99-kp33.rules",
                                          "~/.config/KP33/KP33.ini",
                                          "$XDG_DATA_HOME/KP33/DATA/",
                                          "Щелчок правой кнопкой мыши",
                                          "Порт COM<i>n</i> недоступен!",
                                          "Датчик не обнаружен!"}
                           << windowsOnly;
    QTest::newRow("Windows") << QStringLiteral(KP33_HELP_WIN)
                             << before + QStringList{"Установка и удаление"} + after
                             << QStringList{"Диспетчер устройств",
                                            "Порты (COM и LPT)",
                                            "COM3=COM7",
                                            "Latency Timer (msec)",
                                            "%LOCALAPPDATA%\\KP33\\KP33.ini",
                                            "%LOCALAPPDATA%\\Programs\\KP33",
                                            "HKEY_CURRENT_USER\\SOFTWARE\\KP33\\Information",
                                            "kp33-setup.exe",
                                            "uninstall.exe",
                                            "Alt+Пробел",
                                            "Порт COM<i>n</i> недоступен!",
                                            "Датчик не обнаружен!"}
                             << linuxOnly;
}

// Each platform's page: its sections in the contents, every section in the
// index, every link to a section; what the platform has, and nothing of the
// other's.
void TestAbout::shippedHelp()
{
    QFETCH(QString, path);
    QFETCH(QStringList, sections);
    QFETCH(QStringList, has);
    QFETCH(QStringList, hasNot);
    HelpViewer viewer(nullptr, path);
    QVERIFY(viewer.isLoaded());
    QCOMPARE(viewer.contents(), sections);

    // Every section can be reached from the index.
    auto *index = child<QListWidget>(&viewer, "Index");
    QSet<int> reached;
    for (int i = 0; i < index->count(); ++i)
        reached.insert(index->item(i)->data(Qt::UserRole).toInt());
    QCOMPARE(reached.size(), sections.size());

    // Every link inside the help leads to a section.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QString html = QString::fromUtf8(f.readAll());
    html.remove(QRegularExpression(QStringLiteral("<!--.*?-->"), QRegularExpression::DotMatchesEverythingOption));
    QSet<QString> ids;
    for (const auto &m : QRegularExpression(QStringLiteral("<h2 id=\"([^\"]+)\"")).globalMatch(html))
        ids.insert(QLatin1Char('#') + m.captured(1));
    QCOMPARE(ids.size(), sections.size());
    for (const auto &m : QRegularExpression(QStringLiteral("href=\"([^\"]*)\"")).globalMatch(html))
        QVERIFY2(ids.contains(m.captured(1)), qPrintable(m.captured(1)));

    for (const QString &text : has)
        QVERIFY2(html.contains(text), qPrintable(text));
    for (const QString &pattern : hasNot) {
        const QRegularExpression re(pattern);
        QVERIFY2(re.isValid(), qPrintable(pattern));
        const auto m = re.match(html);
        const QString around = html.mid(std::max<qsizetype>(0, m.capturedStart() - 40), 80).simplified();
        QVERIFY2(!m.hasMatch(), qPrintable(pattern + QStringLiteral(" in \"...") + around + QStringLiteral("...\"")));
    }
}

// The build puts this platform's page beside the program, and its source
// stays behind.
void TestAbout::helpBesideTheProgramIsThisPlatforms()
{
#ifdef Q_OS_WIN
    const QString own = QStringLiteral(KP33_HELP_WIN);
#else
    const QString own = QStringLiteral(KP33_HELP_POSIX);
#endif
    QFile beside(QStringLiteral(KP33_HELP_FILE)), page(own);
    QVERIFY(beside.open(QIODevice::ReadOnly) && page.open(QIODevice::ReadOnly));
    QVERIFY(beside.readAll() == page.readAll());
    QVERIFY(!QFileInfo::exists(QFileInfo(beside).absolutePath() + "/help.html.in"));
    // Every file the page names in the help folder travels beside it.
    QFile again(QStringLiteral(KP33_HELP_FILE));
    QVERIFY(again.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(again.readAll());
    static const QRegularExpression named(QStringLiteral("<code>([\\w.-]+\\.txt)</code>"));
    int files = 0;
    for (const QRegularExpressionMatch &m : named.globalMatch(text)) {
        ++files;
        QVERIFY2(QFileInfo::exists(QFileInfo(beside).absolutePath() + "/" + m.captured(1)), qPrintable(m.captured(1)));
    }
    QVERIFY(files > 0);
}

void TestAbout::helpNamesThisRunsFolders_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("a program folder the user may write") << true;
    QTest::newRow("a read-only program folder") << false;
}

// The help says where this run keeps its settings and its data, in the
// platform's own separators.
void TestAbout::helpNamesThisRunsFolders()
{
    QFETCH(bool, writable);
    std::optional<test::ProgramFolder> program;
    std::optional<test::UserFolders> user;
    QString settings, data;
    if (writable) {
        program.emplace();
        settings = data = program->path();
    } else {
        user.emplace();
        settings = user->settings();
        data = user->data();
        QVERIFY2(!settings.isEmpty() && !data.isEmpty(), "the system names no folder of the user's");
    }
    HelpViewer viewer(nullptr, QStringLiteral(KP33_HELP_FILE));
    QVERIFY(viewer.isLoaded());
    const QString page = child<QTextBrowser>(&viewer, "Page")->toPlainText();
    const QString says = QStringLiteral("Сейчас настройки записываются в файл %1, а записи измерений — в папку %2.")
                             .arg(QDir::toNativeSeparators(settings + "KP33.ini"),
                                  QDir::toNativeSeparators(data + "DATA"));
    QVERIFY2(page.simplified().contains(says), qPrintable(says));
    QVERIFY(!page.contains("%KP33_"));
}

void TestAbout::helpNavigation()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("help.html"));
    QVERIFY(writeFile(path, sampleHelp()));
    HelpViewer viewer(nullptr, path);
    viewer.show();
    QCOMPARE(viewer.windowTitle(), QStringLiteral("Проба"));
    QCOMPARE(viewer.contents(), (QStringList{"Первый", "Второй", "Третий"}));
    // Russian order regardless of case; a word of two sections names each.
    QCOMPARE(viewer.index(), (QStringList{"конец", "Общее — Первый", "общее — Третий", "порт", "a & b"}));

    auto *page = child<QTextBrowser>(&viewer, "Page");
    auto *contents = child<QListWidget>(&viewer, "Contents");
    auto *index = child<QListWidget>(&viewer, "Index");
    QCOMPARE(viewer.sectionAtTop(), -1);
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, contents->visualItemRect(contents->item(1)).center());
    const int headingTop = page->cursorRect(page->document()->find(QStringLiteral("Второй"))).top();
    QVERIFY2(headingTop >= 0 && headingTop < 30, qPrintable(QString::number(headingTop)));

    // An index word leads to its section and the contents follow; typing
    // finds the first word that begins so, and Enter goes there.
    QTest::mouseClick(index->viewport(), Qt::LeftButton, {}, index->visualItemRect(index->item(2)).center());
    QCOMPARE(viewer.sectionAtTop(), 2);
    QCOMPARE(contents->currentRow(), 2);
    QTest::keyClicks(child<QLineEdit>(&viewer, "IndexFilter"), QStringLiteral("A"));
    QTest::keyClick(child<QLineEdit>(&viewer, "IndexFilter"), Qt::Key_Return);
    QCOMPARE(viewer.sectionAtTop(), 0);
    QCOMPARE(contents->currentRow(), 0);
    QVERIFY(viewer.isVisible());

    emit page->anchorClicked(QUrl(QStringLiteral("#c")));
    QCOMPARE(viewer.sectionAtTop(), 2);
}

void TestAbout::f1OpensOneViewer()
{
    test::ProgramFolder folder;
    QWidget owner;
    owner.show();
    // No help beside the program: the viewer says so, and nothing waits on it.
    QPointer<HelpViewer> viewer = ShowHelp(&owner);
    QVERIFY(viewer && viewer->isVisible() && !viewer->isLoaded());
    QCOMPARE(viewer->path(), folder.path() + "HELP/help.html");
    QCOMPARE(QApplication::activeModalWidget(), nullptr);

    // F1 again once the file is there: the same viewer, now with the help.
    QVERIFY(QDir().mkpath(folder.path() + "HELP"));
    QVERIFY(QFile::copy(QStringLiteral(KP33_HELP_FILE), viewer->path()));
    QCOMPARE(ShowHelp(&owner), viewer.data());
    QVERIFY(viewer->isLoaded());
    delete viewer.data();
}

// Every label of the box gets the face it asks for, not a substitute; where
// that is the stand-in, the very faces the program carries (compared by
// their font header), also where the system has a Liberation Sans of its
// own. The box has both weights of the stand-in: its text, and the bold
// lines and product mark.
void TestAbout::labelsInTheCarriedFaces()
{
    QVERIFY(LoadCarriedFaces());
    for (const Face face : {Face::MSSansSerif, Face::Arial, Face::ArialBlack}) {
        const QString name = SystemFaceName(face);
        const char *what = name.isEmpty()                                     ? "none named here"
                           : !QFontDatabase::hasFamily(name)                  ? "missing"
                           : !QFontDatabase::isSmoothlyScalable(name)          ? "a bitmap face"
                           : !QFontDatabase::writingSystems(name).contains(QFontDatabase::Cyrillic)
                               ? "without Cyrillic"
                               : "there";
        qInfo("system face \"%s\": %s; taken: %s", qPrintable(name), what, qPrintable(FaceFamily(face)));
    }
    // The bitmap and the western "MS Sans Serif" are never taken.
    QCOMPARE(FaceFamily(Face::MSSansSerif), QStringLiteral("Liberation Sans"));
    const auto carriedHeader = [](const QString &file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? QRawFont(f.readAll(), 11).fontTable("head") : QByteArray();
    };
    const QByteArray regular = carriedHeader(QStringLiteral(":/faces/LiberationSans-Regular.ttf"));
    const QByteArray bold = carriedHeader(QStringLiteral(":/faces/LiberationSans-Bold.ttf"));
    QVERIFY(!regular.isEmpty() && !bold.isEmpty() && regular != bold);

    TAbout box(nullptr);
    QSet<QByteArray> weights;
    for (const QLabel *l : box.findChildren<QLabel *>()) {
        const QFont f = l->font();
        const QFontInfo info(f);
        const QByteArray name = l->objectName().toLatin1();
        QVERIFY2(info.family() == f.family(), name + " got " + info.family().toUtf8());
        // Only the two upright faces travel with the program.
        if (f.family() != QStringLiteral("Liberation Sans") || f.italic())
            continue;
        const bool isBold = f.weight() >= QFont::Bold;
        QVERIFY2(QRawFont::fromFont(f).fontTable("head") == (isBold ? bold : regular), name);
        weights.insert(isBold ? "Bold" : "Regular");
        qInfo("%s: %s %s, the carried face", name.constData(), qPrintable(info.family()), isBold ? "Bold" : "Regular");
    }
    QCOMPARE(weights, (QSet<QByteArray>{"Regular", "Bold"}));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
