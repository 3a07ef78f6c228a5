#include "uPngEncoder.h"

#include <QImage>
#include <QtEndian>

#include <zlib.h>

namespace {

void AppendWord(QByteArray& Out, quint32 Value) {
    char Word[4];
    qToBigEndian<quint32>(Value, Word);
    Out.append(Word, 4);
}

void AppendChunk(QByteArray& Png, const char* Type, const QByteArray& Data) {
    AppendWord(Png, static_cast<quint32>(Data.size()));
    const qsizetype Start = Png.size();
    Png.append(Type, 4);
    Png.append(Data);
    const auto* Covered = reinterpret_cast<const Bytef*>(Png.constData() + Start);
    AppendWord(Png, static_cast<quint32>(crc32(crc32(0, nullptr, 0), Covered, static_cast<uInt>(Png.size() - Start))));
}

// The smallest window that still reaches the row above, where an icon's
// repeats are: zlib's default window and hash (some 256 KiB to set up) would
// cost more than compressing a menu icon.
int WindowBits(qsizetype RowBytes) {
    int Bits = 9;
    while (Bits < 15 && (qsizetype{1} << Bits) - 262 < RowBytes) // 262: what zlib keeps for look-ahead
        ++Bits;
    return Bits;
}

QByteArray Deflate(const QByteArray& Raw, qsizetype RowBytes) {
    z_stream Stream{};
    if (deflateInit2(&Stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, WindowBits(RowBytes), 2, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray Out(static_cast<qsizetype>(deflateBound(&Stream, static_cast<uLong>(Raw.size()))), Qt::Uninitialized);
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Raw.constData()));
    Stream.avail_in = static_cast<uInt>(Raw.size());
    Stream.next_out = reinterpret_cast<Bytef*>(Out.data());
    Stream.avail_out = static_cast<uInt>(Out.size());
    const bool Done = deflate(&Stream, Z_FINISH) == Z_STREAM_END;
    Out.resize(static_cast<qsizetype>(Stream.total_out));
    deflateEnd(&Stream);
    return Done ? Out : QByteArray();
}

} // namespace

// Qt's PNG writer needs some 60 µs per menu icon, nearly all of it setting up
// libpng, which a submenu of thousands of shops with icons of their own pays
// thousands of times. Unfiltered rows and a small deflate window take a few
// microseconds and keep a typical favicon at about a hundred bytes on the bus.
QByteArray MenuIconPng(const QImage& Source) {
    const QImage Image = Source.convertToFormat(QImage::Format_RGBA8888);
    const int Width = Image.width();
    const int Height = Image.height();
    if (Width == 0 || Height == 0)
        return {};
    const qsizetype RowBytes = 1 + static_cast<qsizetype>(Width) * 4;
    QByteArray Raw;
    Raw.reserve(Height * RowBytes);
    for (int Y = 0; Y < Height; ++Y) {
        Raw.append('\0'); // no filter
        Raw.append(reinterpret_cast<const char*>(Image.constScanLine(Y)), RowBytes - 1);
    }
    const QByteArray Pixels = Deflate(Raw, RowBytes);
    if (Pixels.isEmpty())
        return {};
    QByteArray Header;
    AppendWord(Header, static_cast<quint32>(Width));
    AppendWord(Header, static_cast<quint32>(Height));
    Header.append("\x08\x06\x00\x00\x00", 5); // 8 bits per channel, RGBA, deflate, no filter, no interlace
    QByteArray Png("\x89PNG\r\n\x1a\n", 8);
    Png.reserve(Pixels.size() + 64);
    AppendChunk(Png, "IHDR", Header);
    AppendChunk(Png, "IDAT", Pixels);
    AppendChunk(Png, "IEND", {});
    return Png;
}
