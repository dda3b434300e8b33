#include "system/messages.h"

#include "system/msgbox.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <locale.h>

namespace pel::messages {
namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Our Japanese for the errors the file operations, folder reading and drives can meet.
QString ownReason(int error)
{
    switch (error) {
    case EPERM: return QStringLiteral("操作が許可されていません");
    case ENOENT: return QStringLiteral("ファイルまたはフォルダがありません");
    case EIO: return QStringLiteral("読み書き中にエラーが起きました");
    case ENXIO:
    case ENODEV: return QStringLiteral("装置がありません");
    case EBADF: return QStringLiteral("ファイルの扱いに誤りがあります");
    case ENOMEM: return QStringLiteral("メモリが足りません");
    case EACCES: return QStringLiteral("アクセスする権限がありません");
    case EBUSY: return QStringLiteral("使用中です");
    case EEXIST: return QStringLiteral("同じ名前のものがすでにあります");
    case EXDEV: return QStringLiteral("別のボリュームへは移動できません");
    case ENOTDIR: return QStringLiteral("フォルダではありません");
    case EISDIR: return QStringLiteral("フォルダです");
    case EINVAL: return QStringLiteral("引数が正しくありません");
    case ENFILE:
    case EMFILE: return QStringLiteral("開いているファイルが多すぎます");
    case ETXTBSY: return QStringLiteral("ファイルが使用中です");
    case EFBIG: return QStringLiteral("ファイルが大きすぎます");
    case ENOSPC: return QStringLiteral("ディスクの空きがありません");
    case EROFS: return QStringLiteral("読み取り専用のボリュームです");
    case EMLINK: return QStringLiteral("リンクが多すぎます");
    case ENAMETOOLONG: return QStringLiteral("名前が長すぎます");
    case ENOSYS:
    case EOPNOTSUPP: return QStringLiteral("このボリュームではできない操作です");
    case ENOTEMPTY: return QStringLiteral("フォルダが空ではありません");
    case ELOOP: return QStringLiteral("シンボリックリンクが多すぎるか、循環しています");
    case EOVERFLOW: return QStringLiteral("値が大きすぎます");
    case EDQUOT: return QStringLiteral("ディスクの使用量の上限を超えています");
    case ESTALE: return QStringLiteral("ファイルの参照が古くなっています（ネットワークのボリューム）");
    case ENOTCONN: return QStringLiteral("ボリュームとの接続が切れています");
    case ETIMEDOUT: return QStringLiteral("時間内に応答がありませんでした");
    case EINTR: return QStringLiteral("操作が中断されました");
    case EAGAIN: return QStringLiteral("一時的に使えません。もう一度試してください");
    default: return {};
    }
}

// The system's English text for `error`, whatever the locale.
QString englishReason(int error)
{
    static const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
    return QString::fromLocal8Bit(c ? ::strerror_l(error, c) : std::strerror(error));
}

bool japaneseMessages()
{
    // QCoreApplication has set the C library's locale from the environment.
    const char *messages = std::setlocale(LC_MESSAGES, nullptr);
    return messages && std::strncmp(messages, "ja", 2) == 0;
}

}  // namespace

void badFile(const QString &name) { MsgBox(QStringLiteral("画像ファイルが異常です\r\n") + name, vbOKOnly); }

void deviceNotReady() { MsgBox(QStringLiteral("ディバイスが準備されていません"), vbOKOnly); }

QString systemReason(int error)
{
    const QString english = englishReason(error);
    if (japaneseMessages()) {
        const QString local = QString::fromLocal8Bit(std::strerror(error));
        if (local != english)
            return local;
    }
    QString ours = ownReason(error);
    if (ours.isEmpty())
        ours = QStringLiteral("システムのエラー %1").arg(error);
    return ours + QStringLiteral("（%1）").arg(english);
}

QString reason(const Outcome &outcome)
{
    if (!outcome.detail.isEmpty())
        return outcome.detail;
    if (outcome.fault == Fault::TimedOut && !outcome.error)
        return ownReason(ETIMEDOUT);
    return outcome.error ? systemReason(outcome.error) : QString();
}

QString nameProblem(NameProblem problem, qsizetype bytes)
{
    switch (problem) {
    case NameProblem::Empty: return QStringLiteral("新しい名前が入力されていません。");
    case NameProblem::Dots: return QStringLiteral("「.」と「..」はファイル名に使えません。");
    case NameProblem::Slash: return QStringLiteral("ファイル名に「/」は使えません。");
    case NameProblem::BadCharacter: return QStringLiteral("ファイル名に使えない文字が含まれています。");
    case NameProblem::TooLong:
        return bytes > 0 ? QStringLiteral("ファイル名が長すぎます（%1 バイト、255 バイトまで）。").arg(bytes)
                         : QStringLiteral("ファイル名が長すぎます。");
    }
    return {};
}

