#pragma once

#include <QByteArray>

class QImage;

// Image as a PNG, made quickly: what the exported menu sends as an entry's icon.
QByteArray MenuIconPng(const QImage& Image);
