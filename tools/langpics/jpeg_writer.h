#pragma once

#include <QImage>
#include <QString>

// Writes a baseline JPEG without chroma subsampling, so that small coloured
// text and thin lines stay sharp. Returns false and says why on failure.
bool writeJpeg(const QImage& image, const QString& path, int quality, QString* error);
