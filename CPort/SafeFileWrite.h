#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with data so that a failure at any point leaves
// the previous file as it was: the data goes to "<path>.new", is flushed to
// disk, and only then renamed over the old file. Returns an empty text on
// success, else what failed.
QString WriteFileSafely(const QString& path, const QByteArray& data);
