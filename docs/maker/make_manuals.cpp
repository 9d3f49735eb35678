// kx-manuals: makes the two PDF manuals at build time.
//
//   kx-manuals SOURCE_DIR PICTURE_DIR OUT_DIR VERSION
//
// Takes the pictures of the real window (window_pictures.h) into
// PICTURE_DIR, then renders SOURCE_DIR/user-manual.md to "KX627
// Configuration Manual.pdf" and SOURCE_DIR/at-command-manual.md to "AT
// Command Manual.pdf" in OUT_DIR. In the Markdown, {{version}} stands for
// VERSION and, in the AT command manual, {{commands}} for the command list:
// one entry per row of the tool's own command table, in its order, with the
// text of SOURCE_DIR/at-commands.md for that command. A row without a text,
// or a text for a command the table does not hold, fails the build, so the
// manual and the table cannot drift apart. Runs on the offscreen platform.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "atcmd/command_table.h"
#include "window_pictures.h"

namespace {

// Widest picture on the page, in the layout's pixels at 96 dpi: the width
// of A4 within the 2 cm margins QTextDocument::print keeps.
constexpr double kPictureWidth = 620;

bool readText(const QString& path, QString* text) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  *text = QString::fromUtf8(file.readAll());
  return true;
}

// The command's name as the manual shows it: the table's pattern without
// the carriage return that rows 1 and 14 match on.
QString commandName(const kx::CommandTableRow& row) {
  QString name = QString::fromLatin1(row.pattern);
  if (name.endsWith(u'\r')) name.chop(1);
  return name;
}

struct CommandText {
  QString name;
  QString body;
  QString firmware;  // the "- Firmware:" line
  QString setting;   // the "- Setting:" line
  bool used = false;
};

// The entries of at-commands.md: each starts with a "## NAME" line.
std::vector<CommandText> parseCommandTexts(const QString& markdown) {
  std::vector<CommandText> entries;
  for (const QString& line : markdown.split(u'\n')) {
    if (line.startsWith(QStringLiteral("## "))) {
      entries.push_back({line.mid(3).trimmed(), {}, {}, {}, false});
      continue;
    }
    if (entries.empty()) continue;  // the file's own introduction
    CommandText& e = entries.back();
    e.body += line + u'\n';
    if (line.startsWith(QStringLiteral("- Firmware:"))) e.firmware = line.mid(11).trimmed();
    if (line.startsWith(QStringLiteral("- Setting:"))) e.setting = line.mid(10).trimmed();
  }
  return entries;
}

// The command list: a summary table, then one section per command, both
// in the order of the command table.
bool commandList(const QString& markdown, QString* out, QString* error) {
  std::vector<CommandText> entries = parseCommandTexts(markdown);
  QString summary = QStringLiteral("| Index | Command | Firmware | Changes |\n|---|---|---|---|\n");
  QString sections;
  for (const kx::CommandTableRow* row = kx::commandTable; row->index != 0; ++row) {
    const QString name = commandName(*row);
    auto e = std::find_if(entries.begin(), entries.end(), [&](const CommandText& t) { return t.name == name; });
    if (e == entries.end()) {
      *error = QStringLiteral("at-commands.md has no entry for command %1 (%2)").arg(row->index).arg(name);
      return false;
    }
    if (e->firmware.isEmpty() || e->setting.isEmpty()) {
      *error = QStringLiteral("at-commands.md: the entry for %1 needs a \"- Firmware:\" and a \"- Setting:\" line")
                   .arg(name);
      return false;
    }
    e->used = true;
    summary += QStringLiteral("| %1 | `%2` | %3 | %4 |\n").arg(row->index).arg(name, e->firmware, e->setting);
    sections += QStringLiteral("## %1 (%2)\n%3\n").arg(name).arg(row->index).arg(e->body);
  }
  for (const CommandText& e : entries) {
    if (!e.used) {
      *error = QStringLiteral("at-commands.md describes %1, which the command table does not hold").arg(e.name);
      return false;
    }
  }
  *out = summary + u'\n' + sections;
  return true;
}

// Every picture the document shows, loaded from the first of `pictures` that
// holds it (the pictures this build took, then those kept beside the
// Markdown, such as the ones taken of the Windows build under Wine) and
// scaled to fit the page; false when one is missing.
bool placePictures(QTextDocument& doc, const QStringList& pictures, QString* error) {
  std::vector<std::pair<QTextFragment, QTextImageFormat>> found;
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
    for (auto it = block.begin(); !it.atEnd(); ++it)
      if (it.fragment().charFormat().isImageFormat())
        found.emplace_back(it.fragment(), it.fragment().charFormat().toImageFormat());
  for (auto& [fragment, format] : found) {
    QImage image;
    for (const QString& dir : pictures)
      if (image.load(QDir(dir).filePath(format.name()))) break;
    if (image.isNull()) {
      *error = QStringLiteral("no picture %1 in %2").arg(format.name(), pictures.join(QStringLiteral(" or ")));
      return false;
    }
    doc.addResource(QTextDocument::ImageResource, QUrl(format.name()), image);
    const double width = std::min<double>(image.width(), kPictureWidth);
    format.setWidth(width);
    format.setHeight(width * image.height() / image.width());
    QTextCursor cursor(&doc);
    cursor.setPosition(fragment.position());
    cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
  }
  return true;
}

