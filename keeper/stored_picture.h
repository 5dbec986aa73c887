#pragma once
// Reading a stored value as a picture straight from its field, chunk by
// chunk, so that checking a database never copies a stored value whole.
#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QSize>
#include <string>

#include "engine/engine.h"

// A read-only, random-access device over a long binary field; each read is
// one GetChunk of at most kChunkSize bytes.
class FieldDevice : public QIODevice {
public:
    explicit FieldDevice(const LongBinaryField& field);
    // For a field whose FieldSize() is known to be `size`.
    FieldDevice(const LongBinaryField& field, qint64 size);
    bool isSequential() const override { return false; }
    qint64 size() const override { return size_; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    const LongBinaryField& field_;
    qint64 size_;
};

struct StoredPicture {
    qint64 bytes = 0;
    bool null = false;      // the column holds Null
    bool readable = false;  // the picture services can load it
    bool outOfMemory = false;  // not readable now for want of memory, which says nothing of the value
    QSize size;             // width × height when readable
    QByteArray format;      // "bmp", "png"... when readable
    std::string problem;    // why not, when not readable
};

// Reads the field's value as the window would load it: a bitmap is checked
// from its header and length (CheckBitmap) and decoded only into `decoded`
// when that is given; another format is decoded within the size limit, into
// `decoded` when given (left alone when the value is not readable). Engine
// errors are raised.
StoredPicture InspectPicture(const Field& pic, QImage* decoded = nullptr);

// "64×64 BMP", or the reason the value is not a readable picture.
std::string Describe(const StoredPicture& picture);
