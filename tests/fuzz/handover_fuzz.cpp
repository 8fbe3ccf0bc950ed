// libFuzzer target for the message a later start hands to the running window: any bytes are
// read without crashing or allocating without bound, and what was read packs back to a message
// that reads as the same arguments.
#include <QByteArray>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/hand_over_message.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray message(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList arguments = velindra::HandedOverArguments(message);
    if (velindra::HandedOverArguments(velindra::HandOverMessage(arguments)) != arguments)
        std::abort();
    return 0;
}