bool holdsPicture(const QTextBlock& block) {
  for (auto it = block.begin(); !it.atEnd(); ++it)
    if (it.fragment().charFormat().isImageFormat()) return true;
  return false;
}

// Chapters (level-1 headings) start on a new page, and so does a heading
// followed at once by a picture, which keeps the two together; headings get
// room above them. Tables get thin rules and a shaded header row; code
// blocks a shaded background.
void shape(QTextDocument& doc) {
  for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
    QTextBlockFormat format = block.blockFormat();
    if (format.headingLevel() > 0) {
      const bool chapter = format.headingLevel() == 1 || holdsPicture(block.next());
      if (chapter && block != doc.begin()) format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
      format.setTopMargin(format.headingLevel() == 1 ? 0 : 8);
      format.setBottomMargin(4);
    } else if (format.hasProperty(QTextFormat::BlockCodeFence)) {
      format.setBackground(QColor(0xF0, 0xF0, 0xF0));
    } else {
      continue;
    }
    QTextCursor(block).setBlockFormat(format);
  }
  for (QTextFrame* frame : doc.rootFrame()->childFrames()) {
    auto* table = qobject_cast<QTextTable*>(frame);
    if (!table) continue;
    QTextTableFormat format = table->format();
    format.setBorder(0.5);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setBorderBrush(QColor(0x90, 0x90, 0x90));
    format.setBorderCollapse(true);
    format.setCellPadding(3);
    format.setCellSpacing(0);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    table->setFormat(format);
    for (int column = 0; column < table->columns(); ++column) {
      QTextTableCell cell = table->cellAt(0, column);
      QTextCharFormat cellFormat = cell.format();
      cellFormat.setBackground(QColor(0xE4, 0xE8, 0xEE));
      cell.setFormat(cellFormat);
    }
  }
}

bool renderPdf(const QString& markdown, const QStringList& pictures, const QString& title, const QString& path,
               QString* error) {
  QTextDocument doc;
  doc.setDefaultFont(QFont(QStringLiteral("Liberation Sans"), 10));
  doc.setMarkdown(markdown, QTextDocument::MarkdownDialectGitHub);
  if (!placePictures(doc, pictures, error)) return false;
  shape(doc);

  QPdfWriter writer(path);
  writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
  writer.setResolution(300);
  writer.setTitle(title);
  writer.setCreator(QStringLiteral("KX627 Configuration Tool"));
  doc.print(&writer);
  if (!QFileInfo(path).isFile() || QFileInfo(path).size() == 0) {
    *error = QStringLiteral("cannot write ") + path;
    return false;
  }
  return true;
}

int fail(const QString& what) {
  std::fprintf(stderr, "kx-manuals: %s\n", qPrintable(what));
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 5) return fail(QStringLiteral("usage: kx-manuals SOURCE_DIR PICTURE_DIR OUT_DIR VERSION"));
  const QDir source(QString::fromLocal8Bit(argv[1]));
  const QString pictures = QString::fromLocal8Bit(argv[2]);
  const QDir out(QString::fromLocal8Bit(argv[3]));
  const QString version = QString::fromLocal8Bit(argv[4]);
  if (!QDir().mkpath(out.path())) return fail(QStringLiteral("cannot create ") + out.path());

  if (QString failed = kx::manual::takeWindowPictures(pictures); !failed.isEmpty())
    return fail(QStringLiteral("window pictures: ") + failed);

  QString user, at, commands, list, error;
  if (!readText(source.filePath(QStringLiteral("user-manual.md")), &user) ||
      !readText(source.filePath(QStringLiteral("at-command-manual.md")), &at) ||
      !readText(source.filePath(QStringLiteral("at-commands.md")), &commands))
    return fail(QStringLiteral("cannot read the manuals' sources in ") + source.path());
  if (!commandList(commands, &list, &error)) return fail(error);
  user.replace(QStringLiteral("{{version}}"), version);
  at.replace(QStringLiteral("{{version}}"), version).replace(QStringLiteral("{{commands}}"), list);

  if (!renderPdf(user, {pictures, source.path()}, QStringLiteral("KX627 Configuration Manual"),
                 out.filePath(QStringLiteral("KX627 Configuration Manual.pdf")), &error) ||
      !renderPdf(at, {pictures, source.path()}, QStringLiteral("AT Command Manual"),
                 out.filePath(QStringLiteral("AT Command Manual.pdf")), &error))
    return fail(error);
  return 0;
}
