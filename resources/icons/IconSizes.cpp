// Build step: writes the program's icon at the sizes a desktop's icon theme
// looks for, as <out>/hicolor/<n>x<n>/apps/<name>.png, from one picture.
// Usage: reqlark_iconsizes <picture> <out folder> <name> <size>...

#include <QDir>
#include <QImage>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s <picture> <out folder> <name> <size>...\n", argv[0]);
        return 2;
    }
    const QString source = QString::fromLocal8Bit(argv[1]);
    const QImage picture(source);
    if (picture.isNull()) {
        std::fprintf(stderr, "%s: cannot read the picture %s\n", argv[0], argv[1]);
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QByteArray(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 1024) {
            std::fprintf(stderr, "%s: not an icon size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString folder = QStringLiteral("%1/hicolor/%2x%2/apps").arg(out).arg(size);
        const QString file = folder + QLatin1Char('/') + name + QStringLiteral(".png");
        // Downscaling averages the covered pixels, so small sizes stay clean.
        const QImage scaled =
            picture.size() == QSize(size, size)
                ? picture
                : picture.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        if (!QDir().mkpath(folder) ||
            !scaled.convertToFormat(QImage::Format_ARGB32).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(file));
            return 1;
        }
    }
    return 0;
}