QString trashNotUsable(const QString &path)
{
    return QStringLiteral("ごみ箱のフォルダ「%1」は、自分だけが使える本物のフォルダではないため使えません。").arg(path);
}

QString cannotMoveSafely()
{
    return QStringLiteral("このボリュームでは、ほかのファイルを上書きするおそれなしにごみ箱へ移動することができません。");
}

QString othersFileInSharedFolder()
{
    return QStringLiteral("共有フォルダ（スティッキービット付き）にある他のユーザーのファイルは、削除も移動もできません。");
}

QString leftUnderName(const QString &temp, int error)
{
    return QStringLiteral("%1（ファイルは今「%2」という名前です）").arg(systemReason(error), temp);
}

QString deleteTitle() { return QStringLiteral("ファイル削除"); }
QString renameTitle() { return QStringLiteral("ファイル名変更"); }

int askDeleteForGood(const QString &shown, const Outcome &why)
{
    const QString text = shown + kCrLf + kCrLf + QStringLiteral("はごみ箱に移動できません。") + kCrLf
                         + QStringLiteral("（%1）").arg(reason(why)) + kCrLf + kCrLf
                         + QStringLiteral("元に戻せなくなりますが、完全に削除しますか？");
    return MsgBox(text, vbYesNo + vbExclamation + vbDefaultButton2, deleteTitle());
}

void deleteFailed(const QString &shown, const Outcome &why)
{
    switch (why.fault) {
    case Fault::TimedOut:
        // The call may still go through: nothing is said to have failed that may not have.
        MsgBox(shown + kCrLf + kCrLf
                   + QStringLiteral("の削除が時間内に終わりませんでした。ボリュームが応答しないため、"
                                    "ごみ箱に移動されたかどうかはまだわかりません。"),
               vbExclamation, deleteTitle());
        return;
    case Fault::Gone:
        MsgBox(shown + kCrLf + kCrLf + QStringLiteral("は見つかりません。すでに削除されたか、名前が変わっています。"),
               vbExclamation, deleteTitle());
        return;
    case Fault::Changed:
        MsgBox(shown + kCrLf + kCrLf
                   + QStringLiteral("は一覧を読んだ後に別のファイルかフォルダに変わっています。何もしませんでした。"),
               vbExclamation, deleteTitle());
        return;
    default:
        MsgBox(shown + kCrLf + kCrLf + QStringLiteral("を削除できませんでした。") + kCrLf + reason(why), vbCritical,
               deleteTitle());
        return;
    }
}

void renameFailed(const QString &shown, const QString &newName, const Outcome &why)
{
    switch (why.fault) {
    case Fault::TimedOut:
        MsgBox(shown + kCrLf + kCrLf
                   + QStringLiteral("の名前の変更が時間内に終わりませんでした。ボリュームが応答しないため、"
                                    "名前が変わったかどうかはまだわかりません。"),
               vbExclamation, renameTitle());
        return;
    case Fault::Gone:
        MsgBox(shown + kCrLf + kCrLf + QStringLiteral("が見つかりません。削除されたか、名前が変わっています。"),
               vbExclamation, renameTitle());
        return;
    case Fault::Changed:
        MsgBox(shown + kCrLf + kCrLf
                   + QStringLiteral("は一覧を読んだ後に別のファイルかフォルダに変わっています。何もしませんでした。"),
               vbExclamation, renameTitle());
        return;
    case Fault::Taken:
        MsgBox(newName + kCrLf + kCrLf
                   + QStringLiteral("という名前のファイルかフォルダがすでにあります（一覧に出ないものも含みます）。"),
               vbExclamation, renameTitle());
        return;
    case Fault::BadName:
        MsgBox(newName + kCrLf + kCrLf + QStringLiteral("この名前は使えません。") + kCrLf + reason(why), vbExclamation,
               renameTitle());
        return;
    case Fault::Unsupported:
        MsgBox(shown + kCrLf + kCrLf
                   + QStringLiteral("の名前を変更しませんでした。このボリュームでは、ほかのファイルを上書きするおそれ"
                                    "なしに名前を変更することができません。"),
               vbExclamation, renameTitle());
        return;
    default:
        MsgBox(shown + kCrLf + kCrLf + QStringLiteral("の名前を変更できませんでした。") + kCrLf + reason(why),
               vbCritical, renameTitle());
        return;
    }
}

}  // namespace pel::messages
