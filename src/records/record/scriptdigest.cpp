#include "scriptdigest.h"

#include "scriptlist.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace tamrisk {

std::string ScriptSha256(const std::vector<std::string>& lines) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const std::string text = JoinScriptLines(lines);
    hash.addData(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    return hash.result().toHex().toStdString();
}

}  // namespace tamrisk
