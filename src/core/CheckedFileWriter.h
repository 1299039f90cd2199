#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

class BackgroundSync;

// The one way this program writes files. Nothing is reported as written unless every byte
// reached the file: each write is checked for a short count, the sync and the close are
// checked, and only then is a file renamed into place. (Qt 6.4's QSaveFile::commit(), and
// QSettings through it, can report success after the final flush failed on a full disk and
// rename the cut file into place, so neither is used for files that matter.)
//
// Two ways of writing:
// - writeAtomically() replaces one file: readers see the old file or the complete new one.
// - An instance writes a batch of new files plainly into a folder that is thrown away whole on
//   failure, and brings them to disk with one sync for the lot (a sync per file costs far
//   more than writing the bytes; the data of a large batch is written back on another thread
//   while the batch goes on); a file written last goes in place only after that sync.
class CheckedFileWriter {
public:
    struct Failure {
        QString path;   // the file that could not be written
        QString reason; // the system's words, e.g. "No space left on device"

        // "Could not write \"<path>\": <reason>"
        QString message() const;
    };

    // Writes `bytes` to a temporary file beside `path`, syncs and closes it, and renames it
    // over `path`. On any failure the temporary file is removed and `path` is left as it was.
    // A file being replaced keeps its permissions; a link is followed and its target replaced.
    static std::optional<Failure> writeAtomically(const QString& path, const QByteArray& bytes);

    // A batch of writes under `folder`, which must exist (a failure to open it is reported by
    // finish()). Files staged by writeLast() and not put in place are removed with the batch.
    explicit CheckedFileWriter(const QString& folder);
    ~CheckedFileWriter();
    CheckedFileWriter(const CheckedFileWriter&) = delete;
    CheckedFileWriter& operator=(const CheckedFileWriter&) = delete;

    // Creates `path`, which must not exist yet, and writes `bytes` to it without a sync. A
    // file that could not be written completely is removed again.
    std::optional<Failure> writeNew(const QString& path, const QByteArray& bytes);

    // Writes `bytes` to a temporary file beside `path`, to be renamed over `path` by finish()
    // once it is on disk with the rest of the batch.
    std::optional<Failure> writeLast(const QString& path, const QByteArray& bytes);

    // One sync of the folder's file system for everything written so far (a failure to write
    // back since the batch began is reported), then the files of writeLast() put in place.
    std::optional<Failure> finish();

private:
    struct Temporary {
        QByteArray name;
        int error = 0;
    };
    struct Staged {
        QByteArray temporary;
        QByteArray target;
        QString path;
    };

    static Temporary writeTemporary(const QByteArray& target, const QByteArray& bytes, bool sync);

    QString folder_;
    int folderFd_ = -1;
    int openError_ = 0;
    QList<Staged> staged_;
    std::unique_ptr<BackgroundSync> backgroundSync_;
};
