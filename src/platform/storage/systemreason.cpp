#include "platform/storage/systemreason.h"

#include <cerrno>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// The common causes in the user's words; empty for the rest.
QString wordsFor(int error)
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
    return words;
}

QString withSystemText(const QString &words, const QString &system)
{
    return words.isEmpty() ? system : words + u"（"_s + system + u"）"_s;
}

} // namespace

QString SystemReason::text(int error)
{
    return withSystemText(wordsFor(error), qt_error_string(error));
}

#ifdef Q_OS_WIN
QString SystemReason::windowsText(unsigned long error)
{
    int like = 0;
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        like = ENOSPC;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        like = EACCES;
        break;
    case ERROR_WRITE_PROTECT:
        like = EROFS;
        break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        like = ENOENT;
        break;
    case ERROR_DIRECTORY:
        like = ENOTDIR;
        break;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        like = EEXIST;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        like = ENAMETOOLONG;
        break;
    case ERROR_FILE_TOO_LARGE:
        like = EFBIG;
        break;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
    case ERROR_SEM_TIMEOUT:
        like = EIO;
        break;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
        like = ENODEV;
        break;
    default:
        break;
    }
    // qt_error_string asks Windows for its text of a Windows code.
    return withSystemText(like ? wordsFor(like) : QString(), qt_error_string(int(error)));
}
#endif

void SystemReason::clear()
{
    errno = 0;
#ifdef Q_OS_WIN
    ::SetLastError(ERROR_SUCCESS);
#endif
}

QString SystemReason::lastError(const QString &libraryText)
{
    const int error = errno;
#ifdef Q_OS_WIN
    if (const DWORD windowsError = ::GetLastError(); error == 0 && windowsError != ERROR_SUCCESS)
        return windowsText(windowsError);
#endif
    return error != 0 ? text(error) : libraryText;
}
