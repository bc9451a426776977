# Qt's headers are most of what every file of this project compiles: they are
# parsed once per target (or once per group of targets built with the same
# flags) instead of once per file.
# Worth it where the test programs share one header; a build of the program alone compiles
# each library in a few unity batches, and there making the header costs more than it saves
# (Release, 2 cores: 86 s with it, 72 s without).
option(KORVANDA_PCH "Precompile the Qt headers" ${KORVANDA_BUILD_TESTS})

set(KORVANDA_PCH_CORE
    <QByteArray> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QObject> <QString> <QStringList>)
set(KORVANDA_PCH_WIDGETS ${KORVANDA_PCH_CORE}
    <QAction> <QApplication> <QLabel> <QLineEdit> <QMenu> <QPushButton> <QTableView> <QWidget>)
set(KORVANDA_PCH_TEST ${KORVANDA_PCH_WIDGETS} <QSignalSpy> <QTemporaryDir> <QTest>)

# korvanda_precompile(<target> CORE|WIDGETS|TEST [REUSE_FROM <target>])
function(korvanda_precompile target kind)
    if(NOT KORVANDA_PCH)
        return()
    endif()
    cmake_parse_arguments(P "" "REUSE_FROM" "" ${ARGN})
    if(P_REUSE_FROM)
        target_precompile_headers(${target} REUSE_FROM ${P_REUSE_FROM})
    else()
        target_precompile_headers(${target} PRIVATE ${KORVANDA_PCH_${kind}})
    endif()
endfunction()
