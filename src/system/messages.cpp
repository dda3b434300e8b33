#include "system/messages.h"

#include "system/msgbox.h"

#include <cstring>

namespace pel::messages {

void badFile(const QString &name) { MsgBox(QStringLiteral("画像ファイルが異常です\r\n") + name, vbOKOnly); }

void deviceNotReady() { MsgBox(QStringLiteral("ディバイスが準備されていません"), vbOKOnly); }

QString systemReason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString reason(const Outcome &outcome)
{
    if (!outcome.detail.isEmpty())
        return outcome.detail;
    return outcome.error ? systemReason(outcome.error) : QString();
}

}  // namespace pel::messages
