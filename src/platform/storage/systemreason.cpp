#include "platform/storage/systemreason.h"

#include <cerrno>

using namespace Qt::StringLiterals;

QString SystemReason::text(int error)
{
    QString words;
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        words = u"空き容量が足りません"_s;
        break;
    case EACCES:
    case EPERM:
        words = u"アクセスが許可されていません"_s;
        break;
    case EROFS:
        words = u"書き込みできないドライブです（書き込み禁止になっていないか確認してください）"_s;
        break;
    case ENOENT:
        words = u"ファイルまたはフォルダが見つかりません"_s;
        break;
    case ENOTDIR:
        words = u"同じ名前のファイルがあるためフォルダにできません"_s;
        break;
    case EISDIR:
        words = u"同じ名前のフォルダがあります"_s;
        break;
    case EEXIST:
        words = u"同じ名前のものがすでにあります"_s;
        break;
    case EIO:
        words = u"読み書きのエラーです（メディアが抜かれたか傷んでいる可能性があります）"_s;
        break;
    case ENAMETOOLONG:
        words = u"名前が長すぎます"_s;
        break;
    case EFBIG:
        words = u"ファイルが大きすぎてこのドライブに保存できません"_s;
        break;
    case ENODEV:
    case ENXIO:
        words = u"ドライブが見つかりません（抜かれていないか確認してください）"_s;
        break;
    default:
        break;
    }
    const QString system = qt_error_string(error);
    return words.isEmpty() ? system : words + u"（"_s + system + u"）"_s;
}

QString SystemReason::lastError(const QString &libraryText)
{
    const int error = errno;
    return error != 0 ? text(error) : libraryText;
}
