#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with data so that a failure at any point leaves
// the previous file as it was and no temporary file beside it: the data goes
// to a temporary file in the same folder, is flushed to disk, and only then
// renamed over the old file. A symbolic link is written through to its
// target and stays a link; a hard link to the file is split from it. An
// existing file keeps its permissions (and its owner where we may give it);
// one that is read-only or that the user may not write is refused. A step
// the system did not carry out (a failed flush to disk, permissions that
// could not be set, a failed close) refuses the save. Returns an empty text
// on success, else what failed with the system's reason.
QString WriteFileSafely(const QString& path, const QByteArray& data);
