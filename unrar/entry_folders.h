// The folders an extraction makes for an entry's path, so that a failed
// entry leaves none of them behind empty.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace vxunrar {

// The folders of the entry's path (its name's parts before the last) that do
// not exist yet under the destination folder, outermost first, as path bytes.
// Empty for a name that is no plain relative path (a leading "/", an empty,
// "." or ".." part): the library places such names elsewhere, and a guess
// could name a folder that is not ours. `knownFolder` is the last entry
// folder found to exist: the entries of one folder, which follow each other
// in an archive, look at the disk once between them.
std::vector<QByteArray> MissingFolders(const QByteArray& destination, const QString& entryName,
                                       QByteArray& knownFolder);

// Removes the folders that exist and are empty, innermost first; a folder
// that holds anything (another entry's file, a user's) stays, and so does
// every folder outside it.
void RemoveEmptyFolders(const std::vector<QByteArray>& folders);

}  // namespace vxunrar
