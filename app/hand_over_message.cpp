#include "app/hand_over_message.h"

#include <QDataStream>
#include <QIODevice>

namespace velindra {

QByteArray HandOverMessage(const QStringList& arguments) {
    QByteArray message;
    {
        QDataStream out(&message, QIODevice::WriteOnly);
        out << arguments;
    }
    return message;
}

namespace {

quint32 BigEndianAt(const QByteArray& bytes, qsizetype at) {
    quint32 value = 0;
    for (qsizetype k = 0; k < 4; ++k)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + k]);
    return value;
}

// Whether the message is one whole list of texts as the toolkit packs it (a count, then each
// text's byte length and its UTF-16 bytes, or 0xFFFFFFFF for a null text), with every length
// within the message: unpacking it then allocates no more than the message holds. The toolkit
// reserves what a count or a length says before it reads, so a message of a few bytes saying
// "two billion texts" would take the window down.
bool WellFormed(const QByteArray& message) {
    const qsizetype size = message.size();
    if (size < 4)
        return false;
    const quint32 count = BigEndianAt(message, 0);
    if (count > static_cast<quint32>((size - 4) / 4))
        return false;
    qsizetype at = 4;
    for (quint32 k = 0; k < count; ++k) {
        if (size - at < 4)
            return false;
        const quint32 bytes = BigEndianAt(message, at);
        at += 4;
        if (bytes == 0xFFFFFFFFu)
            continue;
        if (bytes % 2 != 0 || bytes > static_cast<quint32>(size - at))
            return false;
        at += static_cast<qsizetype>(bytes);
    }
    return at == size;
}

}  // namespace

QStringList HandedOverArguments(const QByteArray& message) {
    if (!WellFormed(message))
        return {};
    QStringList arguments;
    QDataStream unpack(message);
    unpack >> arguments;
    if (unpack.status() != QDataStream::Ok)
        return {};
    return arguments;
}

}  // namespace velindra
