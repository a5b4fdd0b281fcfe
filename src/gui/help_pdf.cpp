// korvimo-help-pdf: a build tool that prints the HTML user guide into the PDF help document
// of the home (docs/Korvan7.0.pdf), so that Help > Contents > Pdf always shows the guide of
// this very build.
//
//   korvimo-help-pdf home/docs/webhelp/korvan.htm build/home/docs/Korvan7.0.pdf
//
// It runs on Qt's offscreen platform unless the environment chooses another, so it needs no
// display. Exit status 0 when the PDF was written, 1 when the guide cannot be read or the
// PDF written, 2 on a usage error.

#include <QFile>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <cstdio>

namespace {

constexpr const char* kUsageText = "Usage: korvimo-help-pdf GUIDE.htm OUTPUT.pdf\n";
constexpr const char* kReadFailedText = "korvimo-help-pdf: cannot read %s\n";
constexpr const char* kWriteFailedText = "korvimo-help-pdf: cannot write %s\n";
constexpr const char* kDocumentTitle = "Korvimo user guide";
constexpr const char* kDocumentCreator = "Korvimo 7.0.1";
constexpr qreal kMarginMm = 18;

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs(kUsageText, stderr);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);

    QFile guide(QString::fromLocal8Bit(argv[1]));
    if (!guide.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, kReadFailedText, argv[1]);
        return 1;
    }
    QTextDocument document;
    document.setHtml(QString::fromUtf8(guide.readAll()));

    // The writer writes when it is destroyed; a file that cannot be created shows up as a
    // device that did not open.
    {
        QPdfWriter writer(QString::fromLocal8Bit(argv[2]));
        writer.setTitle(kDocumentTitle);
        writer.setCreator(kDocumentCreator);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm),
                                         QPageLayout::Millimeter));
        document.print(&writer);
    }
    QFile written(QString::fromLocal8Bit(argv[2]));
    if (!written.open(QIODevice::ReadOnly) || !written.read(5).startsWith("%PDF")) {
        std::fprintf(stderr, kWriteFailedText, argv[2]);
        return 1;
    }
    return 0;
}
