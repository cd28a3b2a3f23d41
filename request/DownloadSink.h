#pragma once

#include "request/untXmlHttp.h"
#include "util/AtomicFile.h"

#include <QString>

// The target of a download to a file: the body goes into a new file beside
// the target as it arrives, which takes the target's place only at commit(),
// once the whole body is in. A failed, cut or cancelled transfer leaves an
// earlier file as it was and nothing behind. Errors name the file and the
// reason.
class DownloadSink final : public ResponseBodySink
{
public:
    // Throws ReqlarkError when the file cannot be created.
    explicit DownloadSink(const QString& path);

    void begin(qint64) override {}
    void write(const char* data, size_t size) override;
    // Gets the bytes onto the disk, on the transfer's thread, so that the
    // commit that follows on the caller's thread is quick.
    void end() override;
    void commit();

private:
    ReqlarkError writeError() const;

    QString m_path;
    AtomicFile m_file;
};
