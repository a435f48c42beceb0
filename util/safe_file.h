#pragma once
// Writing a file so that it is either whole under its name or not changed.
//
// The bytes go to a new file with a temporary name in the target folder
// ("<name>.<random>.part"); every write, the flush to the disk and the close
// are checked, and the size the file system reports must equal the bytes
// handed over. Only then is the temporary file renamed over the final name
// (one atomic step on a local file system). On any failure the temporary
// file is removed and a file already under the final name stays as it was.
// A program killed during a write leaves at most a ".part" file behind,
// never a partial file under a result name.
#include <QByteArray>
#include <QString>

// Writes data whole under path (see above). On failure logs
// "Can't write file : " with the path (and a line with the reason) and
// returns false; errorString, when given, receives the reason.
bool writeWholeFile(const QString &path, const QByteArray &data, QString *errorString = nullptr);

// True for the temporary names writeWholeFile uses, so that a listing of a
// result folder can tell an interrupted write from a result.
bool isPartialFileName(const QString &fileName);
