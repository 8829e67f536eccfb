// The README and the manuals in docs/ link to each other, to their pictures and to
// headings by anchor. Every relative link and picture must lead somewhere: a file
// or folder that exists and, for a `#anchor` into a Markdown file, a heading of it.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// GitHub's anchor of a heading: lower case, blanks to '-', every other character
// but letters, digits, '-' and '_' dropped.
QString Anchor(const QString& heading) {
    QString anchor;
    for (const QChar c : heading.trimmed().toLower()) {
        if (c == u' ')
            anchor += u'-';
        else if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            anchor += c;
    }
    return anchor;
}

struct Markdown {
    std::vector<QString> links;  // the targets of links and pictures, as written
    std::set<QString> anchors;
};

// The links and heading anchors of Markdown text; fenced code blocks and inline
// code are text, not Markdown (a `#include` is no heading, `[00](0,0)` no link).
Markdown Parse(const QString& text) {
    static const QRegularExpression code(QStringLiteral("`[^`]*`"));
    static const QRegularExpression link(QStringLiteral("!?\\[[^\\]]*\\]\\(([^)\\s]+)(?:\\s+\"[^\"]*\")?\\)"));
    static const QRegularExpression heading(QStringLiteral("^#{1,6} +(.*?) *#* *$"));
    Markdown markdown;
    bool fenced = false;
    for (const QString& line : text.split(u'\n')) {
        if (line.trimmed().startsWith(QLatin1String("```"))) {
            fenced = !fenced;
            continue;
        }
        if (fenced)
            continue;
        if (const auto match = heading.match(line); match.hasMatch()) {
            QString anchor = Anchor(match.captured(1));
            // A second heading of the same name is "name-1", and so on.
            for (int n = 1; markdown.anchors.count(anchor); ++n)
                anchor = Anchor(match.captured(1)) + u'-' + QString::number(n);
            markdown.anchors.insert(anchor);
        }
        for (auto it = link.globalMatch(QString(line).remove(code)); it.hasNext();)
            markdown.links.push_back(it.next().captured(1));
    }
    return markdown;
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(DocsLinks, AnchorsAreGitHubs) {
    EXPECT_EQ(Anchor(QStringLiteral("Checks: a unit judged by its answers")), "checks-a-unit-judged-by-its-answers");
    EXPECT_EQ(Anchor(QStringLiteral("The electronic journal (command 119)")), "the-electronic-journal-command-119");
    EXPECT_EQ(Anchor(QStringLiteral("`tamrisk-cli` exit_status")), "tamrisk-cli-exit_status");
}

TEST(DocsLinks, CodeIsNeitherLinkNorHeading) {
    const Markdown markdown = Parse(QStringLiteral("# Top\n"
                                                   "See [the page](page.md#top) and ![a picture](shots/a.png \"A\").\n"
                                                   "`[no](link.md)` here\n"
                                                   "```\n"
                                                   "#include \"model.h\"\n"
                                                   "<- [00,00](0,0)\n"
                                                   "```\n"
                                                   "## Top\n"));
    EXPECT_EQ(markdown.links, (std::vector<QString>{"page.md#top", "shots/a.png"}));
    EXPECT_EQ(markdown.anchors, (std::set<QString>{"top", "top-1"}));
}

// Every relative link of README.md and docs/*.md leads to a file or folder that
// exists, and its anchor to a heading of the Markdown file it names; the README
// links to every manual.
TEST(DocsLinks, EveryLinkAndPictureLeadsSomewhere) {
    const QDir source(QStringLiteral(TAMRISK_SOURCE_DIR));
    QStringList files{QStringLiteral("README.md")};
    for (const QString& name : QDir(source.filePath(QStringLiteral("docs"))).entryList({QStringLiteral("*.md")}, QDir::Files))
        files << QStringLiteral("docs/") + name;
    ASSERT_GT(files.size(), 1) << "no manuals in docs/";

    static const QRegularExpression scheme(QStringLiteral("^[a-z][a-z0-9+.-]*:"));
    std::set<QString> linkedFromReadme;
    for (const QString& file : files) {
        SCOPED_TRACE(file.toStdString());
        const QString text = ReadText(source.filePath(file));
        ASSERT_FALSE(text.isEmpty());
        const QDir folder = QFileInfo(source.filePath(file)).dir();
        const Markdown markdown = Parse(text);
        for (const QString& link : markdown.links) {
            if (scheme.match(link).hasMatch())
                continue;
            const QString path = link.section(u'#', 0, 0);
            const QString anchor = link.section(u'#', 1);
            const QString target = path.isEmpty() ? source.filePath(file) : QDir::cleanPath(folder.filePath(path));
            if (file == QLatin1String("README.md"))
                linkedFromReadme.insert(source.relativeFilePath(target));
            EXPECT_TRUE(QFileInfo::exists(target)) << "broken link " << link.toStdString();
            if (anchor.isEmpty() || !QFileInfo::exists(target))
                continue;
            EXPECT_TRUE(target.endsWith(QLatin1String(".md"))) << "an anchor into a file that is not Markdown: " << link.toStdString();
            EXPECT_TRUE(Parse(ReadText(target)).anchors.count(anchor)) << "no heading for " << link.toStdString();
        }
    }
    for (const QString& file : files.mid(1))
        EXPECT_TRUE(linkedFromReadme.count(file)) << "the README does not link to " << file.toStdString();
}

}  // namespace
