// Build-time helper of the desktop program: rasterises the SVG artwork into the PNG pictures the
// program carries, and typesets the instruction manual from its Markdown source into a PDF.
//   tarvex-docgen png <in.svg> <out.png> <width> <height>
//   tarvex-docgen pdf <in.md> <out.pdf> <title>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <cstdio>

namespace {

int Fail(const QString& text) {
  std::fprintf(stderr, "tarvex-docgen: %s\n", qPrintable(text));
  return 1;
}

int Rasterise(const QString& in, const QString& out, int width, int height) {
  QSvgRenderer svg(in);
  if (!svg.isValid()) return Fail("cannot read " + in);
  if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return Fail("bad size");
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  svg.render(&painter);
  painter.end();
  if (!image.save(out, "PNG")) return Fail("cannot write " + out);
  return 0;
}

int Typeset(const QString& in, const QString& out, const QString& title) {
  QFile source(in);
  if (!source.open(QIODevice::ReadOnly)) return Fail("cannot read " + in);
  const QString markdown = QString::fromUtf8(source.readAll());

  QPdfWriter pdf(out);
  pdf.setTitle(title);
  pdf.setCreator("Tarvex Ltd");
  pdf.setResolution(300);
  pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(20, 18, 20, 18),
                                QPageLayout::Millimeter));

  QTextDocument doc;
  QFont font("DejaVu Sans");
  font.setPointSizeF(10.5);
  doc.setDefaultFont(font);
  doc.setDefaultStyleSheet("h1 { color: #123a6b; } h2 { color: #123a6b; } h3 { color: #2f6db5; }");
  doc.setMarkdown(markdown);
  doc.print(&pdf);
  if (QFile(out).size() == 0) return Fail("cannot write " + out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Fonts and the PDF writer need a GUI application; no display is used.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = QGuiApplication::arguments();
  if (args.size() == 6 && args[1] == "png") {
    return Rasterise(args[2], args[3], args[4].toInt(), args[5].toInt());
  }
  if (args.size() == 5 && args[1] == "pdf") return Typeset(args[2], args[3], args[4]);
  return Fail("usage: png <in.svg> <out.png> <w> <h> | pdf <in.md> <out.pdf> <title>");
}
