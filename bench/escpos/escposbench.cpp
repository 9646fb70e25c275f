// Time and peak memory of the receipt jobs' heavy steps: rasterising a photograph of an 80 mm
// receipt's width in high and low density (and the whole picture job from its PNG next to
// ImageMagick's dithering of the same PNG), encoding a long receipt of accented text, previewing
// a receipt with a QR code, and a QR code's bytes with the printer's function next to the same
// QR code sent as a picture.
//
//   escposbench [runs] [filter]   (filter: run only the jobs whose name contains it)
//
// Peak memory is the process' resident high-water mark during one job, reset before each job
// through /proc/self/clear_refs, minus the resident size before the job.

#include "esccodes.h"
#include "escimagemanager.h"
#include "esctools.h"
#include "printjob.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

// A deterministic stand-in for a photograph: smooth shading, edges and fine texture.
QImage photograph(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    quint32 noise = 12345;
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const double shade = 0.5 + 0.25 * std::sin(x / 37.0) * std::cos(y / 53.0) +
                                 0.2 * std::sin((x + y) / 91.0);
            const int grain = int((noise >> 16) % 25) - 12;
            const auto channel = [&](double weight) {
                return std::clamp(int(255 * shade * weight) + grain, 0, 255);
            };
            row[x] = qRgb(channel(1.0), channel(0.85), channel(0.7));
        }
    }
    return image;
}

QString receipt(int lines)
{
    const QStringList items = {
        QStringLiteral("Pão de açúcar orgânico"), QStringLiteral("Café expresso duplo"),
        QStringLiteral("Maçã reineta (kg)"),      QStringLiteral("Água mineral c/ gás"),
        QStringLiteral("Pastel de nata — caixa"), QStringLiteral("Queijo da Serra da Estrela"),
        QStringLiteral("Feijão-frade cozido"),    QStringLiteral("Limonada caseira"),
    };
    QString text;
    for (int i = 0; i < lines; ++i)
        text += QStringLiteral("%1 x%2 ........ %3,%4 €  Obrigado pela preferência!\n")
                    .arg(items.at(i % items.size()))
                    .arg(i % 5 + 1)
                    .arg(i % 40 + 1)
                    .arg(i % 100, 2, 10, QLatin1Char('0'));
    return text;
}

QString filter;

