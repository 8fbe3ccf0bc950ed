// What a later start hands to the running window: its arguments, packed as one message.
#pragma once

#include <QByteArray>
#include <QStringList>

namespace velindra {

QByteArray HandOverMessage(const QStringList& arguments);
// The arguments a message holds; none from a message that is not one whole list of texts.
QStringList HandedOverArguments(const QByteArray& message);

}  // namespace velindra
