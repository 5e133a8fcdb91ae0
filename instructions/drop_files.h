// What the instructions window does with each file dropped onto it.
#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace instructions {

enum class DroppedKind { Ignored, Archive, JpegPicture, BitmapPicture };

// By the tail of the file name (the text after the last "/"): its last four
// characters, the whole name when shorter, with only A to Z lower-cased.
// "rar"/".rar" is an archive, "jpg"/".jpg" a JPEG, "bmp"/".bmp" a bitmap; a
// three-letter form matches only a name of exactly three characters.
DroppedKind classifyDroppedFile(const QString& path);

// The local files of a drop, in the drop's order; other URLs are left out.
QStringList droppedLocalPaths(const QMimeData* data);

}  // namespace instructions