// The median time in ms, or 0 when the filter leaves the job out.
double measure(const char* name, int runs, const std::function<qint64()>& job)
{
    if (!QString::fromLatin1(name).contains(filter))
        return 0;
    std::vector<double> times;
    qint64 peak = 0;
    qint64 bytes = 0;
    for (int i = 0; i < runs; ++i) {
        const qint64 before = statusKb("VmRSS:");
        resetPeak();
        QElapsedTimer clock;
        clock.start();
        bytes = job();
        times.push_back(clock.nsecsElapsed() / 1e6);
        peak = std::max(peak, statusKb("VmHWM:") - before);
    }
    std::sort(times.begin(), times.end());
    std::printf("%-34s median %8.2f ms  min %8.2f ms  peak +%6lld KiB  output %lld bytes\n", name,
                times[times.size() / 2], times.front(), static_cast<long long>(peak),
                static_cast<long long>(bytes));
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    // The preview draws text: a GUI application, without a display if there is none.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The print job's debug lines would drown the figures.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    const int runs = std::max(1, app.arguments().value(1, QStringLiteral("10")).toInt());
    filter = app.arguments().value(2);

    const QImage photo = photograph(576, 2000);
    const auto raster = [&](bool highDensity) {
        // The print job's target size: low density halves the width and takes a third of
        // the height.
        const int width = highDensity ? photo.width() : int(float(photo.width()) * 0.5f);
        const int height = highDensity ? photo.height() : int(float(photo.height()) * 0.33333334f);
        ESCImageManager manager;
        manager.setImage(photo, width, height, highDensity, 0, false);
        return qint64(manager.getBytesToSend().size());
    };
    measure("raster 576x2000, high density", runs, [&] { return raster(true); });
    measure("raster 576x2000, low density", runs, [&] { return raster(false); });

    // The whole picture job from the PNG a web page sends, next to ImageMagick dithering the
    // same PNG to one bit a dot (Floyd-Steinberg, as the job does) on its own, one process a
    // run as on a command line.
    QByteArray photoPng;
    QBuffer photoBuffer(&photoPng);
    photoBuffer.open(QIODevice::WriteOnly);
    photo.save(&photoBuffer, "PNG");
    const double ours = measure("picture job from PNG, high density", runs, [&] {
        ESCImageManager manager;
        manager.setImage(QImage::fromData(photoPng), 576, 2000, true, 0, false);
        return qint64(manager.getBytesToSend().size());
    });
    // Debian's own binary by name: a "convert" elsewhere on the path may be something else.
    QString magick = QStandardPaths::findExecutable(QStringLiteral("convert-im6.q16"));
    if (magick.isEmpty())
        magick = QStandardPaths::findExecutable(QStringLiteral("convert"));
    QTemporaryFile photoFile(QDir::tempPath() + QStringLiteral("/escposbench-XXXXXX.png"));
    if (ours > 0 && !magick.isEmpty() && photoFile.open() && photoFile.write(photoPng) > 0 &&
        photoFile.flush()) {
        const double theirs = measure("ImageMagick dithering, same PNG", runs, [&] {
            QProcess convert;
            convert.start(magick, {photoFile.fileName(), QStringLiteral("-dither"),
                                   QStringLiteral("FloydSteinberg"), QStringLiteral("-monochrome"),
                                   QStringLiteral("pbm:-")});
            convert.waitForFinished(-1);
            return qint64(convert.readAllStandardOutput().size());
        });
        if (theirs > 0)
            std::printf("picture job: %.2f x ImageMagick's dithering alone\n", ours / theirs);
    } else if (ours > 0) {
        std::printf("ImageMagick (package imagemagick) not found: no reference for the picture "
                    "job\n");
    }

    const QString text = receipt(200);
    measure("text, 200 lines, code pages", runs, [&] {
        return qint64(
            ESCTools::characterSetParser(ESCTools::wrapText(text, 48, false), false).size());
    });
    measure("text, 200 lines, folded", runs, [&] {
        return qint64(
            ESCTools::characterSetParser(ESCTools::wrapText(text, 48, true), false).size());
    });

    // A Portuguese invoice's QR code (about 160 characters), at 6 dots a module.
    const QString qrText = QStringLiteral(
        "A:501234567*B:999999990*C:PT*D:FT*E:N*F:20240131*G:FT A/1234*H:JF7G-1234*I1:PT*I7:5.77*"
        "I8:1.33*N:1.33*O:7.10*Q:Ab1C*R:1234");
    const QJsonObject qrCommand{{"op", "qrcode"}, {"data", QJsonObject{{"data", qrText}}}};
    QJsonArray preview{QJsonObject{{"op", "alignment"}, {"data", 1}},
                       QJsonObject{{"op", "text"}, {"data", QStringLiteral("Café Central\n")}},
                       QJsonObject{{"op", "alignment"}, {"data", 0}},
                       QJsonObject{{"op", "text"}, {"data", receipt(40)}},
                       qrCommand,
                       QJsonObject{{"op", "cut"}, {"data", "full"}}};
    measure("preview, 40 lines and a QR code", runs, [&] {
        QByteArray png;
        PrintJob(preview, QString(), false).preview(576, &png);
        return qint64(png.size());
    });
    const auto jobBytes = [](const QJsonArray& job) {
        QByteArray bytes;
        PrintJob(job, QString(), false).collectBytes(&bytes);
        return qint64(bytes.size());
    };
    // The picture a web page would send instead: the same modules, as a PNG in base64.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ESCCodes::qrCodeImage(qrText.toUtf8(), 1, 6).save(&buffer, "PNG");
    const QJsonArray asImage{QJsonObject{
        {"op", "image"}, {"data", QString::fromLatin1("data:image/png;base64," + png.toBase64())}}};
    qint64 nativeBytes = 0;
    qint64 imageBytes = 0;
    measure("QR code, the printer's function", runs,
            [&] { return nativeBytes = jobBytes({qrCommand}); });
    measure("QR code, as a PNG picture", runs, [&] { return imageBytes = jobBytes(asImage); });
    const auto requestSize = [](const QJsonArray& job) {
        return static_cast<long long>(QJsonDocument(job).toJson(QJsonDocument::Compact).size());
    };
    if (nativeBytes > 0)
        std::printf("QR code as a picture: %.1f x the printer's bytes; the job's JSON %lld bytes "
                    "against %lld\n",
                    double(imageBytes) / double(nativeBytes), requestSize(asImage),
                    requestSize({qrCommand}));
    return 0;
}
