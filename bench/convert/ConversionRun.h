#pragma once

#include <QByteArray>
#include <QString>

// The conversion as an export runs it: construction, the dry run, and the real run with every
// download answered at once (with `attachment`) from inside the request hook. Returns the
// note's length; complains on standard error when the asset count is not `expectedAssets`.
qint64 convertLikeTheExport(const QString& page, const QByteArray& attachment, qsizetype expectedAssets);
